#include "web/HttpClient.h"

#include "platform/Cp1252.h"
#include "platform/Errors.h"
#include "web/HttpErrors.h"
#include "web/TlsChannel.h"
#include "web/TlsContext.h"
#include "web/Url.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>

namespace vz {

namespace {

const QByteArray AcceptValue = QByteArrayLiteral("text/html, */*");
const QByteArray UserAgentValue = QByteArrayLiteral("Mozilla/3.0 (compatible; Vireo Zuvavivevo)");

// Announced lengths up to this size get the buffer grown once; a larger
// announcement is believed only as far as bytes actually arrive.
constexpr qint64 TrustedGrowthBytes = qint64(1) << 30;

int parseStatusCode(const QByteArray& statusLine) {
    const QList<QByteArray> fields = statusLine.simplified().split(' ');
    if (fields.size() < 2) return -1;
    bool ok = false;
    const int code = fields.at(1).toInt(&ok);
    return ok ? code : -1;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A chunk-size line: hexadecimal up to the first space (or the ";" of a
// chunk extension); anything else counts as 0, which ends the body. A size
// beyond 63 bits is an error: taken as 0 it would end the body early
// without one, and no real chunk comes near it.
qint64 parseChunkSize(const QByteArray& line) {
    qsizetype end = line.size();
    for (const char stop : {' ', ';', '\t'}) {
        const qsizetype at = line.indexOf(stop);
        if (at >= 0) end = std::min(end, at);
    }
    qint64 size = 0;
    bool tooLarge = false;
    for (qsizetype i = 0; i < end; ++i) {
        const int digit = hexValue(line.at(i));
        if (digit < 0) return 0;
        if (size > (std::numeric_limits<qint64>::max() >> 4)) tooLarge = true;
        else size = size * 16 + digit;
    }
    if (tooLarge) {
        const QByteArray shown = end > 32 ? line.left(32) + "..." : line.left(end);
        throw Error(QStringLiteral("Chunk size out of range: ") + QString::fromLatin1(shown));
    }
    return size;
}

bool isDecimal(const QByteArray& text) {
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Grows the capacity geometrically so that appending blocks stays linear.
void ensureCapacity(QByteArray& out, qint64 size) {
    if (out.capacity() < size) out.reserve(std::max<qint64>(size, out.capacity() * 2));
}

// A body appended to a QByteArray: grown once to an announced length that
// is believable, geometrically otherwise; its size is always what came.
class MemoryBody final : public ResponseBody {
public:
    explicit MemoryBody(QByteArray& out) : out_(out), size_(out.size()) {}
    ~MemoryBody() override { out_.resize(size_); }
    void Expect(qint64 bytes) override {
        if (bytes <= TrustedGrowthBytes) ensureCapacity(out_, size_ + bytes);
    }
    char* Room(qint64 maxBytes, qint64& roomBytes) override {
        ensureCapacity(out_, size_ + maxBytes);
        out_.resize(size_ + maxBytes);
        roomBytes = maxBytes;
        return out_.data() + size_;
    }
    void Filled(qint64 count) override {
        size_ += count;
        out_.resize(size_);
    }

private:
    QByteArray& out_;
    qint64 size_;
};

}  // namespace

HttpClient::HttpClient(AntiFreeze& antiFreeze, const Clock& clock)
    : antiFreeze_(antiFreeze), cookies_(clock), sendBlock_(BlockSizeBytes) {}

HttpClient::~HttpClient() = default;

void HttpClient::Get(const QString& url, QByteArray& buffer) {
    MemoryBody body(buffer);
    Exchange(Prepare("GET", url, nullptr), body);
}

void HttpClient::Get(const QString& url, ResponseBody& body) { Exchange(Prepare("GET", url, nullptr), body); }

QString HttpClient::GetText(const QString& url) {
    QByteArray text;
    Get(url, text);
    return DecodeCp1252(text);
}

QString HttpClient::PostMultipart(const QString& url, RequestBody& body) {
    const Request request = Prepare("POST", url, &body);
    Disconnect();
    QByteArray response;
    {
        MemoryBody out(response);
        Exchange(request, out);
    }
    return DecodeCp1252(response);
}

void HttpClient::SetCertificateAuthorities(const QString& pemFile) {
    if (pemFile == authoritiesFile_) return;
    authoritiesFile_ = pemFile;
    tlsContext_.reset();
}

HttpClient::Request HttpClient::Prepare(const QByteArray& method, const QString& url, RequestBody* body) {
    const ParsedUrl parsed = ParseUrl(url);
    const UrlEndpoint endpoint = EndpointOf(parsed);
    Request request;
    request.method = method;
    request.host = endpoint.host;
    request.port = endpoint.port;
    request.secure = endpoint.secure;
    request.requestPath = parsed.requestPath();
    request.urlPath = parsed.path + parsed.document;
    request.http10 = body != nullptr;
    request.body = body;
    return request;
}

void HttpClient::ProbeInput(bool countAsReceived) {
    if (!socket_.IsOpen() || peerClosed_ || Buffered() != 0) return;
    if (!(tls_ && tls_->HasBufferedInput()) && socket_.WaitReadable(0) != 1) return;
    // Something is waiting: the peer's close, bytes nobody asked for, or
    // (inside TLS) a message of the protocol's own that carries no data.
    char probe[256];
    qint64 n = -1;
    try {
        n = ReceiveNow(probe, sizeof probe);
    } catch (const Error&) {
        peerClosed_ = true;  // a broken channel is as good as closed
        return;
    }
    if (n > 0) {
        input_.append(probe, n);
        if (countAsReceived) receivedBytes_ += n;
    } else if (n == 0 || (!tls_ && !Socket::IsWouldBlock(socket_.lastError()))) {
        peerClosed_ = true;
    }
}

bool HttpClient::Connected() {
    ProbeInput(false);
    if (socket_.IsOpen() && peerClosed_ && Buffered() == 0) Disconnect();
    return socket_.IsOpen();
}

void HttpClient::Disconnect() {
    tls_.reset();
    socket_.Close();
    peerClosed_ = false;
    input_.clear();
    inputPos_ = 0;
}

// A kept connection is used again only when nothing is waiting on it: a
// close by the peer, or stray bytes after the last response, would spoil
// the next exchange.
bool HttpClient::ConnectionReusable() {
    ProbeInput(false);
    return socket_.IsOpen() && !peerClosed_ && Buffered() == 0;
}

void HttpClient::OpenConnection(const Request& request) {
    const QString& host = request.host;
    const quint16 port = request.port;
    tls_.reset();
    quint32 address = 0;
    if (const int rc = Socket::ResolveIPv4(host, address)) throw SocketError(rc);
    if (!socket_.Open()) throw SocketError(socket_.lastError());
    AntiFreeze::ConnectResult result;
    try {
        result = antiFreeze_.Connect(socket_, address, port);
    } catch (...) {
        socket_.Close();  // a window handler's error while the connect went on
        throw;
    }
    switch (result) {
    case AntiFreeze::ConnectResult::Connected:
        break;
    case AntiFreeze::ConnectResult::Failed: {
        const int error = socket_.lastError();
        socket_.Close();
        throw SocketError(error);
    }
    case AntiFreeze::ConnectResult::TimedOut:
        socket_.Close();
        throw Error(QStringLiteral("Connect timed out."));
    }
    peerClosed_ = false;
    input_.clear();
    inputPos_ = 0;
    if (request.secure) {
        // The handshake, like the connect, within the connect limit and
        // with the window's events pumped; nothing of the request goes out
        // before it has checked the server's certificate.
        try {
            if (!tlsContext_) tlsContext_ = std::make_unique<TlsContext>(authoritiesFile_);
            tls_ = std::make_unique<TlsChannel>(*tlsContext_, socket_);
            tls_->Handshake(
                host, [this](int limitMs) { return antiFreeze_.WaitReadable(socket_, limitMs); },
                antiFreeze_.ConnectTimeoutMs);
        } catch (...) {
            tls_.reset();
            socket_.Close();
            throw;
        }
    }
    connectedHost_ = host;
    connectedPort_ = port;
    connectedSecure_ = request.secure;
}

bool HttpClient::KeepAlive(const Request& request) const {
    if (!socket_.IsOpen() || peerClosed_ || bodyCut_) return false;
    const QByteArray connection = headers_.Value("Connection");
    const QByteArray proxyConnection = headers_.Value("Proxy-Connection");
    if (request.http10)
        return HttpHeaders::IsToken(connection, "keep-alive") || HttpHeaders::IsToken(proxyConnection, "keep-alive");
    return !HttpHeaders::IsToken(connection, "close") && !HttpHeaders::IsToken(proxyConnection, "close");
}

void HttpClient::Exchange(const Request& request, ResponseBody& out) {
    if (socket_.IsOpen() && (request.host != connectedHost_ || request.port != connectedPort_ ||
                             request.secure != connectedSecure_))
        Disconnect();
    if (socket_.IsOpen() && !ConnectionReusable()) Disconnect();
    bool reused = socket_.IsOpen();
    if (!reused) OpenConnection(request);
    for (;;) {
        statusLine_.clear();
        statusCode_ = -1;
        headers_.Clear();
        receivedBytes_ = 0;
        bodyCut_ = false;
        readDeadline_.reset();
        headLines_ = 0;
        headBytes_ = 0;
        try {
            SendHead(request);
            if (request.body) SendBody(*request.body);
            ReadResponse(request, out);
        } catch (const HttpError&) {
            // The error response was read to its end: the connection is in step.
            if (!KeepAlive(request)) Disconnect();
            throw;
        } catch (const Error& e) {
            // Anything else may leave unread bytes behind.
            Disconnect();
            // A kept connection that the server dropped just as the request
            // went out: a GET goes once more on a new one, as long as
            // nothing of an answer had come.
            const bool dropped = dynamic_cast<const ConnectionClosedGracefully*>(&e) ||
                                 dynamic_cast<const SocketError*>(&e);
            // (Nothing reached `out` then: no byte of an answer had come.)
            if (!reused || request.body || receivedBytes_ > 0 || !dropped) throw;
            reused = false;
            OpenConnection(request);
            continue;
        } catch (...) {
            Disconnect();
            throw;
        }
        break;
    }
    if (!KeepAlive(request)) Disconnect();
}

void HttpClient::SendHead(const Request& request) {
    QByteArray head = request.method + ' ' + EncodeRequestPath(request.requestPath) +
                      (request.http10 ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n");
    const auto add = [&head](const char* name, const QByteArray& value) {
        if (!value.isEmpty()) head += FoldHeaderLine(QByteArray(name) + ": " + value);
    };
    QByteArray hostValue = EncodeCp1252(request.host);
    if (request.port != (request.secure ? 443 : 80)) hostValue += ':' + QByteArray::number(request.port);
    add("Connection", request.http10 ? QByteArrayLiteral("keep-alive") : QByteArray());
    add("Content-Type", request.body ? EncodeCp1252(request.body->ContentType()) : QByteArray());
    add("Content-Length", request.body ? QByteArray::number(request.body->Length()) : QByteArray());
    add("Host", hostValue);
    add("Accept", AcceptValue);
    add("User-Agent", UserAgentValue);
    add("Cookie", cookies_.HeaderFor(request.host, request.urlPath, request.secure));
    head += "\r\n";
    SendAll(head.constData(), head.size());
}

void HttpClient::SendAll(const char* data, qint64 count) {
    if (tls_) {
        tls_->SendAll(data, count, [this](int limitMs) { return antiFreeze_.WaitReadable(socket_, limitMs); });
        return;
    }
    if (!socket_.SendAll(data, count)) throw SocketError(socket_.lastError());
}

qint64 HttpClient::ReceiveNow(char* into, qint64 maxBytes) {
    return tls_ ? tls_->ReceiveNow(into, maxBytes) : socket_.ReceiveNow(into, maxBytes);
}

void HttpClient::SendBody(RequestBody& body) {
    const qint64 total = body.Length();
    body.Rewind();
    Transfer(WorkModeWrite, total, [&] {
        char* const block = sendBlock_.data();
        qint64 sent = 0;
        while (sent < total) {
            const qint64 want = std::min<qint64>(BlockSizeBytes, total - sent);
            qint64 got = 0;
            while (got < want) {
                const qint64 n = body.Read(block + got, want - got);
                if (n <= 0) break;
                got += n;
            }
            if (got == 0) throw Error(QStringLiteral("No data to read."));
            SendAll(block, got);
            DoWork(WorkModeWrite, got);
            sent += got;
        }
    });
}

// Counts one line of the response head against its bounds.
void HttpClient::CountHeadLine(qsizetype bytes) {
    headBytes_ += bytes;
    if (headBytes_ > MaxHeadBytes)
        throw Error(QStringLiteral("Response head longer than %1 bytes.").arg(MaxHeadBytes));
}

void HttpClient::ReadResponse(const Request& request, ResponseBody& out) {
    const auto headLine = [this](const QByteArray& line) {
        if (++headLines_ > MaxHeadLines)
            throw Error(QStringLiteral("Response head longer than %1 lines.").arg(MaxHeadLines));
        CountHeadLine(line.size() + 2);  // with its line end
    };
    for (;;) {
        QByteArray line;
        if (!ReadLine(line)) throw ConnectionClosedGracefully();
        headLine(line);
        statusLine_ = line;
        statusCode_ = parseStatusCode(line);
        headers_.Clear();
        headersCut_ = false;
        for (;;) {
            if (!ReadLine(line)) {
                if (!line.isEmpty()) {
                    headLine(line);
                    headers_.AddLine(line);
                }
                headersCut_ = true;
                break;
            }
            if (line.isEmpty()) {
                CountHeadLine(2);
                break;
            }
            headLine(line);
            headers_.AddLine(line);
        }
        cookies_.Store(request.host, request.urlPath, headers_.Values("Set-cookie"), headers_.Values("Set-cookie2"));
        if (statusCode_ != 100 || headersCut_) break;
    }
    if (headersCut_) {
        // The peer closed while headers were read: the connection is gone.
        peerClosed_ = true;
    }

    const bool redirection = statusCode_ >= 300 && statusCode_ < 400 && statusCode_ != 304;
    if (headers_.Has("Location") || redirection) RaiseHttpError();
    if (statusCode_ >= 200 && statusCode_ < 300) {
        if (headersCut_) throw Error(QStringLiteral("Undefined situation"));
        if (statusCode_ != 204) {
            ReadBody(out, -1);
            const qint64 length = headers_.ContentLength();
            if (length >= 0) RefuseSurplus(length);
        }
        return;
    }
    RaiseHttpError();
}

void HttpClient::RaiseHttpError() {
    QByteArray body;
    // 304 and 1xx answers carry no body by definition; waiting for one
    // would only turn the real answer into a read time-out.
    const bool bodiless = statusCode_ == 304 || (statusCode_ >= 100 && statusCode_ < 200);
    if (!bodiless) {
        // Bounded in time and size: a server that drips or floods it cannot
        // keep the client reading.
        readDeadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ErrorBodyReadTimeoutMs);
        try {
            MemoryBody out(body);
            ReadBody(out, MaxErrorBodyBytes);
        } catch (...) {
            readDeadline_.reset();
            throw;
        }
        readDeadline_.reset();
    }
    throw HttpError(DecodeCp1252(statusLine_), statusCode_, DecodeCp1252(body));
}

// Receives straight into `into`: >0 bytes, 0 when the peer has closed.
qint64 HttpClient::ReceiveSome(char* into, qint64 maxBytes) {
    for (;;) {
        if (peerClosed_) return 0;
        const qint64 n = ReceiveNow(into, maxBytes);
        if (n > 0) {
            receivedBytes_ += n;
            return n;
        }
        if (n == 0) {
            peerClosed_ = true;
            return 0;
        }
        if (!tls_ && !Socket::IsWouldBlock(socket_.lastError())) throw SocketError(socket_.lastError());
        int limitMs = -1;
        if (readDeadline_) {
            const qint64 leftMs =
                std::chrono::ceil<std::chrono::milliseconds>(*readDeadline_ - std::chrono::steady_clock::now()).count();
            if (leftMs <= 0) throw Error(QStringLiteral("Read Timeout"));
            limitMs = int(std::min<qint64>(leftMs, INT_MAX));
        }
        const int rc = antiFreeze_.WaitReadable(socket_, limitMs);
        if (rc < 0) throw SocketError(socket_.lastError());
        if (rc == 0) throw Error(QStringLiteral("Read Timeout"));
    }
}

bool HttpClient::FillInput() {
    if (inputPos_ > 0) {
        input_.remove(0, inputPos_);
        inputPos_ = 0;
    }
    const qsizetype had = input_.size();
    input_.resize(had + BlockSizeBytes);
    qint64 n = 0;
    try {
        n = ReceiveSome(input_.data() + had, BlockSizeBytes);
    } catch (...) {
        input_.resize(had);
        throw;
    }
    input_.resize(had + n);
    return n > 0;
}

bool HttpClient::ReadLine(QByteArray& line) {
    qsizetype scanned = inputPos_;
    for (;;) {
        const qsizetype lf = input_.indexOf('\n', scanned);
        if (lf >= 0) {
            line = input_.mid(inputPos_, lf - inputPos_);
            inputPos_ = lf + 1;
            if (line.endsWith('\r')) line.chop(1);
            if (line.size() > MaxLineLength) throw Error(QStringLiteral("Max line length exceeded."));
            return true;
        }
        // One more byte than the limit may be the line's CR.
        if (Buffered() > MaxLineLength + 1) throw Error(QStringLiteral("Max line length exceeded."));
        scanned = input_.size();
        const qsizetype consumedBefore = inputPos_;
        if (!FillInput()) {
            line = input_.mid(inputPos_);
            inputPos_ = input_.size();
            return false;
        }
        scanned -= consumedBefore;  // FillInput moved the unread bytes to the front
    }
}

qint64 HttpClient::TakeBuffered(char* into, qint64 maxBytes) {
    const qint64 n = std::min(maxBytes, Buffered());
    if (n > 0) {
        std::memcpy(into, input_.constData() + inputPos_, size_t(n));
        inputPos_ += n;
    }
    return n;
}

void HttpClient::ReadBody(ResponseBody& out, qint64 maxBytes) {
    const qint64 length = headers_.ContentLength();
    // A length too large to hold is not taken for a missing one.
    if (length < 0 && isDecimal(headers_.Value("Content-Length")))
        throw Error(QStringLiteral("Content-Length out of range."));
    if (length >= 1) {
        if (ReadTransfer(length, out, maxBytes) < length && !peerClosed_) bodyCut_ = true;
    } else if (headers_.Value("Transfer-Encoding").contains("chunked")) {
        QByteArray line;
        qint64 kept = 0;
        for (;;) {
            if (!ReadLine(line)) return;
            const qint64 size = parseChunkSize(line);
            if (size == 0) break;
            if (maxBytes >= 0 && kept >= maxBytes) {
                bodyCut_ = true;
                return;
            }
            const qint64 got = ReadTransfer(size, out, maxBytes < 0 ? -1 : maxBytes - kept);
            kept += got;
            if (got < size) {
                if (!peerClosed_) bodyCut_ = true;
                return;
            }
            if (!ReadLine(line)) return;  // the line end after the chunk
            // Bytes there mean the chunk was longer than its size said:
            // taking them for a line would drop them without a word.
            if (!line.isEmpty()) throw Error(QStringLiteral("Chunk longer than its announced size."));
        }
        ReadLine(line);  // after the last chunk
    } else if (length < 0) {
        if (ReadTransfer(-1, out, maxBytes) == maxBytes && !peerClosed_) bodyCut_ = true;
    }
}

// Bytes after a body whose length was announced belong to no answer: the
// body the server meant was longer, and what was read is not all of it.
// Only what has already arrived can tell; anything later spoils the kept
// connection, which is then not used again.
void HttpClient::RefuseSurplus(qint64 contentLength) {
    ProbeInput(true);
    if (Buffered() > 0)
        throw Error(QStringLiteral("Response body longer than its Content-Length of %1 bytes.").arg(contentLength));
}

// One transfer: exactly `count` bytes, or (count < 0) all until the peer
// closes; fewer when the peer closes first or maxBytes is reached. Blocks
// are received straight into the room `out` offers; what arrived is handed
// to it also when the transfer breaks off.
qint64 HttpClient::ReadTransfer(qint64 count, ResponseBody& out, qint64 maxBytes) {
    const qint64 countMax = count < 0 ? 0 : count;
    if (maxBytes >= 0 && (count < 0 || maxBytes < count)) count = maxBytes;
    const bool untilClose = count < 0;
    qint64 got = 0;
    Transfer(WorkModeRead, countMax, [&] {
        if (!untilClose) out.Expect(count);
        // First what arrived together with the headers.
        const qint64 buffered = untilClose ? Buffered() : std::min(count, Buffered());
        for (qint64 taken = 0; taken < buffered;) {
            qint64 room = 0;
            char* const into = out.Room(buffered - taken, room);
            const qint64 n = TakeBuffered(into, room);
            out.Filled(n);
            taken += n;
            got += n;
        }
        if (buffered > 0) DoWork(WorkModeRead, buffered);
        bool closed = false;
        while (!closed && (untilClose || got < count)) {
            const qint64 block = untilClose ? BlockSizeBytes : std::min<qint64>(BlockSizeBytes, count - got);
            qint64 blockGot = 0;
            try {
                while (blockGot < block) {
                    qint64 room = 0;
                    char* const into = out.Room(block - blockGot, room);
                    qint64 roomGot = 0;
                    try {
                        while (roomGot < room) {
                            const qint64 n = ReceiveSome(into + roomGot, room - roomGot);
                            if (n == 0) {
                                closed = true;
                                break;
                            }
                            roomGot += n;
                        }
                    } catch (...) {
                        out.Filled(roomGot);
                        blockGot += roomGot;
                        throw;
                    }
                    out.Filled(roomGot);
                    blockGot += roomGot;
                    if (closed) break;
                }
            } catch (...) {
                got += blockGot;
                throw;
            }
            got += blockGot;
            if (blockGot > 0) DoWork(WorkModeRead, blockGot);
        }
    });
    return got;
}

void HttpClient::BeginWork(int mode, qint64 countMax) {
    WorkState& state = work_[mode];
    if (++state.level != 1) return;
    state.countMax = countMax;
    state.count = 0;
    if (OnWorkBegin) OnWorkBegin(mode, qint32(countMax));
}

void HttpClient::DoWork(int mode, qint64 delta) {
    WorkState& state = work_[mode];
    if (state.level < 1) return;
    state.count += delta;
    if (OnWork) OnWork(mode, qint32(state.count));
}

void HttpClient::EndWork(int mode) {
    WorkState& state = work_[mode];
    if (state.level < 1) return;
    if (--state.level == 0 && OnWorkEnd) OnWorkEnd(mode);
}

template <typename Work>
void HttpClient::Transfer(int mode, qint64 countMax, Work&& work) {
    BeginWork(mode, countMax);
    try {
        work();
    } catch (...) {
        EndWork(mode);
        throw;
    }
    EndWork(mode);
}

}  // namespace vz
