#include "platform/WindowsPath.h"

namespace vz {

namespace {

constexpr QChar Backslash = QLatin1Char('\\');
constexpr QChar Colon = QLatin1Char(':');

// Index just after the drive part ("C:" or "\\srv\share"), 0 when there is none.
qsizetype driveLength(const QString& path)
{
    if (path.size() >= 2 && path.at(1) == Colon)
        return 2;
    if (!path.startsWith(QLatin1String("\\\\")))
        return 0;
    const qsizetype serverEnd = path.indexOf(Backslash, 2);
    if (serverEnd <= 2)
        return 0;  // "\\" or "\\\..." has no server name
    const qsizetype shareEnd = path.indexOf(Backslash, serverEnd + 1);
    const qsizetype end = shareEnd < 0 ? path.size() : shareEnd;
    return end > serverEnd + 1 ? end : 0;  // a share name is required
}

qsizetype lastDelimiter(const QString& path)
{
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        if (path.at(i) == Backslash || path.at(i) == Colon)
            return i;
    }
    return -1;
}

}  // namespace

QString IncludeTrailingBackslash(const QString& path)
{
    if (path.isEmpty() || path.endsWith(Backslash))
        return path;
    return path + Backslash;
}

QString ExcludeTrailingBackslash(const QString& path)
{
    return path.endsWith(Backslash) ? path.left(path.size() - 1) : path;
}

QString ExtractFilePath(const QString& path)
{
    return path.left(lastDelimiter(path) + 1);
}

QString ExtractFileName(const QString& path)
{
    return path.mid(lastDelimiter(path) + 1);
}

QString PathWithoutDrive(const QString& path)
{
    qsizetype start = driveLength(path);
    while (start < path.size() && path.at(start) == Backslash)
        ++start;
    QString rest = path.mid(start);
    rest.replace(Backslash, QLatin1Char('/'));
    return rest;
}

QString ExtractDrive(const QString& path)
{
    return path.left(driveLength(path));
}

}  // namespace vz
