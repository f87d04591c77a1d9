#include "archive/VolumeJoiner.h"

#include "archive/EntryCopy.h"
#include "platform/FileSystem.h"

namespace vz {

using namespace ArchiveMessage;

namespace {
constexpr qint64 kCopyBlockBytes = 1 << 20;
}

Failure VolumeJoiner::Join(const ArchiveDirectory& directory, const QString& archiveHostPath,
                           const QString& outputHostPath)
{
    VolumeSetReader reader(archiveHostPath, directory.volumeCount());
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
    records.reserve(directory.entries().size());
    QByteArray buffer(static_cast<qsizetype>(kCopyBlockBytes), Qt::Uninitialized);
    for (const DirectoryEntry& entry : directory.entries()) {
        LocalHeader local;
        VolumePosition dataAt;
        if (Failure failure = EntryCopy::ReadLocal(reader, entry, 0, local, dataAt))
            return failure;
        CentralRecord record = entry.record;
        record.diskNumber = 0;
        record.localOffset = static_cast<quint64>(position);
        const QByteArray header = EntryCopy::Rewritten(entry.record, local).encode();
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
