#include "platform/RecycleBin.h"

#include <algorithm>
#include <tuple>

namespace vz {

namespace {

QString withoutTrailingBackslashes(QString path)
{
    while (path.endsWith(QLatin1Char('\\')))
        path.chop(1);
    return path;
}

QString parentOf(const QString& path)
{
    const qsizetype cut = path.lastIndexOf(QLatin1Char('/'));
    return cut <= 0 ? QStringLiteral("/") : path.left(cut);
}

QString nameOf(const QString& path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

}  // namespace

RecycleBin::RecycleBin(const FileSystem& fs, QStringList ownFolders, Trash trash, int keep)
    : fs_(fs), ownFolders_(std::move(ownFolders)), trash_(std::move(trash)), keep_(std::max(keep, 0))
{
}

bool RecycleBin::RemoveFolder(const QString& windowsPath)
{
    bool removed = false;
    try {
        removed = moveToTrash(windowsPath);
    } catch (...) {
        removed = false;
    }
    Prune();
    return removed;
}

bool RecycleBin::moveToTrash(const QString& windowsPath) const
{
    if (!fs_.folderExists(windowsPath))
        return true;
    const QString folder = windowsPath.endsWith(QLatin1Char('\\')) ? windowsPath.left(windowsPath.size() - 1)
                                                                   : windowsPath;
    const auto host = fs_.toHost(folder);
    if (!host)
        return false;
    // A drive's root is never removed (the shell refuses it too).
    if (fs_.driveMap().isDriveRoot(*host))
        return false;
    switch (trash_.remove(*host)) {
    case Trash::Outcome::Missing:
    case Trash::Outcome::Trashed:
    case Trash::Outcome::Deleted:
        return true;
    case Trash::Outcome::Failed:
        break;
    }
    return false;
}

QStringList RecycleBin::OwnHostPaths() const
{
    QStringList paths;
    for (const QString& folder : ownFolders_) {
        const auto host = fs_.toHost(withoutTrailingBackslashes(folder));
        if (!host || fs_.driveMap().isDriveRoot(*host))
            continue;
        const QString canonical = hostfs::canonicalPath(*host);
        if (!paths.contains(canonical))
            paths << canonical;
    }
    return paths;
}

// The folder was trashed under the name it had on disk, which the drive map
// finds without regard to case; once it is gone, the map gives the name as
// the program writes it. Both are the same Windows folder.
bool RecycleBin::isOwn(const QString& originalPath, const QStringList& ownHostPaths) const
{
    for (const QString& own : ownHostPaths) {
        if (originalPath == own)
            return true;
        if (parentOf(originalPath) == parentOf(own) &&
            nameOf(originalPath).compare(nameOf(own), Qt::CaseInsensitive) == 0 && !nameOf(own).isEmpty())
            return true;
    }
    return false;
}

bool RecycleBin::Prune()
{
    pruneFailures_.clear();
    try {
        const QStringList own = OwnHostPaths();
        if (own.isEmpty())
            return true;
        std::vector<Trash::Item> items = trash_.items(own);
        items.erase(std::remove_if(items.begin(), items.end(),
                                   [&](const Trash::Item& item) { return !isOwn(item.originalPath, own); }),
                    items.end());
        // Newest first; the names only make the order of exact ties fixed.
        std::sort(items.begin(), items.end(), [](const Trash::Item& a, const Trash::Item& b) {
            return std::tie(a.deletionSeconds, a.infoModifiedNs, a.trashFolder, a.name) >
                   std::tie(b.deletionSeconds, b.infoModifiedNs, b.trashFolder, b.name);
        });
        for (size_t i = size_t(keep_); i < items.size(); ++i) {
            if (!trash_.erase(items[i]))
                pruneFailures_ << items[i].trashFolder + QStringLiteral("/files/") + items[i].name;
        }
    } catch (...) {
        pruneFailures_ << QStringLiteral("(the trash could not be read)");
    }
    return pruneFailures_.isEmpty();
}

}  // namespace vz
