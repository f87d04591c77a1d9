#pragma once
// Copying an entry from one archive layout into another (the temporary
// archive into volumes, volumes into one joined archive): its local header is
// read and checked against the central record, then rewritten from that
// record, with CRC-32 and sizes filled in and no data descriptor.

#include "archive/ArchiveDirectory.h"
#include "archive/ArchiveMessages.h"
#include "archive/LocalHeader.h"
#include "archive/VolumeSetReader.h"

#include <optional>

namespace vz {

class EntryCopy {
public:
    // Reads the local header of `entry` (at its recorded volume and offset,
    // moved by `shift`) and sets where its data start.
    static ArchiveMessage::Failure ReadLocal(VolumeSetReader& reader, const DirectoryEntry& entry, qint64 shift,
                                             LocalHeader& local, VolumePosition& dataAt);
    // Where the local header of `record` lies, its offset moved by `shift`;
    // nothing when that is no position in any file.
    static std::optional<VolumePosition> HeaderPosition(const CentralRecord& record, qint64 shift);
    // The local header to write for `record`, keeping the local extra fields.
    static LocalHeader Rewritten(const CentralRecord& record, const LocalHeader& local);
};

}  // namespace vz
