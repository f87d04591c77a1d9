#pragma once
// Entry names are untrusted: this turns one into the path components of a
// file below the extraction folder, or refuses it when it is absolute, names
// a drive, climbs with "..", or holds a character no file name can.
// "\" counts as a separator as "/" does, as it would on Windows.

#include <QString>
#include <QStringList>
#include <optional>

namespace vz {

class SafeEntryPath {
public:
    // The components ("a", "b", "c.txt"), or nothing when the name is unsafe.
    static std::optional<QStringList> Components(const QString& entryName);
};

}  // namespace vz
