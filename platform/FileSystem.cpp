#include "platform/FileSystem.h"

#include "platform/Trash.h"

#include <QDir>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace vz {

namespace {

constexpr char DosAttribName[] = "user.DOSATTRIB";
constexpr quint32 DosFlagsKept = AttrHidden | AttrSystem | AttrArchive;

bool isReadOnlyMode(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

bool isDotOrDotDot(const char* n)
{
    return n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0));
}

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

// The value of user.DOSATTRIB through `get` (getxattr or fgetxattr on one
// file), of any length; nothing when absent, with errno telling why.
template <typename Get>
std::optional<QByteArray> readDosAttribBytes(Get get)
{
    char small[256];
    const ssize_t n = get(small, sizeof small);
    if (n >= 0)
        return QByteArray(small, n);
    if (errno != ERANGE)
        return std::nullopt;
    const ssize_t needed = get(nullptr, 0);  // Samba's longer forms
    QByteArray large(needed > 0 ? needed : 0, Qt::Uninitialized);
    const ssize_t m = large.isEmpty() ? -1 : get(large.data(), size_t(large.size()));
    if (m < 0)
        return std::nullopt;
    large.truncate(m);
    return large;
}

// Reads user.DOSATTRIB; *unsupported is set when the file system has no
// extended attributes at all.
std::optional<quint32> readDosAttrib(const char* path, bool* unsupported = nullptr)
{
    const auto bytes =
        readDosAttribBytes([path](void* buffer, size_t size) { return ::getxattr(path, DosAttribName, buffer, size); });
    if (bytes)
        return parseDosAttrib(bytes->constData(), bytes->size());
    if (unsupported != nullptr && errno == ENOTSUP)
        *unsupported = true;
    return std::nullopt;
}

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

qint64 unixMs(const struct timespec& t) { return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000; }

struct timespec timespecFromMs(qint64 ms)
{
    qint64 seconds = ms / 1000;
    qint64 rest = ms % 1000;
    if (rest < 0) {
        rest += 1000;
        --seconds;
    }
    struct timespec t;
    t.tv_sec = static_cast<time_t>(seconds);
    t.tv_nsec = static_cast<long>(rest * 1000000);
    return t;
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

QByteArray baseName(const QByteArray& path)
{
    QByteArray p = path;
    while (p.size() > 1 && p.endsWith('/'))
        p.chop(1);
    const qsizetype cut = p.lastIndexOf('/');
    return cut < 0 ? p : p.mid(cut + 1);
}

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

// One large buffer per thread for copies the kernel cannot do itself.
char* copyBuffer(size_t& size)
{
    static thread_local std::unique_ptr<char[]> buffer;
    size = 1 << 20;
    if (!buffer)
        buffer.reset(new char[size]);
    return buffer.get();
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

enum class CopyWay { Range, SendFile, Buffer };

// Copies bytes [offset, end) of `in` to the same place in `out`, in the
// kernel where it can. False when the source ends early or an error occurs.
bool copyRegion(int in, int out, qint64 offset, qint64 end, CopyWay& way)
{
    off_t inOffset = offset;
    off_t outOffset = offset;
    while (inOffset < end) {
        const size_t chunk = static_cast<size_t>(std::min<qint64>(end - inOffset, 1 << 30));
        ssize_t n;
        if (way == CopyWay::Range) {
            n = ::copy_file_range(in, &inOffset, out, &outOffset, chunk, 0);
        } else if (way == CopyWay::SendFile) {
            if (::lseek(out, outOffset, SEEK_SET) != outOffset)
                return false;
            n = ::sendfile(out, in, &inOffset, chunk);
            if (n > 0)
                outOffset += n;
        } else {
            size_t bufferSize;
            char* buffer = copyBuffer(bufferSize);
            n = ::pread(in, buffer, std::min(chunk, bufferSize), inOffset);
            if (n > 0) {
                for (ssize_t done = 0; done < n;) {
                    const ssize_t w = ::pwrite(out, buffer + done, size_t(n - done), outOffset);
                    if (w < 0 && errno == EINTR)
                        continue;
                    if (w <= 0)
                        return false;
                    done += w;
                    outOffset += w;
                }
                inOffset += n;
            }
        }
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (way == CopyWay::Buffer)
            return false;  // end of the source before its size, or a read error
        // Some file systems refuse in-kernel copies, and some report 0 where
        // they cannot do them: plain reads tell the true end.
        if (n < 0 && errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP &&
            errno != ENOTSUP && errno != EBADF && errno != EPERM)
            return false;
        way = way == CopyWay::Range ? CopyWay::SendFile : CopyWay::Buffer;
    }
    return true;
}

// Copies the source's bytes (as many as its size said when it was opened)
// into the empty `out`. Holes of a sparse source stay holes. False when the
// source yields fewer bytes.
bool copyBytes(int in, int out, const struct stat& source)
{
    const qint64 size = source.st_size;
    CopyWay way = CopyWay::Range;
    // Only a file with fewer blocks than bytes can have holes worth probing.
    if (qint64(source.st_blocks) * 512 >= size)
        return copyRegion(in, out, 0, size, way);
    qint64 offset = 0;
    qint64 written = 0;
    while (offset < size) {
        qint64 data = ::lseek(in, offset, SEEK_DATA);
        qint64 hole = size;
        if (data < 0) {
            if (errno == ENXIO)
                break;  // only a hole is left, or the source shrank: see below
            data = offset;  // no hole support: everything is data
        } else {
            hole = ::lseek(in, data, SEEK_HOLE);
            if (hole <= data || hole > size)
                hole = size;
        }
        if (data >= size)
            break;
        if (!copyRegion(in, out, data, hole, way))
            return false;
        offset = written = hole;
    }
    if (written == size)
        return true;
    struct stat now;
    if (::fstat(in, &now) != 0 || now.st_size < size) {
        errno = EIO;
        return false;
    }
    return ::ftruncate(out, size) == 0;
}

// Gives the target the source's user.DOSATTRIB, or removes a stale one
// from a replaced file. Only a file system without xattrs may refuse.
bool copyDosAttrib(int from, int to, bool targetIsNew)
{
    const auto bytes =
        readDosAttribBytes([from](void* buffer, size_t size) { return ::fgetxattr(from, DosAttribName, buffer, size); });
    if (bytes)
        return ::fsetxattr(to, DosAttribName, bytes->constData(), size_t(bytes->size()), 0) == 0 || errno == ENOTSUP;
    if (targetIsNew)
        return true;
    return ::fremovexattr(to, DosAttribName) == 0 || errno == ENODATA || errno == ENOTSUP;
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

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    explicit Descriptor(int d) : fd(d) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd;
};

// The time rounded down through the 2-second FAT form of local time: the
// milliseconds dropped, and one second more when the local second is odd.
// Local time is UTC plus the offset of that moment, so this needs no
// conversion back from local time (mktime reads the zone file again on
// every call), and it stays exact in the repeated hour of a clock change.
// Outside 1980..2107, where the FAT form clamps, the time is kept to the
// even second, so both files still give the same FAT time.
qint64 fatRoundedMs(qint64 ms)
{
    qint64 seconds = ms / 1000;
    if (ms % 1000 < 0)
        --seconds;
    const time_t t = static_cast<time_t>(seconds);
    struct tm local {};
    const qint64 offset = ::localtime_r(&t, &local) != nullptr ? qint64(local.tm_gmtoff) : 0;
    seconds -= (((seconds + offset) % 2) + 2) % 2;
    return seconds * 1000;
}

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

// ---------------------------------------------------------------- HostFile

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

namespace {

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

}  // namespace

HostFile HostFile::openRead(const QString& hostPath, ShareMode share)
{
    HostFile f;
    struct stat st;
    f.fd_ = openForRead(hostfs::encodeName(hostPath), O_RDONLY, share, st);
    f.error_ = f.fd_ < 0 ? errno : 0;
    return f;
}

HostFile HostFile::create(const QString& hostPath, ShareMode share)
{
    HostFile f;
    bool created = false;
    f.fd_ = openForCreate(hostfs::encodeName(hostPath), share, nullptr, &created);
    f.error_ = f.fd_ < 0 ? errno : 0;
    return f;
}

HostFile HostFile::openReadWrite(const QString& hostPath, ShareMode share)
{
    HostFile f;
    struct stat st;
    f.fd_ = openForRead(hostfs::encodeName(hostPath), O_RDWR, share, st);
    f.error_ = f.fd_ < 0 ? errno : 0;
    return f;
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

// ---------------------------------------------------------------- hostfs

namespace hostfs {

QString errorText(int errorNumber)
{
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not be in the buffer.
    const char* text = ::strerror_r(errorNumber, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

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

bool copyFile(const QString& fromHostPath, const QString& toHostPath)
{
    return copyFile(fromHostPath, toHostPath, CopyOptions{});
}

bool copyFile(const QString& fromHostPath, const QString& toHostPath, const CopyOptions& options)
{
    struct stat sourceStat;
    const Descriptor source(openForRead(encodeName(fromHostPath), O_RDONLY, options.sourceShare, sourceStat));
    if (source.fd < 0)
        return false;
    const QByteArray targetPath = encodeName(toHostPath);
    bool created = false;
    Descriptor target(openForCreate(targetPath, ShareMode::None, &sourceStat, &created));
    if (target.fd < 0)
        return false;

    bool ok = copyBytes(source.fd, target.fd, sourceStat);
    int error = ok ? 0 : (errno ? errno : EIO);
    if (ok) {
        if (!copyDosAttrib(source.fd, target.fd, created)) {
            ok = false;
            error = errno;
        }
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;  // the access time is left alone
        times[1] = options.fatTime ? timespecFromMs(fatRoundedMs(unixMs(sourceStat.st_mtim))) : sourceStat.st_mtim;
        if (ok && (::futimens(target.fd, times) != 0 || ::fchmod(target.fd, sourceStat.st_mode & 0777) != 0)) {
            ok = false;
            error = errno;
        }
    }
    if (::close(target.fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    target.fd = -1;
    if (!ok && options.removeFailedTarget)
        ::unlink(targetPath.constData());
    if (!ok)
        errno = error;
    return ok;
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

QString createUniqueFile(const QString& hostFolder, const QString& prefix, const QString& suffix)
{
    const QByteArray suffixBytes = encodeName(suffix);
    QByteArray name = encodeName(hostFolder + QLatin1Char('/') + prefix) + "XXXXXX" + suffixBytes;
    const int fd = ::mkostemps(name.data(), static_cast<int>(suffixBytes.size()), O_CLOEXEC);
    if (fd < 0)
        return QString();
    ::close(fd);
    return decodeName(name);
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
        HostFile file = HostFile::create(host, ShareMode::None);
        return file.isOpen() && file.writeAll(bytes.constData(), bytes.size());
    });
}

bool FileSystem::listFolder(const QString& windowsFolder, const std::function<bool(const DirEntry&)>& visit) const
{
    return onHost(map_, windowsFolder, [&](const QString& host) { return hostfs::listFolder(host, visit); });
}

}  // namespace vz
