#include "archive/SafeEntryPath.h"

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
        components << part;
    }
    if (components.isEmpty())
        return std::nullopt;
    return components;
}

}  // namespace vz
