#include "platform/HostFile.h"

#include "platform/HostFsDetail.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vz {

using namespace detail;

namespace {

int openFile(const char* path, int flags, mode_t mode = 0)
{
    // O_NONBLOCK keeps a FIFO from blocking the open; regular files ignore
    // it, and it costs nothing (no fcntl) as it is given here.
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Takes the lock that stands for the share mode; 0 or an errno.
int lockForShare(int fd, ShareMode share)
{
    if (share == ShareMode::All)
        return 0;
    const int operation = (share == ShareMode::None ? LOCK_EX : LOCK_SH) | LOCK_NB;
    while (::flock(fd, operation) != 0) {
        if (errno == EINTR)
            continue;
        if (errno == EWOULDBLOCK)
            return SharingViolation;
        // A file system without flock support: nothing to share with.
        return 0;
    }
    return 0;
}

bool writeFully(int fd, const char* data, qint64 bytes)
{
    while (bytes > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(std::min<qint64>(bytes, 1 << 30)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        bytes -= n;
    }
    return true;
}

// Checks and locks a freshly opened file and fills *st; closes it on
// failure. Returns the descriptor, or -1 with errno set.
int finishOpen(int fd, bool forWriting, ShareMode share, struct stat& st)
{
    int error = 0;
    if (::fstat(fd, &st) != 0)
        error = errno;
    else if (S_ISDIR(st.st_mode))
        error = EISDIR;
    else if (forWriting && S_ISREG(st.st_mode) && isReadOnlyMode(st.st_mode))
        error = EACCES;  // Windows refuses to write a read-only file, to root as well
    if (error == 0)
        error = lockForShare(fd, share);
    if (error == 0)
        return fd;
    ::close(fd);
    errno = error;
    return -1;
}

}  // namespace

namespace detail {

int openForRead(const QByteArray& path, int flags, ShareMode share, struct stat& st)
{
    const int fd = openFile(path.constData(), flags);
    return fd < 0 ? -1 : finishOpen(fd, flags != O_RDONLY, share, st);
}

// Creates a file or opens the existing one, takes its lock and only then
// empties it (never O_TRUNC), so a file already open without sharing stays
// whole. An existing file that is `source` (the same inode) is refused as a
// sharing violation before anything happens to it. Returns the descriptor
// or -1 with errno set; *created tells whether the file is new.
int openForCreate(const QByteArray& path, ShareMode share, const struct stat* source, bool* created)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        int fd = openFile(path.constData(), O_RDWR | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) {
            *created = true;
            if (lockForShare(fd, share) == 0)
                return fd;
            ::close(fd);
            errno = SharingViolation;
            return -1;
        }
        if (errno != EEXIST)
            return -1;
        fd = openFile(path.constData(), O_RDWR);
        if (fd < 0) {
            if (errno == ENOENT)
                continue;  // removed in between: create it after all
            return -1;
        }
        *created = false;
        struct stat st;
        if (source != nullptr && ::fstat(fd, &st) == 0 && st.st_dev == source->st_dev && st.st_ino == source->st_ino) {
            // Also where a file system does not enforce flock.
            ::close(fd);
            errno = SharingViolation;
            return -1;
        }
        fd = finishOpen(fd, true, share, st);
        if (fd < 0)
            return -1;
        if (::ftruncate(fd, 0) == 0)
            return fd;
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    errno = EEXIST;  // a dangling link or a race that keeps losing
    return -1;
}

}  // namespace detail

HostFile::~HostFile() { close(); }

HostFile::HostFile(HostFile&& other) noexcept : fd_(other.fd_), error_(other.error_)
{
    other.fd_ = -1;
}

HostFile& HostFile::operator=(HostFile&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = other.fd_;
        error_ = other.error_;
        other.fd_ = -1;
    }
    return *this;
}

HostFile HostFile::adopt(int fd)
{
    HostFile f;
    f.fd_ = fd;
    f.error_ = fd < 0 ? errno : 0;
    return f;
}

HostFile HostFile::openRead(const QString& hostPath, ShareMode share)
{
    struct stat st;
    return adopt(openForRead(hostfs::encodeName(hostPath), O_RDONLY, share, st));
}

HostFile HostFile::create(const QString& hostPath, ShareMode share)
{
    bool created = false;
    return adopt(openForCreate(hostfs::encodeName(hostPath), share, nullptr, &created));
}

HostFile HostFile::openReadWrite(const QString& hostPath, ShareMode share)
{
    struct stat st;
    return adopt(openForRead(hostfs::encodeName(hostPath), O_RDWR, share, st));
}

qint64 HostFile::size() const
{
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return -1;
    return st.st_size;
}

qint64 HostFile::read(void* buffer, qint64 maxBytes)
{
    if (fd_ < 0)
        return -1;
    ssize_t n;
    do {
        n = ::read(fd_, buffer, static_cast<size_t>(std::min<qint64>(maxBytes, 1 << 30)));
    } while (n < 0 && errno == EINTR);
    return n;
}

qint64 HostFile::readAt(void* buffer, qint64 maxBytes, qint64 offset)
{
    if (fd_ < 0)
        return -1;
    ssize_t n;
    do {
        n = ::pread(fd_, buffer, static_cast<size_t>(std::min<qint64>(maxBytes, 1 << 30)), offset);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool HostFile::writeAll(const void* data, qint64 bytes)
{
    return fd_ >= 0 && writeFully(fd_, static_cast<const char*>(data), bytes);
}

bool HostFile::seek(qint64 offset) { return fd_ >= 0 && ::lseek(fd_, offset, SEEK_SET) == offset; }

bool HostFile::truncate(qint64 size) { return fd_ >= 0 && ::ftruncate(fd_, size) == 0; }

bool HostFile::flush() { return fd_ >= 0 && ::fsync(fd_) == 0; }

bool HostFile::setModifiedTime(qint64 unixMs)
{
    if (fd_ < 0)
        return false;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // the access time is left alone
    times[1] = timespecFromMs(unixMs);
    return ::futimens(fd_, times) == 0;
}

bool HostFile::setPermissionBits(quint32 mode)
{
    return fd_ >= 0 && ::fchmod(fd_, static_cast<mode_t>(mode & 07777)) == 0;
}

void HostFile::close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace vz
