#pragma once
// One client connection as the service watches it: how far its request has
// come, and whether it keeps within the limits that stop slow or silent
// clients from holding a connection for long. The HTTP library reads and
// writes the socket; a connection that oversteps a limit is cut by shutting
// its socket down, which the library then sees as the client's end.

#include <QString>
#include <QtGlobal>
#include <chrono>

namespace vz {

struct ConnectionLimits {
    int headTimeoutMs = 15000;              // the whole request head, counted from the connection's start
    qint64 minUploadBytesPerSecond = 1024;  // 0: any rate
    int rateWindowMs = 15000;               // the upload rate is measured over windows this long
    int sendTimeoutMs = 30000;              // an answer that hands out no block for this long is dropped
    qint64 drainBytes = qint64(1) << 20;    // at most this much of a refused body is read, so the client sees the answer
    int drainTimeoutMs = 2000;              // and for at most this long
    int maxConnections = 256;
    int maxConnectionsPerAddress = 16;
};

class ClientConnection {
public:
    using Clock = std::chrono::steady_clock;
    enum class Stage {
        Head,       // the request head is arriving
        Receiving,  // an upload's body is arriving
        Draining,   // a refused body is read and thrown away before the answer
        Answering,  // an answer held in memory is being sent
        Streaming,  // an archive is being sent
    };

    ClientConnection(int socket, QString peer, Clock::time_point now);

    Stage stage() const { return stage_; }
    const QString& peer() const { return peer_; }
    bool cut() const { return cut_; }

    void HeadComplete(Clock::time_point now);
    void Received(qint64 bytes) { windowBytes_ += bytes; }
    void Drain(Clock::time_point now, int timeoutMs);
    void Answer(bool streamed, Clock::time_point now);
    void Sent(Clock::time_point now) { lastSent_ = now; }

    // Why the connection has overstepped a limit by `now`; empty while it
    // keeps within them. Starts the next rate window when one is over.
    QString Overstep(Clock::time_point now, const ConnectionLimits& limits);
    // Shuts the socket down; the library ends the connection on its next round.
    void Cut();
    // The library has closed the socket: it is no longer this connection's.
    void Closed() { socket_ = -1; }

private:
    int socket_;
    QString peer_;
    Stage stage_ = Stage::Head;
    bool cut_ = false;
    Clock::time_point started_;
    Clock::time_point windowStart_;
    qint64 windowBytes_ = 0;
    Clock::time_point drainDeadline_;
    Clock::time_point lastSent_;
};

}  // namespace vz
