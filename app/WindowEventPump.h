#pragma once
// ProcessPendingMessages for long runs on the user-interface thread. The copy
// engine calls it after every entry: every call handles every window event
// that is waiting, so the window answers at once during long copies.

#include "platform/EventPump.h"

namespace vz {

class WindowEventPump final : public EventPump {
public:
    void ProcessPendingMessages() override;
};

}  // namespace vz
