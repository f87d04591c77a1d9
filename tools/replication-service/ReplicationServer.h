#pragma once
// A reference replication web service: keeps one archive per client
// identifier under <root>/Replicacao/ and speaks the three exchanges of the
// program (upload page, download path, removal page) over HTTP/1.x, or
// HTTPS when given a certificate, one request per connection. libmicrohttpd carries the connections on a thread
// of its own with non-blocking sockets; the service adds the limits that
// keep slow, silent and hostile clients from holding connections or memory.

#include "tools/replication-service/ClientConnection.h"

#include <QString>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

struct MHD_Daemon;
struct MHD_Connection;

namespace vz {

struct ReplicationServerOptions {
    QString address = QStringLiteral("127.0.0.1");
    quint16 port = 8077;  // 0: any free port
    QString root = QStringLiteral("./replication-data");
    qint64 maxUploadBytes = qint64(2) << 30;
    ConnectionLimits limits;
    // PEM text of the certificate (chain) and its private key: with both the
    // service speaks HTTPS only (the library's TLS, GnuTLS), without them
    // plain HTTP.
    QByteArray tlsCertificatePem;
    QByteArray tlsKeyPem;
};

class ReplicationServer {
public:
    using Log = std::function<void(const QString& line)>;
    ReplicationServer(ReplicationServerOptions options, Log log);
    ~ReplicationServer();
    ReplicationServer(const ReplicationServer&) = delete;
    ReplicationServer& operator=(const ReplicationServer&) = delete;

    // Creates the archive folder and starts listening; false with a message.
    bool Start(QString& error);
    quint16 Port() const { return port_; }
    // Watches the connections' limits on the calling thread until Stop,
    // then ends every connection.
    void Run();
    // From any thread: Run returns within a fraction of a second.
    void Stop();

    // An identifier that can name a file: printable ASCII without path,
    // drive, wildcard or quote characters, not starting with "." or a blank.
    static bool IsSafeClientId(const QByteArray& id);

    struct Client;

private:
    // The library's callbacks, each on the thread that runs Run.
    void ConnectionStarted(MHD_Connection* connection, void** socketContext);
    void ConnectionClosed(void* socketContext);
    void* RequestLineRead(MHD_Connection* connection, const char* uri);
    int Request(MHD_Connection* connection, Client& client, const char* method, const char* version,
                const char* data, size_t* size);
    void RequestCompleted(MHD_Connection* connection, void* requestContext, int termination);
    void LibraryMessage(const QString& text);

    int BeginRequest(MHD_Connection* connection, Client& client, const QByteArray& method);
    int ReceiveBody(Client& client, const char* data, size_t* size);
    int Refuse(MHD_Connection* connection, Client& client, int status, const QByteArray& body);
    int RefuseDuringBody(Client& client, int status, const QByteArray& body, const QString& why);
    int Answer(MHD_Connection* connection, Client& client, int status, const QByteArray& body);
    int SendArchive(MHD_Connection* connection, Client& client, const QString& archive);
    void CheckLimits();
    void WriteLog(const Client& client);
    std::shared_ptr<Client> SharedClient(const Client& client) const { return clients_.at(&client); }

    ReplicationServerOptions options_;
    Log log_;
    QString archiveFolder_;
    MHD_Daemon* daemon_ = nullptr;
    quint16 port_ = 0;
    std::mutex messageMutex_;
    QString libraryMessage_;  // the last one, for Start's error

    // Taken by every callback of the library and by the limit checks, which
    // run on two threads. Recursive in case the library calls back from
    // inside a call the service makes while holding it.
    std::recursive_mutex mutex_;
    std::condition_variable_any wake_;
    bool stopping_ = false;
    std::unordered_map<const Client*, std::shared_ptr<Client>> clients_;

    friend struct ServerCallbacks;
};

}  // namespace vz
