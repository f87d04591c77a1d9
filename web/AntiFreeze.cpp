#include "web/AntiFreeze.h"

#include "platform/Socket.h"

#include <algorithm>
#include <chrono>
#include <future>

namespace vz {

AntiFreeze::AntiFreeze(EventPump& pump) : pump_(pump), uiThread_(std::this_thread::get_id()) {}

bool AntiFreeze::ActsHere() const { return Active && std::this_thread::get_id() == uiThread_; }

void AntiFreeze::Pump() {
    lastPump_ = std::chrono::steady_clock::now();
    pump_.ProcessPendingMessages();
}

// One wait; when it ends without data the window's events are handled.
int AntiFreeze::WaitSlice(Socket& socket, int timeoutMs) {
    const int rc = socket.WaitReadable(timeoutMs);
    if (rc == 0) Pump();
    return rc;
}

int AntiFreeze::WaitReadable(Socket& socket, int limitMs) {
    if (ActsHere() && std::chrono::steady_clock::now() - lastPump_ >= std::chrono::milliseconds(IdleTimeoutMs)) Pump();
    if (limitMs < 0) {
        for (;;) {
            if (!ActsHere()) return socket.WaitReadable(-1);
            const int rc = WaitSlice(socket, IdleTimeoutMs);
            if (rc != 0) return rc;
        }
    }
    if (!ActsHere()) return socket.WaitReadable(limitMs);
    if (limitMs <= IdleTimeoutMs) return WaitSlice(socket, limitMs);
    const int rc = WaitSlice(socket, limitMs - IdleTimeoutMs);
    if (rc != 0) return rc;
    if (!ActsHere()) return socket.WaitReadable(IdleTimeoutMs);
    return WaitSlice(socket, IdleTimeoutMs);
}

AntiFreeze::ConnectResult AntiFreeze::Connect(Socket& socket, quint32 address, quint16 port) {
    if (!ActsHere()) return socket.Connect(address, port) ? ConnectResult::Connected : ConnectResult::Failed;

    // The thread does nothing but the blocking connect.
    std::future<bool> connected = std::async(std::launch::async, [&socket, address, port] {
        return socket.Connect(address, port);
    });
    const int sliceMs = std::min(IdleTimeoutMs, 125);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ConnectTimeoutMs);
    // Shutting the socket down makes the blocked connect return.
    const auto abandon = [&] {
        socket.Abort();
        connected.wait();
    };
    while (connected.wait_for(std::chrono::milliseconds(sliceMs)) != std::future_status::ready) {
        try {
            if (ActsHere()) Pump();
        } catch (...) {
            abandon();  // a window handler's error must not leave the thread connecting
            throw;
        }
        if (std::chrono::steady_clock::now() >= deadline &&
            connected.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            abandon();
            return ConnectResult::TimedOut;
        }
    }
    return connected.get() ? ConnectResult::Connected : ConnectResult::Failed;
}

}  // namespace vz
