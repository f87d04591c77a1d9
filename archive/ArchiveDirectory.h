#pragma once
// The directory of an archive or volume set: the end record found at the end
// of its last volume, and the central records read from wherever the
// directory starts. Every failure is a message number (ArchiveMessages.h).

#include "archive/CentralRecord.h"
#include "archive/EndRecord.h"
#include "archive/VolumeSetReader.h"

#include <QString>
#include <vector>

namespace vz {

struct DirectoryEntry {
    CentralRecord record;
    QString name;  // decoded; "/" separators as stored
    bool isFolder() const { return name.endsWith(QLatin1Char('/')) || name.endsWith(QLatin1Char('\\')); }
};

class ArchiveDirectory {
public:
    // What the first bytes of the archive file say.
    enum class Kind { Unknown, Program, Plain, SplitFirst };

    // Reads the directory of the archive whose last (or only) volume is at
    // `hostPath`. Returns 0, or the number of the message describing the
    // failure (InputFileMissing when there is no such file).
    int Read(const QString& hostPath);

    const std::vector<DirectoryEntry>& entries() const { return entries_; }
    int volumeCount() const { return volumeCount_; }
    const EndRecord& end() const { return end_; }
    Kind kind() const { return kind_; }
    // Noted when the recorded directory offset of a single volume was not
    // where the directory lies ("Warning - Error in zip structure!").
    bool structureWarning() const { return structureWarning_; }
    // Added to recorded local-header offsets of a single volume whose data
    // were moved (bytes prepended to the archive).
    qint64 offsetShift() const { return offsetShift_; }
    void clear();

private:
    int readEnd(HostFile& file, qint64 size, qint64& endPosition);
    int readRecords(VolumeSetReader& reader, VolumePosition at, qint64 singleVolumeEnd);

    std::vector<DirectoryEntry> entries_;
    int volumeCount_ = 0;
    EndRecord end_;
    Kind kind_ = Kind::Unknown;
    bool structureWarning_ = false;
    qint64 offsetShift_ = 0;
};

}  // namespace vz
