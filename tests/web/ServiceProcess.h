#pragma once
// The reference replication service run as its own process, curl as an
// independent client, and a raw client for what curl will not do: drip
// bytes, come from another loopback address, stop reading.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <arpa/inet.h>
#include <cerrno>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vz::test {

class ServiceProcess {
public:
    // `inChild` runs in the child just before the service starts (limits).
    explicit ServiceProcess(const QString& root, const QStringList& extra = {},
                            std::function<void()> inChild = {}) {
        if (inChild) process_.setChildProcessModifier(inChild);
        process_.start(QString::fromLocal8Bit(qgetenv("VZ_BINARY_DIR")) +
                           QStringLiteral("/tools/replication-service/vz-replication-service"),
                       QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--root"), root} + extra);
        if (!process_.waitForStarted(30000)) ADD_FAILURE() << "service did not start";
        while (!process_.canReadLine() && process_.waitForReadyRead(30000)) {
        }
        const QByteArray first = process_.readLine().trimmed();
        if (!first.startsWith("listening on 127.0.0.1:")) ADD_FAILURE() << "first line: " << first.constData();
        port_ = first.mid(first.lastIndexOf(':') + 1).toUShort();
        process_.setReadChannel(QProcess::StandardError);
    }
    ~ServiceProcess() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(30000);
        }
    }
    quint16 port() const { return port_; }
    qint64 pid() const { return process_.processId(); }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1/Zuvavivevo/").arg(port_); }

    // Waits until the log holds `text` `count` times; false when it does not within timeoutMs.
    bool WaitForLog(const QByteArray& text, int count = 1, int timeoutMs = 60000) {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            log_ += process_.readAllStandardError();
            if (log_.count(text) >= count) return true;
            if (deadline.hasExpired() || process_.state() == QProcess::NotRunning) return false;
            process_.waitForReadyRead(int(std::min<qint64>(deadline.remainingTime(), 1000)));
        }
    }
    // SIGTERM; the exit code, and what it logged on standard error.
    int Stop(QByteArray* log) {
        process_.terminate();
        process_.waitForFinished(30000);
        log_ += process_.readAllStandardError();
        if (log) *log = log_;
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

    // From /proc: user and system CPU time in clock ticks, and the peak resident size.
    qint64 CpuTicks() const {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid()));
        if (!stat.open(QIODevice::ReadOnly)) return -1;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : -1;
    }
    qint64 PeakResidentKiB() const {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
        if (!status.open(QIODevice::ReadOnly)) return -1;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLongLong();
        return -1;
    }
    int OpenDescriptors() const {
        return int(QDir(QStringLiteral("/proc/%1/fd").arg(pid())).entryList(QDir::Files | QDir::System).size());
    }

private:
    QProcess process_;
    quint16 port_ = 0;
    QByteArray log_;
};

struct CurlResult {
    int httpCode = 0;
    QByteArray body;
};

inline CurlResult curl(const QStringList& arguments) {
    QProcess p;
    p.start(QStringLiteral("curl"), QStringList{QStringLiteral("-sg"), QStringLiteral("-w"), QStringLiteral("\n%{http_code}")} +
                                         arguments);
    p.waitForFinished(120000);
    const QByteArray out = p.readAllStandardOutput();
    const qsizetype nl = out.lastIndexOf('\n');
    return {out.mid(nl + 1).toInt(), out.left(nl)};
}

inline QByteArray randomBytes(qsizetype size) {
    QByteArray bytes(size, '\0');
    QRandomGenerator generator{quint32(size)};
    for (char& c : bytes) c = char(generator.generate());
    return bytes;
}

// A TCP client on raw sockets, from any loopback address.
class RawClient {
public:
    // receiveBufferBytes > 0 keeps the socket's receive buffer that small.
    RawClient(const char* fromAddress, quint16 port, int receiveBufferBytes = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return;
        if (receiveBufferBytes > 0)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        ::inet_pton(AF_INET, fromAddress, &from.sin_addr);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
            ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~RawClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    qint64 sentBytes() const { return sent_; }

    // Sends all of `bytes` unless the service ends the connection or takes
    // nothing for timeoutMs; false then.
    bool Send(const QByteArray& bytes, int timeoutMs = 30000) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, timeoutMs) != 1) return false;
            const ssize_t n = ::send(fd_, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += n;
            sent_ += n;
        }
        return true;
    }
    // Whether the service has ended the connection (an end or a reset
    // waits, or a send fails), looking for at most waitMs. Bytes the service
    // sent before are kept in received().
    bool Closed(int waitMs = 0) {
        QDeadlineTimer deadline(waitMs);
        for (;;) {
            pollfd p{fd_, POLLIN | POLLRDHUP, 0};
            const int ready = ::poll(&p, 1, int(deadline.remainingTime()));
            if (ready < 0) return true;
            if (ready == 0) return false;
            char block[65536];
            const ssize_t n = ::recv(fd_, block, sizeof block, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return true;
            if (n > 0) received_.append(block, n);
        }
    }
    // What the service sent until it ended the connection, reading for at most timeoutMs.
    QByteArray ReadAll(int timeoutMs = 30000) {
        Closed(timeoutMs);
        return received_;
    }
    const QByteArray& received() const { return received_; }

private:
    int fd_ = -1;
    qint64 sent_ = 0;
    QByteArray received_;
};

}  // namespace vz::test
