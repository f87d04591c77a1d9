#pragma once
// The attributes an entry records of its file and gives back to it.
//
// Entries are written as made on Unix: the high half of the external
// attributes holds the file's mode (regular file and permission bits), the
// low byte the FAT bits, so a program's run bit survives a restore while
// readers that know only FAT bits still find them.
//
// Extracting, an entry made on Unix with a plausible regular-file mode gives
// its file those permission bits, never set-uid, set-gid or sticky, and never
// a file its owner cannot read, nor one that only others may write; a
// read-only file (no write bit, or the FAT read-only bit) stays read-only.
// Any other entry (made on MS-DOS or Windows, a link's mode, no mode) gives
// its file the default mode, without write bits when the FAT bit says
// read-only.

#include <QtGlobal>
#include <optional>

namespace vz {

struct EntryPermissions {
    std::optional<quint32> permissionBits;  // set on the extracted file
    bool readOnly = false;                  // with the default mode: take away its write bits

    // The "version made by" field of an entry written by this program.
    static quint32 VersionMadeBy(quint32 version);
    // fatAttributes: FileAttribute bits as the platform reports them;
    // permissionBits: the file's mode bits.
    static quint32 ExternalAttributes(quint32 fatAttributes, quint32 permissionBits);
    static EntryPermissions ForExtraction(quint32 versionMadeBy, quint32 externalAttributes);
};

}  // namespace vz
