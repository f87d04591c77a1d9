#include "staging/CopyEngine.h"

#include "platform/Errors.h"
#include "platform/FileUtilities.h"
#include "platform/TemporaryFiles.h"
#include "platform/WindowsPath.h"

#include <cerrno>
#include <functional>
#include <system_error>
#include <vector>

namespace vz {

namespace {

constexpr double BytesPerMB = 1024.0 * 1024.0;

bool isDotOrDotDot(const QString& name) { return name == QLatin1String(".") || name == QLatin1String(".."); }

// Subfolders that the walks enter: neither hidden nor system. A link to a
// folder carries the system attribute, so links never lead a walk in circles.
bool isEnterable(const DirEntry& entry)
{
    return entry.isFolder && (entry.attributes & (AttrHidden | AttrSystem)) == 0 && !isDotOrDotDot(entry.name);
}

// A folder that is not there lists nothing, as it does on Windows; any other
// listing error interrupts the walk.
bool isMissingFolderError(int errorNumber)
{
    return errorNumber == static_cast<int>(std::errc::no_such_file_or_directory) ||
           errorNumber == static_cast<int>(std::errc::not_a_directory);
}

struct Listing {
    bool complete = false;  // every entry was visited
    bool missing = false;   // the folder is not there: nothing was listed
};

// Lists a folder in the order the file system gives, calling visit for every
// entry but "." and "..", and pumping the window after every listed entry.
// An error raised by either stops the listing, which is then incomplete.
// Files are copied whatever their attributes and only folders are skipped
// for being hidden or system, so only folders' attributes are read.
Listing walkEntries(const QString& hostFolder, EventPump& pump, const std::function<void(const DirEntry&)>& visit)
{
    bool interrupted = false;
    bool stopped = false;
    bool listedAny = false;
    int error = 0;
    const bool listed = hostfs::listFolder(
        hostFolder,
        [&](const DirEntry& entry) {
            listedAny = true;
            try {
                if (!isDotOrDotDot(entry.name))
                    visit(entry);
                pump.ProcessPendingMessages();
                return true;
            } catch (const RunStopped&) {
                stopped = interrupted = true;
                return false;
            } catch (...) {
                interrupted = true;
                return false;
            }
        },
        &error, hostfs::FolderAttributesOnly);
    // The program is ending: no walk goes on, whatever guards it.
    if (stopped)
        throw RunStopped();
    Listing listing;
    listing.complete = listed && !interrupted;
    listing.missing = !listed && !interrupted && !listedAny && isMissingFolderError(error);
    return listing;
}

QString hostChild(const QString& hostFolder, const QString& name)
{
    if (hostFolder.endsWith(QLatin1Char('/')))
        return hostFolder + name;
    return hostFolder + QLatin1Char('/') + name;
}

}  // namespace

struct CopyEngine::CopyCall {
    Timestamp threshold;
    bool recursive;
    std::optional<QString> skipHost;  // the staging folder, never entered
};

CopyEngine::CopyEngine(const FileSystem& fs, RunFrame& frame, QString exeDrive)
    : fs_(fs), frame_(frame), exeDrive_(std::move(exeDrive)), progress_(frame)
{
}

QString CopyEngine::StagingRoot() const { return exeDrive_ + QStringLiteral("\\Replicacao\\"); }

QString CopyEngine::StagingPathFor(const QString& path) const
{
    const qsizetype colon = path.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return StagingRoot() + path;
    return StagingRoot() + path.left(colon) + path.mid(colon + 1);
}

std::optional<QString> CopyEngine::stagingRootHost() const { return fs_.toHost(StagingRoot()); }

void CopyEngine::SetProtectedFolders(const QStringList& hostFolders)
{
    protectedFolders_.clear();
    for (const QString& folder : hostFolders)
        protectedFolders_ << hostfs::canonicalPath(folder);
}

bool CopyEngine::isProtected(const std::optional<QString>& hostFolder) const
{
    // Compared as the file system resolves them: a drive's link or a
    // differently written path leads to the same folder.
    return hostFolder && !protectedFolders_.isEmpty() &&
           protectedFolders_.contains(hostfs::canonicalPath(*hostFolder));
}

Timestamp CopyEngine::FatModifiedTime(qint64 unixMs) { return RoundToFat(TimestampFromUnixMs(unixMs)); }

Timestamp CopyEngine::FileModifiedTime(const QString& path) const
{
    const auto host = fs_.toHost(path);
    if (!host)
        return EarliestTimestamp;
    const auto entry = hostfs::stat(*host);
    if (!entry || entry->isFolder)
        return EarliestTimestamp;
    return FatModifiedTime(entry->modifiedUnixMs);
}

void CopyEngine::ListSubfolders(const QString& folder, QStringList& list) const
{
    const auto host = fs_.toHost(IncludeTrailingBackslash(folder));
    if (!host)
        return;
    hostfs::listFolder(
        *host,
        [&list](const DirEntry& entry) {
            if (entry.isFolder && (entry.attributes & (AttrHidden | AttrSystem)) == 0)
                list.append(entry.name);
            return true;
        },
        nullptr, hostfs::FolderAttributesOnly);
}

double CopyEngine::FolderSizeMB(const QString& folder, bool recursive)
{
    try {
        const auto skipHost = recursive ? stagingRootHost() : std::nullopt;
        return folderSize(fs_.toHost(IncludeTrailingBackslash(folder)), recursive, skipHost);
    } catch (const RunStopped&) {
        throw;
    } catch (...) {
        return 0.0;
    }
}

double CopyEngine::folderSize(const std::optional<QString>& host, bool recursive, const std::optional<QString>& skipHost)
{
    double totalMB = 0.0;
    if (!host)
        return totalMB;
    // The subfolders are collected by the same listing that measures: each
    // folder is listed once, and only this level's names are held.
    std::vector<QString> subfolders;
    const Listing listing = walkEntries(*host, frame_, [&](const DirEntry& entry) {
        totalMB += static_cast<double>(entry.sizeBytes) / BytesPerMB;
        if (recursive && isEnterable(entry))
            subfolders.push_back(entry.name);
    });
    if (!listing.complete)
        return totalMB;
    try {
        for (const QString& name : subfolders) {
            const QString child = hostChild(*host, name);
            if (skipHost && child == *skipHost)
                continue;
            totalMB += folderSize(child, true, skipHost);
        }
    } catch (const RunStopped&) {
        throw;
    } catch (...) {
    }
    return totalMB;
}

bool CopyEngine::CopyNewerTree(const QString& source, const QString& destination, Timestamp threshold,
                               bool recursive)
{
    const QString sourceFolder = IncludeTrailingBackslash(source);
    const QString destinationFolder = IncludeTrailingBackslash(destination);
    progress_.begin();
    try {
        const CopyCall call{threshold, recursive, recursive ? stagingRootHost() : std::nullopt};
        return copyFolder(call, fs_.toHost(sourceFolder), sourceFolder, destinationFolder,
                          DestinationFolder(fs_.toHost(destinationFolder)));
    } catch (const RunStopped&) {
        throw;
    } catch (...) {
        return false;
    }
}

bool CopyEngine::copyFolder(const CopyCall& call, const std::optional<QString>& sourceHost, const QString& source,
                            const QString& destination, DestinationFolder target)
{
    // The destination folder exists (or could not be made) by now; from here
    // on an error ends this folder's call, and only this one, with false.
    bool complete = false;
    try {
        complete = copyEntries(call, sourceHost, source, destination, target);
    } catch (const RunStopped&) {
        throw;
    } catch (...) {
    }
    if (!complete) {
        // Whatever lies below it was not seen: neither copied nor counted.
        failures_.push_back(CopyFailure{source, destination, EIO, std::nullopt});
    }
    return complete;
}

void CopyEngine::copyFile(const QString& fromHost, const std::optional<QString>& toHost, const QString& source,
                          const QString& destination, const DirEntry& entry, bool platformCopy)
{
    errno = 0;
    bool copied = false;
    if (toHost) {
        const auto newFile =
            newFilesInPlace_ ? hostfs::CopyOptions::NewFile::InPlace : hostfs::CopyOptions::NewFile::ThroughTemporary;
        const auto held = platformCopy && heldFileCopier_
                              ? heldFileCopier_->CopyHeld(source + entry.name, fromHost, *toHost)
                              : HeldFileCopier::Outcome::NotHeld;
        if (held != HeldFileCopier::Outcome::NotHeld) {
            copied = held == HeldFileCopier::Outcome::Copied;
        } else if (platformCopy) {
            hostfs::CopyOptions options;
            options.newFile = newFile;
            copied = hostfs::copyFile(fromHost, *toHost, options);
        } else {
            copied = CopyHostFileKeepingDate(fromHost, *toHost, newFile);
        }
    } else {
        errno = ENODEV;  // the destination lies on no drive
    }
    if (!copied) {
        failures_.push_back(CopyFailure{source + entry.name, destination + entry.name, errno,
                                        FatModifiedTime(entry.modifiedUnixMs)});
    }
}

bool CopyEngine::copyEntries(const CopyCall& call, const std::optional<QString>& sourceHost, const QString& source,
                             const QString& destination, DestinationFolder& target)
{
    // A path on no drive lists nothing, like a missing folder.
    if (!sourceHost)
        return true;
    // The database folder (also the real one, on import) is copied with the
    // platform's whole-file copy; everything else keeps its date through the
    // FAT form.
    const bool platformCopy = destination.contains(QLatin1String("Vireodb"));
    // Looked at once per folder: the files of a protected one are refused one by one.
    const bool protectedTarget = isProtected(target.hostPath());
    std::vector<QString> subfolders;
    const Listing listing = walkEntries(*sourceHost, frame_, [&](const DirEntry& entry) {
        // Every entry counts, copied or not; folders add 0.
        CopiedMB += static_cast<double>(entry.sizeBytes) / BytesPerMB;
        progress_.show(CopiedMB, TotalMB, destination, entry.name);
        // A folder's time is EarliestTimestamp: it is never newer, except
        // against a threshold below that, where copying it as a file could
        // only fail; it is not attempted. The program's own temporary files
        // (a copy in progress, or the leftover of one) are never copied.
        if (!entry.isFolder && FatModifiedTime(entry.modifiedUnixMs) > call.threshold &&
            !hostfs::isTemporaryName(entry.name)) {
            if (protectedTarget) {
                failures_.push_back(CopyFailure{source + entry.name, destination + entry.name, ProtectedTargetError,
                                                FatModifiedTime(entry.modifiedUnixMs)});
            } else {
                copyFile(hostChild(*sourceHost, entry.name), target.child(entry.name), source, destination, entry,
                         platformCopy);
            }
        }
        if (call.recursive && isEnterable(entry))
            subfolders.push_back(entry.name);
    });
    if (listing.missing)
        return true;
    if (!listing.complete)
        return false;

    for (const QString& name : subfolders) {
        const QString childHost = hostChild(*sourceHost, name);
        if (call.skipHost && childHost == *call.skipHost)
            continue;
        // An error inside a subfolder ends only that subfolder (it is recorded there).
        copyFolder(call, childHost, source + name + QLatin1Char('\\'), destination + name + QLatin1Char('\\'),
                   target.subfolder(name));
    }
    return true;
}

}  // namespace vz
