#include "archive/EntryPermissions.h"

#include "archive/ZipFormat.h"
#include "platform/FileSystem.h"

namespace vz {

namespace {

constexpr quint32 kFatBits = AttrReadOnly | AttrHidden | AttrSystem | AttrArchive;
constexpr quint32 kPermissionBits = 0777;  // set-uid, set-gid and sticky never travel
constexpr quint32 kWriteBits = 0222;
constexpr quint32 kOwnerRead = 0400;
constexpr quint32 kOwnerWrite = 0200;

}  // namespace

quint32 EntryPermissions::VersionMadeBy(quint32 version)
{
    return (zip::HostUnix << 8) | (version & 0xFF);
}

quint32 EntryPermissions::ExternalAttributes(quint32 fatAttributes, quint32 permissionBits)
{
    return ((zip::UnixRegularFile | (permissionBits & kPermissionBits)) << 16) | (fatAttributes & kFatBits);
}

EntryPermissions EntryPermissions::ForExtraction(quint32 versionMadeBy, quint32 externalAttributes)
{
    EntryPermissions out;
    const bool fatReadOnly = (externalAttributes & AttrReadOnly) != 0;
    const quint32 mode = externalAttributes >> 16;
    const quint32 type = mode & zip::UnixTypeMask;
    // Some writers (Python's zipfile among them) leave the file type out of the mode.
    const bool regularFile = type == zip::UnixRegularFile || (type == 0 && (mode & kPermissionBits) != 0);
    if ((versionMadeBy >> 8) != zip::HostUnix || !regularFile) {
        out.readOnly = fatReadOnly;
        return out;
    }
    quint32 bits = (mode & kPermissionBits) | kOwnerRead;
    if (fatReadOnly || (bits & kWriteBits) == 0)
        bits &= ~kWriteBits;
    else
        bits |= kOwnerWrite;
    out.permissionBits = bits;
    return out;
}

}  // namespace vz
