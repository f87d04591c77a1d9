#include "archive/SafeEntryPath.h"

#include "platform/FileSystem.h"

#include <algorithm>

namespace vz {

std::optional<QStringList> SafeEntryPath::Components(const QString& entryName)
{
    QString name = entryName;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return std::nullopt;
    if (name.size() >= 2 && name.at(1) == QLatin1Char(':') && name.at(0).isLetter())
        return std::nullopt;
    if (name.contains(QChar(0)))
        return std::nullopt;
    QStringList components;
    for (const QString& part : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String(".."))
            return std::nullopt;
        // Checked before anything is made: such a name could never be
        // created, and folders made on the way to it would stay behind.
        if (part.size() > MaxComponentBytes || hostfs::encodeName(part).size() > MaxComponentBytes)
            return std::nullopt;
        components << part;
    }
    if (components.isEmpty())
        return std::nullopt;
    return components;
}

bool SafeEntryPath::FitsBelow(const QString& hostFolder, const QStringList& components, qsizetype lastComponentBytes)
{
    qsizetype bytes = hostfs::encodeName(hostFolder).size();
    for (qsizetype i = 0; i < components.size(); ++i) {
        qsizetype component = hostfs::encodeName(components.at(i)).size();
        if (i == components.size() - 1)
            component = std::max(component, lastComponentBytes);
        bytes += 1 + component;
        if (bytes > MaxPathBytes)
            return false;
    }
    return true;
}

}  // namespace vz
