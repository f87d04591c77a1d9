#pragma once
// One TLS client session over a connected Socket (OpenSSL). The socket
// stays the only place that calls the socket interface: OpenSSL reads and
// writes through it, reads without waiting, so that every wait is the
// client's own (its anti-freeze, its limits).

#include <QString>
#include <QtGlobal>
#include <functional>

struct ssl_st;

namespace vz {

class Socket;
class TlsContext;

class TlsChannel {
public:
    TlsChannel(TlsContext& context, Socket& socket);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // waitReadable(limitMs) waits for the socket as the client does: 1 when
    // something came, 0 when limitMs passed, -1 when the wait failed.
    using Wait = std::function<int(int limitMs)>;

    // The handshake with the server named `host` (a name or an IPv4
    // address), within limitMs: its certificate must chain to a trusted
    // authority, be valid now and name the host. Raises TlsError ("TLS
    // handshake failed: " + the reason) or SocketError; nothing of a
    // request has been sent by then.
    void Handshake(const QString& host, const Wait& waitReadable, int limitMs);

    // As Socket::ReceiveNow: bytes (> 0), 0 once the server has closed, -1
    // when nothing has come yet. Raises TlsError or SocketError.
    qint64 ReceiveNow(char* into, qint64 maxBytes);
    // Bytes OpenSSL holds already, decrypted or not: the socket may show
    // nothing although a read would find something.
    bool HasBufferedInput() const;
    // Sends all of it (blocking as Socket::Send does). Raises TlsError or
    // SocketError.
    void SendAll(const char* data, qint64 count, const Wait& waitReadable);

    // The socket's side of OpenSSL's reads and writes.
    int WriteRaw(const char* data, int length);
    int ReadRaw(char* data, int length, bool& wouldBlock);

private:
    [[noreturn]] void Raise(int sslError, const QString& prefix);

    ssl_st* ssl_ = nullptr;
    Socket& socket_;
    int ioError_ = 0;  // of the last raw read or write that failed, 0 for an end of stream
};

}  // namespace vz
