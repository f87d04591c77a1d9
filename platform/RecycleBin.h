#pragma once
// The recycle bin as the program uses it: its own folders (the staging
// mirror, the restore folder) go to the trash, and the trash keeps only the
// few newest of them. A station exports and imports every day; without the
// pruning each run would leave one more copy of its data behind until the
// disk is full. Only items the program put there itself are ever pruned:
// those whose recorded original path is the host path of one of its folders.

#include "platform/FileSystem.h"
#include "platform/Trash.h"

#include <QString>
#include <QStringList>

namespace vz {

class RecycleBin {
public:
    // ownFolders: the program's folders as Windows paths ("C:\Replicacao").
    // keep: how many of their trashed items stay, counted across all of them.
    RecycleBin(const FileSystem& fs, QStringList ownFolders, Trash trash = Trash::forCurrentUser(), int keep = 2);

    // Moves a folder with everything in it to the trash as
    // RemoveFolderToRecycleBin does (true when there is nothing; a drive root
    // is never removed; false on failure), then prunes. Never throws.
    bool RemoveFolder(const QString& windowsPath);

    // Deletes the own items beyond the `keep` newest (by DeletionDate, then
    // by the info file's time) from the home trash and the trashes of the
    // own folders' volumes. True when every one that had to go went; those
    // that did not are in PruneFailures(). Never throws.
    bool Prune();
    // The trashed entries (host paths) the last prune could not delete, or a
    // note that the trashes could not be read.
    const QStringList& PruneFailures() const { return pruneFailures_; }

    // The canonical host paths of the own folders whose drive is known.
    QStringList OwnHostPaths() const;

private:
    bool moveToTrash(const QString& windowsPath) const;
    bool isOwn(const QString& originalPath, const QStringList& ownHostPaths) const;

    const FileSystem& fs_;
    QStringList ownFolders_;
    Trash trash_;
    int keep_;
    QStringList pruneFailures_;
};

}  // namespace vz
