#include "archive/ExtraFields.h"

#include "archive/LittleEndian.h"
#include "archive/ZipFormat.h"

namespace vz {

std::optional<QByteArray> ExtraFields::find(const QByteArray& extra, quint16 tag)
{
    LittleEndianReader in(extra);
    while (in.remaining() >= 4) {
        const quint32 id = in.u16();
        const quint32 size = in.u16();
        QByteArray data = in.bytes(size);
        if (in.overrun())
            break;
        if (id == tag)
            return data;
    }
    return std::nullopt;
}

QByteArray ExtraFields::without(const QByteArray& extra, quint16 tag)
{
    QByteArray result;
    LittleEndianReader in(extra);
    while (in.remaining() >= 4) {
        const qint64 start = in.position();
        const quint32 id = in.u16();
        const quint32 size = in.u16();
        in.skip(size);
        if (in.overrun())
            break;
        if (id != tag)
            result.append(extra.mid(start, in.position() - start));
    }
    return result;
}

QByteArray ExtraFields::block(quint16 tag, const QByteArray& data)
{
    QByteArray out;
    LittleEndianWriter w(out);
    w.u16(tag);
    w.u16(static_cast<quint32>(data.size()));
    w.bytes(data);
    return out;
}

QByteArray Zip64Values::encode() const
{
    if (empty())
        return {};
    QByteArray data;
    LittleEndianWriter w(data);
    if (uncompressedSize)
        w.u64(*uncompressedSize);
    if (compressedSize)
        w.u64(*compressedSize);
    if (localOffset)
        w.u64(*localOffset);
    if (diskNumber)
        w.u32(*diskNumber);
    return ExtraFields::block(zip::ExtraZip64, data);
}

bool Zip64Values::decode(const QByteArray& data, bool wantUncompressed, bool wantCompressed, bool wantOffset,
                         bool wantDisk, Zip64Values& out)
{
    LittleEndianReader in(data);
    if (wantUncompressed)
        out.uncompressedSize = in.u64();
    if (wantCompressed)
        out.compressedSize = in.u64();
    if (wantOffset)
        out.localOffset = in.u64();
    if (wantDisk)
        out.diskNumber = in.u32();
    return !in.overrun();
}

}  // namespace vz
