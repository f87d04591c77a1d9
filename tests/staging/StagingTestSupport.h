#pragma once
// Shared pieces of the staging tests: a drive prefix with a copy engine on a
// recording frame that also keeps every destination text shown, local file
// times, a process that holds a file locked, and a way to run code where
// folder permissions apply even when the tests run as root.

#include "platform/FileSystem.h"
#include "platform/Timestamp.h"
#include "staging/CopyEngine.h"
#include "tests/support/RecordingRunFrame.h"
#include "tests/support/TempPrefix.h"

#include <QStringList>
#include <functional>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vz::test {

// Keeps every destination and progress text in the order shown.
class TracingFrame : public RecordingRunFrame {
public:
    QStringList destinations;
    QStringList progressTexts;
    void SetDestinationText(const QString& text) override
    {
        destinations << text;
        RecordingRunFrame::SetDestinationText(text);
    }
    void SetProgressText(const QString& text) override
    {
        progressTexts << text;
        RecordingRunFrame::SetProgressText(text);
    }
};

// Milliseconds since the Unix epoch of a local date and time.
inline qint64 LocalMs(int year, int month, int day, int hour, int minute, int second, int millisecond = 0)
{
    return UnixMsFromTimestamp(EncodeTimestamp({year, month, day, hour, minute, second, millisecond}));
}

inline Timestamp LocalTime(int year, int month, int day, int hour, int minute, int second, int millisecond = 0)
{
    return EncodeTimestamp({year, month, day, hour, minute, second, millisecond});
}

class StagingTest : public ::testing::Test {
protected:
    // Host path of a Windows path on drives C: and D: of the prefix.
    QString host(const QString& windowsPath) const { return *fs.toHost(windowsPath); }
    // Writes a file given by its Windows path, with a time (ms since the epoch).
    QString put(const QString& windowsPath, const QByteArray& bytes, qint64 unixMs = OldMs)
    {
        const QString path = writeFile(host(windowsPath), bytes);
        setMTime(path, unixMs);
        return path;
    }
    bool exists(const QString& windowsPath) const { return hostfs::exists(host(windowsPath)); }
    qint64 mtimeMs(const QString& windowsPath) const { return hostfs::stat(host(windowsPath))->modifiedUnixMs; }
    // The staging sequence the callers run.
    bool stage(const QString& source, const QString& destination, Timestamp threshold, bool recursive)
    {
        engine.TotalMB = engine.FolderSizeMB(source, recursive);
        engine.CopiedMB = 0;
        return engine.CopyNewerTree(source, destination, threshold, recursive);
    }

    static inline const qint64 OldMs = LocalMs(2020, 3, 1, 8, 0, 0);
    static inline const Timestamp Threshold = LocalTime(2024, 6, 1, 12, 0, 0);
    static inline const qint64 NewMs = LocalMs(2025, 1, 15, 9, 30, 10);

    TempPrefix prefix{QStringLiteral("cd")};
    // \\srv\musica, made before the drive map is read.
    QString share = prefix.addShare(QStringLiteral("srv"), QStringLiteral("musica"));
    FileSystem fs{prefix.driveMap()};
    TracingFrame frame;
    CopyEngine engine{fs, frame, QStringLiteral("C:")};
};

// Another process that holds a file open with an exclusive lock, as a
// program that opened it without sharing does, until destroyed.
class LockHolder {
public:
    explicit LockHolder(const QString& hostPath)
    {
        int ready[2], release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            const int fd = ::open(hostfs::encodeName(hostPath).constData(), O_RDONLY);
            const char ok = (fd >= 0 && ::flock(fd, LOCK_EX) == 0) ? 'y' : 'n';
            if (::write(ready[1], &ok, 1) != 1)
                ::_exit(1);
            char c;
            while (::read(release[0], &c, 1) > 0) {
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        releaseFd_ = release[1];
        char c = 'n';
        locked_ = ::read(ready[0], &c, 1) == 1 && c == 'y';
        ::close(ready[0]);
    }
    ~LockHolder()
    {
        if (releaseFd_ >= 0)
            ::close(releaseFd_);
        if (pid_ > 0) {
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    bool locked() const { return locked_; }

private:
    pid_t pid_ = -1;
    int releaseFd_ = -1;
    bool locked_ = false;
};

// Runs fn where file permissions are enforced: as root, in a child process
// that has dropped to the unprivileged uid and gid 65534 (the folders it
// needs must be open to it); otherwise right here. Returns fn's result, a
// small number.
inline int RunWithPermissionsEnforced(const std::function<int()>& fn)
{
    if (::geteuid() != 0)
        return fn();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(250);
        ::_exit(fn());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return 251;
    return WEXITSTATUS(status);
}

// Opens a folder and the folders above it up to the prefix to every user.
inline void OpenToEveryone(const QString& hostPath, mode_t mode = 0777)
{
    EXPECT_EQ(::chmod(hostfs::encodeName(hostPath).constData(), mode), 0) << hostPath.toStdString();
}

}  // namespace vz::test
