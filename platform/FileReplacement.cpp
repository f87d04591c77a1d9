#include "platform/FileReplacement.h"

#include "platform/HostFile.h"
#include "platform/HostFsDetail.h"
#include "platform/TemporaryFiles.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace vz::detail {

namespace {

QByteArray folderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

void closeKeepingErrno(int& fd)
{
    if (fd < 0)
        return;
    const int saved = errno;
    ::close(fd);
    fd = -1;
    errno = saved;
}

}  // namespace

FileReplacement::~FileReplacement() { abandon(); }

bool FileReplacement::prepareTarget(const QByteArray& path, const struct stat* source)
{
    existed_ = false;
    target_ = path;
    struct stat st;
    if (::lstat(path.constData(), &st) != 0) {
        if (errno != ENOENT)
            return false;
        return true;
    }
    if (S_ISLNK(st.st_mode)) {
        char real[PATH_MAX];
        if (::realpath(path.constData(), real) == nullptr) {
            if (errno == ENOENT)
                errno = EEXIST;  // a dangling link: nothing to replace, and its name is taken
            return false;
        }
        target_ = QByteArray(real);
        if (::lstat(real, &st) != 0)
            return errno == ENOENT;
    }
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;  // a device or pipe is not replaced by a file
        return false;
    }
    int fd;
    do {
        fd = ::open(target_.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return errno == ENOENT;  // gone in between: a new file after all
    if (::fstat(fd, &old_) != 0) {
        closeKeepingErrno(fd);
        return false;
    }
    int error = 0;
    if (source != nullptr && old_.st_dev == source->st_dev && old_.st_ino == source->st_ino)
        error = SharingViolation;  // the source under another name
    else if (isReadOnlyMode(old_.st_mode))
        error = EACCES;  // Windows refuses to replace a read-only file, to root as well
    else {
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR)
                continue;
            if (errno == EWOULDBLOCK)
                error = SharingViolation;  // another program holds it
            break;  // a file system without flock support: nothing to share with
        }
    }
    if (error != 0) {
        ::close(fd);
        errno = error;
        return false;
    }
    holdFd_ = fd;
    existed_ = true;
    return true;
}

bool FileReplacement::open(const QByteArray& targetPath, const struct stat* source, NewFile newFile)
{
    abandon();
    if (newFile == NewFile::InPlace) {
        // Most staged files are new: creating one at once also tells whether
        // it is there already (then it is replaced like any existing file).
        existed_ = false;
        target_ = targetPath;
        if (createInPlace())
            return true;
        if (errno != EEXIST)
            return false;
    }
    inPlace_ = false;
    if (!prepareTarget(targetPath, source))
        return false;
    // The mode a new file gets; a copy sets the source's afterwards.
    fd_ = createTemporaryIn(folderOf(target_), &written_, 0666);
    if (fd_ < 0) {
        closeKeepingErrno(holdFd_);
        return false;
    }
    return true;
}

bool FileReplacement::createInPlace()
{
    do {
        fd_ = ::open(target_.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0)
        return false;
    inPlace_ = true;
    written_ = target_;
    // Held without sharing while it is written, as a new file is on Windows.
    ::flock(fd_, LOCK_EX | LOCK_NB);
    return true;
}

bool FileReplacement::commit(bool durable)
{
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    bool ok = true;
    if (existed_ && ::geteuid() == 0 && (old_.st_uid != ::geteuid() || old_.st_gid != ::getegid()))
        (void)::fchown(fd_, old_.st_uid, old_.st_gid);  // best effort: keep the station's owner
    if (durable && ::fsync(fd_) != 0)
        ok = false;
    if (ok) {
        const int fd = fd_;
        fd_ = -1;
        ok = ::close(fd) == 0;  // a network file system reports late write errors here
    }
    if (ok && !inPlace_) {
        if (existed_) {
            ok = ::rename(written_.constData(), target_.constData()) == 0;
        } else {
            ok = ::renameat2(AT_FDCWD, written_.constData(), AT_FDCWD, target_.constData(), RENAME_NOREPLACE) == 0;
            if (!ok && (errno == EINVAL || errno == ENOSYS)) {
                // No RENAME_NOREPLACE here: a link fails the same way when the name was taken.
                ok = ::link(written_.constData(), target_.constData()) == 0;
                if (ok)
                    ::unlink(written_.constData());
            }
        }
    }
    if (!ok) {
        abandon();
        return false;
    }
    written_.clear();
    closeKeepingErrno(holdFd_);
    return true;
}

void FileReplacement::abandon()
{
    const int saved = errno;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!written_.isEmpty()) {
        ::unlink(written_.constData());
        written_.clear();
    }
    if (holdFd_ >= 0) {
        ::close(holdFd_);
        holdFd_ = -1;
    }
    errno = saved;
}

}  // namespace vz::detail
