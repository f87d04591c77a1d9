#include "tools/replication-service/ReplicationServer.h"

#include "platform/FileSystem.h"
#include "tools/replication-service/MultipartReader.h"
#include "web/HttpHeaders.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <cstring>
#include <filesystem>
#include <vector>

namespace vz {

namespace {

constexpr qint64 BlockBytes = 65536;
constexpr int MaxLineBytes = 16384;
constexpr int MaxHeaderLines = 100;
constexpr int LingerMs = 2000;

// Buffered reading from one client with a limit on every wait.
class ClientReader {
public:
    ClientReader(Socket& socket, int idleTimeoutMs) : socket_(socket), idleTimeoutMs_(idleTimeoutMs) {}

    // false when the client closed, went silent or failed.
    bool ReadLine(QByteArray& line, bool& tooLong) {
        tooLong = false;
        for (;;) {
            const qsizetype lf = buffer_.indexOf('\n', pos_);
            if (lf >= 0) {
                line = buffer_.mid(pos_, lf - pos_);
                pos_ = lf + 1;
                if (line.endsWith('\r')) line.chop(1);
                tooLong = line.size() > MaxLineBytes;
                return !tooLong;
            }
            if (buffer_.size() - pos_ > MaxLineBytes + 1) {
                tooLong = true;
                return false;
            }
            if (!Fill()) return false;
        }
    }

    // Up to maxBytes of what follows; 0 when the client closed or went silent.
    qint64 ReadSome(char* into, qint64 maxBytes) {
        if (pos_ < buffer_.size()) {
            const qint64 n = std::min<qint64>(maxBytes, buffer_.size() - pos_);
            std::memcpy(into, buffer_.constData() + pos_, size_t(n));
            pos_ += n;
            return n;
        }
        if (socket_.WaitReadable(idleTimeoutMs_) != 1) return 0;
        return std::max<qint64>(socket_.Receive(into, maxBytes), 0);
    }

private:
    bool Fill() {
        buffer_.remove(0, pos_);
        pos_ = 0;
        const qsizetype had = buffer_.size();
        buffer_.resize(had + 4096);
        qint64 n = 0;
        if (socket_.WaitReadable(idleTimeoutMs_) == 1) n = std::max<qint64>(socket_.Receive(buffer_.data() + had, 4096), 0);
        buffer_.resize(had + n);
        return n > 0;
    }

    Socket& socket_;
    int idleTimeoutMs_;
    QByteArray buffer_;
    qsizetype pos_ = 0;
};

struct Answer {
    int status = 200;
    qint64 bodyBytes = 0;
    bool sent = false;  // false: the client went away before an answer
};

const char* reasonOf(int status) {
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    default: return "Internal Server Error";
    }
}

QByteArray responseHead(int status, qint64 contentLength, const char* contentType) {
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonOf(status) + "\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + QByteArray::number(contentLength) + "\r\nConnection: close\r\n\r\n";
}

Answer respond(Socket& socket, int status, const QByteArray& body) {
    const QByteArray bytes = responseHead(status, body.size(), "text/plain; charset=windows-1252") + body;
    Answer answer{status, body.size(), socket.SendAll(bytes.constData(), bytes.size())};
    return answer;
}

Answer respondStatus(Socket& socket, int status) { return respond(socket, status, reasonOf(status)); }

// The value of one query parameter, percent-decoded.
QByteArray queryValue(const QByteArray& query, const QByteArray& key) {
    for (const QByteArray& pair : query.split('&')) {
        const qsizetype eq = pair.indexOf('=');
        if (eq >= 0 && pair.left(eq) == key) return QByteArray::fromPercentEncoding(pair.mid(eq + 1));
    }
    return QByteArray();
}

QString printable(const QByteArray& bytes) {
    QByteArray out = bytes;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
    return QString::fromLatin1(out);
}


std::filesystem::path fsPath(const QString& hostPath) { return hostfs::encodeName(hostPath).toStdString(); }

// The upload is written to a hidden file beside the archive and renamed
// over it only when complete, so a broken upload never replaces a good one.
class TemporaryFile {
public:
    explicit TemporaryFile(QString path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        file.close();
        if (!kept_) {
            std::error_code ec;
            std::filesystem::remove(fsPath(path_), ec);
        }
    }
    bool RenameTo(const QString& target) {
        std::error_code ec;
        std::filesystem::rename(fsPath(path_), fsPath(target), ec);
        kept_ = !ec;
        return kept_;
    }
    const QString& path() const { return path_; }
    HostFile file;

private:
    QString path_;
    bool kept_ = false;
};

Answer receiveUpload(Socket& socket, ClientReader& reader, const HttpHeaders& headers, const QString& archive,
                     qint64 maxUploadBytes) {
    const qint64 length = headers.ContentLength();
    if (headers.Has("Transfer-Encoding") || length < 0) return respondStatus(socket, 411);
    if (length > maxUploadBytes) return respondStatus(socket, 413);
    const QByteArray contentType = headers.Value("Content-Type");
    const QByteArray boundary = MultipartReader::BoundaryOf(contentType);
    if (!contentType.toLower().startsWith("multipart/form-data") || boundary.isEmpty())
        return respondStatus(socket, 400);
    if (HttpHeaders::IsToken(headers.Value("Expect"), "100-continue")) {
        const QByteArray proceed = "HTTP/1.1 100 Continue\r\n\r\n";
        if (!socket.SendAll(proceed.constData(), proceed.size())) return Answer{0, 0, false};
    }

    const qsizetype slash = archive.lastIndexOf(QLatin1Char('/'));
    TemporaryFile temporary(archive.left(slash + 1) + QLatin1Char('.') + archive.mid(slash + 1) +
                            QStringLiteral(".%1.part").arg(QRandomGenerator::global()->generate64(), 16, 16,
                                                           QLatin1Char('0')));
    bool inFile = false, gotFile = false, storingFailed = false;
    MultipartReader parts(boundary);
    parts.OnPartBegin = [&](const HttpHeaders& partHeaders) {
        inFile = !gotFile &&
                 MultipartReader::DispositionParameter(partHeaders.Value("Content-Disposition"), "name") == "arquivo";
        if (inFile) {
            temporary.file = HostFile::create(temporary.path(), ShareMode::All);
            storingFailed = !temporary.file.isOpen();
        }
    };
    parts.OnPartData = [&](const char* data, qint64 size) {
        if (inFile && !storingFailed && !temporary.file.writeAll(data, size)) storingFailed = true;
    };
    parts.OnPartEnd = [&] {
        if (inFile) gotFile = true;
        inFile = false;
    };

    std::vector<char> block(BlockBytes);
    bool malformed = false;
    for (qint64 received = 0; received < length;) {
        const qint64 n = reader.ReadSome(block.data(), std::min(BlockBytes, length - received));
        if (n <= 0) return Answer{0, 0, false};  // the client went away: the temporary file goes
        received += n;
        if (!malformed && !parts.Feed(block.data(), n)) malformed = true;
    }
    if (malformed || !parts.Finished() || !gotFile) return respondStatus(socket, 400);
    if (storingFailed || !temporary.file.flush()) return respond(socket, 200, "FALSE");
    temporary.file.close();
    return respond(socket, 200, temporary.RenameTo(archive) ? "TRUE" : "FALSE");
}

}  // namespace

struct ReplicationServer::Connection {
    Socket socket;
    std::thread thread;
    std::atomic<bool> finished{false};
};

ReplicationServer::ReplicationServer(ReplicationServerOptions options, Log log)
    : options_(std::move(options)), log_(std::move(log)) {}

ReplicationServer::~ReplicationServer() { Stop(); }

bool ReplicationServer::IsSafeClientId(const QByteArray& id) {
    if (id.isEmpty() || id.size() > 200 || id.startsWith('.') || id.startsWith(' ') || id.endsWith(' ')) return false;
    for (const char c : id) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F) return false;
        if (QByteArrayView("/\\:*?\"<>|%").contains(c)) return false;
    }
    return true;
}

bool ReplicationServer::Start(QString& error) {
    archiveFolder_ = options_.root + QStringLiteral("/Replicacao");
    if (!hostfs::createFolders(archiveFolder_)) {
        error = QStringLiteral("cannot create %1: %2").arg(archiveFolder_, hostfs::errorText(errno));
        return false;
    }
    quint32 address = 0;
    if (const int rc = Socket::ResolveIPv4(options_.address, address)) {
        error = QStringLiteral("cannot resolve %1: %2").arg(options_.address, Socket::ErrorText(rc));
        return false;
    }
    if (!listener_.Listen(address, options_.port, 64)) {
        error = QStringLiteral("cannot listen on %1:%2: %3")
                    .arg(options_.address)
                    .arg(options_.port)
                    .arg(Socket::ErrorText(listener_.lastError()));
        return false;
    }
    port_ = listener_.LocalPort();
    return true;
}

void ReplicationServer::Stop() {
    stopping_ = true;
    // Wakes the accept; Run then ends the connections.
    listener_.Abort();
}

void ReplicationServer::ReapFinished() {
    std::lock_guard lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
        if ((*it)->finished) {
            (*it)->thread.join();
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

void ReplicationServer::Run() {
    while (!stopping_) {
        Socket client = listener_.Accept();
        if (stopping_) break;
        if (!client.IsOpen()) {
            // Out of descriptors or the like: let running connections end.
            listener_.WaitReadable(50);
            continue;
        }
        ReapFinished();
        std::lock_guard lock(mutex_);
        if (int(connections_.size()) >= options_.maxConnections) {
            respondStatus(client, 503);
            continue;
        }
        connections_.push_back(std::make_unique<Connection>());
        Connection& connection = *connections_.back();
        connection.socket = std::move(client);
        connection.thread = std::thread([this, &connection] {
            Serve(connection);
            std::lock_guard closeLock(mutex_);
            connection.socket.Close();
            connection.finished = true;
        });
    }
    std::list<std::unique_ptr<Connection>> remaining;
    {
        std::lock_guard lock(mutex_);
        for (auto& c : connections_)
            if (c->socket.IsOpen()) c->socket.Abort();
        remaining.swap(connections_);
    }
    // Joined without the lock: a finishing thread takes it to close its socket.
    for (auto& c : remaining)
        if (c->thread.joinable()) c->thread.join();
}

void ReplicationServer::Serve(Connection& connection) {
    Socket& socket = connection.socket;
    ClientReader reader(socket, options_.idleTimeoutMs);
    const QString peer = socket.PeerAddress();
    QByteArray requestLine;
    Answer answer;
    bool tooLong = false;

    const auto finish = [&] {
        log_(QStringLiteral("%1 %2 \"%3\" %4 %5")
                 .arg(QDateTime::currentDateTime().toString(Qt::ISODate), peer, printable(requestLine),
                      answer.sent ? QString::number(answer.status) : QStringLiteral("-"))
                 .arg(answer.bodyBytes));
        // Let the client read the answer before the connection goes: stop
        // sending, then take what it still sends for a little while.
        socket.ShutdownWrite();
        std::vector<char> scratch(BlockBytes);
        qint64 drained = 0;
        while (!stopping_ && drained <= options_.maxUploadBytes && socket.WaitReadable(LingerMs) == 1) {
            const qint64 n = socket.Receive(scratch.data(), BlockBytes);
            if (n <= 0) break;
            drained += n;
        }
    };

    if (!reader.ReadLine(requestLine, tooLong)) {
        if (tooLong) answer = respondStatus(socket, 414);
        if (tooLong || !requestLine.isEmpty()) finish();
        return;
    }
    HttpHeaders headers;
    for (int lines = 0;; ++lines) {
        QByteArray line;
        if (!reader.ReadLine(line, tooLong) || lines > MaxHeaderLines) {
            if (tooLong || lines > MaxHeaderLines) answer = respondStatus(socket, 431);
            finish();
            return;
        }
        if (line.isEmpty()) break;
        headers.AddLine(line);
    }

    const QList<QByteArray> fields = requestLine.split(' ');
    if (fields.size() != 3 || !fields.at(2).startsWith("HTTP/1.")) {
        answer = respondStatus(socket, 400);
        finish();
        return;
    }
    const QByteArray& method = fields.at(0);
    const QByteArray& target = fields.at(1);
    const qsizetype question = target.indexOf('?');
    const QByteArray path = question >= 0 ? target.left(question) : target;
    const QByteArray query = question >= 0 ? target.mid(question + 1) : QByteArray();
    const QByteArray prefix = "/Zuvavivevo/";
    const QByteArray downloadPrefix = prefix + "Replicacao/";

    QByteArray id;
    enum class Page { Upload, Download, Removal, None } page = Page::None;
    if (path == prefix + "Upload.aspx") {
        page = Page::Upload;
        id = queryValue(query, "guid");
    } else if (path == prefix + "Remover.aspx") {
        page = Page::Removal;
        id = queryValue(query, "guid");
    } else if (path.startsWith(downloadPrefix) && path.endsWith(".zip")) {
        page = Page::Download;
        id = QByteArray::fromPercentEncoding(path.mid(downloadPrefix.size(), path.size() - downloadPrefix.size() - 4));
    }

    if (page == Page::None) {
        answer = respondStatus(socket, 404);
    } else if ((page == Page::Upload) != (method == "POST") || (page != Page::Upload && method != "GET")) {
        answer = respondStatus(socket, 405);
    } else if (!IsSafeClientId(id)) {
        answer = respondStatus(socket, 400);
    } else {
        const QString archive = archiveFolder_ + QLatin1Char('/') + QString::fromLatin1(id) + QStringLiteral(".zip");
        if (page == Page::Download) {
            HostFile file = HostFile::openRead(archive, ShareMode::All);
            const qint64 size = file.isOpen() ? file.size() : -1;
            if (size < 0) {
                answer = respondStatus(socket, 404);
            } else {
                const QByteArray head = responseHead(200, size, "application/zip");
                answer = {200, 0, socket.SendAll(head.constData(), head.size())};
                std::vector<char> block(BlockBytes);
                while (answer.sent && answer.bodyBytes < size) {
                    const qint64 n = file.read(block.data(), std::min<qint64>(BlockBytes, size - answer.bodyBytes));
                    if (n <= 0 || !socket.SendAll(block.data(), n)) break;  // the client sees a short body
                    answer.bodyBytes += n;
                }
            }
        } else if (page == Page::Removal) {
            std::error_code ec;
            std::filesystem::remove(hostfs::encodeName(archive).toStdString(), ec);
            answer = respond(socket, 200, ec ? "FALSE" : "TRUE");
        } else {
            answer = receiveUpload(socket, reader, headers, archive, options_.maxUploadBytes);
        }
    }
    finish();
}

}  // namespace vz
