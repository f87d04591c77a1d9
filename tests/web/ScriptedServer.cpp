#include "tests/web/ScriptedServer.h"

#include <QList>

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>

namespace vz::test {

namespace {
constexpr int GenerousLimitMs = 30000;
}

ScriptedServer::ScriptedServer() {
    quint32 loopback = 0;
    Socket::ResolveIPv4(QStringLiteral("127.0.0.1"), loopback);
    if (!listener_.Listen(loopback, 0, 16)) ADD_FAILURE() << "listen failed: " << listener_.lastError();
    port_ = listener_.LocalPort();
    acceptor_ = std::thread([this] {
        for (;;) {
            Socket client = listener_.Accept();
            if (stopping_) return;
            if (!client.IsOpen()) continue;  // a connection aborted before it was taken
            std::lock_guard lock(mutex_);
            const size_t index = size_t(accepted_++);
            std::vector<ServerAction> script = index < scripts_.size() ? scripts_[index] : std::vector<ServerAction>{Close()};
            sockets_.push_back(std::move(client));
            Socket& socket = sockets_.back();
            threads_.emplace_back([this, &socket, script] {
                Serve(socket, script);
                // However the script ended, the client sees the end of the stream.
                socket.Abort();
            });
        }
    });
}

ScriptedServer::~ScriptedServer() {
    stopping_ = true;
    listener_.Abort();
    acceptor_.join();
    {
        std::lock_guard lock(mutex_);
        for (Socket& s : sockets_) s.Abort();
    }
    // Joined without the lock: a connection may still be recording a request.
    for (std::thread& t : threads_) t.join();
}

QString ScriptedServer::url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port_) + path;
}

void ScriptedServer::AddConnection(std::vector<ServerAction> actions) {
    std::lock_guard lock(mutex_);
    scripts_.push_back(std::move(actions));
}

void ScriptedServer::AddReply(const QByteArray& response, bool closeAfter) {
    std::vector<ServerAction> actions{ReadRequest(), Send(response)};
    if (closeAfter) actions.push_back(Close());
    AddConnection(std::move(actions));
}

std::vector<QByteArray> ScriptedServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool ScriptedServer::WaitForRequests(size_t n) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(GenerousLimitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (requests().size() >= n) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void ScriptedServer::Serve(Socket& socket, std::vector<ServerAction> actions) {
    QByteArray pending;
    const auto receive = [&]() {
        char block[65536];
        if (socket.WaitReadable(GenerousLimitMs) != 1) return false;
        const qint64 n = socket.Receive(block, sizeof block);
        if (n <= 0) return false;
        pending.append(block, n);
        return true;
    };
    for (const ServerAction& action : actions) {
        if (stopping_) return;
        switch (action.kind) {
        case ServerAction::ReadRequest: {
            qsizetype end;
            while ((end = pending.indexOf("\r\n\r\n")) < 0)
                if (!receive()) return;
            qint64 length = 0;
            for (const QByteArray& line : pending.left(end).split('\n'))
                if (line.toLower().startsWith("content-length:")) length = line.mid(15).trimmed().toLongLong();
            const qint64 total = end + 4 + length;
            bool complete = true;
            while (pending.size() < total && complete) complete = receive();
            std::lock_guard lock(mutex_);
            requests_.push_back(pending.left(total));
            pending.remove(0, total);
            if (!complete) return;
            break;
        }
        case ServerAction::Send:
            socket.SendAll(action.bytes.constData(), action.bytes.size());
            break;
        case ServerAction::WaitUntil: {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(GenerousLimitMs);
            while (!action.condition() && !stopping_ && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            break;
        }
        case ServerAction::Close:
            socket.Abort();
            return;
        case ServerAction::Stream: {
            if (action.bytes.isEmpty()) break;
            QByteArray block;
            while (block.size() < 65536) block += action.bytes;
            for (qint64 left = action.budgetBytes; left > 0 && !stopping_;) {
                const qint64 n = std::min<qint64>(left, block.size());
                if (!socket.SendAll(block.constData(), n)) return;  // the client has gone
                streamed_ += n;
                left -= n;
            }
            break;
        }
        case ServerAction::Drip:
            for (const char c : action.bytes) {
                if (stopping_ || !socket.SendAll(&c, 1)) return;
                ++streamed_;
                std::this_thread::sleep_for(std::chrono::milliseconds(action.pauseMs));
            }
            break;
        }
    }
    // Stay open until the client closes.
    char block[4096];
    while (!stopping_ && socket.WaitReadable(GenerousLimitMs) == 1 && socket.Receive(block, sizeof block) > 0) {
    }
}

}  // namespace vz::test
