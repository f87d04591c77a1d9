#include "platform/FileUtilities.h"

namespace vz {

QString PadWithZeros(const QString& text, int width)
{
    // The length counted is that of the text without the blanks and control
    // characters at its ends; the text itself is kept as it is.
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text.at(start).unicode() <= 0x20)
        ++start;
    while (end > start && text.at(end - 1).unicode() <= 0x20)
        --end;
    const qsizetype count = width - (end - start);
    if (count <= 0)
        return text;
    return QString(count, QLatin1Char('0')) + text;
}

bool CopyFileKeepingDate(const FileSystem& fs, const QString& source, const QString& destination)
{
    try {
        if (source == destination)
            return false;
        const auto sourceHost = fs.toHost(source);
        const auto destinationHost = fs.toHost(destination);
        return sourceHost && destinationHost && CopyHostFileKeepingDate(*sourceHost, *destinationHost);
    } catch (...) {
        return false;
    }
}

bool CopyHostFileKeepingDate(const QString& sourceHostPath, const QString& destinationHostPath,
                             hostfs::CopyOptions::NewFile newFile)
{
    // The source is held without sharing for the whole copy; the target is
    // checked first (copying a file onto itself under another name is a
    // sharing violation) and replaced only by a complete copy.
    hostfs::CopyOptions options;
    options.sourceShare = ShareMode::None;
    options.fatTime = true;
    options.newFile = newFile;
    return hostfs::copyFile(sourceHostPath, destinationHostPath, options);
}

bool RemoveFolderToRecycleBin(const FileSystem& fs, const QString& path)
{
    try {
        if (!fs.folderExists(path))
            return true;
        const QString folder = path.endsWith(QLatin1Char('\\')) ? path.left(path.size() - 1) : path;
        const auto host = fs.toHost(folder);
        if (!host)
            return false;
        // A drive's root is never removed (the shell refuses it too).
        if (fs.driveMap().isDriveRoot(*host))
            return false;
        return hostfs::moveToTrash(*host);
    } catch (...) {
        return false;
    }
}

}  // namespace vz
