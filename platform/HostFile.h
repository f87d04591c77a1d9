#pragma once
// Host files opened as Windows opens them, under a share mode.
// ShareMode::None takes a non-blocking exclusive flock, DenyWrite a shared
// one; a conflicting lock held by another open file (the embedded Firebird
// engine locks its databases the same way) makes the open fail as a sharing
// violation.

#include <QString>
#include <QtGlobal>

namespace vz {

enum class ShareMode {
    None,       // no sharing: exclusive lock
    DenyWrite,  // others may read: shared lock
    All,        // no lock
};

// errno of a sharing violation reported by HostFile (another holder's lock).
inline constexpr int SharingViolation = 11;  // EAGAIN/EWOULDBLOCK

// An open host file with the lock that stands for its share mode.
class HostFile {
public:
    HostFile() = default;
    ~HostFile();
    HostFile(HostFile&& other) noexcept;
    HostFile& operator=(HostFile&& other) noexcept;
    HostFile(const HostFile&) = delete;
    HostFile& operator=(const HostFile&) = delete;

    // Opens an existing file for reading.
    static HostFile openRead(const QString& hostPath, ShareMode share);
    // Creates the file, or replaces an existing one (emptied only after its
    // lock was taken). Fails on an existing read-only file, also for root.
    static HostFile create(const QString& hostPath, ShareMode share);
    // Opens an existing file for reading and writing without emptying it.
    static HostFile openReadWrite(const QString& hostPath, ShareMode share);

    bool isOpen() const { return fd_ >= 0; }
    int errorNumber() const { return error_; }  // errno of the failed open, 0 when open
    int fd() const { return fd_; }
    qint64 size() const;                          // -1 on error
    qint64 read(void* buffer, qint64 maxBytes);   // bytes read, 0 at end, -1 on error
    qint64 readAt(void* buffer, qint64 maxBytes, qint64 offset);
    bool writeAll(const void* data, qint64 bytes);
    bool seek(qint64 offset);
    bool truncate(qint64 size);
    bool flush();                                  // fsync
    bool setModifiedTime(qint64 unixMs);
    bool setPermissionBits(quint32 mode);           // the 07777 bits of mode, exactly (no umask)
    void close();

    // Takes over a descriptor just opened, or -1 with the open's errno still set.
    static HostFile adopt(int fd);

private:

    int fd_ = -1;
    int error_ = 0;
};

}  // namespace vz
