#pragma once
// Names of the volumes of a set, worked out from the name of its last volume
// (the archive name): "NAME.z01" ... "NAME.z99", "NAME.z100" ... for the
// volumes before the last, or the numbered form "NAM001.zip" where the last
// three characters before the extension carry the volume number. Works on
// host and Windows paths alike ("/" or "\" separators).

#include <QString>

namespace vz {

class VolumeNaming {
public:
    // Volume `index` (from 0) in the ".z" form: base + ".z" + index+1 with at least two digits.
    static QString SpanName(const QString& archivePath, int index);
    // Volume `index` in the numbered form.
    static QString NumberedName(const QString& archivePath, int index);
    // The path without the extension of its file name.
    static QString Base(const QString& archivePath);
    // The extension of the file name with its dot, or empty.
    static QString Extension(const QString& archivePath);
};

}  // namespace vz
