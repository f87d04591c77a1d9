#pragma once
// Profile (INI) files as Windows reads and writes them: case-insensitive
// section and key names, trimmed values with enclosing quotes removed, values
// up to 2047 characters, Windows-1252 bytes and CR LF line ends. A write
// replaces the key whatever its case, adds the key, section or file when
// missing, keeps every other line in its order, and replaces the file
// atomically (temporary file in the same folder, flushed, renamed over).
// A file that is there but cannot be read, or is read-only, is never replaced.

#include <QString>
#include <QStringList>

#include <optional>

namespace vz {

class ProfileFile {
public:
    enum class LoadStatus {
        Loaded,      // read whole; reads are answered from this text from now on
        Missing,     // nothing at the path (ENOENT; ENOTDIR: a file where one of its folders should be)
        Unreadable,  // there but could not be read; errorNumber() tells why; a write leaves it alone
    };

    explicit ProfileFile(QString hostPath);

    const QString& hostPath() const { return hostPath_; }
    // Reads the file once, so every later readString sees the same text even
    // when the file changes or becomes unreadable in between.
    LoadStatus load();
    // errno of the last load that found the file unreadable or the last write
    // that failed; 0 after one that did not.
    int errorNumber() const { return errorNumber_; }

    // The value, or empty text when the file, section or key is missing. Before
    // load() each call reads the file again.
    QString readString(const QString& section, const QString& key) const;
    // False when the file could not be written; the old file is then
    // unchanged. Only a missing file is created: an existing one that cannot
    // be read, or that is read-only (no write permission bit, the Windows
    // attribute, refused to root too), makes it fail before anything is written.
    bool writeString(const QString& section, const QString& key, const QString& value);

private:
    QString hostPath_;
    std::optional<QStringList> loadedLines_;
    int errorNumber_ = 0;
};

}  // namespace vz
