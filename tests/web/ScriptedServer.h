#pragma once
// A test server on 127.0.0.1 (any free port) that plays canned byte streams:
// each accepted connection runs the next script, a list of actions (read one
// request, send bytes, wait for a condition, close). After its last action a
// connection stays open until the client closes it.

#include "platform/Socket.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace vz::test {

struct ServerAction {
    enum Kind { ReadRequest, Send, WaitUntil, Close, Stream, Drip } kind;
    QByteArray bytes;
    std::function<bool()> condition;
    qint64 budgetBytes = 0;  // Stream: how much to send at most
    int pauseMs = 0;         // Drip: the pause after each byte
};

inline ServerAction ReadRequest() { return {ServerAction::ReadRequest, {}, {}}; }
inline ServerAction Send(const QByteArray& bytes) { return {ServerAction::Send, bytes, {}}; }
inline ServerAction WaitUntil(std::function<bool()> condition) { return {ServerAction::WaitUntil, {}, std::move(condition)}; }
inline ServerAction Close() { return {ServerAction::Close, {}, {}}; }
// Sends `pattern` over and over, up to budgetBytes, as fast as the client
// takes it; stops early when the client has gone. A hostile server's endless
// stream, made finite so that a client without bounds still ends.
inline ServerAction Stream(const QByteArray& pattern, qint64 budgetBytes) {
    return {ServerAction::Stream, pattern, {}, budgetBytes, 0};
}
// Sends the bytes one at a time with a pause after each; stops early when
// the client has gone.
inline ServerAction Drip(const QByteArray& bytes, int pauseMs) { return {ServerAction::Drip, bytes, {}, 0, pauseMs}; }

class ScriptedServer {
public:
    ScriptedServer();
    ~ScriptedServer();

    quint16 port() const { return port_; }
    // "http://127.0.0.1:PORT" + path.
    QString url(const QString& path) const;

    // The script of the next connection to be accepted.
    void AddConnection(std::vector<ServerAction> actions);
    // One connection that reads a request and answers with `response`.
    void AddReply(const QByteArray& response, bool closeAfter = false);

    // Requests received so far (head and body), in order.
    std::vector<QByteArray> requests() const;
    int connectionsAccepted() const { return accepted_; }
    // Bytes the Stream and Drip actions of all connections got into the
    // socket so far (the client may not have read them all).
    qint64 bytesStreamed() const { return streamed_; }
    // Blocks (generously limited) until n requests have arrived.
    bool WaitForRequests(size_t n) const;

private:
    void Serve(Socket& socket, std::vector<ServerAction> actions);

    Socket listener_;
    quint16 port_ = 0;
    std::thread acceptor_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::atomic<qint64> streamed_{0};
    mutable std::mutex mutex_;
    std::vector<std::vector<ServerAction>> scripts_;
    std::vector<QByteArray> requests_;
    std::list<Socket> sockets_;
    std::list<std::thread> threads_;
};

}  // namespace vz::test
