#pragma once
// A central-directory record: 46 fixed bytes, name, extra field and comment.
// Values that overflow their header fields travel in a Zip64 block, which
// encode() builds afresh from the 64-bit values.

#include <QByteArray>
#include <QtGlobal>

namespace vz {

struct CentralRecord {
    quint32 versionMadeBy = 20;
    quint32 versionNeeded = 20;
    quint32 flags = 0;
    quint32 method = 8;
    quint32 dosTime = 0;
    quint32 crc32 = 0;
    quint64 compressedSize = 0;
    quint64 uncompressedSize = 0;
    quint32 diskNumber = 0;    // volume holding the local header, from 0
    quint64 localOffset = 0;   // offset of the local header within that volume
    quint32 internalAttributes = 0;
    quint32 externalAttributes = 0;
    QByteArray name;
    QByteArray extra;    // without the Zip64 block
    QByteArray comment;

    bool needsZip64() const;
    QByteArray encode() const;
    qint64 encodedSize() const;

    // Length of name + extra + comment from the 46 fixed bytes; -1 when the
    // signature is wrong.
    static qint64 variableLength(const char* fixed);
    // Decodes a whole record and resolves its Zip64 values; false when malformed.
    static bool decode(const QByteArray& whole, CentralRecord& out);
};

}  // namespace vz
