// Program entry: the application titled "Vireo Zuvavivevo", the services the
// window is built from, the main window, and the event loop until it closes.

#include "app/ErrorDisplay.h"
#include "app/MainWindow.h"
#include "app/QtUserDialogs.h"
#include "app/RunWiring.h"
#include "db/AutomationDatabases.h"
#include "platform/Clock.h"
#include "platform/DriveMap.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/RegionalSettings.h"
#include "platform/SiblingPrograms.h"
#include "platform/TerminationRequests.h"
#include "platform/WineSiblingProgram.h"

#include <QApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QSystemTrayIcon>

#include <memory>
#include <optional>

namespace {

// An installation under Wine without the helper would never see its sibling:
// no close before a restore, no server started after it.
const QString MissingSiblingHelperMessage = QStringLiteral(
    "O programa auxiliar vz-sibling.exe não foi encontrado (%1). Sem ele o Vireo Cast, que roda no Wine, não é "
    "encontrado nem fechado antes da exportação e da importação, e o seu servidor não é iniciado depois. "
    "Copie o vz-sibling.exe para a pasta do programa.");

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(vz::MainWindow::Title);
    QApplication::setApplicationDisplayName(vz::MainWindow::Title);
    // The window may live hidden in the tray; the program ends when it closes,
    // not when the last visible window (say, a message box) goes away.
    QApplication::setQuitOnLastWindowClosed(false);

    const QString exeHostPath = vz::hostfs::executablePath();
    const vz::FileSystem fs(vz::DriveMap::forExecutable(exeHostPath));
    vz::QtUserDialogs dialogs(fs.driveMap(), vz::MainWindow::Title);
    const std::optional<QString> exeWindowsPath = fs.driveMap().toWindows(exeHostPath);
    if (!exeWindowsPath) {
        vz::ShowStandardError(dialogs, vz::MainWindow::Title,
                              QStringLiteral("O programa não está em nenhuma unidade: ") + exeHostPath);
        return 1;
    }
    const vz::SystemClock clock;

    // The Firebird client is loaded here; without it the program does not start.
    std::unique_ptr<vz::AutomationDatabases> databases;
    try {
        databases = std::make_unique<vz::AutomationDatabases>(fs);
    } catch (const vz::Error& e) {
        vz::ShowStandardError(dialogs, vz::MainWindow::Title, e.message());
        return 1;
    }

    vz::MainWindow window(vz::MainWindowServices{
        fs,
        clock,
        vz::RegionalSettings::fromProcessLocale(),
        dialogs,
        *databases,
        *exeWindowsPath,
        QStringLiteral(VZ_SERVICE_BASE_URL),
        [] { return QSystemTrayIcon::isSystemTrayAvailable(); },
    });
    dialogs.setParentWindow(&window);
    QObject::connect(&window, &vz::MainWindow::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    // The sibling automation program: its X11 window, and, when the
    // installation runs under Wine, its window inside the prefix through the
    // helper beside the program.
    const QString siblingHelper =
        QFileInfo(exeHostPath).absolutePath() + QLatin1Char('/') + vz::WineSiblingProgram::HelperFileName;
    const auto sibling = vz::SiblingPrograms::ForInstallation(fs, siblingHelper);
    if (sibling->UsesWine() && !vz::hostfs::isFile(siblingHelper))
        vz::ShowMessage(dialogs, vz::MainWindow::Title, MissingSiblingHelperMessage.arg(siblingHelper));
    // The export and import runs behind the start buttons and the tray's start items.
    vz::RunWiring runs(window, *sibling);

    // A logout, a shutdown or a kill closes the window as its close box does.
    const int terminationFd = vz::TerminationRequests::install();
    std::unique_ptr<QSocketNotifier> termination;
    if (terminationFd >= 0) {
        termination = std::make_unique<QSocketNotifier>(terminationFd, QSocketNotifier::Read);
        QObject::connect(termination.get(), &QSocketNotifier::activated, &window, [&window, terminationFd] {
            vz::TerminationRequests::acknowledge(terminationFd);
            window.EndSession();
        });
    }
    window.showCentred();
    return QApplication::exec();
}
