#pragma once
// The local header that precedes each entry's data: 30 fixed bytes, the name
// and the extra field. Sizes are held as 64-bit values; a Zip64 block carries
// them when they overflow (or when the writer asks for one in advance).

#include <QByteArray>
#include <QtGlobal>

namespace vz {

struct LocalHeader {
    quint32 versionNeeded = 20;
    quint32 flags = 0;
    quint32 method = 8;
    quint32 dosTime = 0;  // DOS date in the high 16 bits, time in the low 16
    quint32 crc32 = 0;
    quint64 compressedSize = 0;
    quint64 uncompressedSize = 0;
    QByteArray name;
    QByteArray extra;  // as stored, without the Zip64 block after decode

    // Encodes the header; with forceZip64 (or overflowing sizes) both sizes go
    // into a Zip64 block, so the header keeps its length when patched later.
    QByteArray encode(bool forceZip64 = false) const;
    qint64 encodedSize(bool forceZip64 = false) const;

    // Length of name + extra from the 30 fixed bytes; -1 when the signature is wrong.
    static qint64 variableLength(const char* fixed);
    // Decodes fixed part, name and extra (all of `whole`); false when malformed.
    static bool decode(const QByteArray& whole, LocalHeader& out);
};

}  // namespace vz
