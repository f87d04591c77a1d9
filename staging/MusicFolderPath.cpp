#include "staging/MusicFolderPath.h"

#include "platform/WindowsPath.h"

namespace vz {

namespace {

constexpr QChar Backslash = QLatin1Char('\\');

}  // namespace

std::optional<QString> MusicFolderPath::RewriteNetworkPath(const QString& path)
{
    if (!path.startsWith(QLatin1String("\\\\")))
        return path;
    const qsizetype serverEnd = path.indexOf(Backslash, 2);
    if (serverEnd < 0)
        return std::nullopt;
    const qsizetype shareStart = serverEnd + 1;
    qsizetype shareEnd = path.indexOf(Backslash, shareStart);
    if (shareEnd < 0)
        shareEnd = path.size();
    if (shareEnd == shareStart)
        return std::nullopt;
    const QString rest = shareEnd < path.size() ? path.mid(shareEnd) : QString(Backslash);
    return path.mid(shareStart, shareEnd - shareStart) + QLatin1Char(':') + rest;
}

std::optional<MusicFolderPath> MusicFolderPath::FromPasPath(const QString& value)
{
    if (value.trimmed().isEmpty())
        return std::nullopt;
    const QString source = IncludeTrailingBackslash(value);
    const auto stagingForm = RewriteNetworkPath(source);
    if (!stagingForm)
        return std::nullopt;
    return MusicFolderPath{source, *stagingForm};
}

}  // namespace vz
