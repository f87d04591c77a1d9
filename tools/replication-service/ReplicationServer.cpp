#include "tools/replication-service/ReplicationServer.h"

#include "platform/FileSystem.h"
#include "platform/HostFile.h"
#include "platform/Socket.h"
#include "tools/replication-service/MultipartReader.h"
#include "tools/replication-service/RequestRoute.h"
#include "tools/replication-service/UploadReceiver.h"
#include "web/HttpHeaders.h"

#include <QDateTime>
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <microhttpd.h>
#include <netinet/in.h>
#include <vector>

namespace vz {

namespace {

using Clock = ClientConnection::Clock;

constexpr size_t BlockBytes = 65536;
// Room for the request head and the read buffer of one connection: the
// library refuses a head that does not fit.
constexpr size_t ConnectionMemoryBytes = 65536;
// How often Run checks the limits.
constexpr auto Tick = std::chrono::milliseconds(100);
constexpr qsizetype MaxBoundaryBytes = 200;

const char* const TextType = "text/plain; charset=windows-1252";

QByteArray reasonOf(int status) {
    const char* reason = MHD_get_reason_phrase_for(unsigned(status));
    return reason && *reason ? QByteArray(reason) : QByteArray("Error");
}

QString printable(const QByteArray& bytes) {
    QByteArray out = bytes;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
    return QString::fromLatin1(out);
}

QByteArray headerValue(MHD_Connection* connection, const char* name) {
    return QByteArray(MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name));
}

// The "Content-Length" value when it is a decimal number, else -1.
qint64 contentLengthOf(MHD_Connection* connection) {
    const QByteArray text = headerValue(connection, MHD_HTTP_HEADER_CONTENT_LENGTH).trimmed();
    if (text.isEmpty() || text.size() > 18) return -1;
    for (const char c : text)
        if (c < '0' || c > '9') return -1;
    return text.toLongLong();
}

QString terminationText(int termination) {
    switch (termination) {
    case MHD_REQUEST_TERMINATED_COMPLETED_OK: return QString();
    case MHD_REQUEST_TERMINATED_TIMEOUT_REACHED: return QStringLiteral("connection silent too long");
    case MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN: return QStringLiteral("service stopping");
    case MHD_REQUEST_TERMINATED_READ_ERROR:
    case MHD_REQUEST_TERMINATED_CLIENT_ABORT: return QStringLiteral("client went away");
    default: return QStringLiteral("connection failed");
    }
}

}  // namespace

// What the service knows of one connection and its request.
struct ReplicationServer::Client {
    Client(int socket, QString peer) : watch(socket, std::move(peer), Clock::now()) {}
    ClientConnection watch;
    QByteArray uri;          // the request target exactly as received
    QByteArray requestText;  // method, target and version, for the log
    bool presented = false;  // the library has handed the request over
    qint64 contentLength = -1;
    qint64 received = 0;
    std::unique_ptr<UploadReceiver> upload;
    bool refused = false;  // the refusal is sent once the body is in
    int refusalStatus = 0;
    QByteArray refusalBody;
    int status = 0;  // of the answer queued
    qint64 answerBytes = 0;
    QString note;  // why the exchange ended otherwise than with its answer
};

namespace {

// An archive sent in blocks; each block handed out counts as progress.
struct ArchiveSource {
    HostFile file;
    std::shared_ptr<ReplicationServer::Client> client;
    std::recursive_mutex* mutex;
};

ssize_t readArchive(void* cls, uint64_t position, char* buffer, size_t maxBytes) {
    auto* source = static_cast<ArchiveSource*>(cls);
    const qint64 n = source->file.readAt(buffer, qint64(maxBytes), qint64(position));
    // A file that shrank or cannot be read ends the connection: the client
    // sees a body shorter than announced.
    if (n <= 0) return MHD_CONTENT_READER_END_WITH_ERROR;
    std::lock_guard lock(*source->mutex);
    source->client->answerBytes = qint64(position) + n;
    source->client->watch.Sent(Clock::now());
    return ssize_t(n);
}

void freeArchive(void* cls) { delete static_cast<ArchiveSource*>(cls); }

}  // namespace

// The library's C callbacks, passed on to the server given as their closure.
struct ServerCallbacks {
    static ReplicationServer::Client* clientOf(MHD_Connection* connection) {
        const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return info ? static_cast<ReplicationServer::Client*>(info->socket_context) : nullptr;
    }
    static void notifyConnection(void* cls, MHD_Connection* connection, void** socketContext,
                                 MHD_ConnectionNotificationCode code) {
        auto* server = static_cast<ReplicationServer*>(cls);
        std::lock_guard lock(server->mutex_);
        if (code == MHD_CONNECTION_NOTIFY_STARTED)
            server->ConnectionStarted(connection, socketContext);
        else
            server->ConnectionClosed(*socketContext);
    }
    static void* uriLog(void* cls, const char* uri, MHD_Connection* connection) {
        auto* server = static_cast<ReplicationServer*>(cls);
        std::lock_guard lock(server->mutex_);
        return server->RequestLineRead(connection, uri);
    }
    static MHD_Result access(void* cls, MHD_Connection* connection, const char*, const char* method,
                             const char* version, const char* data, size_t* size, void**) {
        auto* server = static_cast<ReplicationServer*>(cls);
        std::lock_guard lock(server->mutex_);
        ReplicationServer::Client* client = clientOf(connection);
        if (!client) return MHD_NO;
        return server->Request(connection, *client, method, version, data, size) ? MHD_YES : MHD_NO;
    }
    static void completed(void* cls, MHD_Connection* connection, void** requestContext,
                          MHD_RequestTerminationCode termination) {
        auto* server = static_cast<ReplicationServer*>(cls);
        std::lock_guard lock(server->mutex_);
        server->RequestCompleted(connection, *requestContext, int(termination));
    }
    __attribute__((format(printf, 2, 0))) static void logger(void* cls, const char* format, va_list arguments) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        static_cast<ReplicationServer*>(cls)->LibraryMessage(QString::fromLocal8Bit(text).trimmed());
    }
};

ReplicationServer::ReplicationServer(ReplicationServerOptions options, Log log)
    : options_(std::move(options)), log_(std::move(log)) {}

ReplicationServer::~ReplicationServer() {
    if (daemon_) MHD_stop_daemon(daemon_);
}

bool ReplicationServer::IsSafeClientId(const QByteArray& id) { return RequestRoute::IsSafeClientId(id); }

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
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(options_.port);
    where.sin_addr.s_addr = address;

    const ConnectionLimits& limits = options_.limits;
    // The library's own limit on a silent connection backs up the service's
    // finer ones; it counts whole seconds.
    const int longestMs = std::max({limits.headTimeoutMs, limits.rateWindowMs, limits.sendTimeoutMs,
                                    limits.drainTimeoutMs, 1000});
    const auto silentSeconds = unsigned((longestMs + 999) / 1000 + 1);
    // Built as a list so that more (the certificate and key of HTTPS) can be added.
    std::vector<MHD_OptionItem> items{
        // First, so that every message of the library comes through it.
        {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&ServerCallbacks::logger), this},
        {MHD_OPTION_SOCK_ADDR, 0, &where},
        {MHD_OPTION_CONNECTION_LIMIT, intptr_t(std::max(limits.maxConnections, 1)), nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, intptr_t(std::max(limits.maxConnectionsPerAddress, 0)), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, intptr_t(silentSeconds), nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, intptr_t(ConnectionMemoryBytes), nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&ServerCallbacks::notifyConnection), this},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&ServerCallbacks::completed), this},
        {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&ServerCallbacks::uriLog), this},
    };
    const bool tls = !options_.tlsCertificatePem.isEmpty() || !options_.tlsKeyPem.isEmpty();
    if (tls) {
        // The texts stay in options_ for as long as the daemon runs.
        items.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(options_.tlsKeyPem.constData())});
        items.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(options_.tlsCertificatePem.constData())});
    }
    items.push_back({MHD_OPTION_END, 0, nullptr});
    // The library's own thread waits for the sockets: it stops accepting
    // while descriptors or connections are out and starts again when
    // connections close. With poll: its epoll mode (0.9.75) at times never
    // accepts again after that. The inter-thread channel lets the stop
    // wake it whatever it waits for.
    const unsigned flags = MHD_USE_POLL_INTERNAL_THREAD | MHD_USE_ITC | MHD_USE_ERROR_LOG | (tls ? MHD_USE_TLS : 0);
    daemon_ = MHD_start_daemon(flags, options_.port, nullptr, nullptr, &ServerCallbacks::access, this, MHD_OPTION_ARRAY,
                               items.data(), MHD_OPTION_END);
    if (!daemon_) {
        std::lock_guard lock(messageMutex_);
        // One arg() call: none of the texts is read again for place markers.
        error = QStringLiteral("cannot listen on %1:%2: %3")
                    .arg(options_.address, QString::number(options_.port),
                         libraryMessage_.isEmpty() ? QStringLiteral("the HTTP library refused to start") : libraryMessage_);
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    port_ = info ? info->port : options_.port;
    return true;
}

void ReplicationServer::Run() {
    if (!daemon_) return;
    {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            wake_.wait_for(lock, Tick);
            CheckLimits();
        }
    }
    // Ends every connection (uploads in progress leave no temporary file);
    // the library's callbacks take the lock, so it is not held here.
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
}

void ReplicationServer::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
}

// With the lock held: a connection cannot close, and its socket cannot be
// reused, while it is being cut.
void ReplicationServer::CheckLimits() {
    const Clock::time_point now = Clock::now();
    for (auto& [key, client] : clients_) {
        const QString why = client->watch.Overstep(now, options_.limits);
        if (why.isEmpty()) continue;
        client->note = why;
        client->watch.Cut();
    }
}

void ReplicationServer::ConnectionStarted(MHD_Connection* connection, void** socketContext) {
    const MHD_ConnectionInfo* fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    const MHD_ConnectionInfo* address = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    QString peer = QStringLiteral("?");
    if (address && address->client_addr && address->client_addr->sa_family == AF_INET) {
        char text[INET_ADDRSTRLEN] = {};
        const auto* in = reinterpret_cast<const sockaddr_in*>(address->client_addr);
        if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) peer = QString::fromLatin1(text);
    }
    auto client = std::make_shared<Client>(fd ? fd->connect_fd : -1, peer);
    *socketContext = client.get();
    clients_.emplace(client.get(), std::move(client));
}

void ReplicationServer::ConnectionClosed(void* socketContext) {
    auto* client = static_cast<Client*>(socketContext);
    const auto it = clients_.find(client);
    if (it == clients_.end()) return;
    // The library closes the socket only after this: a cut, under the same
    // lock, never reaches a descriptor that another connection got since.
    client->watch.Closed();
    client->upload.reset();
    // A connection that sent nothing and was not cut leaves no line.
    if (!client->uri.isEmpty() || !client->note.isEmpty()) WriteLog(*client);
    // An archive still being sent holds on to the client until the library lets it go.
    clients_.erase(it);
}

void* ReplicationServer::RequestLineRead(MHD_Connection* connection, const char* uri) {
    Client* client = ServerCallbacks::clientOf(connection);
    if (client) client->uri = QByteArray(uri);
    return client;
}

void ReplicationServer::RequestCompleted(MHD_Connection*, void* requestContext, int termination) {
    auto* client = static_cast<Client*>(requestContext);
    if (!client || !clients_.count(client)) return;
    if (client->note.isEmpty()) client->note = terminationText(termination);
    // A body that did not arrive whole leaves nothing behind.
    client->upload.reset();
}

// Without the service's lock: the library may report from inside any call.
void ReplicationServer::LibraryMessage(const QString& text) {
    {
        std::lock_guard lock(messageMutex_);
        libraryMessage_ = text;
    }
    log_(QStringLiteral("libmicrohttpd: ") + text);
}

void ReplicationServer::WriteLog(const Client& client) {
    // Built by concatenation: request text holds "%" signs of its own.
    const QByteArray request = client.presented ? client.requestText : client.uri;
    QString line = QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char(' ') + client.watch.peer() +
                   QStringLiteral(" \"") + printable(request) + QStringLiteral("\" ") +
                   (client.status ? QString::number(client.status) : QStringLiteral("-")) + QLatin1Char(' ') +
                   QString::number(client.answerBytes);
    if (!client.note.isEmpty()) line += QStringLiteral(" (") + client.note + QLatin1Char(')');
    log_(line);
}

int ReplicationServer::Request(MHD_Connection* connection, Client& client, const char* method, const char* version,
                               const char* data, size_t* size) {
    if (!client.presented) {
        client.presented = true;
        client.requestText = QByteArray(method) + ' ' + client.uri + ' ' + QByteArray(version);
        client.watch.HeadComplete(Clock::now());
        return BeginRequest(connection, client, QByteArray(method));
    }
    if (*size > 0) return ReceiveBody(client, data, size);

    // The whole body is in.
    if (client.refused) return Answer(connection, client, client.refusalStatus, client.refusalBody);
    if (!client.upload) return false;
    const UploadReceiver::Outcome outcome = client.upload->Finish();
    client.upload.reset();
    switch (outcome) {
    case UploadReceiver::Outcome::Stored: return Answer(connection, client, MHD_HTTP_OK, "TRUE");
    case UploadReceiver::Outcome::Malformed: return Answer(connection, client, MHD_HTTP_BAD_REQUEST, reasonOf(400));
    case UploadReceiver::Outcome::NotStored: break;
    }
    return Answer(connection, client, MHD_HTTP_OK, "FALSE");
}

int ReplicationServer::BeginRequest(MHD_Connection* connection, Client& client, const QByteArray& method) {
    const RequestRoute route = RequestRoute::Of(method, client.uri);
    if (route.refusal) return Refuse(connection, client, route.refusal, reasonOf(route.refusal));

    const QString archive = archiveFolder_ + QLatin1Char('/') + QString::fromLatin1(route.clientId) + QStringLiteral(".zip");
    if (route.page == RequestRoute::Page::Download) return SendArchive(connection, client, archive);
    if (route.page == RequestRoute::Page::Removal) {
        std::error_code ec;
        std::filesystem::remove(hostfs::encodeName(archive).toStdString(), ec);
        return Answer(connection, client, MHD_HTTP_OK, ec ? "FALSE" : "TRUE");
    }

    const qint64 length = contentLengthOf(connection);
    if (!headerValue(connection, MHD_HTTP_HEADER_TRANSFER_ENCODING).isEmpty() || length < 0)
        return Refuse(connection, client, MHD_HTTP_LENGTH_REQUIRED, reasonOf(411));
    client.contentLength = length;
    if (length > options_.maxUploadBytes) return Refuse(connection, client, MHD_HTTP_CONTENT_TOO_LARGE, reasonOf(413));
    const QByteArray contentType = headerValue(connection, MHD_HTTP_HEADER_CONTENT_TYPE);
    const QByteArray boundary = MultipartReader::BoundaryOf(contentType);
    if (!contentType.toLower().startsWith("multipart/form-data") || boundary.isEmpty() ||
        boundary.size() > MaxBoundaryBytes)
        return Refuse(connection, client, MHD_HTTP_BAD_REQUEST, reasonOf(400));
    // Not answering yet: the library asks a client that waits for
    // "100 Continue" to send its body.
    client.upload = std::make_unique<UploadReceiver>(archive, boundary);
    return true;
}

int ReplicationServer::ReceiveBody(Client& client, const char* data, size_t* size) {
    const auto bytes = qint64(*size);
    *size = 0;
    client.received += bytes;
    client.watch.Received(bytes);
    if (client.refused || !client.upload) return true;  // thrown away
    switch (client.upload->Feed(data, bytes)) {
    case UploadReceiver::State::Receiving: return true;
    case UploadReceiver::State::Malformed:
        return RefuseDuringBody(client, MHD_HTTP_BAD_REQUEST, reasonOf(400), QStringLiteral("malformed upload"));
    case UploadReceiver::State::NotStored: break;
    }
    return RefuseDuringBody(client, MHD_HTTP_OK, "FALSE", QStringLiteral("upload could not be stored"));
}

int ReplicationServer::Refuse(MHD_Connection* connection, Client& client, int status, const QByteArray& body) {
    // A short body is read and thrown away first, so that a client that
    // sends it without waiting sees the answer rather than a reset; a long
    // one, or one the client waits to be asked for, is not read at all and
    // the library closes the connection after the answer.
    const qint64 length = contentLengthOf(connection);
    const bool waitsToBeAsked = HttpHeaders::IsToken(headerValue(connection, MHD_HTTP_HEADER_EXPECT), "100-continue");
    const bool chunked = !headerValue(connection, MHD_HTTP_HEADER_TRANSFER_ENCODING).isEmpty();
    if (length > 0 && length <= options_.limits.drainBytes && !waitsToBeAsked && !chunked) {
        client.contentLength = length;
        client.refused = true;
        client.refusalStatus = status;
        client.refusalBody = body;
        client.watch.Drain(Clock::now(), options_.limits.drainTimeoutMs);
        return true;
    }
    return Answer(connection, client, status, body);
}

int ReplicationServer::RefuseDuringBody(Client& client, int status, const QByteArray& body, const QString& why) {
    client.upload.reset();
    // The answer can only follow the whole body: read the rest when it is
    // short, else end the connection without one.
    if (client.contentLength - client.received > options_.limits.drainBytes) {
        client.note = why + QStringLiteral(", the rest of the body not read");
        return false;
    }
    client.refused = true;
    client.refusalStatus = status;
    client.refusalBody = body;
    client.watch.Drain(Clock::now(), options_.limits.drainTimeoutMs);
    return true;
}

int ReplicationServer::Answer(MHD_Connection* connection, Client& client, int status, const QByteArray& body) {
    MHD_Response* response =
        MHD_create_response_from_buffer(size_t(body.size()), const_cast<char*>(body.constData()), MHD_RESPMEM_MUST_COPY);
    if (!response) return false;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, TextType);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result queued = MHD_queue_response(connection, unsigned(status), response);
    MHD_destroy_response(response);
    client.status = status;
    client.answerBytes = body.size();
    client.watch.Answer(false, Clock::now());
    return queued == MHD_YES;
}

int ReplicationServer::SendArchive(MHD_Connection* connection, Client& client, const QString& archive) {
    HostFile file = HostFile::openRead(archive, ShareMode::All);
    const qint64 size = file.isOpen() ? file.size() : -1;
    if (size < 0) return Answer(connection, client, MHD_HTTP_NOT_FOUND, reasonOf(404));
    auto* source = new ArchiveSource{std::move(file), SharedClient(client), &mutex_};
    MHD_Response* response = MHD_create_response_from_callback(uint64_t(size), BlockBytes, &readArchive, source, &freeArchive);
    if (!response) {
        delete source;
        return false;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "application/zip");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    client.status = MHD_HTTP_OK;
    client.watch.Answer(true, Clock::now());
    return queued == MHD_YES;
}

}  // namespace vz
