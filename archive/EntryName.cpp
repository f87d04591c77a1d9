#include "archive/EntryName.h"

#include "archive/ExtraFields.h"
#include "archive/LittleEndian.h"
#include "archive/ZipFormat.h"
#include "platform/FileSystem.h"

#include <zlib.h>

namespace vz {

namespace {

const char16_t kCp850High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x00C1, 0x00C2, 0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE, 0x00CF, 0x2518, 0x250C,
    0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580, 0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6,
    0x00A7, 0x00F7, 0x00B8, 0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

// Strict UTF-8, as host names are read.
bool decodeUtf8(const QByteArray& bytes, QString& out)
{
    out = hostfs::decodeName(bytes);
    return !hostfs::holdsRawBytes(out);
}

QString decodeCp850(const QByteArray& bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out.append(QChar(b < 0x80 ? static_cast<char16_t>(b) : kCp850High[b - 0x80]));
    }
    return out;
}

}  // namespace

QString EntryName::Decode(const QByteArray& raw, quint32 flags, const QByteArray& extra, quint32 versionMadeBy)
{
    QString text;
    // Info-ZIP's Unicode path field counts only while it belongs to this very name.
    if (auto unicode = ExtraFields::find(extra, zip::ExtraUnicodePath);
        unicode && unicode->size() > 5 && static_cast<unsigned char>(unicode->at(0)) == 1) {
        const quint32 crc = ReadU32(unicode->constData() + 1);
        const auto actual = static_cast<quint32>(
            ::crc32(0, reinterpret_cast<const Bytef*>(raw.constData()), static_cast<uInt>(raw.size())));
        if (crc == actual && decodeUtf8(unicode->mid(5), text))
            return text;
    }
    if (decodeUtf8(raw, text))
        return text;
    // Bytes that are not UTF-8 although the flag says so, or that a Unix
    // program took from its file names: the host's bytes, kept whole.
    if ((flags & zip::FlagUtf8) != 0 || (versionMadeBy >> 8) == zip::HostUnix)
        return hostfs::decodeName(raw);
    return decodeCp850(raw);
}

EntryName::Encoded EntryName::Encode(const QString& name)
{
    Encoded out;
    out.bytes = hostfs::encodeName(name);
    bool ascii = true;
    for (char c : out.bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            ascii = false;
    out.utf8 = !ascii && !hostfs::holdsRawBytes(name);
    return out;
}

}  // namespace vz
