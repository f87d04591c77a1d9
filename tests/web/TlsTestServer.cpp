#include "tests/web/TlsTestServer.h"

#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>

namespace vz::test {

namespace {

constexpr int GenerousLimitMs = 30000;

bool waitReadable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, GenerousLimitMs) == 1;
}

QString sslErrorText() {
    unsigned long last = 0;
    while (const unsigned long e = ERR_get_error()) last = e;
    const char* reason = last ? ERR_reason_error_string(last) : nullptr;
    return reason ? QString::fromLatin1(reason) : QStringLiteral("handshake failed");
}

// The length of one request in `bytes` once its head and body are there; -1 before.
qint64 requestLength(const QByteArray& bytes) {
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0) return -1;
    qint64 length = 0;
    for (const QByteArray& line : bytes.left(end).split('\n'))
        if (line.toLower().startsWith("content-length:")) length = line.mid(15).trimmed().toLongLong();
    const qint64 total = end + 4 + length;
    return bytes.size() >= total ? total : -1;
}

}  // namespace

TlsTestServer::Answer ServiceAnswers(const QByteArray& archive) {
    return [archive](const QByteArray& request) -> QByteArray {
        const QByteArray line = request.left(request.indexOf("\r\n"));
        const QByteArray body = line.contains("/Replicacao/") ? archive : QByteArray("TRUE");
        return "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
               QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    };
}

TlsTestServer::TlsTestServer(Mode mode, const QString& certificate, const QString& key, Answer answer)
    : mode_(mode), answer_(std::move(answer)) {
    if (mode_ == Mode::TlsOrPlain) {
        context_ = SSL_CTX_new(TLS_server_method());
        if (!context_ ||
            SSL_CTX_use_certificate_chain_file(context_, certificate.toLocal8Bit().constData()) != 1 ||
            SSL_CTX_use_PrivateKey_file(context_, key.toLocal8Bit().constData(), SSL_FILETYPE_PEM) != 1)
            ADD_FAILURE() << "the test server's certificate: " << sslErrorText().toStdString();
    }
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        ADD_FAILURE() << "the test server cannot listen";
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] {
        for (;;) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (stopping_) {
                if (fd >= 0) ::close(fd);
                return;
            }
            if (fd < 0) continue;
            std::lock_guard lock(mutex_);
            open_.push_back(fd);
            threads_.emplace_back([this, fd] { Serve(fd); });
        }
    });
}

TlsTestServer::~TlsTestServer() {
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    {
        std::lock_guard lock(mutex_);
        for (const int fd : open_) ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread& t : threads_) t.join();
    ::close(listener_);
    SSL_CTX_free(context_);
}

std::vector<TlsTestServer::Connection> TlsTestServer::connections() const {
    std::lock_guard lock(mutex_);
    return done_;
}

bool TlsTestServer::WaitForConnections(size_t n) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(GenerousLimitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (connections().size() >= n) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void TlsTestServer::Serve(int fd) {
    Connection connection;
    SSL* ssl = nullptr;
    // Reads and writes through TLS or straight on the socket.
    const auto receive = [&](QByteArray& into) {
        char block[65536];
        if (!ssl && !waitReadable(fd)) return false;
        const int n = ssl ? SSL_read(ssl, block, sizeof block) : int(::recv(fd, block, sizeof block, 0));
        if (n <= 0) return false;
        into.append(block, n);
        return true;
    };
    const auto send = [&](const QByteArray& bytes) {
        if (ssl) return SSL_write(ssl, bytes.constData(), int(bytes.size())) > 0;
        return ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    };

    if (mode_ == Mode::Silent) {
        // Holds the connection without a word until the client gives up.
        char block[4096];
        while (!stopping_ && waitReadable(fd) && ::recv(fd, block, sizeof block, 0) > 0) {
        }
    } else {
        unsigned char first = 0;
        const bool peeked = waitReadable(fd) && ::recv(fd, &first, 1, MSG_PEEK) == 1;
        connection.tls = peeked && first == 0x16 && mode_ == Mode::TlsOrPlain;
        bool ready = peeked;
        if (connection.tls) {
            ssl = SSL_new(context_);
            SSL_set_fd(ssl, fd);
            ready = SSL_accept(ssl) == 1;
            connection.handshakeDone = ready;
            if (!ready) connection.handshakeError = sslErrorText();
        }
        if (ready && mode_ == Mode::PlainOnly) {
            // Whatever came is no request: answered as a plain server would.
            receive(connection.received);
            send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        } else if (ready) {
            qint64 length = -1;
            while ((length = requestLength(connection.received)) < 0 && receive(connection.received)) {
            }
            if (length >= 0) send(answer_(connection.received.left(length)));
        }
        // Anything the client still sends (it should send nothing) is recorded.
        if (ssl) {
            if (ready) SSL_shutdown(ssl);
        } else if (ready) {
            ::shutdown(fd, SHUT_WR);
            while (receive(connection.received)) {
            }
        }
    }
    SSL_free(ssl);
    ::shutdown(fd, SHUT_RDWR);
    {
        std::lock_guard lock(mutex_);
        done_.push_back(connection);
        open_.erase(std::remove(open_.begin(), open_.end(), fd), open_.end());
    }
    ::close(fd);
}

}  // namespace vz::test
