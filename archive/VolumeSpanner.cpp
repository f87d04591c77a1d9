#include "archive/VolumeSpanner.h"

#include "archive/ArchiveDirectory.h"
#include "archive/EntryCopy.h"
#include "archive/LittleEndian.h"
#include "archive/VolumeNaming.h"
#include "archive/ZipFormat.h"
#include "platform/Timestamp.h"

#include <QByteArray>
#include <limits>

namespace vz {

using namespace ArchiveMessage;

namespace {

constexpr qint64 kCopyBlockBytes = 1 << 20;
constexpr qint64 kSectorBytes = 512;

QString folderOf(const QString& hostPath)
{
    const qsizetype slash = hostPath.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : hostPath.left(slash);
}

}  // namespace

QString VolumeSpanner::volumeHostPath(int index) const
{
    return VolumeNaming::SpanName(settings_.archiveHostPath, index);
}

QString VolumeSpanner::volumeWindowsPath(int index) const
{
    return VolumeNaming::SpanName(settings_.archiveWindowsPath, index);
}

bool VolumeSpanner::OpenVolume(int index, HostFile& file, qint64& spaceBytes)
{
    const QString host = volumeHostPath(index);
    if (hostfs::exists(host) && !yesToAll_ && !dialogs_.unattended()) {
        const DialogButton answer =
            dialogs_.AskOverwrite(volumeWindowsPath(index), ButtonYes | ButtonNo | ButtonCancel | ButtonYesToAll);
        if (answer == ButtonYesToAll)
            yesToAll_ = true;
        else if (answer != ButtonYes) {
            dialogs_.Note(UserCanceled);
            return false;
        }
    }
    qint64 space = 0;
    for (;;) {
        const DiskSpace disk = hostfs::diskSpace(folderOf(host));
        qint64 keep = settings_.keepFreeOnAllDisks;
        if (keep > 0)
            keep = (keep + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
        if (index == 0)
            keep += settings_.keepFreeOnDisk1;
        space = disk.totalBytes > 0 ? disk.totalBytes - keep : std::numeric_limits<qint64>::max();
        if (settings_.volumeLimitBytes > 0)
            space = std::min(space, settings_.volumeLimitBytes);
        // What can be written now decides whether this disk will do.
        const qint64 usable = std::min(space, disk.freeBytes - keep);
        if (usable >= settings_.minFreeVolumeSize)
            break;
        if (dialogs_.unattended()) {
            dialogs_.Report(NotEnoughSpace);
            return false;
        }
        if (dialogs_.AskRetry(NotEnoughSpace) != ButtonRetry) {
            dialogs_.Note(UserCanceled);
            return false;
        }
    }
    for (;;) {
        file = HostFile::create(host, ShareMode::None);
        if (file.isOpen())
            break;
        if (dialogs_.unattended()) {
            dialogs_.Report(CreateOutputFailed);
            return false;
        }
        if (dialogs_.AskRetry(CreateOutputFailed) != ButtonRetry) {
            dialogs_.Note(UserCanceled);
            return false;
        }
    }
    spaceBytes = space;
    volumes_ = index + 1;
    return true;
}

bool VolumeSpanner::CloseVolume(int index, HostFile& file)
{
    file.close();
    const QString host = volumeHostPath(index);
    if (index == 0 && finishing_)
        return true;  // a set of one keeps the time it was written
    if (index == 0) {
        // The first volume's time, in the 2-second steps of a DOS time, for all.
        const auto info = hostfs::stat(host);
        const qint64 now = info ? info->modifiedUnixMs : 0;
        commonTimeMs_ = UnixMsFromTimestamp(TimestampFromFat(FatFromTimestamp(TimestampFromUnixMs(now))));
    }
    hostfs::setModifiedTime(host, commonTimeMs_);
    return true;
}

bool VolumeSpanner::Span(const QString& tempArchiveHostPath)
{
    // A set that could not be written whole is of no use to anyone, and a
    // part of it left at the drive root would only make the next export ask
    // whether to overwrite it: the volumes this call wrote go again.
    struct RemoveUnfinished {
        VolumeSpanner& spanner;
        bool done = false;
        ~RemoveUnfinished()
        {
            if (!done)
                for (int i = 0; i < spanner.volumes_; ++i)
                    hostfs::removeFile(spanner.volumeHostPath(i));
        }
    } unfinished{*this};
    if (!copy(tempArchiveHostPath))
        return false;
    unfinished.done = true;
    return renameLast();
}

bool VolumeSpanner::copy(const QString& tempArchiveHostPath)
{
    ArchiveDirectory directory;
    if (int error = directory.Read(tempArchiveHostPath)) {
        dialogs_.Report(error);
        return false;
    }
    const auto before = hostfs::stat(tempArchiveHostPath);
    VolumeSetReader reader(tempArchiveHostPath, 1);
    VolumeSetWriter writer(*this);
    // Stopped: the provider has reported why; otherwise the write failed.
    auto fail = [&](VolumeSetWriter::Result result, int writeError) {
        if (result != VolumeSetWriter::Result::Stopped)
            dialogs_.Report(writeError);
        return false;
    };

    VolumePosition at;
    QByteArray signature;
    LittleEndianWriter(signature).u32(zip::SplitSignature);
    if (auto r = writer.writeWhole(signature, at); r != VolumeSetWriter::Result::Ok)
        return fail(r, WriteError);

    std::vector<CentralRecord> records;
    records.reserve(directory.entries().size());
    QByteArray buffer(static_cast<qsizetype>(kCopyBlockBytes), Qt::Uninitialized);
    for (const DirectoryEntry& entry : directory.entries()) {
        LocalHeader local;
        VolumePosition dataAt;
        if (Failure failure = EntryCopy::ReadLocal(reader, entry, directory.offsetShift(), local, dataAt)) {
            dialogs_.Report(failure);
            return false;
        }
        const LocalHeader header = EntryCopy::Rewritten(entry.record, local);
        if (auto r = writer.writeWhole(header.encode(), at); r != VolumeSetWriter::Result::Ok)
            return fail(r, LocalHeaderWriteError);
        CentralRecord record = entry.record;
        record.diskNumber = static_cast<quint32>(at.volume);
        record.localOffset = static_cast<quint64>(at.offset);
        records.push_back(record);
        for (quint64 left = entry.record.compressedSize; left > 0;) {
            const qint64 chunk = static_cast<qint64>(std::min<quint64>(left, kCopyBlockBytes));
            if (reader.readSpanning(dataAt, buffer.data(), chunk) != VolumeSetReader::Status::Ok) {
                dialogs_.Report(CopyError);
                return false;
            }
            if (auto r = writer.writeSpanning(buffer.constData(), chunk); r != VolumeSetWriter::Result::Ok)
                return fail(r, WriteError);
            left -= static_cast<quint64>(chunk);
        }
    }

    EndRecord end;
    bool first = true;
    int lastVolume = -1;
    for (const CentralRecord& record : records) {
        const QByteArray bytes = record.encode();
        if (auto r = writer.writeWhole(bytes, at); r != VolumeSetWriter::Result::Ok)
            return fail(r, CentralHeaderWriteError);
        if (first) {
            end.directoryDisk = static_cast<quint32>(at.volume);
            end.directoryOffset = static_cast<quint64>(at.offset);
            first = false;
        }
        if (at.volume != lastVolume) {
            lastVolume = at.volume;
            end.entriesOnThisDisk = 0;
        }
        end.entriesOnThisDisk += 1;
        end.directorySize += static_cast<quint64>(bytes.size());
    }
    end.totalEntries = records.size();
    VolumePosition endAt;
    if (auto r = writer.reserveWhole(end.encodedSize(), endAt); r != VolumeSetWriter::Result::Ok)
        return fail(r, EndWriteError);
    end.thisDisk = static_cast<quint32>(endAt.volume);
    if (first) {
        end.directoryDisk = end.thisDisk;
        end.directoryOffset = static_cast<quint64>(endAt.offset);
    }
    if (auto r = writer.writeWhole(end.encode(static_cast<quint64>(endAt.offset)), endAt);
        r != VolumeSetWriter::Result::Ok)
        return fail(r, EndWriteError);
    finishing_ = writer.volumeCount() == 1;
    if (auto r = writer.finish(); r != VolumeSetWriter::Result::Ok)
        return fail(r, WriteError);

    const auto after = hostfs::stat(tempArchiveHostPath);
    if (!before || !after || before->sizeBytes != after->sizeBytes || before->modifiedUnixMs != after->modifiedUnixMs) {
        dialogs_.Report(FileChanged);
        return false;
    }
    return true;
}

bool VolumeSpanner::renameLast()
{
    const QString last = volumeHostPath(volumes_ - 1);
    const QString target = settings_.archiveHostPath;
    if (hostfs::exists(target)) {
        if (!yesToAll_ && !dialogs_.unattended() &&
            dialogs_.AskOverwrite(settings_.archiveWindowsPath, ButtonYes | ButtonNo) != ButtonYes) {
            dialogs_.Inform(LastPartLeft, volumeWindowsPath(volumes_ - 1));
            return true;
        }
        if (!hostfs::removeFile(target)) {
            dialogs_.Report(CannotWriteTo, settings_.archiveWindowsPath);
            return false;
        }
    }
    if (!hostfs::rename(last, target)) {
        dialogs_.Report(CannotWriteTo, settings_.archiveWindowsPath);
        return false;
    }
    return true;
}

}  // namespace vz
