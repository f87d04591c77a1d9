#include "platform/TemporaryFiles.h"

#include "platform/FileSystem.h"
#include "platform/HostFsDetail.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace vz {

namespace {

constexpr char Prefix[] = ".~vz";
constexpr char Suffix[] = ".tmp";
constexpr int PrefixLength = 4;
constexpr int SuffixLength = 4;
constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

bool isNameChar(char32_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

template <typename At>
bool matches(qsizetype length, At at)
{
    if (length != PrefixLength + hostfs::TemporaryRandomChars + SuffixLength)
        return false;
    for (int i = 0; i < PrefixLength; ++i)
        if (at(i) != char32_t(Prefix[i]))
            return false;
    for (int i = 0; i < hostfs::TemporaryRandomChars; ++i)
        if (!isNameChar(at(PrefixLength + i)))
            return false;
    for (int i = 0; i < SuffixLength; ++i)
        if (at(PrefixLength + hostfs::TemporaryRandomChars + i) != char32_t(Suffix[i]))
            return false;
    return true;
}

int removeIn(const QByteArray& folder, bool recursive)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return 0;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return 0;
    }
    int removed = 0;
    std::vector<QByteArray> subfolders;
    while (const dirent* entry = ::readdir(dir)) {
        if (detail::isDotOrDotDot(entry->d_name))
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_REG && hostfs::isTemporaryName(entry->d_name)) {
            // A writer holds its temporary file locked: only what nobody
            // holds any more (its process ended) is a leftover.
            const int file = ::openat(fd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
            if (file < 0)
                continue;
            if (::flock(file, LOCK_EX | LOCK_NB) == 0 && ::unlinkat(fd, entry->d_name, 0) == 0)
                ++removed;
            ::close(file);
        } else if (type == DT_DIR && recursive) {
            subfolders.push_back(folder + '/' + entry->d_name);
        }
    }
    ::closedir(dir);
    for (const QByteArray& sub : subfolders)
        removed += removeIn(sub, true);
    return removed;
}

}  // namespace

namespace hostfs {

bool isTemporaryName(QStringView name)
{
    return matches(name.size(), [name](int i) { return char32_t(name.at(i).unicode()); });
}

bool isTemporaryName(const char* name)
{
    const size_t length = std::strlen(name);
    return matches(qsizetype(length), [name](int i) { return char32_t(static_cast<unsigned char>(name[i])); });
}

HostFile createTemporaryFile(const QString& hostFolder, QString* hostPath, mode_t mode)
{
    QByteArray path;
    const int fd = detail::createTemporaryIn(encodeName(hostFolder), &path, mode);
    if (fd >= 0 && hostPath != nullptr)
        *hostPath = decodeName(path);
    return HostFile::adopt(fd);
}

int removeTemporaryFiles(const QString& hostFolder, bool recursive)
{
    return removeIn(encodeName(hostFolder), recursive);
}

}  // namespace hostfs

namespace detail {

int createTemporaryIn(const QByteArray& folder, QByteArray* path, mode_t mode)
{
    QByteArray base = folder;
    if (!base.endsWith('/'))
        base += '/';
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray name = base + Prefix;
        for (int i = 0; i < hostfs::TemporaryRandomChars; ++i)
            name += Alphabet[arc4random_uniform(sizeof Alphabet - 1)];
        name += Suffix;
        int fd;
        do {
            fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0) {
            // Locked while it is written, so that a sweep of leftovers passes it by.
            ::flock(fd, LOCK_EX | LOCK_NB);
            *path = name;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace detail

}  // namespace vz
