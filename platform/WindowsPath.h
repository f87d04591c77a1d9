#pragma once
// String rules on Windows paths ("C:\Vireo\Vireo Cast\", "\\srv\musica\Rock\").
// Pure text: nothing here touches the file system.

#include <QString>

namespace vz {

// Appends "\" when the path does not end with one (an empty path stays empty).
QString IncludeTrailingBackslash(const QString& path);
// Removes one trailing "\" when present.
QString ExcludeTrailingBackslash(const QString& path);
// Everything up to and including the last "\" or ":"; empty when there is neither.
QString ExtractFilePath(const QString& path);
// Everything after the last "\" or ":".
QString ExtractFileName(const QString& path);
// The path with "/" in place of "\" and no drive, e.g. "C:\a\b" -> "a/b";
// "\\srv\share\a" -> "a".
QString PathWithoutDrive(const QString& path);
// "C:" for "C:\...", "\\srv\share" for "\\srv\share\...", empty otherwise.
QString ExtractDrive(const QString& path);

}  // namespace vz
