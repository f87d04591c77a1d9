#include "platform/TerminationRequests.h"

#include <cerrno>
#include <csignal>
#include <initializer_list>

#include <fcntl.h>
#include <unistd.h>

namespace vz {

namespace {

// A signal handler can reach nothing but process-wide state.
volatile sig_atomic_t writeEnd = -1;

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    if (writeEnd >= 0)
        [[maybe_unused]] const ssize_t n = write(writeEnd, &byte, 1);
    errno = saved;
}

}  // namespace

int TerminationRequests::install()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    writeEnd = fds[1];
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signalNumber, &action, nullptr);
    // A file past the process's size limit fails its write (EFBIG), like a
    // full disk, instead of killing the program halfway through a copy.
    ::signal(SIGXFSZ, SIG_IGN);
    return fds[0];
}

void TerminationRequests::acknowledge(int readFd)
{
    char buffer[64];
    while (read(readFd, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace vz
