#pragma once
// Now, injected wherever time matters so that tests control it.

#include "platform/Timestamp.h"

namespace vz {

class Clock {
public:
    virtual ~Clock() = default;
    // The current local date and time, to the millisecond.
    virtual Timestamp now() const = 0;
};

class SystemClock final : public Clock {
public:
    Timestamp now() const override;
};

}  // namespace vz
