#pragma once
// The end of the central directory: the 22-byte end record with the archive
// comment, and, when a value overflows it, the 56-byte Zip64 end record and
// the 20-byte locator written before it.

#include <QByteArray>
#include <QtGlobal>

namespace vz {

struct Zip64Locator {
    quint32 endDisk = 0;      // volume holding the Zip64 end record
    quint64 endOffset = 0;    // its offset within that volume
    quint32 totalDisks = 1;

    static bool decode(const char* data, Zip64Locator& out);  // 20 bytes
};

struct EndRecord {
    quint32 thisDisk = 0;
    quint32 directoryDisk = 0;        // volume where the central directory starts
    quint64 entriesOnThisDisk = 0;    // central records on the volume where it ends
    quint64 totalEntries = 0;
    quint64 directorySize = 0;
    quint64 directoryOffset = 0;      // within directoryDisk
    QByteArray comment;

    bool needsZip64() const;
    // True when a field of a decoded 22-byte record holds its all-ones value.
    bool hasAllOnesField() const;
    // The Zip64 end record and locator (when needed) and the end record, for a
    // block written whole at `offset` of volume thisDisk.
    QByteArray encode(quint64 offset) const;
    qint64 encodedSize() const;

    // Decodes a 22-byte record; the comment is cut to `available` bytes after it.
    static bool decode(const char* data, qint64 available, EndRecord& out);
    // Replaces the fields with those of a 56-byte (or longer) Zip64 end record.
    bool applyZip64(const char* data, qint64 size);
};

}  // namespace vz
