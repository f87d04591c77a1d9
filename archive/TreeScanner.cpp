#include "archive/TreeScanner.h"

#include "platform/FileSystem.h"

#include <QRegularExpression>
#include <algorithm>

namespace vz {

namespace {

bool isWildcard(const QString& name)
{
    return name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'));
}

// The path of `path` below `root`, "" when it is the root, null when outside.
QString relativeTo(const QString& path, const QString& root)
{
    if (root.isEmpty() || root == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/')) ? path.mid(1) : QString();
    if (path == root)
        return QStringLiteral("");
    if (path.startsWith(root + QLatin1Char('/')))
        return path.mid(root.size() + 1);
    return QString();
}

}  // namespace

QString TreeScanner::entryName(const QString& relativePath) const
{
    if (options_.dirNames)
        return relativePath;
    return relativePath.mid(relativePath.lastIndexOf(QLatin1Char('/')) + 1);
}

void TreeScanner::scan(const QString& specHostPath, const QString& rootHostFolder, std::vector<FileItem>& out) const
{
    QString spec = specHostPath;
    while (spec.size() > 1 && spec.endsWith(QLatin1Char('/')))
        spec.chop(1);
    const qsizetype slash = spec.lastIndexOf(QLatin1Char('/'));
    const QString last = spec.mid(slash + 1);
    QString folder = spec;
    QString pattern;
    if (isWildcard(last)) {
        folder = slash <= 0 ? QStringLiteral("/") : spec.left(slash);
        pattern = last;
    } else if (!hostfs::isFolder(spec)) {
        auto info = hostfs::stat(spec);
        if (!info || info->isFolder)
            return;
        const QString relative = relativeTo(spec, rootHostFolder);
        const quint32 attributes = hostfs::attributes(spec);
        if (relative.isEmpty() || (!options_.hidden && (attributes & (AttrHidden | AttrSystem))))
            return;
        out.push_back({spec, entryName(relative), info->sizeBytes, info->modifiedUnixMs, attributes,
                       info->permissionBits});
        return;
    }
    const QString relative = relativeTo(folder, rootHostFolder);
    if (relative.isNull())
        return;
    walk(folder, relative, pattern, out);
}

void TreeScanner::walk(const QString& folder, const QString& relative, const QString& pattern,
                       std::vector<FileItem>& out) const
{
    // Wildcards match without regard to case, as file names do on Windows.
    const QRegularExpression match =
        pattern.isEmpty() ? QRegularExpression()
                          : QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern),
                                               QRegularExpression::CaseInsensitiveOption);
    std::vector<DirEntry> files;
    std::vector<DirEntry> folders;
    hostfs::listFolder(folder, [&](const DirEntry& e) {
        if (e.name == QLatin1String(".") || e.name == QLatin1String(".."))
            return true;
        if (!options_.hidden && (e.attributes & (AttrHidden | AttrSystem)))
            return true;
        if (e.isFolder) {
            // A link to a folder carries the system attribute: never entered.
            if (options_.recurse && !(e.attributes & AttrSystem))
                folders.push_back(e);
        } else if (pattern.isEmpty() || match.match(e.name).hasMatch()) {
            files.push_back(e);
        }
        return true;
    });
    auto byName = [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; };
    std::sort(files.begin(), files.end(), byName);
    std::sort(folders.begin(), folders.end(), byName);
    const QString prefix = relative.isEmpty() ? QString() : relative + QLatin1Char('/');
    const QString base = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    for (const DirEntry& f : files)
        out.push_back({base + f.name, entryName(prefix + f.name), f.sizeBytes, f.modifiedUnixMs,
                       f.attributes, f.permissionBits});
    for (const DirEntry& d : folders)
        walk(base + d.name, prefix + d.name, pattern, out);
}

}  // namespace vz
