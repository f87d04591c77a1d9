#pragma once
// What a folder holds, read without following any symbolic link: every
// path below it (relative, as the kernel's bytes) with its kind, and the
// content of regular files, so that a fuzz target can tell exactly what
// an operation wrote, and where.

#include <QByteArray>
#include <map>

namespace vz::fuzz {

struct FolderNode {
    enum Kind { File, Folder, Link, Other } kind = Other;
    QByteArray content;  // regular files only
    bool readable = true;  // false: a file or folder whose mode keeps this user out (not root)
};

class FolderTree {
public:
    // relative path ("a", "a/b.txt") -> node; the folder itself is not listed.
    static std::map<QByteArray, FolderNode> Read(const QByteArray& hostFolder);
};

}  // namespace vz::fuzz
