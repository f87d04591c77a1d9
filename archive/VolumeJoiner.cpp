#include "archive/VolumeJoiner.h"

#include "archive/EntryCopy.h"
#include "archive/EntryRanges.h"
#include "platform/FileSystem.h"

#include <limits>

namespace vz {

using namespace ArchiveMessage;

namespace {

constexpr qint64 kCopyBlockBytes = 1 << 20;

// An entry as found in the volumes: its local header and where its data start.
struct Piece {
    LocalHeader local;
    VolumePosition dataAt;
};

QString folderOf(const QString& hostPath)
{
    const qsizetype slash = hostPath.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : hostPath.left(slash);
}

quint64 saturatingAdd(quint64 a, quint64 b)
{
    quint64 sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<quint64>::max() : sum;
}

}  // namespace

Failure VolumeJoiner::Join(const ArchiveDirectory& directory, const QString& archiveHostPath,
                           const QString& outputHostPath)
{
    VolumeSetReader reader(archiveHostPath, directory.volumeCount());
    const auto& entries = directory.entries();

    // Every local header first, before a byte is written: entries that share
    // bytes would be copied again and again, so such a set is refused whole.
    std::vector<Piece> pieces;
    pieces.reserve(entries.size());
    EntryRanges ranges;
    ranges.reserve(entries.size());
    quint64 joinedBytes = 0;
    const auto setSize = reader.totalSize();
    if (!setSize)
        return {InputFileMissing, {}};
    for (size_t i = 0; i < entries.size(); ++i) {
        const DirectoryEntry& entry = entries[i];
        Piece piece;
        if (Failure failure = EntryCopy::ReadLocal(reader, entry, 0, piece.local, piece.dataAt))
            return failure;
        const auto begin = reader.linearOffset(*EntryCopy::HeaderPosition(entry.record, 0));
        const auto dataBegin = reader.linearOffset(piece.dataAt);
        if (!begin || !dataBegin)
            return {ReadError, {}};
        // Data declared past the end of the set are cut short there (the copy then fails).
        const qint64 dataBytes =
            static_cast<qint64>(std::min<quint64>(entry.record.compressedSize, static_cast<quint64>(*setSize - *dataBegin)));
        ranges.add(*begin, *dataBegin + dataBytes, i);
        joinedBytes = saturatingAdd(joinedBytes, static_cast<quint64>(EntryCopy::Rewritten(entry.record, piece.local)
                                                                          .encodedSize()) +
                                                     static_cast<quint64>(dataBytes));
        pieces.push_back(std::move(piece));
        if ((i & 255) == 255)
            pump_.ProcessPendingMessages();
    }
    if (const auto shared = ranges.overlap())
        return {OverlappingEntries, ShownName(entries[*shared].name)};
    const DiskSpace space = hostfs::diskSpace(folderOf(outputHostPath));
    if (space.totalBytes > 0 && joinedBytes > static_cast<quint64>(std::max<qint64>(space.freeBytes, 0)))
        return {NotEnoughSpace, {}};

    HostFile out = HostFile::create(outputHostPath, ShareMode::None);
    if (!out.isOpen())
        return {TempFileNotCreated, {}};
    qint64 position = 0;
    auto write = [&](const char* data, qint64 bytes) {
        if (!out.writeAll(data, bytes))
            return false;
        position += bytes;
        return true;
    };

    std::vector<CentralRecord> records;
    records.reserve(entries.size());
    QByteArray buffer(static_cast<qsizetype>(kCopyBlockBytes), Qt::Uninitialized);
    for (size_t i = 0; i < entries.size(); ++i) {
        const DirectoryEntry& entry = entries[i];
        VolumePosition dataAt = pieces[i].dataAt;
        CentralRecord record = entry.record;
        record.diskNumber = 0;
        record.localOffset = static_cast<quint64>(position);
        const QByteArray header = EntryCopy::Rewritten(entry.record, pieces[i].local).encode();
        if (!write(header.constData(), header.size()))
            return {WriteError, {}};
        for (quint64 left = entry.record.compressedSize; left > 0;) {
            const qint64 chunk = static_cast<qint64>(std::min<quint64>(left, kCopyBlockBytes));
            const auto status = reader.readSpanning(dataAt, buffer.data(), chunk);
            if (status == VolumeSetReader::Status::Missing)
                return {InputFileMissing, {}};
            if (status != VolumeSetReader::Status::Ok)
                return {ReadError, {}};
            if (!write(buffer.constData(), chunk))
                return {WriteError, {}};
            left -= static_cast<quint64>(chunk);
            pump_.ProcessPendingMessages();
        }
        records.push_back(std::move(record));
    }

    EndRecord end;
    end.directoryOffset = static_cast<quint64>(position);
    QByteArray block;
    for (const CentralRecord& record : records) {
        block.append(record.encode());
        if (block.size() >= kCopyBlockBytes) {
            if (!write(block.constData(), block.size()))
                return {WriteError, {}};
            block.clear();
        }
    }
    if (!write(block.constData(), block.size()))
        return {WriteError, {}};
    end.directorySize = static_cast<quint64>(position) - end.directoryOffset;
    end.entriesOnThisDisk = end.totalEntries = records.size();
    const QByteArray tail = end.encode(static_cast<quint64>(position));
    if (!write(tail.constData(), tail.size()))
        return {WriteError, {}};
    return {};
}

}  // namespace vz
