// The whole-file copy: the bytes in the kernel where it can (copy_file_range,
// then sendfile, then plain reads), holes kept, then user.DOSATTRIB, the
// permission bits and the modification time, all into a file that replaces
// the target only once it is complete (platform/FileReplacement.h).

#include "platform/FileSystem.h"

#include "platform/FileReplacement.h"
#include "platform/HostFsDetail.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <memory>

namespace vz {

using namespace detail;

namespace {

// One large buffer per thread for copies the kernel cannot do itself.
char* copyBuffer(size_t& size)
{
    static thread_local std::unique_ptr<char[]> buffer;
    size = 1 << 20;
    if (!buffer)
        buffer.reset(new char[size]);
    return buffer.get();
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

}  // namespace

namespace hostfs {

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
    FileReplacement target;
    const auto newFile = options.newFile == CopyOptions::NewFile::InPlace ? FileReplacement::NewFile::InPlace
                                                                          : FileReplacement::NewFile::ThroughTemporary;
    if (!target.open(encodeName(toHostPath), &sourceStat, newFile))
        return false;

    // The bytes, checked against the size the source had when it was opened,
    // then what Windows keeps with a copy; only then the old file goes.
    bool ok = copyBytes(source.fd, target.fd(), sourceStat);
    struct stat written;
    if (ok && (::fstat(target.fd(), &written) != 0 || written.st_size != sourceStat.st_size)) {
        if (errno == 0)
            errno = EIO;
        ok = false;
    }
    ok = ok && copyDosAttrib(source.fd, target.fd(), !target.existed());
    if (ok) {
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;  // the access time is left alone
        times[1] = options.fatTime ? timespecFromMs(fatRoundedMs(unixMs(sourceStat.st_mtim))) : sourceStat.st_mtim;
        // A new file usually has the source's mode already (0666 less the umask).
        ok = ::futimens(target.fd(), times) == 0 &&
             ((written.st_mode & 0777) == (sourceStat.st_mode & 0777) ||
              ::fchmod(target.fd(), sourceStat.st_mode & 0777) == 0);
    }
    if (!ok) {
        if (errno == 0)
            errno = EIO;
        target.abandon();
        return false;
    }
    return target.commit(options.durable);
}

}  // namespace hostfs

}  // namespace vz
