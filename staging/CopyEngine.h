#pragma once
// The staging copy engine: measures folder trees in megabytes and copies the
// files of a tree whose modification time lies after a threshold, with
// progress on the window, yielding to the window after every entry. Export
// stages its sources with it (threshold: the category's last export); import
// restores with it (threshold EarliestTimestamp: every file).
//
// Staging one folder is always, in this order:
//     engine.TotalMB = engine.FolderSizeMB(source, recursive);
//     engine.CopiedMB = 0;
//     engine.CopyNewerTree(source, destination, threshold, recursive);
//
// Paths are Windows paths. Each call resolves its folder to a host path once
// and then works on host paths; the texts shown stay the Windows paths.
// Sizes are 64-bit: files of 2 GiB and more count with their real size.
// Times compare in the 2-second FAT form; a last-write time outside the FAT
// years 1980..2107 counts as the nearest end of that range.
// The walks never enter the staging folder itself, so staging a tree that
// holds it (a drive's root) cannot copy the mirror into itself.
//
// A file is never overwritten in place: an existing target is replaced only
// by a complete copy (platform/FileReplacement.h). Every file that cannot be
// copied, and every subfolder whose walk was interrupted, is recorded in
// Failures() with the platform's reason, so the runs can count, name and
// carry it; the walk itself goes on as before. The program's own temporary
// files (platform/TemporaryFiles.h) are never copied.

#include "platform/CopyFailure.h"
#include "platform/FileSystem.h"
#include "platform/RunFrame.h"
#include "platform/Timestamp.h"
#include "staging/CopyProgress.h"
#include "staging/DestinationFolder.h"
#include "staging/HeldFileCopier.h"

#include <QString>
#include <QStringList>
#include <cerrno>
#include <optional>
#include <vector>

namespace vz {


class CopyEngine {
public:
    // exeDrive: "C:" (or "\\server\share") of the executable, without "\".
    CopyEngine(const FileSystem& fs, RunFrame& frame, QString exeDrive);

    // New files are written under their own name (and removed when their
    // copy fails) instead of through a temporary file: for the staging
    // mirror, which a crashed export leaves to be started afresh, where it
    // saves a rename per file. Off by default (the restore needs it off).
    void SetNewFilesInPlace(bool on) { newFilesInPlace_ = on; }

    // Folders that no file is ever written into directly: the program's own
    // folder, which holds its executable, its helper programs and its
    // settings file, so that a restored archive cannot replace the program.
    // A file the copy would write there is recorded in Failures() with
    // ProtectedTargetError and not touched. Host paths; links are resolved.
    void SetProtectedFolders(const QStringList& hostFolders);
    static constexpr int ProtectedTargetError = ECANCELED;

    // Files of the database folder go to it first (export/HeldDatabaseCopy):
    // a database a server holds is copied through the server's backup lock.
    // Not owned; none by default (the restore copies every file itself).
    void SetHeldFileCopier(HeldFileCopier* copier) { heldFileCopier_ = copier; }

    // What could not be copied since the engine was made or last cleared,
    // in the order it happened.
    const std::vector<CopyFailure>& Failures() const { return failures_; }
    void ClearFailures() { failures_.clear(); }

    // Size of the tree being copied, in megabytes (bytes / 1024 / 1024); the
    // caller sets it before each copy.
    double TotalMB = 0.0;
    // Megabytes of every entry visited so far by the copy; the caller sets it to 0.
    double CopiedMB = 0.0;

    // ExeDrive + "\Replicacao\".
    QString StagingRoot() const;
    // StagingRoot + path with its first ":" removed ("D:\Musicas\Rock\" ->
    // "C:\Replicacao\D\Musicas\Rock\"); nothing else of the path changes.
    QString StagingPathFor(const QString& path) const;

    // Copies every file of source whose FileModifiedTime is after threshold
    // (strictly) into destination, under the same name; with recursive, the
    // non-hidden, non-system subfolders too, one whole subtree after the
    // other. The destination folder is created when missing. Files that
    // cannot be copied are skipped without a word. False only when an error
    // interrupted the walk of source itself; an error inside a subfolder ends
    // only that subfolder. A missing source gives an empty destination and true.
    bool CopyNewerTree(const QString& source, const QString& destination, Timestamp threshold, bool recursive);

    // Megabytes of the entries of folder (and of its non-hidden, non-system
    // subfolders when recursive): exactly the entries CopyNewerTree visits.
    // Never fails: an error returns the total reached so far.
    double FolderSizeMB(const QString& folder, bool recursive);

    // Appends the names of the non-hidden, non-system subfolders of folder
    // (a path ending with "\"), in listing order; "." and ".." when listed.
    // The list is not cleared. A folder that does not exist appends nothing.
    void ListSubfolders(const QString& folder, QStringList& list) const;

    // The last-write time in local time through the 2-second FAT form;
    // EarliestTimestamp for a folder or a path that does not exist.
    Timestamp FileModifiedTime(const QString& path) const;
    // The same for a last-write time in ms since the Unix epoch.
    static Timestamp FatModifiedTime(qint64 unixMs);

    const FileSystem& fileSystem() const { return fs_; }
    RunFrame& frame() { return frame_; }

private:
    struct CopyCall;

    // source and destination folders as host paths; destination also as the
    // Windows path the texts show.
    bool copyFolder(const CopyCall& call, const std::optional<QString>& sourceHost, const QString& source,
                    const QString& destination, DestinationFolder target);
    bool copyEntries(const CopyCall& call, const std::optional<QString>& sourceHost, const QString& source,
                     const QString& destination, DestinationFolder& target);
    void copyFile(const QString& fromHost, const std::optional<QString>& toHost, const QString& source,
                  const QString& destination, const DirEntry& entry, bool platformCopy);
    double folderSize(const std::optional<QString>& host, bool recursive, const std::optional<QString>& skipHost);
    std::optional<QString> stagingRootHost() const;
    bool isProtected(const std::optional<QString>& hostFolder) const;

    const FileSystem& fs_;
    RunFrame& frame_;
    QString exeDrive_;
    CopyProgress progress_;
    bool newFilesInPlace_ = false;
    HeldFileCopier* heldFileCopier_ = nullptr;
    QStringList protectedFolders_;  // canonical host paths
    std::vector<CopyFailure> failures_;
};

}  // namespace vz
