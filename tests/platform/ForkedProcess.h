#pragma once
// Other processes for the file-system tests: one that holds a flock on a file
// until released, and one that runs a check as an unprivileged user.

#include <QFile>
#include <QString>
#include <functional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vz::test {

// A child process that opens a file and holds a non-blocking flock on it
// (exclusive, as the database engine takes, or shared) until destroyed.
class ForkedLock {
public:
    ForkedLock(const QString& hostPath, bool exclusive)
    {
        const QByteArray path = QFile::encodeName(hostPath);
        int ready[2];
        int release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            const int fd = ::open(path.constData(), O_RDONLY);
            const bool ok = fd >= 0 && ::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
            char c = ok ? '1' : '0';
            (void)!::write(ready[1], &c, 1);
            (void)!::read(release[0], &c, 1);  // returns when the parent closes its end
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        releaseFd_ = release[1];
        char c = '0';
        locked_ = ::read(ready[0], &c, 1) == 1 && c == '1';
        ::close(ready[0]);
    }
    ~ForkedLock() { release(); }
    ForkedLock(const ForkedLock&) = delete;
    ForkedLock& operator=(const ForkedLock&) = delete;

    bool locked() const { return locked_; }

    void release()
    {
        if (pid_ <= 0)
            return;
        ::close(releaseFd_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int releaseFd_ = -1;
    bool locked_ = false;
};

// Runs check in a child process that, when started as root, first drops to
// uid/gid 65534, so permission checks meet a real refusal. Returns the
// child's exit code (check's result), or -1 when it did not exit normally.
inline int runUnprivileged(const std::function<int()>& check)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(99);
        ::_exit(check());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

}  // namespace vz::test
