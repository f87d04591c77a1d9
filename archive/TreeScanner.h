#pragma once
// Finds the files an add takes: each include spec is a folder (everything in
// it), a file, or a folder with a wildcard file name ("*.txt"); with
// recursion subfolders are searched too. Hidden and system files and
// folders are left out unless asked for; links to folders are not entered.
// Entry names are relative to the include specification's root folder, with "/" separators.

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <vector>

namespace vz {

struct FileItem {
    QString hostPath;
    QString name;          // entry name
    qint64 sizeBytes = 0;
    qint64 modifiedUnixMs = 0;
    quint32 attributes = 0;      // FileAttribute bits
    quint32 permissionBits = 0;  // the file's mode bits
};

class TreeScanner {
public:
    struct Options {
        bool recurse = true;
        bool hidden = false;
        bool dirNames = true;
    };
    explicit TreeScanner(Options options) : options_(options) {}

    // Adds the files of one spec. Specs that match nothing add nothing.
    void scan(const QString& specHostPath, const QString& rootHostFolder, std::vector<FileItem>& out) const;

private:
    void walk(const QString& folder, const QString& relative, const QString& pattern,
              std::vector<FileItem>& out) const;
    QString entryName(const QString& relativePath) const;

    Options options_;
};

}  // namespace vz
