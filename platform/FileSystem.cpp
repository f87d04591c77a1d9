#include "platform/FileSystem.h"

#include "platform/FileReplacement.h"

#include "platform/HostFsDetail.h"
#include "platform/Trash.h"

#include <QDir>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vz {

using namespace detail;

namespace {

// Makes the folder, its missing parents first: the whole path is tried
// first, so a folder whose parent exists costs one call.
bool makeFolders(const QByteArray& path, mode_t mode, int depth)
{
    if (::mkdir(path.constData(), mode) == 0)
        return true;
    int error = errno;
    if (error == ENOENT && depth < 4096) {
        const qsizetype cut = path.lastIndexOf('/');
        if (cut <= 0 || !makeFolders(path.left(cut), mode, depth + 1))
            return false;
        if (::mkdir(path.constData(), mode) == 0)
            return true;
        error = errno;
    }
    if (error == EEXIST) {
        struct stat st;
        if (::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            return true;
    }
    errno = error;
    return false;
}

bool removeTreeBytes(const QByteArray& path, int depth);

// Empties a folder; the folder itself stays.
bool removeContents(const QByteArray& folder, int depth)
{
    DIR* dir = ::opendir(folder.constData());
    if (dir == nullptr && errno == EACCES && ::chmod(folder.constData(), S_IRWXU) == 0)
        dir = ::opendir(folder.constData());
    if (dir == nullptr)
        return false;
    std::vector<QByteArray> names;
    while (const dirent* entry = ::readdir(dir)) {
        if (!isDotOrDotDot(entry->d_name))
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    bool ok = true;
    for (const QByteArray& name : names)
        ok = removeTreeBytes(folder + '/' + name, depth + 1) && ok;
    return ok;
}

bool removeTreeBytes(const QByteArray& path, int depth)
{
    if (depth > 4096) {
        errno = ELOOP;
        return false;
    }
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) {
        if (::unlink(path.constData()) == 0 || errno == ENOENT)
            return true;
        return false;
    }
    bool ok = removeContents(path, depth);
    if (::rmdir(path.constData()) == 0 || errno == ENOENT)
        return true;
    // A folder without write permission keeps its entries: open it up once.
    if (errno == EACCES || errno == ENOTEMPTY) {
        ::chmod(path.constData(), S_IRWXU);
        ok = removeContents(path, depth);
        if (ok && ::rmdir(path.constData()) == 0)
            return true;
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------- hostfs

namespace hostfs {

QString errorText(int errorNumber)
{
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not be in the buffer.
    const char* text = ::strerror_r(errorNumber, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

bool setAttributes(const QString& hostPath, quint32 attributes)
{
    const QByteArray path = encodeName(hostPath);
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        mode_t mode = st.st_mode & 07777;
        if (attributes & AttrReadOnly)
            mode &= ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH);
        else if (isReadOnlyMode(mode))
            mode |= S_IWUSR;
        if (mode != (st.st_mode & 07777) && ::chmod(path.constData(), mode) != 0)
            return false;
    }
    // user.DOSATTRIB is written when it says more than the name and the mode
    // do, or when one is already there and must follow.
    const quint32 flags = attributes & (DosFlagsKept | AttrReadOnly);
    const bool dotName = baseName(path).startsWith('.');
    const bool needed = (flags & AttrSystem) || ((flags & AttrHidden) && !dotName);
    bool unsupported = false;
    const bool present = readDosAttrib(path.constData(), &unsupported).has_value();
    if (unsupported || (!needed && !present))
        return true;  // only the dot rule applies there
    char text[16];
    const int length = std::snprintf(text, sizeof text, "0x%x", flags);
    return ::setxattr(path.constData(), DosAttribName, text, static_cast<size_t>(length), 0) == 0 ||
           errno == ENOTSUP;
}

bool setModifiedTime(const QString& hostPath, qint64 unixMs)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = timespecFromMs(unixMs);
    return ::utimensat(AT_FDCWD, encodeName(hostPath).constData(), times, 0) == 0;
}

bool createFolders(const QString& hostPath) { return createFolders(hostPath, 0777); }

bool createFolders(const QString& hostPath, uint mode)
{
    if (hostPath.isEmpty())
        return false;
    return makeFolders(encodeName(QDir::cleanPath(hostPath)), static_cast<mode_t>(mode), 0);
}

QString currentFolder()
{
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr)
        return QStringLiteral("/");
    return decodeName(buffer, static_cast<qsizetype>(std::strlen(buffer)));
}

QString canonicalPath(const QString& hostPath)
{
    constexpr QChar Slash = QLatin1Char('/');
    QString path = QDir::cleanPath(hostPath.startsWith(Slash) ? hostPath : currentFolder() + Slash + hostPath);
    QString rest;
    char buffer[PATH_MAX];
    while (true) {
        if (::realpath(encodeName(path).constData(), buffer) != nullptr) {
            const QString resolved = decodeName(QByteArray(buffer));
            return rest.isEmpty() ? resolved : QDir::cleanPath(resolved + Slash + rest);
        }
        const qsizetype cut = path.lastIndexOf(Slash);
        if (cut < 0 || path == QLatin1String("/"))
            return QDir::cleanPath(path + Slash + rest);
        rest = rest.isEmpty() ? path.mid(cut + 1) : path.mid(cut + 1) + Slash + rest;
        path = cut == 0 ? QStringLiteral("/") : path.left(cut);
    }
}

bool removeFile(const QString& hostPath)
{
    const QByteArray path = encodeName(hostPath);
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return false;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (S_ISREG(st.st_mode) && isReadOnlyMode(st.st_mode)) {
        errno = EACCES;  // as Windows does, for root as well
        return false;
    }
    return ::unlink(path.constData()) == 0;
}

bool removeTree(const QString& hostPath)
{
    if (hostPath.isEmpty())
        return false;
    return removeTreeBytes(encodeName(hostPath), 0);
}

bool rename(const QString& fromHostPath, const QString& toHostPath)
{
    const QByteArray from = encodeName(fromHostPath);
    const QByteArray to = encodeName(toHostPath);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the no-replace flag: check, then rename.
    struct stat st;
    if (::lstat(to.constData(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.constData(), to.constData()) == 0;
}

bool moveToTrash(const QString& hostPath)
{
    const Trash::Outcome outcome = Trash::forCurrentUser().remove(hostPath);
    if (outcome == Trash::Outcome::Missing)
        errno = ENOENT;
    return outcome == Trash::Outcome::Trashed || outcome == Trash::Outcome::Deleted;
}

DiskSpace diskSpace(const QString& hostPath)
{
    DiskSpace space;
    struct statvfs vfs;
    if (::statvfs(encodeName(hostPath).constData(), &vfs) == 0) {
        space.totalBytes = qint64(vfs.f_blocks) * qint64(vfs.f_frsize);
        space.freeBytes = qint64(vfs.f_bavail) * qint64(vfs.f_frsize);
    }
    return space;
}

QString tempFolder()
{
    // The bytes the environment holds, decoded as every host name is.
    const QByteArray fromEnvironment = qgetenv("TMPDIR");
    return QDir::cleanPath(fromEnvironment.isEmpty() ? QStringLiteral("/tmp") : decodeName(fromEnvironment));
}

QString executablePath()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return QString();
    return decodeName(QByteArray(buffer, n));
}

}  // namespace hostfs

// ---------------------------------------------------------------- FileSystem

namespace {

// Runs an operation on the host path of a Windows path; false when the path
// resolves to nothing.
template <typename Operation>
bool onHost(const DriveMap& map, const QString& windowsPath, Operation operation)
{
    const auto host = map.toHost(windowsPath);
    return host && operation(*host);
}

}  // namespace

bool FileSystem::fileExists(const QString& windowsPath) const { return onHost(map_, windowsPath, hostfs::isFile); }

bool FileSystem::folderExists(const QString& windowsPath) const { return onHost(map_, windowsPath, hostfs::isFolder); }

bool FileSystem::createFolders(const QString& windowsPath) const
{
    return onHost(map_, windowsPath, [](const QString& host) { return hostfs::createFolders(host); });
}

bool FileSystem::deleteFile(const QString& windowsPath) const { return onHost(map_, windowsPath, hostfs::removeFile); }

bool FileSystem::copyFile(const QString& fromWindowsPath, const QString& toWindowsPath) const
{
    const auto from = map_.toHost(fromWindowsPath);
    const auto to = map_.toHost(toWindowsPath);
    return from && to && hostfs::copyFile(*from, *to);
}

bool FileSystem::writeFile(const QString& windowsPath, const QByteArray& bytes) const
{
    return onHost(map_, windowsPath, [&](const QString& host) {
        detail::FileReplacement file;
        if (!file.open(hostfs::encodeName(host), nullptr, detail::FileReplacement::NewFile::ThroughTemporary))
            return false;
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = ::write(file.fd(), bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                file.abandon();
                return false;
            }
            done += n;
        }
        // A replaced file keeps its permission bits, as one written over would.
        if (file.existed() && ::fchmod(file.fd(), file.oldMode() & 07777) != 0) {
            file.abandon();
            return false;
        }
        return file.commit(true);
    });
}

bool FileSystem::listFolder(const QString& windowsFolder, const std::function<bool(const DirEntry&)>& visit) const
{
    return onHost(map_, windowsFolder, [&](const QString& host) { return hostfs::listFolder(host, visit); });
}

}  // namespace vz
