#pragma once
// One IPv4 TCP socket on Linux: the only place that calls the socket
// interface. Calls report failure by their result and leave the system's
// error number in lastError(); texts come from ErrorText.

#include <QString>
#include <QtGlobal>

namespace vz {

class Socket {
public:
    Socket() = default;
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Host name or dotted address to an IPv4 address (network byte order).
    // Returns 0, or an error number for ErrorText (resolver errors are negative).
    static int ResolveIPv4(const QString& host, quint32& address);
    static QString ErrorText(int errorNumber);
    static bool IsWouldBlock(int errorNumber);

    bool Open();                                  // a new TCP socket
    bool Connect(quint32 address, quint16 port);  // blocking
    // Shuts the socket down both ways; a Connect or Receive blocked in
    // another thread returns at once. The socket stays open until Close.
    void Abort();
    void ShutdownWrite();
    void Close();

    // Opens, binds (port 0: any free port) and listens.
    bool Listen(quint32 address, quint16 port, int backlog);
    Socket Accept();  // blocking; a closed socket on failure
    quint16 LocalPort() const;
    QString PeerAddress() const;

    qint64 Send(const char* data, qint64 count);  // bytes taken (maybe fewer), -1 on error
    bool SendAll(const char* data, qint64 count);
    // Bytes received, 0 when the peer has closed, -1 on error.
    qint64 Receive(char* buffer, qint64 count);
    // The same without waiting: -1 with a would-block error number when nothing is there.
    qint64 ReceiveNow(char* buffer, qint64 count);
    // 1 when data (or the peer's close) is waiting, 0 after timeoutMs, -1 on
    // error. A negative timeoutMs waits without limit.
    int WaitReadable(int timeoutMs);

    bool IsOpen() const { return fd_ >= 0; }
    int lastError() const { return error_; }

private:
    explicit Socket(int fd) : fd_(fd) {}
    int fd_ = -1;
    int error_ = 0;
};

}  // namespace vz
