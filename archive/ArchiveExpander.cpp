#include "archive/ArchiveExpander.h"

#include "archive/ArchiveDirectory.h"
#include "archive/ArchiveMessages.h"
#include "archive/EntryExpander.h"
#include "archive/EntryPermissions.h"
#include "archive/ExtraFields.h"
#include "archive/ExtractionFolder.h"
#include "archive/LittleEndian.h"
#include "archive/LocalHeader.h"
#include "archive/SafeEntryPath.h"
#include "archive/WorkerPool.h"
#include "archive/ZipFormat.h"
#include "platform/FileSystem.h"
#include "platform/TemporaryFiles.h"
#include "platform/Timestamp.h"

#include <deque>
#include <memory>

namespace vz {

using namespace ArchiveMessage;

namespace {

constexpr int kWaitSliceMs = 50;

struct Slot {
    const DirectoryEntry* entry = nullptr;
    // Decided before the job runs: a message to give, or nothing to expand.
    int messageId = 0;
    bool fatal = false;
    bool expand = false;
    QString targetPath;
    ExpandJob job;
    bool done = false;
};

// The entry's modification time: the extended-timestamp field when there is
// one (it holds UTC seconds), else the DOS time in local time.
qint64 modifiedUnixMs(const CentralRecord& record, const QByteArray& localExtra)
{
    for (const QByteArray* extra : {&record.extra, &localExtra}) {
        if (auto ut = ExtraFields::find(*extra, zip::ExtraExtendedTime); ut && ut->size() >= 5 && (ut->at(0) & 1)) {
            const auto seconds = static_cast<qint32>(ReadU32(ut->constData() + 1));
            return static_cast<qint64>(seconds) * 1000;
        }
    }
    return UnixMsFromTimestamp(TimestampFromFat(record.dosTime));
}

// Removes a file this extraction wrote or replaces, read-only or not.
bool removeExtracted(const QString& hostPath)
{
    if (hostfs::removeFile(hostPath))
        return true;
    // Only a file itself: a link's target lies elsewhere and stays as it is.
    if (hostfs::pathKind(hostPath) != hostfs::PathKind::File)
        return false;
    const quint32 attributes = hostfs::attributes(hostPath);
    return (attributes & AttrReadOnly) && hostfs::setAttributes(hostPath, attributes & ~quint32(AttrReadOnly)) &&
           hostfs::removeFile(hostPath);
}

int directoryError(int id)
{
    switch (id) {
    case InputFileMissing: return FileNotFound;
    case NotValidZip: return InvalidZipStructure;
    case ZipNotOpened: return ErrorOpeningZip;
    default: return NoCentralDirectory;
    }
}

}  // namespace

int ArchiveExpander::Run()
{
    const QString archivePath = callbacks_.Argument(EngineArgument::ArchivePath, 0);
    const bool testOnly = (command_.options & EngineOption::ExtractFiles) == 0;
    const bool dirNames = (command_.options & EngineOption::ExtractDirNames) != 0;
    const bool overwrite = (command_.options & EngineOption::ExtractOverwrite) != 0;
    ExtractionFolder folder(testOnly ? QString() : callbacks_.Argument(EngineArgument::ExtractFolder, 0));

    ArchiveDirectory directory;
    if (int error = directory.Read(archivePath))
        return -directoryError(error);
    if (directory.volumeCount() > 1)
        return -MultiPartNotSupported;
    auto archive = std::make_shared<HostFile>(HostFile::openRead(archivePath, ShareMode::DenyWrite));
    if (!archive->isOpen())
        return -ErrorOpeningZip;
    const qint64 archiveSize = archive->size();

    const auto& entries = directory.entries();
    qint64 totalBytes = 0;
    for (const auto& e : entries)
        totalBytes += static_cast<qint64>(e.record.uncompressedSize);
    if (callbacks_.TotalCount(static_cast<qint64>(entries.size())) == -2 || callbacks_.TotalBytes(totalBytes) == -2)
        return -UserCanceled;

    WorkerPool pool(command_.threads);
    const size_t window = static_cast<size_t>(pool.threadCount()) * 4;
    std::deque<std::shared_ptr<Slot>> inflight;
    size_t next = 0;

    // Works out, in archive order, what to do with an entry; starts its job.
    auto prepare = [&](const DirectoryEntry& entry) {
        auto slot = std::make_shared<Slot>();
        slot->entry = &entry;
        slot->done = true;
        const CentralRecord& record = entry.record;
        auto components = SafeEntryPath::Components(entry.name);
        if (!components) {
            slot->messageId = UnsafeName;
            return slot;
        }
        if (!dirNames) {
            if (entry.isFolder())
                return slot;
            *components = QStringList{components->last()};
        }
        if (entry.isFolder()) {
            QString made;
            if (!testOnly) {
                const auto status = folder.ensure(*components, made);
                if (status == ExtractionFolder::Status::Link)
                    slot->messageId = UnsafeName;
                else if (status == ExtractionFolder::Status::CreateFailed)
                    slot->messageId = CreateOutputFailed, slot->fatal = true;
            }
            return slot;
        }
        if ((record.flags & zip::FlagEncrypted) ||
            (record.method != zip::MethodStored && record.method != zip::MethodDeflated)) {
            slot->messageId = SkippingPrefix;
            return slot;
        }
        // The local header: where the data start, and the same name as the directory.
        const qint64 headerAt = static_cast<qint64>(record.localOffset) + directory.offsetShift();
        QByteArray header(zip::LocalFixedSize, '\0');
        if (headerAt < 0 || headerAt + zip::LocalFixedSize > archiveSize ||
            archive->readAt(header.data(), zip::LocalFixedSize, headerAt) != zip::LocalFixedSize ||
            LocalHeader::variableLength(header.constData()) < 0) {
            slot->messageId = LocalReadError, slot->fatal = true;
            return slot;
        }
        const qint64 rest = LocalHeader::variableLength(header.constData());
        header.resize(static_cast<qsizetype>(zip::LocalFixedSize + rest));
        LocalHeader local;
        if (archive->readAt(header.data() + zip::LocalFixedSize, rest, headerAt + zip::LocalFixedSize) != rest ||
            !LocalHeader::decode(header, local)) {
            slot->messageId = LocalReadError, slot->fatal = true;
            return slot;
        }
        if (local.name != record.name) {
            slot->messageId = NamesDiffer, slot->fatal = true;
            return slot;
        }
        ExpandJob& job = slot->job;
        job.archive = archive;
        job.dataOffset = headerAt + header.size();
        job.method = record.method;
        job.compressedSize = record.compressedSize;
        job.uncompressedSize = record.uncompressedSize;
        job.crc32 = record.crc32;
        job.modifiedUnixMs = modifiedUnixMs(record, local.extra);
        const EntryPermissions permissions =
            EntryPermissions::ForExtraction(record.versionMadeBy, record.externalAttributes);
        job.permissionBits = permissions.permissionBits;
        job.readOnly = permissions.readOnly;
        if (job.dataOffset + static_cast<qint64>(record.compressedSize) > archiveSize) {
            slot->messageId = CrcError;  // the data are cut short
            return slot;
        }
        if (!testOnly) {
            const QString fileName = components->takeLast();
            QString parent;
            const auto status = folder.ensure(*components, parent);
            if (status == ExtractionFolder::Status::Link) {
                slot->messageId = UnsafeName;
                return slot;
            }
            if (status == ExtractionFolder::Status::CreateFailed) {
                slot->messageId = CreateOutputFailed, slot->fatal = true;
                return slot;
            }
            slot->targetPath = parent + QLatin1Char('/') + fileName;
            if (!overwrite && ExtractionFolder::occupied(slot->targetPath))
                return slot;  // kept, as the overwrite question's default answer says
            // A name no other file has (O_EXCL), recognisable as the
            // program's own, so a killed extraction's leftovers can be swept.
            const HostFile made = hostfs::createTemporaryFile(parent, &job.outputPath, 0666);
            if (!made.isOpen()) {
                slot->messageId = CreateOutputFailed, slot->fatal = true;
                return slot;
            }
        }
        slot->expand = true;
        slot->done = false;
        pool.submit([slot, &pool] {
            EntryExpander::Run(slot->job);
            pool.finished([&] { slot->done = true; });
        });
        return slot;
    };

    // Waits for every job still out and removes what they wrote.
    auto abandon = [&](int error) {
        for (auto& slot : inflight) {
            while (!pool.waitFor([&] { return slot->done; }, kWaitSliceMs)) {
            }
            if (slot->expand && !slot->job.outputPath.isEmpty())
                removeExtracted(slot->job.outputPath);
        }
        return -error;
    };

    int processed = 0;
    while (next < entries.size() || !inflight.empty()) {
        while (next < entries.size() && inflight.size() < window)
            inflight.push_back(prepare(entries[next++]));
        std::shared_ptr<Slot> slot = inflight.front();
        const DirectoryEntry& entry = *slot->entry;

        if (slot->messageId != 0 && !slot->expand) {
            inflight.pop_front();
            QString text = slot->messageId == SkippingPrefix ? Text(SkippingPrefix) + entry.name
                                                              : Text(slot->messageId, entry.name);
            const int answer = callbacks_.Message(slot->messageId, text);
            if (slot->fatal)
                return abandon(slot->messageId);
            if (answer == -2)
                return abandon(UserCanceled);
            continue;
        }
        if (!slot->expand) {
            inflight.pop_front();
            continue;  // a folder, or a file kept in place
        }
        if (callbacks_.ItemStarted(entry.name, static_cast<qint64>(entry.record.uncompressedSize)) == -2)
            return abandon(UserCanceled);
        qint64 reported = 0;
        for (;;) {
            const bool done = pool.waitFor([&] { return slot->done; }, kWaitSliceMs);
            const qint64 now = slot->job.bytesDone.load(std::memory_order_relaxed);
            if (now > reported || !done) {
                if (callbacks_.BytesDone(now - reported) == -2)
                    return abandon(UserCanceled);
                reported = now;
            }
            if (done)
                break;
        }
        inflight.pop_front();
        ExpandJob& job = slot->job;
        switch (job.result) {
        case ExpandJob::Result::Ok:
            // Only a checked entry replaces what is there (a link is replaced,
            // not followed; a read-only file too, as replacing was asked for).
            if (!job.outputPath.isEmpty() &&
                ((ExtractionFolder::occupied(slot->targetPath) && !removeExtracted(slot->targetPath)) ||
                 !hostfs::rename(job.outputPath, slot->targetPath))) {
                removeExtracted(job.outputPath);
                callbacks_.Message(CreateOutputFailed, Text(CreateOutputFailed));
                return abandon(CreateOutputFailed);
            }
            ++processed;
            break;
        case ExpandJob::Result::Mismatch:
            if (!job.outputPath.isEmpty())
                hostfs::removeFile(job.outputPath);
            if (callbacks_.Message(CrcError, Text(CrcError, entry.name)) == -2)
                return abandon(UserCanceled);
            break;
        case ExpandJob::Result::ReadFailed:
            if (!job.outputPath.isEmpty())
                hostfs::removeFile(job.outputPath);
            callbacks_.Message(ReadError, Text(ReadError));
            return abandon(ReadError);
        case ExpandJob::Result::CreateFailed:
            callbacks_.Message(CreateOutputFailed, Text(CreateOutputFailed));
            return abandon(CreateOutputFailed);
        case ExpandJob::Result::WriteFailed:
            hostfs::removeFile(job.outputPath);
            callbacks_.Message(WriteError, Text(WriteError));
            return abandon(WriteError);
        }
        if (callbacks_.ItemEnded() == -2)
            return abandon(UserCanceled);
    }
    return processed;
}

}  // namespace vz
