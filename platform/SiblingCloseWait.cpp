#include "platform/SiblingCloseWait.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace vz {

SiblingCloseWait::SiblingCloseWait(SiblingProgram& sibling, RunFrame& frame, const Clock& clock, RunPage page,
                                   Pause pause)
    : sibling_(sibling), frame_(frame), clock_(clock), page_(page), pause_(std::move(pause))
{
    if (!pause_)
        pause_ = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
}

bool SiblingCloseWait::Wait()
{
    constexpr double MsPerDay = 86400000.0;
    constexpr int SlicesPerPoll = PollIntervalMs / SliceMs;
    qint64 waitedMs = 0;
    Timestamp last = clock_.now();
    bool shown = false;
    for (int slice = 0;; ++slice) {
        // The looks are counted in slices, so that they go on even when the
        // clock stands still; one more is taken at the limit.
        const bool limitReached = waitedMs >= LimitMs;
        if (slice % SlicesPerPoll == 0 || limitReached) {
            if (!sibling_.SiblingIsRunning())
                return true;
            if (!shown) {
                frame_.SetPageProgressText(page_, WaitingText);
                shown = true;
            }
        }
        if (limitReached)
            return false;
        frame_.ProcessPendingMessages();
        pause_(SliceMs);
        // Only forward steps count: a clock set back (the end of summer
        // time) must not make the wait an hour longer. The clock gives
        // milliseconds; rounding keeps the sum free of the day fraction's error.
        const Timestamp now = clock_.now();
        if (now > last)
            waitedMs += std::llround((now - last) * MsPerDay);
        last = now;
    }
}

}  // namespace vz
