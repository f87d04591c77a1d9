#include "archive/ArchiveDirectory.h"

#include "archive/ArchiveMessages.h"
#include "archive/EntryName.h"
#include "archive/LittleEndian.h"
#include "archive/ZipFormat.h"

#include <QByteArray>

#include <algorithm>
#include <limits>

namespace vz {

using namespace ArchiveMessage;

namespace {
// More volumes than any set is made of: a count beyond it is a damaged or
// hostile record, and it keeps volume numbers well inside an int.
constexpr quint32 kMaxVolumes = 1u << 20;
}  // namespace

void ArchiveDirectory::clear()
{
    entries_.clear();
    volumeCount_ = 0;
    end_ = EndRecord();
    kind_ = Kind::Unknown;
    structureWarning_ = false;
    offsetShift_ = 0;
}

int ArchiveDirectory::Read(const QString& hostPath)
{
    clear();
    if (!hostfs::isFile(hostPath))
        return InputFileMissing;
    HostFile file = HostFile::openRead(hostPath, ShareMode::DenyWrite);
    if (!file.isOpen())
        return ZipNotOpened;
    const qint64 size = file.size();
    if (size < 0)
        return ReadError;

    char head[8] = {};
    if (file.readAt(head, 8, 0) == 8) {
        if (head[0] == 'M' && head[1] == 'Z')
            kind_ = Kind::Program;
        else if (ReadU32(head) == zip::LocalSignature)
            kind_ = Kind::Plain;
        else if (ReadU32(head) == zip::SplitSignature && ReadU32(head + 4) == zip::LocalSignature)
            kind_ = Kind::SplitFirst;
    }

    qint64 endPosition = 0;
    if (int error = readEnd(file, size, endPosition))
        return error;

    // The Zip64 end record, when a field of the end record overflowed.
    qint64 directoryEnd = endPosition;  // where the directory of a single volume ends
    if (end_.thisDisk >= kMaxVolumes)
        return EndReadError;
    volumeCount_ = static_cast<int>(end_.thisDisk) + 1;
    Zip64Locator locator;
    char locatorBytes[zip::Zip64LocatorSize];
    if (end_.hasAllOnesField() && endPosition >= zip::Zip64LocatorSize &&
        file.readAt(locatorBytes, zip::Zip64LocatorSize, endPosition - zip::Zip64LocatorSize) ==
            zip::Zip64LocatorSize &&
        Zip64Locator::decode(locatorBytes, locator)) {
        if (locator.totalDisks < 1 || locator.totalDisks > kMaxVolumes)
            return EndReadError;
        volumeCount_ = static_cast<int>(locator.totalDisks);
        VolumeSetReader reader(hostPath, volumeCount_);
        char record[zip::Zip64EndFixedSize];
        VolumePosition at{static_cast<int>(locator.endDisk), static_cast<qint64>(locator.endOffset)};
        bool ok = reader.readWhole(at, record, zip::Zip64EndFixedSize) == VolumeSetReader::Status::Ok &&
                  end_.applyZip64(record, zip::Zip64EndFixedSize);
        const qint64 usual = endPosition - zip::Zip64LocatorSize - zip::Zip64EndFixedSize;
        if (!ok && volumeCount_ == 1 && usual >= 0 &&
            file.readAt(record, zip::Zip64EndFixedSize, usual) == zip::Zip64EndFixedSize)
            ok = end_.applyZip64(record, zip::Zip64EndFixedSize);
        if (!ok)
            return EndReadError;
        if (volumeCount_ == 1)
            directoryEnd = usual;
        if (end_.thisDisk >= kMaxVolumes)
            return EndReadError;
        volumeCount_ = std::max(volumeCount_, static_cast<int>(end_.thisDisk) + 1);
    }
    if (volumeCount_ < 1 || end_.directoryDisk >= static_cast<quint32>(volumeCount_))
        return EndReadError;

    // Offsets and sizes of a Zip64 record may be anything up to 2^64: none is
    // used in arithmetic before it is known to fit (or to lie within the file).
    const bool offsetFits = end_.directoryOffset <= static_cast<quint64>(std::numeric_limits<qint64>::max());
    if (!offsetFits && volumeCount_ > 1)
        return EndReadError;
    VolumeSetReader reader(hostPath, volumeCount_);
    VolumePosition at{static_cast<int>(end_.directoryDisk), offsetFits ? static_cast<qint64>(end_.directoryOffset) : -1};
    if (volumeCount_ == 1) {
        // Where the directory starts when it ends right before the end record; -1 when it cannot.
        const qint64 expected = end_.directorySize <= static_cast<quint64>(std::max<qint64>(directoryEnd, 0))
                                    ? directoryEnd - static_cast<qint64>(end_.directorySize)
                                    : -1;
        if (expected != at.offset) {
            structureWarning_ = true;
            char signature[4];
            const bool recordedHolds = at.offset >= 0 && size >= 4 && at.offset <= size - 4 &&
                                       file.readAt(signature, 4, at.offset) == 4 &&
                                       ReadU32(signature) == zip::CentralSignature;
            if (!recordedHolds && expected >= 0) {
                // Bytes prepended to the archive move every recorded offset
                // alike. An offset beyond the file says nothing about how far
                // anything moved (and the difference could overflow).
                offsetShift_ = at.offset >= 0 && at.offset <= size ? expected - at.offset : 0;
                at.offset = expected;
            }
        }
    }
    const int error = readRecords(reader, at, volumeCount_ == 1 ? directoryEnd : -1);
    if (error)
        entries_.clear();
    return error;
}

int ArchiveDirectory::readEnd(HostFile& file, qint64 size, qint64& endPosition)
{
    if (size < zip::EndFixedSize)
        return NotValidZip;
    QByteArray tail(zip::EndFixedSize, '\0');
    if (file.readAt(tail.data(), zip::EndFixedSize, size - zip::EndFixedSize) != zip::EndFixedSize)
        return ReadError;
    if (EndRecord::decode(tail.constData(), zip::EndFixedSize, end_)) {
        endPosition = size - zip::EndFixedSize;
        return 0;
    }
    const qint64 length = std::min(size, zip::EndSearchBytes);
    tail.resize(static_cast<qsizetype>(length));
    if (file.readAt(tail.data(), length, size - length) != length)
        return ReadError;
    for (qint64 i = length - zip::EndFixedSize; i >= 0; --i) {
        if (ReadU32(tail.constData() + i) == zip::EndSignature) {
            EndRecord::decode(tail.constData() + i, length - i, end_);
            endPosition = size - length + i;
            return 0;
        }
    }
    return NotValidZip;
}

int ArchiveDirectory::readRecords(VolumeSetReader& reader, VolumePosition at, qint64 singleVolumeEnd)
{
    // The count is the archive's word: room for what the directory's size can hold, at most.
    const quint64 fits = end_.directorySize / zip::CentralFixedSize + 1;
    entries_.reserve(static_cast<size_t>(std::min<quint64>({end_.totalEntries, fits, quint64(1) << 16})));
    QByteArray record;
    for (quint64 n = 0;; ++n) {
        if (n >= end_.totalEntries) {
            // A count that wrapped at 65536 without Zip64: go on while the
            // directory of a single volume holds more records.
            if (singleVolumeEnd < 0 || at.offset > singleVolumeEnd - zip::CentralFixedSize)
                break;
            char signature[4];
            VolumePosition peek = at;
            if (reader.readWhole(peek, signature, 4) != VolumeSetReader::Status::Ok ||
                ReadU32(signature) != zip::CentralSignature)
                break;
        }
        record.resize(zip::CentralFixedSize);
        VolumeSetReader::Status status = reader.readWhole(at, record.data(), zip::CentralFixedSize);
        if (status == VolumeSetReader::Status::Missing)
            return InputFileMissing;
        if (status != VolumeSetReader::Status::Ok)
            return CentralReadError;
        const qint64 rest = CentralRecord::variableLength(record.constData());
        if (rest < 0)
            return CentralSignatureWrong;
        // The rest of the record lies in the same volume as its start.
        if (rest > 0) {
            record.resize(static_cast<qsizetype>(zip::CentralFixedSize + rest));
            if (rest > reader.volumeSize(at.volume) - at.offset)
                return CentralReadError;
            if (reader.readWhole(at, record.data() + zip::CentralFixedSize, rest) != VolumeSetReader::Status::Ok)
                return CentralReadError;
        }
        DirectoryEntry entry;
        if (!CentralRecord::decode(record, entry.record))
            return CentralReadError;
        entry.name =
            EntryName::Decode(entry.record.name, entry.record.flags, entry.record.extra, entry.record.versionMadeBy);
        entries_.push_back(std::move(entry));
    }
    return 0;
}

}  // namespace vz
