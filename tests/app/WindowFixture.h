#pragma once
// A main window built the way the program builds it, on a temporary
// Wine-style prefix: the executable at C:\Vireo\Zuvavivevo\, the settings
// file beside it when asked for, real Firebird databases of the installation
// at C:\Vireo\Vireo Cast\Vireodb\, a manual clock and scripted dialogs.

#include "app/MainWindow.h"
#include "tests/support/ManualClock.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TempPrefix.h"

#include <memory>

namespace vz::test {

class WindowFixture {
public:
    static inline const QString ExeWindowsPath = QStringLiteral("C:\\Vireo\\Zuvavivevo\\vireo-zuvavivevo");

    WindowFixture();

    // Host path of a file in the executable's folder.
    QString exeFolderFile(const QString& name) const;
    // Writes VireoReplicador.ini naming the installation, with extra lines.
    void writeSettings(const QString& extraLines = {});
    // Creates the installation's databases with this client identifier.
    bool createDatabases(const QString& clientGuid);

    // Builds (or rebuilds) the window; the tray host counts as present when trayHost is set.
    MainWindow& build(bool trayHost = true);

    TempPrefix prefix{QStringLiteral("c")};
    FileSystem fs{prefix.driveMap()};
    ManualClock clock;
    ScriptedDialogs dialogs;
    std::unique_ptr<AutomationDatabases> databases;
    std::unique_ptr<MainWindow> window;
    bool trayHostPresent = true;
};

}  // namespace vz::test
