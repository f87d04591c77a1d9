#include "platform/Clock.h"

#include <ctime>

namespace vz {

Timestamp SystemClock::now() const
{
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return TimestampFromUnixMs(static_cast<qint64>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
}

}  // namespace vz
