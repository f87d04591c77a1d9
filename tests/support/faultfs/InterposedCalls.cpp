// The libc file functions this library puts in front of glibc's. Each asks
// FaultDecisions.h only while a rule is armed, then calls the next definition
// (glibc's, or a sanitizer's interceptor before it) found through
// dlsym(RTLD_NEXT). Where glibc declares a function __THROW, the definition
// repeats it, as C++ requires the same exception specification.

#undef _FORTIFY_SOURCE  // the fortified inline wrappers would clash with these definitions

#include "tests/support/faultfs/FaultDecisions.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>

// glibc's fortified entry points, declared only under _FORTIFY_SOURCE.
extern "C" {
int __open_2(const char* path, int flags);
int __open64_2(const char* path, int flags);
int __openat_2(int dirfd, const char* path, int flags);
int __openat64_2(int dirfd, const char* path, int flags);
ssize_t __read_chk(int fd, void* buffer, size_t bytes, size_t bufferSize);
ssize_t __pread_chk(int fd, void* buffer, size_t bytes, off_t offset, size_t bufferSize);
ssize_t __pread64_chk(int fd, void* buffer, size_t bytes, off64_t offset, size_t bufferSize);
}

namespace {

using namespace vz::faults::detail;

void* nextDefinition(const char* name)
{
    void* function = ::dlsym(RTLD_NEXT, name);
    if (function == nullptr) {
        std::fprintf(stderr, "vz_faultfs: no definition of %s after this library\n", name);
        std::abort();
    }
    return function;
}

// The next definition of `name`, looked up once per call site.
#define REAL(name)                                                                   \
    ([]() {                                                                          \
        static std::atomic<void*> slot{nullptr};                                     \
        void* function = slot.load(std::memory_order_relaxed);                       \
        if (function == nullptr) {                                                   \
            function = nextDefinition(#name);                                        \
            slot.store(function, std::memory_order_relaxed);                         \
        }                                                                            \
        return reinterpret_cast<decltype(&::name)>(function);                        \
    }())

bool createsFile(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

bool takesMode(int flags) { return createsFile(flags); }

template <typename Call>
int openThrough(int dirfd, const char* path, int flags, Call call)
{
    if (!armed())
        return call();
    if (createsFile(flags) && failCreate(dirfd, path, (flags & O_TMPFILE) == O_TMPFILE)) {
        errno = EACCES;
        return -1;
    }
    const int fd = call();
    if (fd >= 0)
        opened(fd, dirfd, path);
    return fd;
}

// Opens through the mkstemp family: the template names the file-to-be.
template <typename Call>
int temporaryThrough(char* pattern, Call call)
{
    if (!armed())
        return call();
    if (failCreate(AT_FDCWD, pattern, false)) {
        errno = EACCES;
        return -1;
    }
    const int fd = call();
    if (fd >= 0)
        opened(fd, AT_FDCWD, pattern);
    return fd;
}

bool createsStream(const char* mode) { return mode != nullptr && (mode[0] == 'w' || mode[0] == 'a'); }

template <typename Call>
FILE* fopenThrough(const char* path, const char* mode, Call call)
{
    if (!armed())
        return call();
    if (createsStream(mode) && failCreate(AT_FDCWD, path, false)) {
        errno = EACCES;
        return nullptr;
    }
    FILE* file = call();
    if (file != nullptr)
        opened(::fileno(file), AT_FDCWD, path);
    return file;
}

template <typename Call>
ssize_t readThrough(int fd, Call call)
{
    if (armed() && failRead(fd)) {
        errno = EIO;
        return -1;
    }
    return call();
}

// call(bytes) does the real write of at most `bytes`.
template <typename Call>
ssize_t writeThrough(int fd, size_t bytes, Call call)
{
    if (!armed())
        return call(bytes);
    const WriteGate gate = beginWrite(fd, static_cast<long long>(bytes));
    if (gate.fail) {
        errno = ENOSPC;
        return -1;
    }
    const ssize_t done = call(static_cast<size_t>(gate.allowed));
    endWrite(gate, done);
    return done;
}

// call(vector, count) does the real vectored write.
template <typename Call>
ssize_t vectorWriteThrough(int fd, const struct iovec* vector, int count, Call call)
{
    if (!armed())
        return call(vector, count);
    long long total = 0;
    for (int i = 0; vector != nullptr && i < count; ++i)
        total += static_cast<long long>(vector[i].iov_len);
    const WriteGate gate = beginWrite(fd, total);
    if (gate.fail) {
        errno = ENOSPC;
        return -1;
    }
    ssize_t done;
    if (gate.allowed >= total) {
        done = call(vector, count);
    } else {
        // Only the part that fits: the buffers cut where the budget ends.
        struct iovec part[IOV_MAX];
        int used = 0;
        long long left = gate.allowed;
        for (int i = 0; i < count && used < IOV_MAX && left > 0; ++i, ++used) {
            part[used] = vector[i];
            if (static_cast<long long>(part[used].iov_len) > left)
                part[used].iov_len = static_cast<size_t>(left);
            left -= static_cast<long long>(part[used].iov_len);
        }
        done = call(part, used);
    }
    endWrite(gate, done);
    return done;
}

// fallocate, posix_fallocate: reserving space, unless punching a hole.
bool reservationFails(int fd, int mode) { return armed() && (mode & FALLOC_FL_PUNCH_HOLE) == 0 && failGrowth(fd, -1); }

bool truncationFails(int fd, long long length) { return armed() && failGrowth(fd, length); }

bool renameFails(int dirfd, const char* target)
{
    if (armed() && failRenameTo(dirfd, target)) {
        errno = EIO;
        return true;
    }
    return false;
}

}  // namespace

#define INTERPOSED extern "C" __attribute__((visibility("default")))

// ---- opening and creating

INTERPOSED int open(const char* path, int flags, ...)
{
    mode_t mode = 0;
    if (takesMode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    return openThrough(AT_FDCWD, path, flags, [&] { return REAL(open)(path, flags, mode); });
}

INTERPOSED int open64(const char* path, int flags, ...)
{
    mode_t mode = 0;
    if (takesMode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    return openThrough(AT_FDCWD, path, flags, [&] { return REAL(open64)(path, flags, mode); });
}

INTERPOSED int openat(int dirfd, const char* path, int flags, ...)
{
    mode_t mode = 0;
    if (takesMode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    return openThrough(dirfd, path, flags, [&] { return REAL(openat)(dirfd, path, flags, mode); });
}

INTERPOSED int openat64(int dirfd, const char* path, int flags, ...)
{
    mode_t mode = 0;
    if (takesMode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    return openThrough(dirfd, path, flags, [&] { return REAL(openat64)(dirfd, path, flags, mode); });
}

INTERPOSED int __open_2(const char* path, int flags)
{
    return openThrough(AT_FDCWD, path, flags, [&] { return REAL(__open_2)(path, flags); });
}

INTERPOSED int __open64_2(const char* path, int flags)
{
    return openThrough(AT_FDCWD, path, flags, [&] { return REAL(__open64_2)(path, flags); });
}

INTERPOSED int __openat_2(int dirfd, const char* path, int flags)
{
    return openThrough(dirfd, path, flags, [&] { return REAL(__openat_2)(dirfd, path, flags); });
}

INTERPOSED int __openat64_2(int dirfd, const char* path, int flags)
{
    return openThrough(dirfd, path, flags, [&] { return REAL(__openat64_2)(dirfd, path, flags); });
}

INTERPOSED int creat(const char* path, mode_t mode)
{
    return openThrough(AT_FDCWD, path, O_CREAT, [&] { return REAL(creat)(path, mode); });
}

INTERPOSED int creat64(const char* path, mode_t mode)
{
    return openThrough(AT_FDCWD, path, O_CREAT, [&] { return REAL(creat64)(path, mode); });
}

INTERPOSED FILE* fopen(const char* path, const char* mode)
{
    return fopenThrough(path, mode, [&] { return REAL(fopen)(path, mode); });
}

INTERPOSED FILE* fopen64(const char* path, const char* mode)
{
    return fopenThrough(path, mode, [&] { return REAL(fopen64)(path, mode); });
}

INTERPOSED int mkstemp(char* pattern)
{
    return temporaryThrough(pattern, [&] { return REAL(mkstemp)(pattern); });
}

INTERPOSED int mkstemp64(char* pattern)
{
    return temporaryThrough(pattern, [&] { return REAL(mkstemp64)(pattern); });
}

INTERPOSED int mkostemp(char* pattern, int flags)
{
    return temporaryThrough(pattern, [&] { return REAL(mkostemp)(pattern, flags); });
}

INTERPOSED int mkostemp64(char* pattern, int flags)
{
    return temporaryThrough(pattern, [&] { return REAL(mkostemp64)(pattern, flags); });
}

INTERPOSED int mkstemps(char* pattern, int suffixLength)
{
    return temporaryThrough(pattern, [&] { return REAL(mkstemps)(pattern, suffixLength); });
}

INTERPOSED int mkstemps64(char* pattern, int suffixLength)
{
    return temporaryThrough(pattern, [&] { return REAL(mkstemps64)(pattern, suffixLength); });
}

INTERPOSED int mkostemps(char* pattern, int suffixLength, int flags)
{
    return temporaryThrough(pattern, [&] { return REAL(mkostemps)(pattern, suffixLength, flags); });
}

INTERPOSED int mkostemps64(char* pattern, int suffixLength, int flags)
{
    return temporaryThrough(pattern, [&] { return REAL(mkostemps64)(pattern, suffixLength, flags); });
}

// ---- closing and duplicating: the number's old verdict is forgotten after
// the call, so a descriptor opened meanwhile is at worst judged afresh.

INTERPOSED int close(int fd)
{
    const int result = REAL(close)(fd);
    if (armed())
        forget(fd);
    return result;
}

INTERPOSED int fclose(FILE* file)
{
    const int fd = armed() && file != nullptr ? ::fileno(file) : -1;
    const int result = REAL(fclose)(file);
    if (fd >= 0)
        forget(fd);
    return result;
}

INTERPOSED int dup(int fd) __THROW
{
    const int result = REAL(dup)(fd);
    if (armed() && result >= 0)
        forget(result);
    return result;
}

INTERPOSED int dup2(int fd, int target) __THROW
{
    const int result = REAL(dup2)(fd, target);
    if (armed() && result >= 0)
        forget(target);
    return result;
}

INTERPOSED int dup3(int fd, int target, int flags) __THROW
{
    const int result = REAL(dup3)(fd, target, flags);
    if (armed() && result >= 0)
        forget(target);
    return result;
}

INTERPOSED int close_range(unsigned int first, unsigned int last, int flags) __THROW
{
    const int result = REAL(close_range)(first, last, flags);
#ifdef CLOSE_RANGE_CLOEXEC
    const bool closes = (flags & CLOSE_RANGE_CLOEXEC) == 0;
#else
    const bool closes = true;
#endif
    if (armed() && result == 0 && closes)
        forgetRange(first, last);
    return result;
}

INTERPOSED void closefrom(int first) __THROW
{
    REAL(closefrom)(first);
    if (armed() && first >= 0)
        forgetRange(static_cast<unsigned>(first), UINT_MAX);
}

// ---- reading

INTERPOSED ssize_t read(int fd, void* buffer, size_t bytes)
{
    return readThrough(fd, [&] { return REAL(read)(fd, buffer, bytes); });
}

INTERPOSED ssize_t __read_chk(int fd, void* buffer, size_t bytes, size_t bufferSize)
{
    return readThrough(fd, [&] { return REAL(__read_chk)(fd, buffer, bytes, bufferSize); });
}

INTERPOSED ssize_t pread(int fd, void* buffer, size_t bytes, off_t offset)
{
    return readThrough(fd, [&] { return REAL(pread)(fd, buffer, bytes, offset); });
}

INTERPOSED ssize_t pread64(int fd, void* buffer, size_t bytes, off64_t offset)
{
    return readThrough(fd, [&] { return REAL(pread64)(fd, buffer, bytes, offset); });
}

INTERPOSED ssize_t __pread_chk(int fd, void* buffer, size_t bytes, off_t offset, size_t bufferSize)
{
    return readThrough(fd, [&] { return REAL(__pread_chk)(fd, buffer, bytes, offset, bufferSize); });
}

INTERPOSED ssize_t __pread64_chk(int fd, void* buffer, size_t bytes, off64_t offset, size_t bufferSize)
{
    return readThrough(fd, [&] { return REAL(__pread64_chk)(fd, buffer, bytes, offset, bufferSize); });
}

INTERPOSED ssize_t readv(int fd, const struct iovec* vector, int count)
{
    return readThrough(fd, [&] { return REAL(readv)(fd, vector, count); });
}

INTERPOSED ssize_t preadv(int fd, const struct iovec* vector, int count, off_t offset)
{
    return readThrough(fd, [&] { return REAL(preadv)(fd, vector, count, offset); });
}

INTERPOSED ssize_t preadv64(int fd, const struct iovec* vector, int count, off64_t offset)
{
    return readThrough(fd, [&] { return REAL(preadv64)(fd, vector, count, offset); });
}

INTERPOSED ssize_t preadv2(int fd, const struct iovec* vector, int count, off_t offset, int flags)
{
    return readThrough(fd, [&] { return REAL(preadv2)(fd, vector, count, offset, flags); });
}

INTERPOSED ssize_t preadv64v2(int fd, const struct iovec* vector, int count, off64_t offset, int flags)
{
    return readThrough(fd, [&] { return REAL(preadv64v2)(fd, vector, count, offset, flags); });
}

// ---- writing

INTERPOSED ssize_t write(int fd, const void* data, size_t bytes)
{
    return writeThrough(fd, bytes, [&](size_t allowed) { return REAL(write)(fd, data, allowed); });
}

INTERPOSED ssize_t pwrite(int fd, const void* data, size_t bytes, off_t offset)
{
    return writeThrough(fd, bytes, [&](size_t allowed) { return REAL(pwrite)(fd, data, allowed, offset); });
}

INTERPOSED ssize_t pwrite64(int fd, const void* data, size_t bytes, off64_t offset)
{
    return writeThrough(fd, bytes, [&](size_t allowed) { return REAL(pwrite64)(fd, data, allowed, offset); });
}

INTERPOSED ssize_t writev(int fd, const struct iovec* vector, int count)
{
    return vectorWriteThrough(fd, vector, count,
                              [&](const struct iovec* v, int n) { return REAL(writev)(fd, v, n); });
}

INTERPOSED ssize_t pwritev(int fd, const struct iovec* vector, int count, off_t offset)
{
    return vectorWriteThrough(fd, vector, count,
                              [&](const struct iovec* v, int n) { return REAL(pwritev)(fd, v, n, offset); });
}

INTERPOSED ssize_t pwritev64(int fd, const struct iovec* vector, int count, off64_t offset)
{
    return vectorWriteThrough(fd, vector, count,
                              [&](const struct iovec* v, int n) { return REAL(pwritev64)(fd, v, n, offset); });
}

INTERPOSED ssize_t pwritev2(int fd, const struct iovec* vector, int count, off_t offset, int flags)
{
    return vectorWriteThrough(
        fd, vector, count, [&](const struct iovec* v, int n) { return REAL(pwritev2)(fd, v, n, offset, flags); });
}

INTERPOSED ssize_t pwritev64v2(int fd, const struct iovec* vector, int count, off64_t offset, int flags)
{
    return vectorWriteThrough(
        fd, vector, count, [&](const struct iovec* v, int n) { return REAL(pwritev64v2)(fd, v, n, offset, flags); });
}

// In-kernel copies: a read of the source and a write of the destination.
INTERPOSED ssize_t copy_file_range(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t bytes,
                                   unsigned int flags)
{
    return readThrough(in, [&] {
        return writeThrough(out, bytes, [&](size_t allowed) {
            return REAL(copy_file_range)(in, inOffset, out, outOffset, allowed, flags);
        });
    });
}

INTERPOSED ssize_t sendfile(int out, int in, off_t* offset, size_t bytes) __THROW
{
    return readThrough(in, [&] {
        return writeThrough(out, bytes, [&](size_t allowed) { return REAL(sendfile)(out, in, offset, allowed); });
    });
}

INTERPOSED ssize_t sendfile64(int out, int in, off64_t* offset, size_t bytes) __THROW
{
    return readThrough(in, [&] {
        return writeThrough(out, bytes, [&](size_t allowed) { return REAL(sendfile64)(out, in, offset, allowed); });
    });
}

INTERPOSED int fallocate(int fd, int mode, off_t offset, off_t length)
{
    if (reservationFails(fd, mode)) {
        errno = ENOSPC;
        return -1;
    }
    return REAL(fallocate)(fd, mode, offset, length);
}

INTERPOSED int fallocate64(int fd, int mode, off64_t offset, off64_t length)
{
    if (reservationFails(fd, mode)) {
        errno = ENOSPC;
        return -1;
    }
    return REAL(fallocate64)(fd, mode, offset, length);
}

INTERPOSED int posix_fallocate(int fd, off_t offset, off_t length)
{
    if (reservationFails(fd, 0))
        return ENOSPC;
    return REAL(posix_fallocate)(fd, offset, length);
}

INTERPOSED int posix_fallocate64(int fd, off64_t offset, off64_t length)
{
    if (reservationFails(fd, 0))
        return ENOSPC;
    return REAL(posix_fallocate64)(fd, offset, length);
}

INTERPOSED int ftruncate(int fd, off_t length) __THROW
{
    if (truncationFails(fd, length)) {
        errno = ENOSPC;
        return -1;
    }
    return REAL(ftruncate)(fd, length);
}

INTERPOSED int ftruncate64(int fd, off64_t length) __THROW
{
    if (truncationFails(fd, length)) {
        errno = ENOSPC;
        return -1;
    }
    return REAL(ftruncate64)(fd, length);
}

// ---- renaming and linking, judged by the target

INTERPOSED int rename(const char* from, const char* to) __THROW
{
    return renameFails(AT_FDCWD, to) ? -1 : REAL(rename)(from, to);
}

INTERPOSED int renameat(int fromDir, const char* from, int toDir, const char* to) __THROW
{
    return renameFails(toDir, to) ? -1 : REAL(renameat)(fromDir, from, toDir, to);
}

INTERPOSED int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) __THROW
{
    return renameFails(toDir, to) ? -1 : REAL(renameat2)(fromDir, from, toDir, to, flags);
}

INTERPOSED int link(const char* from, const char* to) __THROW
{
    return renameFails(AT_FDCWD, to) ? -1 : REAL(link)(from, to);
}

INTERPOSED int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) __THROW
{
    return renameFails(toDir, to) ? -1 : REAL(linkat)(fromDir, from, toDir, to, flags);
}
