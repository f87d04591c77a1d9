#pragma once
// A file (or a folder) that a copy could not copy: what the runs count,
// name in their final text and log, and hold their timestamps back for.

#include "platform/Timestamp.h"

#include <QString>
#include <optional>

namespace vz {

struct CopyFailure {
    QString source;       // Windows path of what was to be copied
    QString destination;  // Windows path it was to be copied to
    int errorNumber = 0;  // errno from the platform layer; 0 when unknown
    // The file's modification time in the copy's 2-second FAT form; none for
    // a folder whose walk was interrupted (its files' times are unknown).
    std::optional<Timestamp> modified;
};

// Why, in the user's words: a Portuguese text for the usual reasons, the
// system's text for the rest.
QString CopyFailureReason(int errorNumber);

}  // namespace vz
