#pragma once
// The file system as the program sees it on Linux: listings with Windows
// attributes, file times, share modes, whole-file copies. Two levels:
//   - hostfs:: works on host paths (the copy engine and the archive use it in
//     their inner loops, after resolving a folder once);
//   - FileSystem works on Windows paths through a DriveMap.
//
// Attributes: read-only = no write permission bit. Hidden and system: a name
// beginning with "." is hidden; the extended attribute user.DOSATTRIB ("0x"
// + hex flags, Wine's and Samba's convention) is read when present and written
// when attributes are set. Files are opened under Windows share modes
// through HostFile (platform/HostFile.h).

#include "platform/DriveMap.h"
#include "platform/HostFile.h"
#include "platform/Timestamp.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>

namespace vz {

enum FileAttribute : quint32 {
    AttrReadOnly = 0x01,
    AttrHidden = 0x02,
    AttrSystem = 0x04,
    AttrDirectory = 0x10,
    AttrArchive = 0x20,
};

struct DirEntry {
    QString name;                // as listed; "." and ".." are listed too, as folders with no time
    qint64 sizeBytes = 0;        // 64-bit; 0 for folders
    bool isFolder = false;
    quint32 attributes = 0;      // FileAttribute bits (AttrDirectory for folders)
    qint64 modifiedUnixMs = 0;   // last-write time, ms since the Unix epoch
    quint32 permissionBits = 0;  // the mode's 07777 bits (a link's target's); 0 for "." and ".."
};

struct DiskSpace {
    qint64 totalBytes = 0;
    qint64 freeBytes = 0;  // available to this user
};

namespace hostfs {

// Host names are bytes; the program holds them as text without losing any.
// Valid UTF-8 decodes as usual; each byte of a sequence that is not valid
// UTF-8 (a Latin-1 name from a Samba share, say) decodes to the lone
// surrogate U+DC80 + (byte - 0x80) and encodes back to that very byte, so
// every name read from the host opens, copies and archives as it is.
QByteArray encodeName(const QString& hostPath);   // to the bytes the kernel sees
QString decodeName(const QByteArray& bytes);
QString decodeName(const char* bytes, qsizetype length);
// True when a decoded name holds bytes that are not valid UTF-8.
bool holdsRawBytes(const QString& name);
QString errorText(int errorNumber);               // strerror text

std::optional<DirEntry> stat(const QString& hostPath);  // follows links
bool exists(const QString& hostPath);
bool isFile(const QString& hostPath);
bool isFolder(const QString& hostPath);

// What a listing reads besides the names, kinds, sizes and times.
struct ListOptions {
    // Read user.DOSATTRIB (hidden, system, archive) of files as well as of
    // folders. Without it a file's attributes hold only what its name and
    // mode say (the dot rule, read-only, archive): enough for walks that
    // copy files whatever their attributes and only skip hidden or system
    // folders, and one extended-attribute lookup per file cheaper.
    bool fileDosAttributes = true;
};
inline constexpr ListOptions FolderAttributesOnly{false};

// Calls visit for every entry of the folder in the order the file system
// returns them, "." and ".." included; stops when visit returns false.
// Symbolic links are reported as what they point to, except that a link to a
// folder carries the system attribute, so tree walks do not enter it. Returns
// false (errno in *errorNumber) when the folder cannot be opened or read.
// An exception from visit leaves the listing (the folder is closed) and
// goes on to the caller.
bool listFolder(const QString& hostFolder, const std::function<bool(const DirEntry&)>& visit,
                int* errorNumber = nullptr, ListOptions options = {});

// What is at a path itself, a final symbolic link not followed.
enum class PathKind { Missing, File, Folder, Link };
PathKind pathKind(const QString& hostPath);

quint32 attributes(const QString& hostPath);  // 0 when missing
bool setAttributes(const QString& hostPath, quint32 attributes);
bool setModifiedTime(const QString& hostPath, qint64 unixMs);
bool createFolders(const QString& hostPath);  // with every missing parent
// The same, giving each folder it creates the permission bits `mode` (less the umask).
bool createFolders(const QString& hostPath, uint mode);
// The absolute, canonical form of a host path that need not exist: its
// longest existing ancestor is resolved (links, "..") and the rest appended.
QString canonicalPath(const QString& hostPath);
QString currentFolder();
bool removeFile(const QString& hostPath);     // false for a read-only file, as on Windows
bool removeTree(const QString& hostPath);     // permanent, recursive; true when nothing is left
// Fails when the target exists, as on Windows (nothing is replaced), and
// across volumes (EXDEV).
bool rename(const QString& fromHostPath, const QString& toHostPath);
// The platform's whole-file copy: replaces an existing target (not a
// read-only one, not one another program holds), keeps the source's
// modification time and attributes, and reads the source under DenyWrite,
// so a file another program holds exclusively is not copied. The target is
// never written in place: a failed copy leaves the old file as it was and
// nothing of the new one. False with errno set on failure.
bool copyFile(const QString& fromHostPath, const QString& toHostPath);

// How a whole-file copy treats the source, the target and the time.
struct CopyOptions {
    ShareMode sourceShare = ShareMode::DenyWrite;
    // The target's modification time is the source's rounded through the
    // 2-second FAT form (instead of kept to the nanosecond).
    bool fatTime = false;
    // A target that does not exist yet: through a temporary file (it appears
    // complete or not at all), or written under its own name and removed on
    // failure, which saves a rename per file where a crash cannot harm (the
    // staging mirror, which the next export starts afresh).
    enum class NewFile { ThroughTemporary, InPlace };
    NewFile newFile = NewFile::ThroughTemporary;
    // The new file reaches the disk (fsync) before it replaces the old one.
    bool durable = false;
};
// The one copy both whole-file copies share. The checks come before any
// byte is written: the target must not be a folder, read-only, held by
// another program (its lock test) or the source under another name. The
// copy receives exactly the source's size in bytes (false when the source
// yields fewer), the source's permission bits and user.DOSATTRIB, and the
// modification time per options.
bool copyFile(const QString& fromHostPath, const QString& toHostPath, const CopyOptions& options);
// Moves a folder or file to the FreeDesktop trash of its volume; deletes it
// permanently when it cannot go there or is larger than a tenth of its volume.
// False when nothing is there.
bool moveToTrash(const QString& hostPath);
DiskSpace diskSpace(const QString& hostPath);
QString tempFolder();         // the system's temporary folder
QString executablePath();     // this process's executable

}  // namespace hostfs

// Windows-path operations through a drive map. A path whose drive is not in
// the map resolves to nothing: listing it finds nothing, opening fails, a
// folder cannot be created there.
class FileSystem {
public:
    explicit FileSystem(DriveMap driveMap) : map_(std::move(driveMap)) {}

    const DriveMap& driveMap() const { return map_; }
    std::optional<QString> toHost(const QString& windowsPath) const { return map_.toHost(windowsPath); }

    bool fileExists(const QString& windowsPath) const;    // a folder is not a file
    bool folderExists(const QString& windowsPath) const;
    bool createFolders(const QString& windowsPath) const;
    bool deleteFile(const QString& windowsPath) const;
    bool copyFile(const QString& fromWindowsPath, const QString& toWindowsPath) const;  // hostfs::copyFile
    // Creates or replaces the file with these bytes, never in place (see hostfs::copyFile).
    bool writeFile(const QString& windowsPath, const QByteArray& bytes) const;
    bool listFolder(const QString& windowsFolder, const std::function<bool(const DirEntry&)>& visit) const;

private:
    DriveMap map_;
};

}  // namespace vz
