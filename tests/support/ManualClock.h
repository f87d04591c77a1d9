#pragma once
#include "platform/Clock.h"

namespace vz::test {

// A clock the test sets and advances by hand.
class ManualClock final : public Clock {
public:
    explicit ManualClock(Timestamp start = 46364.4482870370 /* 8 Dec 2026 10:45:32 */) : now_(start) {}
    Timestamp now() const override { return now_; }
    void set(Timestamp value) { now_ = value; }
    void advanceMs(double ms) { now_ += ms / 86400000.0; }

private:
    Timestamp now_;
};

}  // namespace vz::test
