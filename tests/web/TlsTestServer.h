#pragma once
// A test server on 127.0.0.1 (any free port) that takes TLS and plain HTTP
// on one port: a connection whose first byte starts a TLS handshake is
// served inside TLS with the given certificate, any other as plain HTTP.
// Each connection reads one request (head and Content-Length body), records
// the bytes exactly as they came out of the channel, sends the answer the
// test chose and closes. So the same client request can be compared inside
// and outside TLS, Host header included, and a handshake that fails shows
// whether anything came through.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

struct ssl_ctx_st;

namespace vz::test {

class TlsTestServer {
public:
    enum class Mode {
        TlsOrPlain,  // by the first byte
        PlainOnly,   // a plain HTTP server, whatever comes
        Silent,      // takes the connection and never answers
    };
    struct Connection {
        bool tls = false;
        bool handshakeDone = false;
        QString handshakeError;  // the server's view of a failed handshake
        QByteArray received;     // inside TLS: what came through it
    };
    using Answer = std::function<QByteArray(const QByteArray& request)>;

    // certificate and key: PEM files; empty for PlainOnly and Silent.
    TlsTestServer(Mode mode, const QString& certificate, const QString& key, Answer answer);
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    quint16 port() const { return port_; }
    // Connections so far, each once it has ended.
    std::vector<Connection> connections() const;
    // Waits (generously limited) until n connections have ended.
    bool WaitForConnections(size_t n) const;

private:
    void Serve(int fd);

    Mode mode_;
    Answer answer_;
    ssl_ctx_st* context_ = nullptr;
    int listener_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::vector<Connection> done_;
    std::list<std::thread> threads_;
    std::vector<int> open_;
};

// The answer of the replication service to its three pages, as a test
// serves it: "TRUE" for the upload and removal pages, `archive` for the
// download path.
TlsTestServer::Answer ServiceAnswers(const QByteArray& archive);

}  // namespace vz::test
