#include "archive/ArchiveExpander.h"

#include "archive/ArchiveDirectory.h"
#include "archive/ArchiveMessages.h"
#include "archive/EntryExpander.h"
#include "archive/EntryPermissions.h"
#include "archive/EntryRanges.h"
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

#include <cerrno>
#include <deque>
#include <limits>
#include <memory>
#include <optional>

namespace vz {

using namespace ArchiveMessage;

namespace {

constexpr int kWaitSliceMs = 50;
// The name of an extraction's temporary file beside its target (".~vz" + 8 + ".tmp").
constexpr qsizetype kTemporaryNameBytes = 16;

// What the extraction does with one entry, decided for every entry before
// anything is written.
struct Plan {
    enum class Kind { Nothing, Message, Folder, File } kind = Kind::Nothing;
    int messageId = 0;           // Message: what to say instead of extracting
    qint64 dataOffset = 0;       // File: where its data start
    qint64 modifiedUnixMs = 0;   // File: its time
};

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

quint64 saturatingAdd(quint64 a, quint64 b)
{
    quint64 sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<quint64>::max() : sum;
}

// An offset of the directory (up to 2^64) moved by `shift`, when the result is a file position.
std::optional<qint64> shifted(quint64 offset, qint64 shift)
{
    qint64 result = 0;
    if (offset > static_cast<quint64>(std::numeric_limits<qint64>::max()) ||
        __builtin_add_overflow(static_cast<qint64>(offset), shift, &result) || result < 0)
        return std::nullopt;
    return result;
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
    if (archiveSize < 0)
        return -ErrorReadingFile;
    const auto& entries = directory.entries();

    // The path of an entry below the extraction folder, or nothing when its name is refused.
    auto target = [&](const DirectoryEntry& entry) -> std::optional<QStringList> {
        auto components = SafeEntryPath::Components(entry.name);
        if (components && !dirNames)
            *components = QStringList{components->last()};
        return components;
    };
    auto fail = [&](int id, const QString& name) {
        callbacks_.Message(id, Text(id, ShownName(name)));
        return -id;
    };

    // Every entry is looked at before anything is written: what it becomes,
    // where its data lie. A damaged local header, entries that share bytes
    // or more output than the disk holds refuse the archive whole.
    std::vector<Plan> plans(entries.size());
    EntryRanges ranges;
    quint64 bytesToWrite = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const DirectoryEntry& entry = entries[i];
        const CentralRecord& record = entry.record;
        Plan& plan = plans[i];
        const auto components = target(entry);
        if (!components || (!testOnly && !SafeEntryPath::FitsBelow(folder.base(), *components,
                                                                     entry.isFolder() ? 0 : kTemporaryNameBytes))) {
            plan.kind = Plan::Kind::Message;
            plan.messageId = UnsafeName;
            continue;
        }
        if (entry.isFolder()) {
            if (dirNames)
                plan.kind = Plan::Kind::Folder;
            continue;
        }
        // A file under the name of the extraction's own temporary files could
        // take the place of one in flight (and the next run sweeps it away as
        // a leftover): no entry is ever written under such a name.
        if (hostfs::isTemporaryName(components->last().toCaseFolded())) {
            plan.kind = Plan::Kind::Message;
            plan.messageId = UnsafeName;
            continue;
        }
        if ((record.flags & zip::FlagEncrypted) ||
            (record.method != zip::MethodStored && record.method != zip::MethodDeflated)) {
            plan.kind = Plan::Kind::Message;
            plan.messageId = SkippingPrefix;
            continue;
        }
        // The local header: where the data start, and the same name as the directory.
        const auto headerAt = shifted(record.localOffset, directory.offsetShift());
        QByteArray header(zip::LocalFixedSize, '\0');
        if (!headerAt || archiveSize < zip::LocalFixedSize || *headerAt > archiveSize - zip::LocalFixedSize ||
            archive->readAt(header.data(), zip::LocalFixedSize, *headerAt) != zip::LocalFixedSize ||
            LocalHeader::variableLength(header.constData()) < 0)
            return fail(LocalReadError, entry.name);
        const qint64 rest = LocalHeader::variableLength(header.constData());
        header.resize(static_cast<qsizetype>(zip::LocalFixedSize + rest));
        LocalHeader local;
        if (archive->readAt(header.data() + zip::LocalFixedSize, rest, *headerAt + zip::LocalFixedSize) != rest ||
            !LocalHeader::decode(header, local))
            return fail(LocalReadError, entry.name);
        if (local.name != record.name)
            return fail(NamesDiffer, entry.name);
        plan.dataOffset = *headerAt + header.size();
        if (plan.dataOffset > archiveSize ||
            record.compressedSize > static_cast<quint64>(archiveSize - plan.dataOffset)) {
            plan.kind = Plan::Kind::Message;
            plan.messageId = CrcError;  // the data are cut short
            continue;
        }
        plan.kind = Plan::Kind::File;
        plan.modifiedUnixMs = modifiedUnixMs(record, local.extra);
        ranges.add(*headerAt, plan.dataOffset + static_cast<qint64>(record.compressedSize), i);
        bytesToWrite = saturatingAdd(bytesToWrite, record.uncompressedSize);
    }
    if (const auto shared = ranges.overlap())
        return fail(OverlappingEntries, entries[*shared].name);
    if (!testOnly) {
        const DiskSpace space = hostfs::diskSpace(folder.base());
        if (space.totalBytes > 0 && bytesToWrite > static_cast<quint64>(std::max<qint64>(space.freeBytes, 0)))
            return fail(NotEnoughSpace, QString());
    }

    quint64 totalBytes = 0;
    for (const auto& e : entries)
        totalBytes = saturatingAdd(totalBytes, e.record.uncompressedSize);
    totalBytes = std::min<quint64>(totalBytes, static_cast<quint64>(std::numeric_limits<qint64>::max()));
    if (callbacks_.TotalCount(static_cast<qint64>(entries.size())) == -2 ||
        callbacks_.TotalBytes(static_cast<qint64>(totalBytes)) == -2)
        return -UserCanceled;

    WorkerPool pool(command_.threads);
    const size_t window = static_cast<size_t>(pool.threadCount()) * 4;
    std::deque<std::shared_ptr<Slot>> inflight;
    size_t next = 0;

    // What a folder that could not be made means for the entry; false when it is not extracted.
    auto folderReady = [](ExtractionFolder::Status status, Slot& slot) {
        switch (status) {
        case ExtractionFolder::Status::Ok: return true;
        case ExtractionFolder::Status::Link: slot.messageId = UnsafeName; return false;
        case ExtractionFolder::Status::Clash: slot.messageId = CreateOutputFailed; return false;
        case ExtractionFolder::Status::CreateFailed: slot.messageId = CreateOutputFailed, slot.fatal = true; return false;
        }
        return false;
    };

    // Makes, in archive order, what an entry needs on disk; starts its job.
    auto prepare = [&](size_t index) {
        const DirectoryEntry& entry = entries[index];
        const Plan& plan = plans[index];
        auto slot = std::make_shared<Slot>();
        slot->entry = &entry;
        slot->done = true;
        switch (plan.kind) {
        case Plan::Kind::Nothing: return slot;
        case Plan::Kind::Message: slot->messageId = plan.messageId; return slot;
        case Plan::Kind::Folder:
            if (!testOnly) {
                QString made;
                folderReady(folder.ensure(*target(entry), made), *slot);
            }
            return slot;
        case Plan::Kind::File: break;
        }
        const CentralRecord& record = entry.record;
        ExpandJob& job = slot->job;
        job.archive = archive;
        job.dataOffset = plan.dataOffset;
        job.method = record.method;
        job.compressedSize = record.compressedSize;
        job.uncompressedSize = record.uncompressedSize;
        job.crc32 = record.crc32;
        job.modifiedUnixMs = plan.modifiedUnixMs;
        const EntryPermissions permissions =
            EntryPermissions::ForExtraction(record.versionMadeBy, record.externalAttributes);
        job.permissionBits = permissions.permissionBits;
        job.readOnly = permissions.readOnly;
        if (!testOnly) {
            QStringList parents = *target(entry);
            const QString fileName = parents.takeLast();
            QString parent;
            if (!folderReady(folder.ensure(parents, parent, fileName), *slot))
                return slot;
            slot->targetPath = parent + QLatin1Char('/') + fileName;
            if (!overwrite && ExtractionFolder::occupied(slot->targetPath))
                return slot;  // kept, as the overwrite question's default answer says
            // A name no other file has (O_EXCL), recognisable as the
            // program's own, so a killed extraction's leftovers can be swept;
            // held open from here to the end of the expansion.
            HostFile made = hostfs::createTemporaryFile(parent, &job.outputPath, 0666);
            if (!made.isOpen()) {
                slot->messageId = CreateOutputFailed;
                slot->fatal = !ExtractionFolder::isNameError(made.errorNumber());
                return slot;
            }
            job.output = std::move(made);
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
            inflight.push_back(prepare(next++));
        std::shared_ptr<Slot> slot = inflight.front();
        const DirectoryEntry& entry = *slot->entry;

        if (slot->messageId != 0 && !slot->expand) {
            inflight.pop_front();
            QString text = slot->messageId == SkippingPrefix ? Text(SkippingPrefix) + ShownName(entry.name)
                                                              : Text(slot->messageId, ShownName(entry.name));
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
        case ExpandJob::Result::Ok: {
            // Only a checked entry replaces what is there (a link is replaced,
            // not followed; a read-only file too, as replacing was asked for).
            // A folder in its place (made meanwhile for a later entry, say)
            // or a name this file system refuses leaves out this entry only.
            int error = 0;
            errno = 0;
            if (!job.outputPath.isEmpty()) {
                if (hostfs::pathKind(slot->targetPath) == hostfs::PathKind::Folder)
                    error = EISDIR;
                else if (ExtractionFolder::occupied(slot->targetPath) && !removeExtracted(slot->targetPath))
                    error = errno != 0 ? errno : EIO;
                else if (!hostfs::rename(job.outputPath, slot->targetPath))
                    error = errno != 0 ? errno : EIO;
            }
            if (error != 0) {
                removeExtracted(job.outputPath);
                const int answer = callbacks_.Message(CreateOutputFailed, Text(CreateOutputFailed));
                if (!ExtractionFolder::isNameError(error))
                    return abandon(CreateOutputFailed);
                if (answer == -2)
                    return abandon(UserCanceled);
                break;
            }
            ++processed;
            break;
        }
        case ExpandJob::Result::Mismatch:
            if (!job.outputPath.isEmpty())
                hostfs::removeFile(job.outputPath);
            if (callbacks_.Message(CrcError, Text(CrcError, ShownName(entry.name))) == -2)
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
