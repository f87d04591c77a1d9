#include "platform/Socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vz {

Socket::~Socket() { Close(); }

Socket::Socket(Socket&& other) noexcept : fd_(other.fd_), error_(other.error_) { other.fd_ = -1; }

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        error_ = other.error_;
        other.fd_ = -1;
    }
    return *this;
}

int Socket::ResolveIPv4(const QString& host, quint32& address) {
    const QByteArray name = host.toUtf8();
    in_addr dotted{};
    if (inet_pton(AF_INET, name.constData(), &dotted) == 1) {
        address = dotted.s_addr;
        return 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(name.constData(), nullptr, &hints, &found);
    if (rc != 0) return rc == EAI_SYSTEM ? errno : rc;
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return 0;
}

QString Socket::ErrorText(int errorNumber) {
    if (errorNumber < 0) return QString::fromUtf8(gai_strerror(errorNumber));
    char text[256];
    // GNU strerror_r returns the text, not necessarily in our buffer.
    return QString::fromUtf8(strerror_r(errorNumber, text, sizeof text));
}

bool Socket::IsWouldBlock(int errorNumber) { return errorNumber == EAGAIN || errorNumber == EWOULDBLOCK; }

bool Socket::Open() {
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        error_ = errno;
        return false;
    }
    // Request heads are small single writes; do not hold them back.
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return true;
}

static sockaddr_in makeAddress(quint32 address, quint16 port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    sa.sin_port = htons(port);
    return sa;
}

bool Socket::Connect(quint32 address, quint16 port) {
    const sockaddr_in sa = makeAddress(address, port);
    int rc;
    do {
        rc = ::connect(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) error_ = errno;
    return rc == 0;
}

void Socket::Abort() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void Socket::ShutdownWrite() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

void Socket::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool Socket::Listen(quint32 address, quint16 port, int backlog) {
    if (!Open()) return false;
    const int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in sa = makeAddress(address, port);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) < 0 || ::listen(fd_, backlog) < 0) {
        error_ = errno;
        Close();
        return false;
    }
    return true;
}

Socket Socket::Accept() {
    int fd;
    do {
        fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error_ = errno;
        return Socket();
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return Socket(fd);
}

quint16 Socket::LocalPort() const {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) < 0) return 0;
    return ntohs(sa.sin_port);
}

QString Socket::PeerAddress() const {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getpeername(fd_, reinterpret_cast<sockaddr*>(&sa), &len) < 0) return QString();
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
    return QString::fromLatin1(text);
}

qint64 Socket::Send(const char* data, qint64 count) {
    ssize_t n;
    do {
        n = ::send(fd_, data, size_t(count), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) error_ = errno;
    return n;
}

bool Socket::SendAll(const char* data, qint64 count) {
    while (count > 0) {
        const qint64 n = Send(data, count);
        if (n < 0) return false;
        data += n;
        count -= n;
    }
    return true;
}

static qint64 receive(int fd, char* buffer, qint64 count, int flags, int& error) {
    ssize_t n;
    do {
        n = ::recv(fd, buffer, size_t(count), flags);
    } while (n < 0 && errno == EINTR);
    if (n < 0) error = errno;
    return n;
}

qint64 Socket::Receive(char* buffer, qint64 count) { return receive(fd_, buffer, count, 0, error_); }

qint64 Socket::ReceiveNow(char* buffer, qint64 count) { return receive(fd_, buffer, count, MSG_DONTWAIT, error_); }

int Socket::WaitReadable(int timeoutMs) {
    // A signal handled meanwhile (the program's own, the database client's)
    // ends poll early: the wait goes on for what is left of its time, so an
    // interruption is never taken for a timeout.
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int waitMs = timeoutMs < 0 ? -1 : timeoutMs;
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        const int rc = ::poll(&p, 1, waitMs);
        if (rc > 0) return 1;
        if (rc == 0) return 0;
        if (errno != EINTR) {
            error_ = errno;
            return -1;
        }
        if (timeoutMs >= 0)
            waitMs = int(std::max<qint64>(0, ceil<milliseconds>(deadline - steady_clock::now()).count()));
    }
}

}  // namespace vz
