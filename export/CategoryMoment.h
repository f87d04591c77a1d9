#pragma once
// The moment an export category's next export starts from, once this export
// has been delivered: files newer than it are carried next time.
//
// It is the moment the category's walk began, not its end, so a file
// written during the walk (in a folder already walked) is carried next time.
// Files compare in the 2-second FAT form, rounded down, so the moment is put
// just below the FAT form of that start: a file written in the same two
// seconds still counts as newer. A file of the category that could not be
// copied holds the moment back to just below its own time, and a folder
// whose walk was interrupted (its files unknown) to the old threshold, so
// the next export carries them. The moment never goes below the old threshold.

#include "platform/CopyFailure.h"
#include "platform/Timestamp.h"

#include <vector>

namespace vz {

class CategoryMoment {
public:
    // failures[from, end) are the category's.
    static Timestamp Next(Timestamp walkStart, Timestamp oldThreshold, const std::vector<CopyFailure>& failures,
                          size_t from = 0);
};

}  // namespace vz
