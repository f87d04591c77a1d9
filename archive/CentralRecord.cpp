#include "archive/CentralRecord.h"

#include "archive/ExtraFields.h"
#include "archive/LittleEndian.h"
#include "archive/ZipFormat.h"

#include <algorithm>

namespace vz {

bool CentralRecord::needsZip64() const
{
    return uncompressedSize >= zip::Max32 || compressedSize >= zip::Max32 || localOffset >= zip::Max32 ||
           diskNumber >= zip::Max16;
}

QByteArray CentralRecord::encode() const
{
    Zip64Values values;
    if (uncompressedSize >= zip::Max32)
        values.uncompressedSize = uncompressedSize;
    if (compressedSize >= zip::Max32)
        values.compressedSize = compressedSize;
    if (localOffset >= zip::Max32)
        values.localOffset = localOffset;
    if (diskNumber >= zip::Max16)
        values.diskNumber = diskNumber;
    QByteArray extraOut = values.encode();
    extraOut.append(ExtraFields::without(extra, zip::ExtraZip64));

    QByteArray out;
    out.reserve(zip::CentralFixedSize + name.size() + extraOut.size() + comment.size());
    LittleEndianWriter w(out);
    w.u32(zip::CentralSignature);
    w.u16(values.empty() ? versionMadeBy : std::max<quint32>(versionMadeBy & 0xFF, zip::VersionZip64) |
                                               (versionMadeBy & 0xFF00));
    w.u16(values.empty() ? versionNeeded : std::max<quint32>(versionNeeded, zip::VersionZip64));
    w.u16(flags);
    w.u16(method);
    w.u32(dosTime);
    w.u32(crc32);
    w.u32(values.compressedSize ? zip::Max32 : compressedSize);
    w.u32(values.uncompressedSize ? zip::Max32 : uncompressedSize);
    w.u16(static_cast<quint32>(name.size()));
    w.u16(static_cast<quint32>(extraOut.size()));
    w.u16(static_cast<quint32>(comment.size()));
    w.u16(values.diskNumber ? zip::Max16 : diskNumber);
    w.u16(internalAttributes);
    w.u32(externalAttributes);
    w.u32(values.localOffset ? zip::Max32 : localOffset);
    w.bytes(name);
    w.bytes(extraOut);
    w.bytes(comment);
    return out;
}

qint64 CentralRecord::encodedSize() const
{
    return encode().size();
}

qint64 CentralRecord::variableLength(const char* fixed)
{
    LittleEndianReader in(fixed, zip::CentralFixedSize);
    if (in.u32() != zip::CentralSignature)
        return -1;
    in.skip(24);
    const qint64 nameLength = in.u16();
    const qint64 extraLength = in.u16();
    return nameLength + extraLength + in.u16();
}

bool CentralRecord::decode(const QByteArray& whole, CentralRecord& out)
{
    LittleEndianReader in(whole);
    if (in.u32() != zip::CentralSignature)
        return false;
    out.versionMadeBy = in.u16();
    out.versionNeeded = in.u16();
    out.flags = in.u16();
    out.method = in.u16();
    out.dosTime = in.u32();
    out.crc32 = in.u32();
    out.compressedSize = in.u32();
    out.uncompressedSize = in.u32();
    const qint64 nameLength = in.u16();
    const qint64 extraLength = in.u16();
    const qint64 commentLength = in.u16();
    out.diskNumber = in.u16();
    out.internalAttributes = in.u16();
    out.externalAttributes = in.u32();
    out.localOffset = in.u32();
    out.name = in.bytes(nameLength);
    const QByteArray extra = in.bytes(extraLength);
    out.comment = in.bytes(commentLength);
    if (in.overrun())
        return false;
    const bool wantUncompressed = out.uncompressedSize == zip::Max32;
    const bool wantCompressed = out.compressedSize == zip::Max32;
    const bool wantOffset = out.localOffset == zip::Max32;
    const bool wantDisk = out.diskNumber == zip::Max16;
    if (wantUncompressed || wantCompressed || wantOffset || wantDisk) {
        if (auto block = ExtraFields::find(extra, zip::ExtraZip64)) {
            Zip64Values values;
            if (!Zip64Values::decode(*block, wantUncompressed, wantCompressed, wantOffset, wantDisk, values))
                return false;
            out.uncompressedSize = values.uncompressedSize.value_or(out.uncompressedSize);
            out.compressedSize = values.compressedSize.value_or(out.compressedSize);
            out.localOffset = values.localOffset.value_or(out.localOffset);
            out.diskNumber = values.diskNumber.value_or(out.diskNumber);
        }
    }
    out.extra = ExtraFields::without(extra, zip::ExtraZip64);
    return true;
}

}  // namespace vz
