#include "import/ImportDriver.h"

#include "platform/Errors.h"
#include "platform/FileUtilities.h"
#include "platform/WindowsPath.h"
#include "staging/LeftoverFiles.h"
#include "web/DownloadFile.h"
#include "web/HttpErrors.h"
#include "web/ReplicationService.h"

#include <optional>

namespace vz {

ImportDriver::ImportDriver(ImportServices services) : s_(services), restore_(services) {}

void ImportDriver::Message(const QString& text) { ShowRunMessage(s_, text); }

void ImportDriver::Download()
{
    const RunSettings& settings = s_.settings;
    ReplicationService service(s_.http, s_.clock, settings.BaseUrl, settings.ClientGuid);
    const QString path = settings.ExeFolder + settings.ArchiveName;
    const QString cannotWrite = QStringLiteral("Não foi possível gravar o arquivo ") + path;
    // The archive goes into a temporary file beside it as it arrives and
    // takes its name at the end: memory stays bounded whatever its size,
    // and the file holds exactly what was received.
    DownloadFile file;
    const std::optional<QString> hostPath = s_.fileSystem.toHost(path);
    if (!hostPath || !file.Open(*hostPath))
        throw Error(cannotWrite);
    {
        // The connection closed however the download ends.
        struct Closing {
            HttpClient& http;
            ~Closing()
            {
                if (http.Connected())
                    http.Disconnect();
            }
        };
        Closing closing{s_.http};
        try {
            service.Download(file);
        } catch (const Error& e) {
            if (ReplicationService::NoArchiveOnServer(e)) {
                Message(NothingOnServerMessage);
                throw SilentAbort();
            }
            // Any other download error: the run goes on with what arrived;
            // the extraction judges it.
        }
    }
    // Not synced: the service keeps its copy until the restore is complete,
    // and a run that ends before that downloads it again.
    if (!file.Commit(false))
        throw Error(cannotWrite);
    s_.antiFreeze.Active = false;
}

QString ImportDriver::ChosenFolder(const FileDialogRequest& openDialog)
{
    const std::optional<QString> chosen = s_.dialogs.openFile(openDialog);
    if (!chosen)
        throw SilentAbort();
    // Only the folder counts: the archive is always ArchiveName in it.
    const QString folder = ExtractFilePath(*chosen);
    if (!s_.fileSystem.fileExists(folder + s_.settings.ArchiveName)) {
        Message(ArchiveNotFoundMessage);
        throw SilentAbort();
    }
    return folder;
}

void ImportDriver::Run(ImportSource source, const FileDialogRequest& openDialog)
{
    RunSettings& settings = s_.settings;
    RunFrame& frame = s_.frame;
    // Without the identifier there is no archive name and no service address.
    if (settings.ClientGuid.isEmpty()) {
        Message(NoClientMessage);
        return;
    }
    const bool siblingWasRunning = s_.sibling.SiblingIsRunning();
    if (siblingWasRunning)
        Message(SiblingWarning);

    bool restored = false;
    bool completed = false;
    bool stopped = false;
    const auto closing = [&] {
        const std::vector<CopyFailure>& failures = restore_.RestoreFailures();
        QString line = completed ? QStringLiteral("Importação finalizada")
                       : stopped ? QStringLiteral("Importação interrompida: o programa foi fechado")
                                 : QStringLiteral("Importação não concluída");
        if (!failures.empty())
            line += QStringLiteral(", %1 arquivo(s) não restaurado(s)").arg(failures.size());
        QStringList details = RunLog::FailureLines(failures, true);
        for (const QString& share : restore_.SharesNotRestored())
            details << QStringLiteral("pasta de rede não restaurada: ") + share;
        details += RunLog::TrashLines(s_.recycleBin.PruneFailures());
        s_.log.Write(line, details);
        frame.ShowIdle();
        if (restored)
            frame.MarkImportStep(StepCount, false);
        frame.SetControlsEnabled(true);
    };
    try {
        frame.ShowBusy();
        frame.ResetSteps();
        frame.SetControlsEnabled(false);
        frame.MarkImportStep(DownloadStep, false);
        // What a run that ended midway left behind (its RestoreRoot tells
        // where a restore was writing), before that folder goes.
        RemoveLeftoverFiles(s_.fileSystem, settings);
        const QString restoreRoot = settings.ExeFolder + QStringLiteral("Replicacao");
        if (s_.fileSystem.folderExists(restoreRoot))
            s_.recycleBin.RemoveFolder(restoreRoot);

        const bool web = source == ImportSource::Web;
        QString archiveFolder = settings.ExeFolder;
        if (web)
            Download();
        else
            archiveFolder = ChosenFolder(openDialog);

        restore_.ExtractArchive(archiveFolder, web);
        restore_.RestoreFolders(siblingWasRunning);
        restored = true;
        // Every file is back in place: only now may the downloaded archive
        // and the service's copy go.
        if (web)
            restore_.DeleteDownloadedFiles();

        ReplicationService(s_.http, s_.clock, settings.BaseUrl, settings.ClientGuid).Remove();
        if (s_.fileSystem.folderExists(restoreRoot))
            s_.recycleBin.RemoveFolder(restoreRoot);
        completed = true;
        const QString text = FinishedText + settings.FormatTimestamp(s_.clock.now());
        frame.SetPageProgressText(RunPage::Import, text);
        frame.SetPageDestinationText(RunPage::Import, QString());
        settings.LastBackupDados = s_.clock.now();
        settings.LastBackupAudio = settings.LastBackupDados;
        settings.LastBackupMusica = settings.LastBackupDados;
        settings.SaveBackupTimestamps();
        Message(text);
    } catch (const RunStopped&) {
        stopped = true;
        closing();
        throw;
    } catch (...) {
        closing();
        throw;
    }
    closing();
}

}  // namespace vz
