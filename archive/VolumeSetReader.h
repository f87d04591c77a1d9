#pragma once
// Reads a volume set as one logical archive addressed by (volume, offset).
// Volumes are found beside the last one (the archive file) by their ".z"
// names or, when the first one looked for is missing, by their numbered
// names; the set then keeps the form that was found.
//
// Headers are read whole from one volume; a position at the very end of a
// volume means the start of the next. Entry data runs on across volume ends.

#include "platform/FileSystem.h"

#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace vz {

struct VolumePosition {
    int volume = 0;
    qint64 offset = 0;
};

class VolumeSetReader {
public:
    enum class Status { Ok, Missing, ReadFailed, Short };

    VolumeSetReader(QString archiveHostPath, int volumeCount);

    int volumeCount() const { return count_; }
    // Host path of a volume, or empty when no file of either form exists.
    QString volumePath(int index);
    // Size of a volume, -1 when it is missing or unreadable.
    qint64 volumeSize(int index);

    // A header of `bytes` bytes whole from one volume; advances `at`.
    Status readWhole(VolumePosition& at, char* buffer, qint64 bytes);
    // Bytes that may run on into later volumes; advances `at`.
    Status readSpanning(VolumePosition& at, char* buffer, qint64 bytes);
    // Moves a position at the very end of a volume to the start of the next.
    Status normalize(VolumePosition& at);

    // The position counted from the start of the first volume, as if the
    // volumes were one file; nothing when a volume before it is missing or
    // the offset lies outside its volume.
    std::optional<qint64> linearOffset(VolumePosition at);
    // The bytes of every volume together; nothing when one is missing.
    std::optional<qint64> totalSize();

private:
    HostFile* open(int index, Status& status);

    QString archive_;
    int count_;
    enum class Form { Unknown, Span, Numbered } form_ = Form::Unknown;
    std::map<int, std::unique_ptr<HostFile>> files_;
    std::map<int, qint64> sizes_;
    std::vector<qint64> starts_;  // linear offset of volume i
};

}  // namespace vz
