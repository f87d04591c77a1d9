#include "archive/EntryCopy.h"

#include "archive/ZipFormat.h"

#include <limits>

namespace vz {

using namespace ArchiveMessage;

Failure EntryCopy::ReadLocal(VolumeSetReader& reader, const DirectoryEntry& entry, qint64 shift,
                             LocalHeader& local, VolumePosition& dataAt)
{
    const auto headerAt = HeaderPosition(entry.record, shift);
    if (!headerAt)
        return {LocalReadError, {}};
    VolumePosition at = *headerAt;
    QByteArray header(zip::LocalFixedSize, '\0');
    const auto status = reader.readWhole(at, header.data(), zip::LocalFixedSize);
    if (status == VolumeSetReader::Status::Missing)
        return {InputFileMissing, {}};
    if (status != VolumeSetReader::Status::Ok)
        return {LocalReadError, {}};
    const qint64 rest = LocalHeader::variableLength(header.constData());
    if (rest < 0)
        return {LocalReadError, {}};
    header.resize(static_cast<qsizetype>(zip::LocalFixedSize + rest));
    // The rest lies in the same volume: no move to the next one here.
    if (rest > 0 && (at.offset + rest > reader.volumeSize(at.volume) ||
                     reader.readWhole(at, header.data() + zip::LocalFixedSize, rest) != VolumeSetReader::Status::Ok))
        return {LocalReadError, {}};
    if (!LocalHeader::decode(header, local))
        return {LocalReadError, {}};
    if (local.name != entry.record.name)
        return {NamesDiffer, entry.name};
    dataAt = at;
    return {};
}

std::optional<VolumePosition> EntryCopy::HeaderPosition(const CentralRecord& record, qint64 shift)
{
    // A Zip64 offset may be anything up to 2^64: added only when the sum fits.
    qint64 offset = 0;
    if (record.localOffset > static_cast<quint64>(std::numeric_limits<qint64>::max()) ||
        __builtin_add_overflow(static_cast<qint64>(record.localOffset), shift, &offset) || offset < 0 ||
        record.diskNumber > static_cast<quint32>(std::numeric_limits<int>::max()))
        return std::nullopt;
    return VolumePosition{static_cast<int>(record.diskNumber), offset};
}

LocalHeader EntryCopy::Rewritten(const CentralRecord& record, const LocalHeader& local)
{
    LocalHeader out;
    out.versionNeeded = record.versionNeeded;
    out.flags = record.flags & ~zip::FlagDataDescriptor;
    out.method = record.method;
    out.dosTime = record.dosTime;
    out.crc32 = record.crc32;
    out.compressedSize = record.compressedSize;
    out.uncompressedSize = record.uncompressedSize;
    out.name = record.name;
    out.extra = local.extra;
    return out;
}

}  // namespace vz
