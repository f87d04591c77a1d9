#include "tools/replication-service/ClientConnection.h"

#include <sys/socket.h>

namespace vz {

namespace {
qint64 millisecondsBetween(ClientConnection::Clock::time_point from, ClientConnection::Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}
}  // namespace

ClientConnection::ClientConnection(int socket, QString peer, Clock::time_point now)
    : socket_(socket), peer_(std::move(peer)), started_(now) {}

void ClientConnection::HeadComplete(Clock::time_point now) {
    stage_ = Stage::Receiving;
    windowStart_ = now;
    windowBytes_ = 0;
}

void ClientConnection::Drain(Clock::time_point now, int timeoutMs) {
    stage_ = Stage::Draining;
    drainDeadline_ = now + std::chrono::milliseconds(timeoutMs);
}

void ClientConnection::Answer(bool streamed, Clock::time_point now) {
    stage_ = streamed ? Stage::Streaming : Stage::Answering;
    lastSent_ = now;
}

QString ClientConnection::Overstep(Clock::time_point now, const ConnectionLimits& limits) {
    if (cut_) return QString();
    switch (stage_) {
    case Stage::Head:
        // One deadline for the whole head: a client that sends a byte now
        // and then gains nothing by it.
        if (millisecondsBetween(started_, now) >= limits.headTimeoutMs)
            return QStringLiteral("request head not complete within %1 ms").arg(limits.headTimeoutMs);
        break;
    case Stage::Receiving: {
        if (limits.minUploadBytesPerSecond <= 0) break;
        const qint64 elapsedMs = millisecondsBetween(windowStart_, now);
        if (elapsedMs < limits.rateWindowMs) break;
        // Each window on its own, so a fast start does not pay for a drip later.
        if (windowBytes_ < limits.minUploadBytesPerSecond * elapsedMs / 1000)
            return QStringLiteral("upload slower than %1 bytes/s").arg(limits.minUploadBytesPerSecond);
        windowStart_ = now;
        windowBytes_ = 0;
        break;
    }
    case Stage::Draining:
        if (now >= drainDeadline_) return QStringLiteral("refused body still arriving after %1 ms").arg(limits.drainTimeoutMs);
        break;
    case Stage::Streaming:
        if (millisecondsBetween(lastSent_, now) >= limits.sendTimeoutMs)
            return QStringLiteral("answer not taken for %1 ms").arg(limits.sendTimeoutMs);
        break;
    case Stage::Answering:
        break;
    }
    return QString();
}

void ClientConnection::Cut() {
    if (cut_ || socket_ < 0) return;
    cut_ = true;
    ::shutdown(socket_, SHUT_RDWR);
}

}  // namespace vz
