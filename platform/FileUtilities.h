#pragma once
// The three small file operations the program shares.

#include "platform/FileSystem.h"

#include <QString>

namespace vz {

// Fills text on the left with "0" up to width characters (7, 2 -> "07").
QString PadWithZeros(const QString& text, int width);

// Copies one file keeping its modification time (rounded through the 2-second
// FAT form) and attributes. Source read with no sharing. An existing
// destination is replaced only by a complete copy (never emptied first); a
// read-only or held one is not touched. False on any failure (errno set);
// never throws.
bool CopyFileKeepingDate(const FileSystem& fs, const QString& source, const QString& destination);
// The same on host paths, for the copy engine's inner loop.
bool CopyHostFileKeepingDate(const QString& sourceHostPath, const QString& destinationHostPath,
                             hostfs::CopyOptions::NewFile newFile = hostfs::CopyOptions::NewFile::ThroughTemporary);

// Moves a folder with everything in it to the trash (see hostfs::moveToTrash).
// True when there was nothing to remove. Never throws.
bool RemoveFolderToRecycleBin(const FileSystem& fs, const QString& path);

}  // namespace vz
