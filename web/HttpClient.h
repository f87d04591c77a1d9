#pragma once
// The blocking HTTP/1.x client the program talks to the replication web
// service with: HTTP over one TCP connection that may outlive an exchange,
// inside TLS for https URLs (web/TlsChannel.h; never a fallback to plain),
// cookies kept in memory, redirections not followed. Used from the
// user-interface thread only; its AntiFreeze keeps the window responsive.

#include "platform/Clock.h"
#include "platform/Socket.h"
#include "web/AntiFreeze.h"
#include "web/CookieStore.h"
#include "web/HttpHeaders.h"
#include "web/RequestBody.h"
#include "web/ResponseBody.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vz {

class TlsChannel;
class TlsContext;

class HttpClient {
public:
    static constexpr int WorkModeRead = 0;   // the client receives
    static constexpr int WorkModeWrite = 1;  // the client sends
    static constexpr int MaxLineLength = 16384;
    // Bounds of a response head (status and header lines of every interim
    // response and the final one together), so that a server cannot fill
    // the memory with header lines.
    static constexpr int MaxHeadLines = 100;
    static constexpr int MaxHeadBytes = 65536;
    static constexpr int BlockSizeBytes = 32768;  // one receive, one block of a request body
    // The body of an error response is only read to be shown: it is read
    // for at most this long in all and kept up to MaxErrorBodyBytes.
    static constexpr int ErrorBodyReadTimeoutMs = 2000;
    static constexpr int MaxErrorBodyBytes = 65536;

    HttpClient(AntiFreeze& antiFreeze, const Clock& clock);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // GET (HTTP/1.1); the response body is appended to buffer.
    void Get(const QString& url, QByteArray& buffer);
    // GET; the response body goes to `body` as it arrives.
    void Get(const QString& url, ResponseBody& body);
    // GET; the body's bytes as text, one character per byte.
    QString GetText(const QString& url);
    // POST (HTTP/1.0, "Connection: keep-alive") of the body on a fresh
    // connection; the response body as text.
    QString PostMultipart(const QString& url, RequestBody& body);

    bool Connected();
    void Disconnect();

    // The authorities an https server's certificate must chain to: the
    // certificates in this PEM file instead of the system's store (empty:
    // the store). Takes effect at the next connection.
    void SetCertificateAuthorities(const QString& pemFile);

    // Progress of body transfers, called synchronously on the calling
    // thread. Begin and end fire only for the outermost transfer of a mode;
    // counts are the running total of that transfer, truncated to 32 bits.
    std::function<void(int workMode, qint32 workCountMax)> OnWorkBegin;
    std::function<void(int workMode, qint32 workCount)> OnWork;
    std::function<void(int workMode)> OnWorkEnd;

    CookieStore& Cookies() { return cookies_; }

private:
    struct Request {
        QByteArray method;
        QString host;  // as in the URL
        quint16 port = 80;
        bool secure = false;  // https
        QString requestPath;
        QString urlPath;  // path and document, for cookies
        bool http10 = false;
        RequestBody* body = nullptr;
    };

    static Request Prepare(const QByteArray& method, const QString& url, RequestBody* body);
    void Exchange(const Request& request, ResponseBody& out);
    void OpenConnection(const Request& request);
    bool ConnectionReusable();
    bool KeepAlive(const Request& request) const;
    void SendHead(const Request& request);
    void SendBody(RequestBody& body);
    void ReadResponse(const Request& request, ResponseBody& out);
    [[noreturn]] void RaiseHttpError();
    void CountHeadLine(qsizetype bytes);

    // The connection's bytes, inside TLS or not.
    void SendAll(const char* data, qint64 count);
    qint64 ReceiveNow(char* into, qint64 maxBytes);
    // Takes in, without waiting, what has come unasked: bytes (into the
    // input) or the peer's close.
    void ProbeInput(bool countAsReceived);
    qint64 ReceiveSome(char* into, qint64 maxBytes);
    bool FillInput();
    bool ReadLine(QByteArray& line);
    qint64 Buffered() const { return input_.size() - inputPos_; }
    // Reads the body by the response's headers; at most maxBytes (< 0: no
    // bound) are kept, and a body cut there leaves the connection unusable.
    void ReadBody(ResponseBody& out, qint64 maxBytes);
    // Reads `count` bytes (< 0: until the peer closes), fewer when the peer
    // closes first or maxBytes (< 0: no bound) is reached; returns how many.
    qint64 ReadTransfer(qint64 count, ResponseBody& out, qint64 maxBytes);
    qint64 TakeBuffered(char* into, qint64 maxBytes);
    void RefuseSurplus(qint64 contentLength);

    void BeginWork(int mode, qint64 countMax);
    void DoWork(int mode, qint64 delta);
    void EndWork(int mode);
    template <typename Work>
    void Transfer(int mode, qint64 countMax, Work&& work);

    AntiFreeze& antiFreeze_;
    CookieStore cookies_;
    Socket socket_;
    QString authoritiesFile_;
    std::unique_ptr<TlsContext> tlsContext_;  // made at the first https connection
    std::unique_ptr<TlsChannel> tls_;         // while the connection is https
    QString connectedHost_;
    quint16 connectedPort_ = 0;
    bool connectedSecure_ = false;
    bool peerClosed_ = false;
    bool bodyCut_ = false;  // bytes of the last response were left unread
    qint64 receivedBytes_ = 0;  // in the current exchange
    // While set, waits for data end by this time ("Read Timeout").
    std::optional<std::chrono::steady_clock::time_point> readDeadline_;
    int headLines_ = 0;  // of the current response head
    qint64 headBytes_ = 0;
    QByteArray input_;  // received, not yet consumed from inputPos_ on
    qsizetype inputPos_ = 0;
    std::vector<char> sendBlock_;

    QByteArray statusLine_;
    int statusCode_ = -1;
    HttpHeaders headers_;
    bool headersCut_ = false;  // the peer closed before the empty line

    struct WorkState {
        int level = 0;
        qint64 countMax = 0;
        qint64 count = 0;
    };
    WorkState work_[2];
};

}  // namespace vz
