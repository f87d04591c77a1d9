#include "export/CategoryMoment.h"

#include <algorithm>

namespace vz {

namespace {

constexpr Timestamp OneMs = 1.0 / 86400000.0;
constexpr Timestamp TwoSeconds = 2.0 / 86400.0;

}  // namespace

Timestamp CategoryMoment::Next(Timestamp walkStart, Timestamp oldThreshold, const std::vector<CopyFailure>& failures,
                               size_t from)
{
    Timestamp fatStart = RoundToFat(walkStart);
    if (fatStart > walkStart)  // before 1980 the FAT form clamps upwards
        fatStart = walkStart - TwoSeconds;
    Timestamp moment = fatStart - OneMs;
    for (size_t i = from; i < failures.size(); ++i) {
        const CopyFailure& failure = failures[i];
        moment = std::min(moment, failure.modified ? *failure.modified - OneMs : oldThreshold);
    }
    return std::max(moment, oldThreshold);
}

}  // namespace vz
