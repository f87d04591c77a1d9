// Reading what the host holds about files and folders: folder listings, a
// path's entry, and the Windows attributes made of its name, mode and
// user.DOSATTRIB.

#include "platform/FileSystem.h"

#include "platform/HostFsDetail.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace vz {

using namespace detail;

namespace {

// "0x" followed by hex flags; Samba may append binary data after a NUL.
std::optional<quint32> parseDosAttrib(const char* data, ssize_t length)
{
    if (length < 3 || data[0] != '0' || (data[1] != 'x' && data[1] != 'X'))
        return std::nullopt;
    quint32 value = 0;
    ssize_t i = 2;
    for (; i < length && i < 10; ++i) {
        const char c = data[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        value = value * 16 + static_cast<quint32>(digit);
    }
    if (i == 2)
        return std::nullopt;
    return value;
}

}  // namespace

namespace detail {

// Reads user.DOSATTRIB; *unsupported is set when the file system has no
// extended attributes at all.
std::optional<quint32> readDosAttrib(const char* path, bool* unsupported)
{
    const auto bytes =
        readDosAttribBytes([path](void* buffer, size_t size) { return ::getxattr(path, DosAttribName, buffer, size); });
    if (bytes)
        return parseDosAttrib(bytes->constData(), bytes->size());
    if (unsupported != nullptr && errno == ENOTSUP)
        *unsupported = true;
    return std::nullopt;
}

QByteArray baseName(const QByteArray& path)
{
    QByteArray p = path;
    while (p.size() > 1 && p.endsWith('/'))
        p.chop(1);
    const qsizetype cut = p.lastIndexOf('/');
    return cut < 0 ? p : p.mid(cut + 1);
}

}  // namespace detail

namespace {

// getxattrat(2) (Linux 6.13) reads an attribute of a name in an open folder
// without the kernel walking the whole path again. Older kernels, and
// sandboxes that filter the call, answer ENOSYS or EPERM: from then on the
// path is used.
#ifdef SYS_getxattrat
constexpr long GetXattrAtSyscall = SYS_getxattrat;
#else
constexpr long GetXattrAtSyscall = 464;  // the same number on every architecture
#endif
struct XattrArgs {
    quint64 value;
    quint32 size;
    quint32 flags;
};
std::atomic<bool> getXattrAtUnavailable{false};

// user.DOSATTRIB of the entry `name` of the folder open as dirFd, whose path
// (ending in "/") is the first folderLength bytes of `path`.
std::optional<quint32> readDosAttribAt(int dirFd, const char* name, QByteArray& path, qsizetype folderLength,
                                       bool* unsupported)
{
    if (!getXattrAtUnavailable.load(std::memory_order_relaxed)) {
        const auto bytes = readDosAttribBytes([dirFd, name](void* buffer, size_t size) -> ssize_t {
            XattrArgs args{reinterpret_cast<quintptr>(buffer), static_cast<quint32>(size), 0};
            return ::syscall(GetXattrAtSyscall, dirFd, name, 0, DosAttribName, &args, sizeof args);
        });
        if (bytes)
            return parseDosAttrib(bytes->constData(), bytes->size());
        if (errno != ENOSYS && errno != EPERM) {
            if (errno == ENOTSUP)
                *unsupported = true;
            return std::nullopt;
        }
        getXattrAtUnavailable.store(true, std::memory_order_relaxed);
    }
    path.truncate(folderLength);
    path.append(name);
    return readDosAttrib(path.constData(), unsupported);
}

quint32 attributesFrom(const struct stat& st, const char* name, std::optional<quint32> dos, bool isLink)
{
    const bool folder = S_ISDIR(st.st_mode);
    quint32 a = folder ? quint32(AttrDirectory) : 0u;
    if (dos)
        a |= *dos & DosFlagsKept;
    else if (!folder)
        a |= AttrArchive;
    if (!folder && isReadOnlyMode(st.st_mode))
        a |= AttrReadOnly;
    if (name[0] == '.' && !isDotOrDotDot(name))
        a |= AttrHidden;
    // A link to a folder is not entered by tree walks, so cycles cannot form.
    if (isLink && folder)
        a |= AttrSystem;
    return a;
}

DirEntry entryFrom(const struct stat& st, const char* name, std::optional<quint32> dos, bool isLink)
{
    DirEntry e;
    e.name = hostfs::decodeName(name, static_cast<qsizetype>(std::strlen(name)));
    e.isFolder = S_ISDIR(st.st_mode);
    e.sizeBytes = e.isFolder ? 0 : qint64(st.st_size);
    e.attributes = attributesFrom(st, name, dos, isLink);
    e.modifiedUnixMs = unixMs(st.st_mtim);
    e.permissionBits = st.st_mode & 07777;
    return e;
}

// Closes a listed folder when it goes out of scope, also when the visitor throws.
struct OpenFolder {
    explicit OpenFolder(DIR* d) : dir(d) {}
    ~OpenFolder()
    {
        if (dir != nullptr)
            ::closedir(dir);
    }
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    DIR* dir;
};

}  // namespace

namespace hostfs {

std::optional<DirEntry> stat(const QString& hostPath)
{
    const QByteArray path = encodeName(hostPath);
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return std::nullopt;
    bool isLink = false;
    if (S_ISDIR(st.st_mode)) {
        struct stat lst;
        isLink = ::lstat(path.constData(), &lst) == 0 && S_ISLNK(lst.st_mode);
    }
    return entryFrom(st, baseName(path).constData(), readDosAttrib(path.constData()), isLink);
}

bool exists(const QString& hostPath)
{
    struct stat st;
    return ::stat(encodeName(hostPath).constData(), &st) == 0;
}

bool isFile(const QString& hostPath)
{
    struct stat st;
    return ::stat(encodeName(hostPath).constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool isFolder(const QString& hostPath)
{
    struct stat st;
    return ::stat(encodeName(hostPath).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool listFolder(const QString& hostFolder, const std::function<bool(const DirEntry&)>& visit, int* errorNumber,
                ListOptions options)
{
    QByteArray path = encodeName(hostFolder);
    // opendir, not open and fdopendir: the latter checks the descriptor
    // with two more calls for every folder listed.
    const OpenFolder folder(::opendir(path.constData()));
    if (folder.dir == nullptr) {
        const int error = errno;
        if (errorNumber != nullptr)
            *errorNumber = error;
        errno = error;
        return false;
    }
    const int dirFd = ::dirfd(folder.dir);
    if (!path.endsWith('/'))
        path.append('/');
    const qsizetype folderLength = path.size();
    bool xattrUnsupported = false;  // learnt from the first entry, kept for the listing
    int error = 0;
    while (true) {
        errno = 0;
        const dirent* entry = ::readdir(folder.dir);
        if (entry == nullptr) {
            error = errno;
            break;
        }
        const char* name = entry->d_name;
        if (isDotOrDotDot(name)) {
            // Every walk skips them: listed as plain folders, without a look at them.
            DirEntry dots;
            dots.name = QString::fromLatin1(name);
            dots.isFolder = true;
            dots.attributes = AttrDirectory;
            if (!visit(dots))
                break;
            continue;
        }
        struct stat st;
        bool isLink = entry->d_type == DT_LNK;
        if (::fstatat(dirFd, name, &st, 0) != 0) {
            // A dangling link shows as a file of its own; an entry that
            // vanished since readdir is left out.
            if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            isLink = false;
        } else if (entry->d_type == DT_UNKNOWN) {
            struct stat lst;
            isLink = ::fstatat(dirFd, name, &lst, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(lst.st_mode);
        }
        std::optional<quint32> dos;
        if (!xattrUnsupported && (options.fileDosAttributes || S_ISDIR(st.st_mode)))
            dos = readDosAttribAt(dirFd, name, path, folderLength, &xattrUnsupported);
        if (!visit(entryFrom(st, name, dos, isLink)))
            break;
    }
    if (error != 0) {
        if (errorNumber != nullptr)
            *errorNumber = error;
        errno = error;
        return false;
    }
    return true;
}

PathKind pathKind(const QString& hostPath)
{
    struct stat st;
    if (::lstat(encodeName(hostPath).constData(), &st) != 0)
        return PathKind::Missing;
    if (S_ISLNK(st.st_mode))
        return PathKind::Link;
    return S_ISDIR(st.st_mode) ? PathKind::Folder : PathKind::File;
}

quint32 attributes(const QString& hostPath)
{
    const auto entry = stat(hostPath);
    return entry ? entry->attributes : 0;
}

}  // namespace hostfs

}  // namespace vz
