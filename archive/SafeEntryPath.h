#pragma once
// Entry names are untrusted: this turns one into the path components of a
// file below the extraction folder, or refuses it when it is absolute, names
// a drive, climbs with "..", holds a character no file name can, or has a
// component longer than any file system takes. "\" counts as a separator as
// "/" does, as it would on Windows.

#include <QString>
#include <QStringList>
#include <optional>

namespace vz {

class SafeEntryPath {
public:
    // The longest name of one file or folder, and of a whole path, that the
    // host file system takes, in bytes (NAME_MAX; PATH_MAX less its NUL).
    static constexpr qsizetype MaxComponentBytes = 255;
    static constexpr qsizetype MaxPathBytes = 4095;

    // The components ("a", "b", "c.txt"), or nothing when the name is unsafe.
    static std::optional<QStringList> Components(const QString& entryName);
    // True when the path of `components` below the host folder fits the file
    // system's limit, with room for a last component of `lastComponentBytes`
    // (a temporary file's name that may be longer than the entry's own).
    static bool FitsBelow(const QString& hostFolder, const QStringList& components, qsizetype lastComponentBytes = 0);
};

}  // namespace vz
