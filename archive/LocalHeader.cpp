#include "archive/LocalHeader.h"

#include "archive/ExtraFields.h"
#include "archive/LittleEndian.h"
#include "archive/ZipFormat.h"

#include <algorithm>

namespace vz {

QByteArray LocalHeader::encode(bool forceZip64) const
{
    const bool zip64 = forceZip64 || compressedSize >= zip::Max32 || uncompressedSize >= zip::Max32;
    QByteArray extraOut = ExtraFields::without(extra, zip::ExtraZip64);
    if (zip64) {
        Zip64Values values;
        values.uncompressedSize = uncompressedSize;
        values.compressedSize = compressedSize;
        extraOut.prepend(values.encode());
    }
    QByteArray out;
    out.reserve(zip::LocalFixedSize + name.size() + extraOut.size());
    LittleEndianWriter w(out);
    w.u32(zip::LocalSignature);
    w.u16(zip64 ? std::max<quint32>(versionNeeded, zip::VersionZip64) : versionNeeded);
    w.u16(flags);
    w.u16(method);
    w.u32(dosTime);
    w.u32(crc32);
    w.u32(zip64 ? zip::Max32 : compressedSize);
    w.u32(zip64 ? zip::Max32 : uncompressedSize);
    w.u16(static_cast<quint32>(name.size()));
    w.u16(static_cast<quint32>(extraOut.size()));
    w.bytes(name);
    w.bytes(extraOut);
    return out;
}

qint64 LocalHeader::encodedSize(bool forceZip64) const
{
    return encode(forceZip64).size();
}

qint64 LocalHeader::variableLength(const char* fixed)
{
    LittleEndianReader in(fixed, zip::LocalFixedSize);
    if (in.u32() != zip::LocalSignature)
        return -1;
    in.skip(22);
    const qint64 nameLength = in.u16();
    return nameLength + in.u16();
}

bool LocalHeader::decode(const QByteArray& whole, LocalHeader& out)
{
    LittleEndianReader in(whole);
    if (in.u32() != zip::LocalSignature)
        return false;
    out.versionNeeded = in.u16();
    out.flags = in.u16();
    out.method = in.u16();
    out.dosTime = in.u32();
    out.crc32 = in.u32();
    out.compressedSize = in.u32();
    out.uncompressedSize = in.u32();
    const qint64 nameLength = in.u16();
    const qint64 extraLength = in.u16();
    out.name = in.bytes(nameLength);
    const QByteArray extra = in.bytes(extraLength);
    if (in.overrun())
        return false;
    if (auto block = ExtraFields::find(extra, zip::ExtraZip64)) {
        Zip64Values values;
        // A local Zip64 block holds both sizes, but tolerate one that lacks them.
        if (Zip64Values::decode(*block, out.uncompressedSize == zip::Max32, out.compressedSize == zip::Max32,
                                false, false, values)) {
            if (values.uncompressedSize)
                out.uncompressedSize = *values.uncompressedSize;
            if (values.compressedSize)
                out.compressedSize = *values.compressedSize;
        }
    }
    out.extra = ExtraFields::without(extra, zip::ExtraZip64);
    return true;
}

}  // namespace vz
