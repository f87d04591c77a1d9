#include "tests/app/XvfbSession.h"

#include <QByteArray>
#include <QList>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vz::test {

namespace {

pid_t spawn(const QList<QByteArray>& arguments, int keepFd = -1)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    // Child: quiet, in its own process group so it can be stopped alone.
    setpgid(0, 0);
    const int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, STDIN_FILENO);
    dup2(devnull, STDOUT_FILENO);
    dup2(devnull, STDERR_FILENO);
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != keepFd)
            close(fd);
    std::vector<char*> argv;
    for (const QByteArray& a : arguments)
        argv.push_back(const_cast<char*>(a.constData()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

void stopChild(pid_t& pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

}  // namespace

XvfbSession::~XvfbSession() { stop(); }

bool XvfbSession::start()
{
    int fds[2];
    if (pipe(fds) != 0) {
        error_ = QStringLiteral("pipe failed");
        return false;
    }
    xvfb_ = spawn({"Xvfb", "-displayfd", QByteArray::number(fds[1]), "-screen", "0", "1024x768x24", "-nolisten",
                   "tcp"},
                  fds[1]);
    close(fds[1]);
    QByteArray number;
    pollfd pfd{fds[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!number.endsWith('\n') && std::chrono::steady_clock::now() < deadline) {
        if (poll(&pfd, 1, 200) <= 0)
            continue;
        char buffer[32];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        number.append(buffer, n);
    }
    close(fds[0]);
    if (!number.endsWith('\n')) {
        error_ = QStringLiteral("Xvfb did not report its display (is it installed?)");
        stop();
        return false;
    }
    display_ = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    setenv("DISPLAY", display_.toLatin1().constData(), 1);
    return true;
}

bool XvfbSession::startTrayHost()
{
    trayer_ = spawn({"trayer", "--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "120",
                     "--height", "32"});
    return trayer_ > 0;
}

void XvfbSession::stop()
{
    stopChild(trayer_);
    stopChild(xvfb_);
}

}  // namespace vz::test
