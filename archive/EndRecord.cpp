#include "archive/EndRecord.h"

#include "archive/LittleEndian.h"
#include "archive/ZipFormat.h"

#include <algorithm>

namespace vz {

bool Zip64Locator::decode(const char* data, Zip64Locator& out)
{
    LittleEndianReader in(data, zip::Zip64LocatorSize);
    if (in.u32() != zip::Zip64LocatorSignature)
        return false;
    out.endDisk = in.u32();
    out.endOffset = in.u64();
    out.totalDisks = in.u32();
    return true;
}

bool EndRecord::needsZip64() const
{
    return thisDisk >= zip::Max16 || directoryDisk >= zip::Max16 || entriesOnThisDisk >= zip::Max16 ||
           totalEntries >= zip::Max16 || directorySize >= zip::Max32 || directoryOffset >= zip::Max32;
}

bool EndRecord::hasAllOnesField() const
{
    return thisDisk == zip::Max16 || directoryDisk == zip::Max16 || entriesOnThisDisk == zip::Max16 ||
           totalEntries == zip::Max16 || directorySize == zip::Max32 || directoryOffset == zip::Max32;
}

QByteArray EndRecord::encode(quint64 offset) const
{
    QByteArray out;
    LittleEndianWriter w(out);
    if (needsZip64()) {
        w.u32(zip::Zip64EndSignature);
        w.u64(zip::Zip64EndFixedSize - 12);  // size of the record after this field
        w.u16(zip::VersionZip64);
        w.u16(zip::VersionZip64);
        w.u32(thisDisk);
        w.u32(directoryDisk);
        w.u64(entriesOnThisDisk);
        w.u64(totalEntries);
        w.u64(directorySize);
        w.u64(directoryOffset);
        w.u32(zip::Zip64LocatorSignature);
        w.u32(thisDisk);
        w.u64(offset);
        w.u32(thisDisk + 1);
    }
    auto clip16 = [](quint64 v) { return v >= zip::Max16 ? zip::Max16 : static_cast<quint32>(v); };
    auto clip32 = [](quint64 v) { return v >= zip::Max32 ? zip::Max32 : v; };
    w.u32(zip::EndSignature);
    w.u16(clip16(thisDisk));
    w.u16(clip16(directoryDisk));
    w.u16(clip16(entriesOnThisDisk));
    w.u16(clip16(totalEntries));
    w.u32(clip32(directorySize));
    w.u32(clip32(directoryOffset));
    w.u16(static_cast<quint32>(comment.size()));
    w.bytes(comment);
    return out;
}

qint64 EndRecord::encodedSize() const
{
    return (needsZip64() ? zip::Zip64EndFixedSize + zip::Zip64LocatorSize : 0) + zip::EndFixedSize + comment.size();
}

bool EndRecord::decode(const char* data, qint64 available, EndRecord& out)
{
    LittleEndianReader in(data, zip::EndFixedSize);
    if (available < zip::EndFixedSize || in.u32() != zip::EndSignature)
        return false;
    out.thisDisk = in.u16();
    out.directoryDisk = in.u16();
    out.entriesOnThisDisk = in.u16();
    out.totalEntries = in.u16();
    out.directorySize = in.u32();
    out.directoryOffset = in.u32();
    const qint64 commentLength = std::min<qint64>(in.u16(), available - zip::EndFixedSize);
    out.comment = QByteArray(data + zip::EndFixedSize, static_cast<qsizetype>(commentLength));
    return true;
}

bool EndRecord::applyZip64(const char* data, qint64 size)
{
    if (size < zip::Zip64EndFixedSize)
        return false;
    LittleEndianReader in(data, size);
    if (in.u32() != zip::Zip64EndSignature)
        return false;
    in.skip(12);
    thisDisk = in.u32();
    directoryDisk = in.u32();
    entriesOnThisDisk = in.u64();
    totalEntries = in.u64();
    directorySize = in.u64();
    directoryOffset = in.u64();
    return true;
}

}  // namespace vz
