#pragma once
// Joins a volume set into one plain archive before extraction: every
// entry's local header (rewritten from its central record) and data, copied
// from the volumes, then a new central directory and end record; no split
// signature. Every local header is read before anything is written: a set
// whose entries share bytes (ArchiveMessage::OverlappingEntries) or whose
// joined archive would not fit the free space is refused whole.

#include "archive/ArchiveDirectory.h"
#include "archive/ArchiveMessages.h"
#include "platform/EventPump.h"

#include <QString>

namespace vz {

class VolumeJoiner {
public:
    explicit VolumeJoiner(EventPump& pump) : pump_(pump) {}

    // Writes the joined archive at `outputHostPath` from the set whose last
    // volume is `archiveHostPath` and whose directory is `directory`.
    ArchiveMessage::Failure Join(const ArchiveDirectory& directory, const QString& archiveHostPath,
                                 const QString& outputHostPath);

private:
    EventPump& pump_;
};

}  // namespace vz
