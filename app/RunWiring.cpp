#include "app/RunWiring.h"

namespace vz {

namespace {

ExportServices ExportServicesOf(MainWindow& window, SiblingProgram& sibling, RunWiring& runs)
{
    return ExportServices{window.fileSystem(), window.runFrame(), window.dialogs(), sibling,
                          window.clock(),      window.settings(), window.databases(), runs.httpClient,
                          runs.antiFreeze,     runs.recycleBin,   runs.runLog,        MainWindow::Title};
}

QStringList OwnFolders(const RunSettings& settings)
{
    return {settings.ExeFolder + QStringLiteral("Replicacao"), settings.ExeDrive + QStringLiteral("\\Replicacao")};
}

QString LogPath(MainWindow& window)
{
    return window.fileSystem().toHost(window.settings().ExeFolder + RunLog::FileName).value_or(QString());
}

}  // namespace

RunWiring::RunWiring(MainWindow& window, SiblingProgram& sibling, PackagingOptions packaging)
    : antiFreeze(window.runFrame()),
      httpClient(antiFreeze, window.clock()),
      recycleBin(window.fileSystem(), OwnFolders(window.settings())),
      runLog(LogPath(window), window.clock()),
      importArchive(window.fileSystem(), window.dialogs(), window.runFrame(), MainWindow::Title),
      packaging(ExportServicesOf(window, sibling, *this), packaging),
      exportDriver(ExportServicesOf(window, sibling, *this), this->packaging),
      importDriver(ImportServices{window.fileSystem(), window.runFrame(), window.dialogs(), sibling, window.clock(),
                                  window.settings(), httpClient, antiFreeze, recycleBin, runLog, importArchive,
                                  MainWindow::Title}),
      window_(window)
{
    ExtractionAndRestore::SetUpImportArchive(importArchive);

    TransferDisplay& display = window.transferDisplay();
    display.setAntiFreezeSwitch([this] { antiFreeze.Active = true; });
    httpClient.OnWorkBegin = [&display](int mode, qint32 countMax) { display.HttpClientWorkBegin(mode, countMax); };
    httpClient.OnWork = [&display](int mode, qint32 count) { display.HttpClientWork(mode, count); };
    httpClient.OnWorkEnd = [&display](int mode) { display.HttpClientWorkEnd(mode); };

    window.setRunHooks(RunHooks{
        [this] {
            const ExportChoice choice = window_.exportChoice();
            exportDriver.Run(ExportCategories{choice.geral, choice.dados, choice.audios, choice.musicas},
                             window_.saveDialogRequest());
        },
        [this] {
            const ImportSource source =
                window_.importMode() == ImportMode::File ? ImportSource::File : ImportSource::Web;
            importDriver.Run(source, window_.openDialogRequest());
        },
    });
}

RunWiring::~RunWiring()
{
    window_.setRunHooks({});
    window_.transferDisplay().setAntiFreezeSwitch({});
}

}  // namespace vz
