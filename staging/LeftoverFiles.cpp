#include "staging/LeftoverFiles.h"

#include "platform/TemporaryFiles.h"

#include <QStringList>

namespace vz {

namespace {

bool isDotOrDotDot(const QString& name) { return name == QLatin1String(".") || name == QLatin1String(".."); }

QStringList realSubfolders(const QString& hostFolder)
{
    QStringList names;
    hostfs::listFolder(
        hostFolder,
        [&names](const DirEntry& entry) {
            // A link to a folder carries the system attribute: never followed.
            if (entry.isFolder && !isDotOrDotDot(entry.name) && !(entry.attributes & AttrSystem))
                names << entry.name;
            return true;
        },
        nullptr, hostfs::FolderAttributesOnly);
    return names;
}

// The installation folder a restore folder maps to gets swept, then its subfolders.
int sweepRestoreTargets(const FileSystem& fs, const QString& restoreHost, const QString& targetWindows)
{
    int removed = 0;
    if (const auto target = fs.toHost(targetWindows))
        removed += hostfs::removeTemporaryFiles(*target, false);
    for (const QString& name : realSubfolders(restoreHost))
        removed += sweepRestoreTargets(fs, restoreHost + QLatin1Char('/') + name,
                                       targetWindows + name + QLatin1Char('\\'));
    return removed;
}

}  // namespace

int RemoveLeftoverFiles(const FileSystem& fs, const RunSettings& settings)
{
    int removed = 0;
    try {
        if (const auto exeFolder = fs.toHost(settings.ExeFolder))
            removed += hostfs::removeTemporaryFiles(*exeFolder, false);
        removed += hostfs::removeTemporaryFiles(hostfs::tempFolder(), false);
        const auto restoreRoot = fs.toHost(settings.ExeFolder + QStringLiteral("Replicacao\\"));
        if (restoreRoot && hostfs::isFolder(*restoreRoot)) {
            removed += hostfs::removeTemporaryFiles(*restoreRoot, true);
            // First-level folders are drives: "C" is restored onto "C:\".
            for (const QString& drive : realSubfolders(*restoreRoot))
                removed += sweepRestoreTargets(fs, *restoreRoot + QLatin1Char('/') + drive,
                                               drive + QStringLiteral(":\\"));
        }
    } catch (...) {
    }
    return removed;
}

}  // namespace vz
