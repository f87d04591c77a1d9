#include "app/RunWiring.h"

namespace vz {

namespace {

ExportServices ExportServicesOf(MainWindow& window, SiblingProgram& sibling, HttpClient& http,
                                AntiFreeze& antiFreeze)
{
    return ExportServices{window.fileSystem(), window.runFrame(), window.dialogs(), sibling,  window.clock(),
                          window.settings(),   window.databases(), http,           antiFreeze, MainWindow::Title};
}

}  // namespace

RunWiring::RunWiring(MainWindow& window, SiblingProgram& sibling, PackagingOptions packaging)
    : antiFreeze(window.runFrame()),
      httpClient(antiFreeze, window.clock()),
      importArchive(window.fileSystem(), window.dialogs(), window.runFrame(), MainWindow::Title),
      packaging(ExportServicesOf(window, sibling, httpClient, antiFreeze), packaging),
      exportDriver(ExportServicesOf(window, sibling, httpClient, antiFreeze), this->packaging),
      importDriver(ImportServices{window.fileSystem(), window.runFrame(), window.dialogs(), sibling, window.clock(),
                                  window.settings(), httpClient, antiFreeze, importArchive, MainWindow::Title}),
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
