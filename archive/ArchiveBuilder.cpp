#include "archive/ArchiveBuilder.h"

#include "archive/ArchiveMessages.h"
#include "archive/ChunkCompressor.h"
#include "archive/EndRecord.h"
#include "archive/EntryName.h"
#include "archive/EntryPermissions.h"
#include "archive/LocalHeader.h"
#include "archive/WorkerPool.h"
#include "archive/ZipFormat.h"
#include "platform/FileSystem.h"
#include "platform/Timestamp.h"

#include <atomic>
#include <deque>
#include <memory>

namespace vz {

using namespace ArchiveMessage;

namespace {

// Input bytes handed to the workers and not yet written bound memory; the
// count of pieces bounds the files held open.
constexpr qint64 kWindowBytes = 32 << 20;
constexpr size_t kWindowPieces = 128;
constexpr int kWaitSliceMs = 100;

struct Slot {
    CompressJob job;
    size_t item = 0;
    int piece = 0;
    bool lastPiece = true;
    bool done = false;
    std::optional<SkipReason> openFailed;
};

SkipReason reasonForOpenError(int error)
{
    switch (error) {
    case 2: return SkipReason::NotFound;      // ENOENT
    case 13: return SkipReason::NoAccess;     // EACCES
    case 1: return SkipReason::NoAccess;      // EPERM
    case SharingViolation: return SkipReason::InUse;
    default: return SkipReason::CannotOpen;
    }
}

int errorForSkip(SkipReason reason)
{
    switch (reason) {
    case SkipReason::NotFound: return FileNotFound;
    case SkipReason::InUse: return FileLocked;
    case SkipReason::NoAccess: return AccessDenied;
    case SkipReason::CannotOpen: return FileNotFoundOrNoPermission;
    case SkipReason::ReadError: return ErrorReadingFile;
    case SkipReason::DuplicateName: return DuplicateName;
    }
    return ErrorReadingFile;
}

// Writes the archive sequentially, patching local headers in place.
class ArchiveOutput {
public:
    explicit ArchiveOutput(HostFile& file) : file_(file) {}
    bool write(const char* data, qint64 bytes)
    {
        if (!file_.writeAll(data, bytes))
            return false;
        position_ += bytes;
        return true;
    }
    bool write(const QByteArray& bytes) { return write(bytes.constData(), bytes.size()); }
    bool patch(qint64 at, const QByteArray& bytes)
    {
        return file_.seek(at) && file_.writeAll(bytes.constData(), bytes.size()) && file_.seek(position_);
    }
    bool rewind(qint64 to)
    {
        position_ = to;
        return file_.seek(to);
    }
    bool finish() { return file_.truncate(position_); }
    qint64 position() const { return position_; }

private:
    HostFile& file_;
    qint64 position_ = 0;
};

}  // namespace

bool ArchiveBuilder::storeWithoutCompression(const FileItem& item) const
{
    if (command_.compressionLevel <= 0 || item.sizeBytes == 0)
        return true;
    const qsizetype slash = item.name.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = item.name.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash)
        return false;
    return storeSuffixes_.contains(item.name.mid(dot).toLower());
}

int ArchiveBuilder::collect(std::vector<FileItem>& items)
{
    const QString archivePath = callbacks_.Argument(EngineArgument::ArchivePath, 0);
    TreeScanner::Options options;
    options.recurse = (command_.options & EngineOption::RecurseDirs) != 0;
    options.hidden = (command_.options & EngineOption::HiddenFiles) != 0;
    options.dirNames = (command_.options & EngineOption::NoDirNames) == 0;
    TreeScanner scanner(options);
    std::vector<FileItem> found;
    const int specs = callbacks_.IncludeSpecCount();
    for (int i = 0; i < specs; ++i) {
        scanner.scan(callbacks_.Argument(EngineArgument::IncludeSpec, i),
                     callbacks_.Argument(EngineArgument::RootFolder, i), found);
    }
    QSet<QString> names;
    for (FileItem& item : found) {
        if (item.hostPath == archivePath)
            continue;
        if (names.contains(item.name)) {
            if (callbacks_.EntrySkipped(item.name, SkipReason::DuplicateName) == 1)
                return -DuplicateName;
            continue;
        }
        names.insert(item.name);
        items.push_back(std::move(item));
    }
    return 0;
}

int ArchiveBuilder::Run()
{
    const QString suffixes = callbacks_.Argument(EngineArgument::StoreSuffixes, 0);
    for (const QString& s : suffixes.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        storeSuffixes_.insert(s.toLower());

    std::vector<FileItem> items;
    if (int error = collect(items))
        return error;
    if (items.empty())
        return -NothingToDo;
    qint64 totalBytes = 0;
    for (const FileItem& item : items)
        totalBytes += item.sizeBytes;
    if (callbacks_.TotalCount(static_cast<qint64>(items.size())) == -2 || callbacks_.TotalBytes(totalBytes) == -2)
        return -UserCanceled;

    HostFile file = HostFile::create(callbacks_.Argument(EngineArgument::ArchivePath, 0), ShareMode::None);
    if (!file.isOpen())
        return -ErrorCreatingFile;
    ArchiveOutput out(file);

    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    WorkerPool pool(command_.threads);
    std::deque<std::shared_ptr<Slot>> inflight;
    qint64 windowBytes = 0;
    size_t nextItem = 0;
    qint64 nextOffset = 0;
    std::shared_ptr<HostFile> nextFile;
    std::vector<CentralRecord> central;
    central.reserve(items.size());

    // Hands out pieces in archive order while the window has room.
    auto dispatch = [&] {
        while (nextItem < items.size() &&
               (inflight.empty() || (windowBytes < kWindowBytes && inflight.size() < kWindowPieces))) {
            const FileItem& item = items[nextItem];
            auto slot = std::make_shared<Slot>();
            slot->item = nextItem;
            if (nextOffset == 0) {
                auto opened = std::make_shared<HostFile>(HostFile::openRead(item.hostPath, ShareMode::DenyWrite));
                if (!opened->isOpen()) {
                    slot->openFailed = reasonForOpenError(opened->errorNumber());
                    slot->done = true;
                    inflight.push_back(slot);
                    ++nextItem;
                    continue;
                }
                nextFile = opened;
            }
            const bool store = storeWithoutCompression(item);
            CompressJob& job = slot->job;
            job.file = nextFile;
            job.level = command_.compressionLevel;
            job.offset = nextOffset;
            if (store) {
                job.mode = CompressJob::Mode::Store;
                job.length = std::min(ChunkCompressor::ChunkBytes, item.sizeBytes - nextOffset);
            } else if (item.sizeBytes <= ChunkCompressor::WholeFileLimitBytes) {
                job.mode = CompressJob::Mode::Whole;
                job.length = item.sizeBytes;
            } else {
                job.mode = CompressJob::Mode::Piece;
                job.length = std::min(ChunkCompressor::ChunkBytes, item.sizeBytes - nextOffset);
            }
            slot->piece = static_cast<int>(nextOffset / ChunkCompressor::ChunkBytes);
            nextOffset += job.length;
            slot->lastPiece = job.lastPiece = nextOffset >= item.sizeBytes;
            if (slot->lastPiece) {
                ++nextItem;
                nextOffset = 0;
                nextFile.reset();
            }
            windowBytes += job.length;
            inflight.push_back(slot);
            pool.submit([slot, cancelled, &pool] {
                if (!cancelled->load())
                    ChunkCompressor::Run(slot->job);
                else
                    slot->job.readFailed = true;
                pool.finished([&] { slot->done = true; });
            });
        }
    };

    // Ends early: queued jobs see the flag and return at once.
    auto fail = [&](int error) {
        cancelled->store(true);
        return -error;
    };

    // State of the entry being written.
    qint64 headerAt = 0;
    qint64 dataAt = 0;
    qint64 compressedBytes = 0;
    quint32 crc = 0;
    bool skipping = false;
    LocalHeader header;
    bool forceZip64 = false;
    int written = 0;

    while (!inflight.empty() || nextItem < items.size()) {
        dispatch();
        std::shared_ptr<Slot> slot = inflight.front();
        while (!pool.waitFor([&] { return slot->done; }, kWaitSliceMs)) {
            if (callbacks_.BytesDone(0) == -2)
                return fail(UserCanceled);
        }
        inflight.pop_front();
        windowBytes -= slot->job.length;
        const FileItem& item = items[slot->item];

        if (slot->openFailed) {
            if (callbacks_.EntrySkipped(item.name, *slot->openFailed) == 1)
                return fail(errorForSkip(*slot->openFailed));
            continue;
        }
        if (slot->piece == 0) {
            skipping = false;
            if (callbacks_.ItemStarted(item.name, item.sizeBytes) == -2)
                return fail(UserCanceled);
            const EntryName::Encoded name = EntryName::Encode(item.name);
            header = LocalHeader();
            header.name = name.bytes;
            header.flags = name.utf8 ? zip::FlagUtf8 : 0;
            header.dosTime = FatFromTimestamp(TimestampFromUnixMs(item.modifiedUnixMs));
            header.uncompressedSize = static_cast<quint64>(item.sizeBytes);
            header.method = slot->job.mode == CompressJob::Mode::Store ? zip::MethodStored : zip::MethodDeflated;
            forceZip64 = static_cast<quint64>(item.sizeBytes) >= zip::Max32;
            headerAt = out.position();
            if (!out.write(header.encode(forceZip64)))
                return fail(ErrorWritingFile);
            dataAt = out.position();
            compressedBytes = 0;
            crc = 0;
        }
        if (skipping)
            continue;
        if (slot->job.readFailed) {
            if (callbacks_.EntrySkipped(item.name, SkipReason::ReadError) == 1)
                return fail(ErrorReadingFile);
            // Left out: what was written of it is overwritten by the next entry.
            skipping = true;
            if (!out.rewind(headerAt))
                return fail(ErrorSeeking);
            continue;
        }
        if (!out.write(slot->job.output))
            return fail(ErrorWritingFile);
        compressedBytes += slot->job.output.size();
        crc = slot->piece == 0 ? slot->job.crc32 : ChunkCompressor::CombineCrc(crc, slot->job.crc32, slot->job.length);
        if (slot->job.stored)
            header.method = zip::MethodStored;
        const qint64 done = slot->job.length;
        slot->job.output = QByteArray();
        if (callbacks_.BytesDone(done) == -2)
            return fail(UserCanceled);
        if (!slot->lastPiece)
            continue;

        // Deflate that did not pay for a large file: store it instead.
        if (header.method == zip::MethodDeflated && compressedBytes >= item.sizeBytes) {
            if (!out.rewind(dataAt))
                return fail(ErrorSeeking);
            HostFile source = HostFile::openRead(item.hostPath, ShareMode::DenyWrite);
            QByteArray buffer(static_cast<qsizetype>(ChunkCompressor::ChunkBytes), Qt::Uninitialized);
            quint32 again = 0;
            for (qint64 at = 0; at < item.sizeBytes;) {
                const qint64 want = std::min<qint64>(buffer.size(), item.sizeBytes - at);
                if (!source.isOpen() || source.readAt(buffer.data(), want, at) != want)
                    return fail(ErrorReadingFile);
                again = ChunkCompressor::Crc(again, buffer.constData(), want);
                if (!out.write(buffer.constData(), want))
                    return fail(ErrorWritingFile);
                at += want;
            }
            if (again != crc)
                return fail(ErrorReadingFile);  // the file changed while it was read
            header.method = zip::MethodStored;
            compressedBytes = item.sizeBytes;
        }
        header.crc32 = crc;
        header.compressedSize = static_cast<quint64>(compressedBytes);
        header.versionNeeded = header.method == zip::MethodStored ? zip::VersionStored : zip::VersionDeflated;
        if (!out.patch(headerAt, header.encode(forceZip64)))
            return fail(ErrorWritingFile);

        CentralRecord record;
        // Made on Unix: the mode travels beside the FAT bits, and readers keep
        // name bytes that are not UTF-8 instead of taking them for code page 850.
        record.versionMadeBy = EntryPermissions::VersionMadeBy(zip::VersionDeflated);
        record.versionNeeded = forceZip64 ? zip::VersionZip64 : header.versionNeeded;
        record.flags = header.flags;
        record.method = header.method;
        record.dosTime = header.dosTime;
        record.crc32 = crc;
        record.compressedSize = header.compressedSize;
        record.uncompressedSize = header.uncompressedSize;
        record.localOffset = static_cast<quint64>(headerAt);
        record.externalAttributes = EntryPermissions::ExternalAttributes(item.attributes, item.permissionBits);
        record.name = header.name;
        central.push_back(std::move(record));
        ++written;
        if (callbacks_.ItemEnded() == -2)
            return fail(UserCanceled);
    }

    // The central directory and the end records.
    EndRecord end;
    end.directoryOffset = static_cast<quint64>(out.position());
    QByteArray block;
    for (const CentralRecord& record : central) {
        block.append(record.encode());
        if (block.size() >= (1 << 20)) {
            if (!out.write(block))
                return fail(ErrorWritingFile);
            block.clear();
        }
    }
    if (!out.write(block))
        return fail(ErrorWritingFile);
    end.directorySize = static_cast<quint64>(out.position()) - end.directoryOffset;
    end.entriesOnThisDisk = end.totalEntries = central.size();
    if (!out.write(end.encode(static_cast<quint64>(out.position()))) || !out.finish())
        return fail(ErrorWritingFile);
    if (written == 0)
        return -NothingToDo;
    return written;
}

}  // namespace vz
