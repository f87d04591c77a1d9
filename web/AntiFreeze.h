#pragma once
// Keeps the window handling its events while the HTTP client waits on the
// network: waits for data in IdleTimeoutMs slices that pump the window's
// events, and runs a connect in a short-lived thread of its own. It acts
// only while Active is on and only on the thread that created it (the
// user-interface thread); otherwise waits simply block.

#include "platform/EventPump.h"

#include <QtGlobal>

#include <chrono>
#include <thread>

namespace vz {

class Socket;

class AntiFreeze {
public:
    explicit AntiFreeze(EventPump& pump);

    // Off when the window is created; the transfer display switches it on at
    // the start of a transfer, the export and import switch it off again.
    // A change takes effect at the next wait.
    bool Active = false;
    int IdleTimeoutMs = 50;
    int ConnectTimeoutMs = 120000;

    // Whether waits on the calling thread pump now.
    bool ActsHere() const;
    void Pump();

    // Waits until the socket has data or the peer's close: 1; 0 when
    // limitMs passed without any (a negative limit waits without one); -1
    // when the wait itself failed (the error number is the socket's).
    // A wait that comes IdleTimeoutMs or more after the last pump pumps
    // first: a server that drips its bytes never lets a wait end empty.
    int WaitReadable(Socket& socket, int limitMs);

    enum class ConnectResult { Connected, Failed, TimedOut };
    // Connects the open socket. Failed leaves the error number in the socket.
    ConnectResult Connect(Socket& socket, quint32 address, quint16 port);

private:
    int WaitSlice(Socket& socket, int timeoutMs);

    EventPump& pump_;
    std::thread::id uiThread_;
    std::chrono::steady_clock::time_point lastPump_ = std::chrono::steady_clock::now();
};

}  // namespace vz
