#include "platform/DriveMap.h"

#include "platform/FileSystem.h"

#include <QStringList>
#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


namespace vz {

namespace {

constexpr QChar Slash = QLatin1Char('/');

bool isSeparator(QChar c) { return c == QLatin1Char('\\') || c == Slash; }

bool isAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
}

bool lexists(const QByteArray& path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

QString joinHost(const QString& folder, const QString& name)
{
    return folder.endsWith(Slash) ? QString(folder + name) : QString(folder + Slash + name);
}

// Entry names of a folder in listing order, "." and ".." left out.
QStringList entryNames(const QString& hostFolder)
{
    QStringList names;
    DIR* dir = ::opendir(hostfs::encodeName(hostFolder).constData());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const char* n = entry->d_name;
        if ((n[0] == '.' && n[1] == 0) || (n[0] == '.' && n[1] == '.' && n[2] == 0))
            continue;
        names.append(hostfs::decodeName(QByteArray(n)));
    }
    ::closedir(dir);
    return names;
}

// The child named `name` without regard to case; `found` tells whether any
// entry matched.
QString resolveChildFound(const QString& hostFolder, const QString& name, bool& found)
{
    const QString exact = joinHost(hostFolder, name);
    found = true;
    if (lexists(hostfs::encodeName(exact)))
        return exact;
    DIR* dir = ::opendir(hostfs::encodeName(hostFolder).constData());
    if (dir != nullptr) {
        while (const dirent* entry = ::readdir(dir)) {
            const QString candidate = hostfs::decodeName(QByteArray(entry->d_name));
            if (candidate.compare(name, Qt::CaseInsensitive) == 0) {
                ::closedir(dir);
                return joinHost(hostFolder, candidate);
            }
        }
        ::closedir(dir);
    }
    found = false;
    return exact;
}

// Windows drops trailing dots and blanks from every path component.
QString windowsComponent(const QString& component)
{
    if (component == QLatin1String(".") || component == QLatin1String(".."))
        return component;
    qsizetype end = component.size();
    while (end > 0 && (component.at(end - 1) == QLatin1Char('.') || component.at(end - 1) == QLatin1Char(' ')))
        --end;
    return component.left(end);
}

// The components after the drive, with "." and ".." applied as Windows does
// (lexically, never above the drive's root).
QStringList normalizedComponents(const QString& rest)
{
    QStringList out;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= rest.size(); ++i) {
        if (i < rest.size() && !isSeparator(rest.at(i)))
            continue;
        const QString part = windowsComponent(rest.mid(start, i - start));
        start = i + 1;
        if (part.isEmpty() || part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!out.isEmpty())
                out.removeLast();
            continue;
        }
        out.append(part);
    }
    return out;
}

}  // namespace

class DriveMapBuilder {
public:
    static void addDrive(DriveMap& map, const QString& name, const QString& hostFolder)
    {
        map.drives_.push_back({name, hostFolder});
    }
    static void setPrefix(DriveMap& map, const QString& prefix) { map.prefix_ = prefix; }
    static std::vector<DriveMap::Drive>& drives(DriveMap& map) { return map.drives_; }
};

DriveMap DriveMap::fromPrefix(const QString& prefixHostPath)
{
    DriveMap map;
    const QString prefix = hostfs::canonicalPath(prefixHostPath);
    DriveMapBuilder::setPrefix(map, prefix);
    const QString devices = prefix + QStringLiteral("/dosdevices");

    // Letters first, in alphabetical order, so that ties between drives that
    // map the same folder go to the earlier letter.
    QStringList names = entryNames(devices);
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    for (const QString& name : names) {
        if (name.size() != 2 || name.at(1) != QLatin1Char(':') || !isAsciiLetter(name.at(0)))
            continue;  // "c::" entries are raw devices, not folders
        const QString letter = name.left(1).toUpper() + QLatin1Char(':');
        auto& drives = DriveMapBuilder::drives(map);
        if (std::any_of(drives.begin(), drives.end(), [&](const Drive& d) { return d.name == letter; }))
            continue;
        const QString target = hostfs::canonicalPath(devices + Slash + name);
        if (hostfs::isFolder(target))
            DriveMapBuilder::addDrive(map, letter, target);
    }

    const QString unc = devices + QStringLiteral("/unc");
    for (const QString& server : entryNames(unc)) {
        const QString serverFolder = unc + Slash + server;
        if (!hostfs::isFolder(serverFolder))
            continue;
        for (const QString& share : entryNames(serverFolder)) {
            const QString target = hostfs::canonicalPath(serverFolder + Slash + share);
            if (hostfs::isFolder(target))
                DriveMapBuilder::addDrive(map, QStringLiteral("\\\\") + server + QLatin1Char('\\') + share, target);
        }
    }
    return map;
}

DriveMap DriveMap::forExecutable(const QString& executableHostPath)
{
    QString folder = hostfs::canonicalPath(executableHostPath);
    while (true) {
        const qsizetype cut = folder.lastIndexOf(Slash);
        if (cut < 0)
            break;
        folder = cut == 0 ? QStringLiteral("/") : folder.left(cut);
        if (hostfs::isFolder(joinHost(folder, QStringLiteral("dosdevices"))))
            return fromPrefix(folder);
        if (folder == QLatin1String("/"))
            break;
    }
    return rootOnly();
}

DriveMap DriveMap::rootOnly()
{
    DriveMap map;
    DriveMapBuilder::addDrive(map, QStringLiteral("Z:"), QStringLiteral("/"));
    return map;
}

std::optional<QString> DriveMap::toHost(const QString& windowsPath) const
{
    const Drive* drive = nullptr;
    QString rest;
    if (windowsPath.size() >= 2 && windowsPath.at(1) == QLatin1Char(':')) {
        if (!isAsciiLetter(windowsPath.at(0)))
            return std::nullopt;
        const QString letter = windowsPath.left(1).toUpper() + QLatin1Char(':');
        for (const Drive& d : drives_) {
            if (d.name == letter) {
                drive = &d;
                break;
            }
        }
        rest = windowsPath.mid(2);
    } else if (windowsPath.size() >= 2 && isSeparator(windowsPath.at(0)) && isSeparator(windowsPath.at(1))) {
        qsizetype serverEnd = 2;
        while (serverEnd < windowsPath.size() && !isSeparator(windowsPath.at(serverEnd)))
            ++serverEnd;
        qsizetype shareEnd = serverEnd + 1;
        while (shareEnd < windowsPath.size() && !isSeparator(windowsPath.at(shareEnd)))
            ++shareEnd;
        const QString server = windowsPath.mid(2, serverEnd - 2);
        const QString share = windowsPath.mid(serverEnd + 1, shareEnd - serverEnd - 1);
        if (server.isEmpty() || share.isEmpty())
            return std::nullopt;
        const QString name = QStringLiteral("\\\\") + server + QLatin1Char('\\') + share;
        for (const Drive& d : drives_) {
            if (d.name.compare(name, Qt::CaseInsensitive) == 0) {
                drive = &d;
                break;
            }
        }
        rest = windowsPath.mid(shareEnd);
    }
    if (drive == nullptr)
        return std::nullopt;

    const QStringList components = normalizedComponents(rest);
    if (components.isEmpty())
        return drive->hostFolder;

    // The common case: the path exists with the case given.
    QString exact = drive->hostFolder;
    for (const QString& c : components)
        exact = joinHost(exact, c);
    if (lexists(hostfs::encodeName(exact)))
        return exact;

    QString current = drive->hostFolder;
    bool found = true;
    for (const QString& c : components) {
        if (found)
            current = resolveChildFound(current, c, found);
        else
            current = joinHost(current, c);  // below a missing folder nothing can match
    }
    return current;
}

std::optional<QString> DriveMap::toWindows(const QString& hostPath) const
{
    if (hostPath.isEmpty())
        return std::nullopt;
    const QString path = hostfs::canonicalPath(hostPath);
    const Drive* best = nullptr;
    for (const Drive& d : drives_) {
        const bool holds = d.hostFolder == QLatin1String("/") || path == d.hostFolder ||
                           path.startsWith(d.hostFolder + Slash);
        if (holds && (best == nullptr || d.hostFolder.size() > best->hostFolder.size()))
            best = &d;
    }
    if (best == nullptr)
        return std::nullopt;
    QString rest = path.mid(best->hostFolder.size());
    while (rest.startsWith(Slash))
        rest.remove(0, 1);
    rest.replace(Slash, QLatin1Char('\\'));
    const bool isShare = best->name.startsWith(QLatin1String("\\\\"));
    if (rest.isEmpty())
        return isShare ? best->name : best->name + QLatin1Char('\\');
    return best->name + QLatin1Char('\\') + rest;
}

bool DriveMap::isWinePrefix() const
{
    return !prefix_.isEmpty() && hostfs::isFile(joinHost(prefix_, QStringLiteral("system.reg")));
}

bool DriveMap::isDriveRoot(const QString& hostPath) const
{
    return std::any_of(drives_.begin(), drives_.end(), [&](const Drive& d) { return d.hostFolder == hostPath; });
}

QString DriveMap::resolveChild(const QString& hostFolder, const QString& name)
{
    bool found = false;
    return resolveChildFound(hostFolder, name, found);
}

}  // namespace vz
