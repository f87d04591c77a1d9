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
#include <functional>

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

private:
    QString homeTrash_;
    uint uid_;
    std::function<Timestamp()> now_;
    std::function<qint64(const QString&)> volumeSizeBytes_;
};

}  // namespace vz
