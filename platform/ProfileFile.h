#pragma once
// Profile (INI) files as Windows reads and writes them: case-insensitive
// section and key names, trimmed values with enclosing quotes removed, values
// up to 2047 characters, Windows-1252 bytes and CR LF line ends. A write
// replaces the key whatever its case, adds the key, section or file when
// missing, keeps every other line in its order, and replaces the file
// atomically (temporary file in the same folder, flushed, renamed over).

#include <QString>

namespace vz {

class ProfileFile {
public:
    explicit ProfileFile(QString hostPath);

    const QString& hostPath() const { return hostPath_; }
    // The value, or empty text when the file, section or key is missing.
    QString readString(const QString& section, const QString& key) const;
    // False when the file could not be written; the old file is then unchanged.
    bool writeString(const QString& section, const QString& key, const QString& value);

private:
    QString hostPath_;
};

}  // namespace vz
