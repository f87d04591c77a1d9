#pragma once
// What long-running code needs from the window: a way to let pending window
// events run. One place (the main window) pumps events; the rest calls it here.

namespace vz {

class EventPump {
public:
    virtual ~EventPump() = default;
    // Handles every window event that is waiting and returns when none is left.
    virtual void ProcessPendingMessages() = 0;
};

// For tools and tests that have no window.
class NoEventPump final : public EventPump {
public:
    void ProcessPendingMessages() override {}
};

}  // namespace vz
