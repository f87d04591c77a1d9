#include "tests/app/WindowFixture.h"

#include "tests/support/FirebirdTestDatabases.h"

#include <gtest/gtest.h>

namespace vz::test {

WindowFixture::WindowFixture() : databases(std::make_unique<AutomationDatabases>(fs)) {}

QString WindowFixture::exeFolderFile(const QString& name) const
{
    return prefix.drive(QStringLiteral("c")) + QStringLiteral("/Vireo/Zuvavivevo/") + name;
}

void WindowFixture::writeSettings(const QString& extraLines)
{
    const QString text = QStringLiteral("[SERVIDOR]\r\nPASTA_SISTEMA=C:\\Vireo\\Vireo Cast\r\n") + extraLines;
    writeFile(exeFolderFile(QStringLiteral("VireoReplicador.ini")), text.toLatin1());
}

bool WindowFixture::createDatabases(const QString& clientGuid)
{
    return CreateInstallationDatabases(prefix.drive(QStringLiteral("c")) + QStringLiteral("/Vireo/Vireo Cast/Vireodb"),
                                       clientGuid, {});
}

MainWindow& WindowFixture::build(bool trayHost)
{
    window.reset();
    trayHostPresent = trayHost;
    window = std::make_unique<MainWindow>(MainWindowServices{
        fs,
        clock,
        RegionalSettings::dayMonthYear(),
        dialogs,
        *databases,
        ExeWindowsPath,
        QStringLiteral("127.0.0.1:1"),
        [this] { return trayHostPresent; },
    });
    return *window;
}

}  // namespace vz::test
