#pragma once
// ProcessPendingMessages for long runs on the user-interface thread. The copy
// engine calls it after every entry: every call handles every window event
// that is waiting, so the window answers at once during long copies. Whether
// anything waits is asked of a watch first, which costs a memory load, so
// that an idle call does not cost a round of the event loop.

#include "platform/EventPump.h"
#include "platform/WaitingEventsWatch.h"

#include <QtGlobal>
#include <memory>

namespace vz {

class WindowEventPump final : public EventPump {
public:
    // Watches the event loop when it runs on GLib (Qt's default on Linux);
    // otherwise every call runs a round of it.
    WindowEventPump();
    ~WindowEventPump() override;
    void ProcessPendingMessages() override;

    // Rounds of the event loop run so far, for tests and benchmarks.
    qint64 roundsRun() const { return rounds_; }
    bool watched() const { return watch_ && watch_->Usable(); }

private:
    std::unique_ptr<WaitingEventsWatch> watch_;
    qint64 rounds_ = 0;
};

}  // namespace vz
