#include "export/PackageAndDelivery.h"

#include "archive/ArchiveComponent.h"
#include "archive/VolumeNaming.h"
#include "export/UndeliveredArchive.h"
#include "platform/Errors.h"
#include "platform/FileUtilities.h"
#include "platform/WindowsPath.h"
#include "web/ReplicationService.h"

#include <algorithm>
#include <optional>

namespace vz {

namespace {

// Switches the HTTP client's anti-freeze off however a delivery ends.
struct AntiFreezeOff {
    AntiFreeze& antiFreeze;
    ~AntiFreezeOff() { antiFreeze.Active = false; }
};

std::optional<DirEntry> statOf(const FileSystem& fs, const QString& windowsPath)
{
    const auto host = fs.toHost(windowsPath);
    return host ? hostfs::stat(*host) : std::nullopt;
}

}  // namespace

PackageAndDelivery::PackageAndDelivery(ExportServices services, PackagingOptions options)
    : s_(std::move(services)), options_(options)
{
}

void PackageAndDelivery::Message(const QString& text) { ShowRunMessage(s_, text); }

bool PackageAndDelivery::SameFile(const QString& a, const QString& b) const
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    if (a == b)
        return true;
    const auto hostA = s_.fileSystem.toHost(a);
    const auto hostB = s_.fileSystem.toHost(b);
    return hostA && hostB && hostfs::canonicalPath(*hostA) == hostfs::canonicalPath(*hostB);
}

int PackageAndDelivery::BuildArchive(const QString& archivePath)
{
    const RunSettings& settings = s_.settings;
    // An archive left by an earlier run that this build does not replace (the
    // user declined to overwrite it) holds none of this run's files.
    const auto before = statOf(s_.fileSystem, archivePath);
    ArchiveComponent zip(s_.fileSystem, s_.dialogs, s_.frame, s_.title);
    zip.CompressionLevel = 9;
    zip.MaxVolumeSizeKb = VolumeSizeKb;
    if (options_.volumeLimitBytes > 0) {
        zip.MaxVolumeSize = options_.volumeLimitBytes;
        zip.MinFreeVolumeSize = std::min(zip.MinFreeVolumeSize, options_.volumeLimitBytes);
    }
    zip.SpanOptions = NoVolumeName | CompatibleNames | WipeFiles | TryFormat | AnyTime | ExactName;
    zip.WriteOptions = DiskSpan;
    zip.AddOptions = AddDirNames | AddRecurseDirs;
    zip.SetArchiveFileName(archivePath);
    zip.IncludeSpecs = QStringList{settings.ExeDrive + QStringLiteral("\\Replicacao\\")};
    const int error = zip.Add();
    const auto after = statOf(s_.fileSystem, archivePath);
    if (error != 0 || !after)
        return 0;
    if (before && before->sizeBytes == after->sizeBytes && before->modifiedUnixMs == after->modifiedUnixMs)
        return 0;
    return zip.VolumeCount();
}

bool PackageAndDelivery::PackageAndDeliver()
{
    const RunSettings& settings = s_.settings;
    RunFrame& frame = s_.frame;
    frame.SetPageDestinationText(RunPage::Export, QString());
    frame.SetPageProgressText(RunPage::Export, PackingText);
    frame.ProcessPendingMessages();

    const QString root = settings.ExeDrive + QLatin1Char('\\');
    const QString archivePath = root + settings.ArchiveName;
    // What an export that did not end left at the drive root goes first, so
    // the build does not stop to ask about it; this build is recorded in turn.
    UndeliveredArchive undelivered(s_.fileSystem, settings.ExeFolder + UndeliveredArchive::RecordName, archivePath);
    undelivered.RemoveLeftovers();
    undelivered.Begin();
    int volumes = 0;
    try {
        volumes = BuildArchive(archivePath);
    } catch (const RunStopped&) {
        throw;
    } catch (...) {
        undelivered.End();
        return false;
    }
    if (volumes < 1)
        undelivered.End();  // nothing new was written: any archive file there is as it was
    VolumeMode = false;
    if (!s_.fileSystem.fileExists(archivePath))
        frame.MarkExportStep(DeliverStep, true);
    if (volumes < 1)
        return false;
    frame.MarkExportStep(DeliverStep, false);
    LocalSaveTarget = volumes > 1 ? SaveTargetPending : QString();
    stopDelivery_ = false;

    // ArchiveName first, then ".z01", ".z02", ... (".z100" and on in sets that large).
    bool allDelivered = true;
    for (int i = 0; i < volumes && !stopDelivery_; ++i) {
        const QString path = i == 0 ? archivePath : VolumeNaming::SpanName(archivePath, i - 1);
        VolumeMode = i > 0;
        try {
            s_.recycleBin.RemoveFolder(root + QStringLiteral("Replicacao"));
            const bool delivered = DeliverArchiveFile(path);
            // A file saved locally under its own path stays; one that did not
            // arrive anywhere stays too.
            if (delivered && !SameFile(LocalSaveTarget, path))
                s_.fileSystem.deleteFile(path);
            allDelivered = allDelivered && delivered;
        } catch (const RunStopped&) {
            throw;
        } catch (...) {
            frame.MarkExportStep(DeliverStep, true);
        }
    }
    if (!allDelivered || stopDelivery_)
        frame.MarkExportStep(DeliverStep, true);
    undelivered.End();
    return true;
}

bool PackageAndDelivery::DeliverArchiveFile(const QString& path)
{
    const RunSettings& settings = s_.settings;
    ReplicationService service(s_.http, s_.clock, settings.BaseUrl, settings.ClientGuid);
    s_.frame.SetPageProgressText(RunPage::Export, DeliveringText);
    s_.frame.ProcessPendingMessages();
    AntiFreezeOff off{s_.antiFreeze};

    QString result;
    if (!LocalSaveTarget.isEmpty()) {
        result = SaveArchiveFileLocally(path);
    } else {
        bool uploaded = false;
        try {
            result = service.Upload(path, s_.fileSystem);
            uploaded = true;
        } catch (const SilentAbort&) {
            throw;
        } catch (...) {
        }
        if (!uploaded) {
            MessageRequest question;
            question.text = UploadFailedQuestion;
            question.icon = DialogIcon::Question;
            question.buttons = ButtonYes | ButtonNo;
            if (s_.dialogs.showMessage(question) != ButtonYes)
                throw SilentAbort();
            result = SaveArchiveFileLocally(path);
        }
    }
    const bool accepted = ReplicationService::UploadAccepted(result);
    if (!accepted)
        Message(NotExportedMessage);
    return accepted;
}

QString PackageAndDelivery::SaveArchiveFileLocally(const QString& path)
{
    const QString fileName = ExtractFileName(path);
    bool copied = false;
    try {
        QString target;
        if (VolumeMode && !path.contains(QLatin1String(".zip"))) {
            target = ExtractFilePath(LocalSaveTarget) + fileName;
        } else {
            FileDialogRequest request = SaveDialog;
            request.initialFileName = fileName;
            const std::optional<QString> chosen = s_.dialogs.saveFile(request);
            if (!chosen) {
                // Nobody chose a folder: nothing more is delivered.
                stopDelivery_ = true;
                Message(CancelledMessage);
                return QStringLiteral("FALSE");
            }
            target = ExtractFilePath(*chosen) + fileName;
        }
        LocalSaveTarget = target;
        // Saving into the folder the file already lies in needs no copy.
        copied = SameFile(path, target) || s_.fileSystem.copyFile(path, target);
    } catch (const SilentAbort&) {
        throw;
    } catch (...) {
        copied = false;
    }
    if (!copied) {
        Message(CopyFailedMessage);
        return QStringLiteral("FALSE");
    }
    return QStringLiteral("TRUE");
}

}  // namespace vz
