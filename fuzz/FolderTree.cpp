#include "fuzz/FolderTree.h"

#include "fuzz/FuzzCheck.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vz::fuzz {

namespace {

void readWhole(int folderFd, const char* name, FolderNode& node)
{
    const int fd = ::openat(folderFd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) {
        node.readable = false;
        return;
    }
    FUZZ_CHECK(fd >= 0, "a file just listed cannot be opened");
    QByteArray& bytes = node.content;
    char block[65536];
    ssize_t n;
    while ((n = ::read(fd, block, sizeof block)) > 0)
        bytes.append(block, n);
    ::close(fd);
    FUZZ_CHECK(n == 0, "a file just listed cannot be read");
}

void readFolder(int folderFd, const QByteArray& relative, std::map<QByteArray, FolderNode>& out)
{
    DIR* folder = ::fdopendir(folderFd);
    FUZZ_CHECK(folder != nullptr, "a folder cannot be listed");
    while (const dirent* entry = ::readdir(folder)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = relative.isEmpty() ? name : QByteArray(relative).append('/').append(name);
        struct stat st {};
        FUZZ_CHECK(::fstatat(::dirfd(folder), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0,
                   "an entry just listed cannot be looked at");
        FolderNode node;
        if (S_ISLNK(st.st_mode)) {
            node.kind = FolderNode::Link;
        } else if (S_ISREG(st.st_mode)) {
            node.kind = FolderNode::File;
            readWhole(::dirfd(folder), name.constData(), node);
        } else if (S_ISDIR(st.st_mode)) {
            node.kind = FolderNode::Folder;
            const int child = ::openat(::dirfd(folder), name.constData(),
                                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0 && errno == EACCES)
                node.readable = false;
            else {
                FUZZ_CHECK(child >= 0, "a folder just listed cannot be opened");
                readFolder(child, path, out);
            }
        }
        out[path] = node;
    }
    ::closedir(folder);
}

}  // namespace

std::map<QByteArray, FolderNode> FolderTree::Read(const QByteArray& hostFolder)
{
    std::map<QByteArray, FolderNode> out;
    const int fd = ::open(hostFolder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    FUZZ_CHECK(fd >= 0, "the folder to read cannot be opened");
    readFolder(fd, QByteArray(), out);
    return out;
}

}  // namespace vz::fuzz
