#pragma once
// A reference replication web service: keeps one archive per client
// identifier under <root>/Replicacao/ and speaks the three exchanges of the
// program (upload page, download path, removal page) over HTTP/1.x, one
// request per connection, one thread per connection.

#include "platform/Socket.h"

#include <QString>
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace vz {

struct ReplicationServerOptions {
    QString address = QStringLiteral("127.0.0.1");
    quint16 port = 8077;  // 0: any free port
    QString root = QStringLiteral("./replication-data");
    qint64 maxUploadBytes = qint64(2) << 30;
    int idleTimeoutMs = 60000;  // a client silent this long is dropped
    int maxConnections = 64;
};

class ReplicationServer {
public:
    using Log = std::function<void(const QString& line)>;
    ReplicationServer(ReplicationServerOptions options, Log log);
    ~ReplicationServer();

    // Creates the archive folder and starts listening; false with a message.
    bool Start(QString& error);
    quint16 Port() const { return port_; }
    // Accepts connections until Stop.
    void Run();
    // From any thread: stops accepting, ends the connections and waits for them.
    void Stop();

    // An identifier that can name a file: printable ASCII without path,
    // drive, wildcard or quote characters, not starting with "." or a blank.
    static bool IsSafeClientId(const QByteArray& id);

private:
    struct Connection;
    void Serve(Connection& connection);
    void ReapFinished();

    ReplicationServerOptions options_;
    Log log_;
    QString archiveFolder_;
    Socket listener_;
    quint16 port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::list<std::unique_ptr<Connection>> connections_;
};

}  // namespace vz
