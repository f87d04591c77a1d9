#pragma once
// Temporary folders for tests: a plain one, and a Wine-style prefix with
// dosdevices/ links ("c:" -> ../drive_c, ...), removed at the end of the test.
// Removal goes by the kernel's bytes, so names that are not UTF-8 (which Qt's
// QTemporaryDir cannot delete under a UTF-8 locale) and read-only folders go too.

#include "platform/DriveMap.h"

#include <QByteArray>
#include <QDir>  // the tests that include this one use QDir, QFile and QFileInfo
#include <QString>

namespace vz::test {

class TempDir {
public:
    // A new folder (mode 0700) named vz-test-XXXXXX in $TMPDIR, else /tmp.
    TempDir();
    // Removes the tree; a test fails when anything of it is left.
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const QString& path() const { return path_; }        // host path, canonical, no trailing "/"
    QString file(const QString& relative) const { return path_ + QLatin1Char('/') + relative; }

private:
    QString path_;
};

class TempPrefix {
public:
    // Creates the prefix with the given drive letters (lower case "c", "d", ...).
    explicit TempPrefix(const QString& letters = QStringLiteral("c"));
    const QString& path() const { return dir_.path(); }
    // Host folder of a drive ("c" -> <prefix>/drive_c).
    QString drive(const QString& letter) const;
    // Adds dosdevices/unc/SERVER/SHARE as a real folder and returns it.
    QString addShare(const QString& server, const QString& share);
    DriveMap driveMap() const { return DriveMap::fromPrefix(path()); }

private:
    TempDir dir_;
};

// Writes a file (creating its folders) and returns its host path.
QString writeFile(const QString& hostPath, const QByteArray& bytes);
QByteArray readFile(const QString& hostPath);
// Sets a file's modification time (ms since the Unix epoch).
void setMTime(const QString& hostPath, qint64 unixMs);

}  // namespace vz::test
