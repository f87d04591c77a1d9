#pragma once
// Expansion work done on a worker thread: one entry's data, read from the
// archive, inflated (or copied when stored) into its output file, never past
// the size the directory declares, and checked against the declared size
// and CRC-32; a checked file gets its time and permission bits. Without an
// output path the entry is only tested.

#include "platform/FileSystem.h"

#include <QString>
#include <atomic>
#include <memory>
#include <optional>

namespace vz {

struct ExpandJob {
    enum class Result { Ok, Mismatch, ReadFailed, CreateFailed, WriteFailed };

    // Input.
    std::shared_ptr<HostFile> archive;
    qint64 dataOffset = 0;
    quint32 method = 8;
    quint64 compressedSize = 0;
    quint64 uncompressedSize = 0;
    quint32 crc32 = 0;
    QString outputPath;          // empty: test only
    HostFile output;             // the output file, already made (O_EXCL) and held; else made here
    qint64 modifiedUnixMs = 0;
    std::optional<quint32> permissionBits;  // none: the mode the file was created with
    bool readOnly = false;                  // with that mode: no write bits

    // Output.
    Result result = Result::Ok;
    std::atomic<qint64> bytesDone{0};  // uncompressed bytes so far, for progress
};

class EntryExpander {
public:
    static constexpr qint64 WholeEntryLimitBytes = 8 << 20;
    static void Run(ExpandJob& job);
};

}  // namespace vz
