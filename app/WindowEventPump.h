#pragma once
// ProcessPendingMessages for long runs on the user-interface thread. The copy
// engine calls it after every file, so a call costs one clock read unless
// a few milliseconds have passed since the last round of event handling:
// waiting events are then handled within that time, which the user cannot
// tell from at once, while a tree of many small files is not slowed down.

#include "platform/EventPump.h"

#include <QElapsedTimer>

namespace vz {

class WindowEventPump final : public EventPump {
public:
    static constexpr qint64 IntervalMs = 8;

    WindowEventPump();
    void ProcessPendingMessages() override;
    // Handles every waiting event now, whatever the interval.
    void processNow();

private:
    QElapsedTimer clock_;
    qint64 lastMs_ = -IntervalMs;
};

}  // namespace vz
