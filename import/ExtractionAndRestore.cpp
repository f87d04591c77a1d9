#include "import/ExtractionAndRestore.h"

#include "archive/ArchiveMessages.h"
#include "archive/VolumeNaming.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/FileUtilities.h"
#include "platform/SiblingCloseWait.h"
#include "platform/Timestamp.h"
#include "staging/CopyEngine.h"

#include <QStringList>

#include <algorithm>

namespace vz {

namespace {

// Warnings the component notes about an archive it still reads whole.
bool ExtractedWhole(int errorCode)
{
    return errorCode == ArchiveMessage::None || errorCode == ArchiveMessage::ZipStructureWarning ||
           errorCode == ArchiveMessage::CommentReadError;
}

// A first-level folder of RestoreRoot that stands for a drive: "C", "d".
bool IsDriveLetter(const QString& name)
{
    if (name.size() != 1)
        return false;
    const char16_t c = name.at(0).unicode();
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

}  // namespace

ExtractionAndRestore::ExtractionAndRestore(ImportServices services) : s_(std::move(services)) {}

void ExtractionAndRestore::SetUpImportArchive(ArchiveComponent& archive)
{
    archive.ExtractOptions = ExtractDirNames | ExtractOverwrite | ExtractForceDirs;
    archive.AddOptions = AddDirNames | AddRecurseDirs;
    archive.SpanOptions = 0;
    archive.WriteOptions = 0;
    archive.Unattended = false;
    archive.MaxVolumeSize = 0;
    archive.MaxVolumeSizeKb = 0;
    archive.KeepFreeOnDisk1 = 0;
    archive.KeepFreeOnAllDisks = 0;
    archive.IncludeSpecs.clear();
    // Everything an export packs lies below its staging folder; an archive
    // with anything else (from an impersonated service, say) could put files
    // beside the program, so it is not taken at all.
    archive.ExtractOnlyBelow = QStringLiteral("Replicacao");
}

bool ExtractionAndRestore::ExtractArchive(const QString& archiveFolder, bool webMode)
{
    const RunSettings& settings = s_.settings;
    RunFrame& frame = s_.frame;
    frame.SetPageDestinationText(RunPage::Import, QString());
    frame.SetPageProgressText(RunPage::Import, ExtractingText);
    frame.MarkImportStep(ExtractStep, false);
    frame.ProcessPendingMessages();

    const QString archivePath = archiveFolder + settings.ArchiveName;
    if (!s_.fileSystem.fileExists(archivePath))
        frame.MarkImportStep(ExtractStep, true);
    s_.recycleBin.RemoveFolder(settings.ExeFolder + QStringLiteral("Replicacao"));

    int error = 0;
    try {
        s_.archive.SetArchiveFileName(archivePath);
        s_.archive.ExtractBaseDir = settings.ExeFolder;
        error = s_.archive.Extract();
    } catch (const RunStopped&) {
        throw;
    } catch (...) {
        frame.MarkImportStep(ExtractStep, true);
    }
    // An archive that did not extract whole is not deleted: it may be the
    // only copy left of what it holds.
    if (!ExtractedWhole(error))
        frame.MarkImportStep(ExtractStep, true);
    Q_UNUSED(webMode);
    return true;
}

void ExtractionAndRestore::DeleteDownloadedFiles()
{
    const RunSettings& settings = s_.settings;
    const QString archivePath = settings.ExeFolder + settings.ArchiveName;
    s_.fileSystem.deleteFile(archivePath);
    // ".z01", ".z02", ... while they exist (".z100" and on too).
    for (int i = 0;; ++i) {
        const QString volume = VolumeNaming::SpanName(archivePath, i);
        if (!s_.fileSystem.fileExists(volume))
            break;
        s_.fileSystem.deleteFile(volume);
    }
}

void ExtractionAndRestore::RestoreFolders(bool siblingWasRunning)
{
    const RunSettings& settings = s_.settings;
    RunFrame& frame = s_.frame;
    frame.MarkImportStep(RestoreStep, false);
    failures_.clear();
    shares_.clear();

    const QString restoreRoot = settings.ExeFolder + QStringLiteral("Replicacao\\");
    bool listedAny = false;
    QStringList names;
    s_.fileSystem.listFolder(restoreRoot, [&](const DirEntry& entry) {
        // "." and ".." are listed whenever the folder exists, even empty.
        const bool dots = entry.name == QLatin1String(".") || entry.name == QLatin1String("..");
        if (dots || !(entry.attributes & (AttrHidden | AttrSystem)))
            listedAny = true;
        if (!dots && !(entry.attributes & (AttrHidden | AttrSystem)))
            names << entry.name;
        return true;
    });
    if (!listedAny)
        frame.MarkImportStep(RestoreStep, true);

    s_.sibling.AskSiblingToClose();
    // What it still writes while closing would land on the restored files.
    SiblingCloseWait(s_.sibling, frame, s_.clock, RunPage::Import).Wait();
    try {
        CopyEngine engine(s_.fileSystem, frame, settings.ExeDrive);
        // The program's own files are never restored over: its executable,
        // the helper programs beside it and its settings file.
        const QString executable = hostfs::executablePath();
        QStringList programFolders{executable.left(std::max<qsizetype>(executable.lastIndexOf(QLatin1Char('/')), 1))};
        if (const auto exeFolder = s_.fileSystem.toHost(settings.ExeFolder))
            programFolders << *exeFolder;
        engine.SetProtectedFolders(programFolders);
        for (const QString& name : names) {
            // A drive is one letter; a share's folder is named after the share.
            if (!IsDriveLetter(name)) {
                shares_ << name;
                continue;
            }
            const QString source = restoreRoot + name;
            engine.TotalMB = engine.FolderSizeMB(source, true);
            engine.CopiedMB = 0;
            // Every file is newer than EarliestTimestamp: everything is copied.
            engine.CopyNewerTree(source, name + QStringLiteral(":\\"), EarliestTimestamp, true);
        }
        failures_ = engine.Failures();
    } catch (...) {
        // The station goes back on the air however the restore ended.
        if (siblingWasRunning)
            s_.sibling.StartSiblingServer(settings.SystemFolder);
        throw;
    }
    if (siblingWasRunning)
        s_.sibling.StartSiblingServer(settings.SystemFolder);
    if (!failures_.empty()) {
        ShowRunMessage(s_, NotRestoredMessage.arg(failures_.size()));
        frame.MarkImportStep(RestoreStep, true);
    }
}

}  // namespace vz
