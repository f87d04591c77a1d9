#pragma once
// The FreeDesktop trash, standing in for the recycle bin. An item goes to the
// home trash ($XDG_DATA_HOME/Trash, else ~/.local/share/Trash) when it lies on
// the home trash's volume, else to $topdir/.Trash/$uid (when the administrator
// made a sticky $topdir/.Trash) or $topdir/.Trash-$uid of its own volume; the
// folders are created as needed. As Windows does with items too large for
// its bin, an item larger than a tenth of its volume, or one that no trash of
// its volume can take, is deleted permanently instead.

#include "platform/Timestamp.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace vz {

class Trash {
public:
    enum class Outcome {
        Missing,   // nothing at the path
        Trashed,   // moved into a trash folder
        Deleted,   // deleted permanently (too large, or no trash could take it)
        Failed,    // still there, wholly or partly
    };

    // homeTrashFolder: the home trash (holding files/ and info/); uid names
    // the .Trash-$uid folders. now: the local time written as DeletionDate.
    Trash(QString homeTrashFolder, uint uid, std::function<Timestamp()> now);
    // The current user's trash, as the environment names it.
    static Trash forCurrentUser();
    static QString homeTrashFolderFromEnvironment();

    // The size of the volume holding a path, for the size cap; statvfs by default.
    void setVolumeSizeBytes(std::function<qint64(const QString& hostPath)> volumeSizeBytes)
    {
        volumeSizeBytes_ = std::move(volumeSizeBytes);
    }

    // Moves the file or folder (a symbolic link itself, not its target) to
    // the trash of its volume, or deletes it as described above.
    Outcome remove(const QString& hostPath) const;

    // The trash folder (holding files/ and info/) that would take an item at
    // the canonical host path, created when missing; empty when none can.
    // topdir receives the volume's mount point when the trash is not the home one.
    QString trashFolderFor(const QString& canonicalHostPath, QString* topdir = nullptr) const;

    const QString& homeTrashFolder() const { return homeTrash_; }

    // One trashed item, as its info file tells it.
    struct Item {
        QString trashFolder;       // the trash holding it (files/ and info/)
        QString name;              // files/NAME and info/NAME.trashinfo
        QString originalPath;      // absolute host path it was removed from (Path=, decoded)
        qint64 deletionSeconds = 0;  // DeletionDate counted on the local calendar: for ordering only
        qint64 infoModifiedNs = 0;   // the info file's modification time, ns since the Unix epoch
    };

    // The trash folders that exist and may hold items removed from these
    // canonical host paths: the home trash, and the trashes of the paths'
    // volumes that remove() would use. Nothing is created to look.
    QStringList existingTrashFoldersFor(const QStringList& canonicalHostPaths) const;
    // The items of those trashes whose info file parses and whose files/
    // entry exists (in no particular order). Info files that do not parse
    // and entries without one are not items.
    std::vector<Item> items(const QStringList& canonicalHostPaths) const;
    // Deletes an item for good: its files/ entry (a whole tree, whatever its
    // permission bits; links removed, never followed), then its info file,
    // so an item that fails halfway is still listed. True when both are gone.
    bool erase(const Item& item) const;

private:
    struct Location {
        QString folder;  // holding files/ and info/
        QString topdir;  // the volume's mount point; empty for the home trash
    };
    std::vector<Location> existingLocationsFor(const QStringList& canonicalHostPaths) const;

    QString homeTrash_;
    uint uid_;
    std::function<Timestamp()> now_;
    std::function<qint64(const QString&)> volumeSizeBytes_;
};

}  // namespace vz
