#include "archive/EntryRanges.h"

#include <algorithm>

namespace vz {

void EntryRanges::add(qint64 begin, qint64 end, size_t entryIndex)
{
    ranges_.push_back(Range{begin, std::max(begin, end), entryIndex});
}

std::optional<size_t> EntryRanges::overlap() const
{
    std::vector<Range> sorted = ranges_;
    std::sort(sorted.begin(), sorted.end(),
              [](const Range& a, const Range& b) { return a.begin != b.begin ? a.begin < b.begin : a.entry < b.entry; });
    // Sorted by start, a range overlaps an earlier one exactly when it starts
    // before the furthest end seen so far.
    qint64 furthestEnd = 0;
    size_t furthestEntry = 0;
    bool any = false;
    for (const Range& r : sorted) {
        if (any && r.begin < furthestEnd)
            return std::max(r.entry, furthestEntry);
        if (!any || r.end > furthestEnd) {
            furthestEnd = r.end;
            furthestEntry = r.entry;
        }
        any = true;
    }
    return std::nullopt;
}

}  // namespace vz
