#pragma once
// Helpers that the parts of the host file system share: HostFile, the folder
// listing, the whole-file copy and the remaining hostfs functions. Internal
// to platform/; everyone else uses FileSystem.h.

#include "platform/FileSystem.h"

#include <QByteArray>
#include <optional>

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <ctime>

namespace vz::detail {

inline constexpr char DosAttribName[] = "user.DOSATTRIB";
inline constexpr quint32 DosFlagsKept = AttrHidden | AttrSystem | AttrArchive;

inline bool isReadOnlyMode(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

inline bool isDotOrDotDot(const char* n)
{
    return n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0));
}

inline qint64 unixMs(const struct timespec& t) { return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000; }

inline struct timespec timespecFromMs(qint64 ms)
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
// extended attributes at all. (HostFolderListing.cpp)
std::optional<quint32> readDosAttrib(const char* path, bool* unsupported = nullptr);

// The last name of a path, trailing slashes ignored. (HostFolderListing.cpp)
QByteArray baseName(const QByteArray& path);

// Opens an existing file (flags O_RDONLY or O_RDWR), checks it, takes the
// lock of the share mode and fills st. (HostFile.cpp)
int openForRead(const QByteArray& path, int flags, ShareMode share, struct stat& st);
// Creates or replaces a file, emptying it only once it is locked. (HostFile.cpp)
int openForCreate(const QByteArray& path, ShareMode share, const struct stat* source, bool* created);

}  // namespace vz::detail
