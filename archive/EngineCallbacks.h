#pragma once
// How the compression engine talks to the component that runs it: progress,
// messages, skipped entries and requests for its arguments, all delivered on
// the calling thread in the order of the entries.

#include <QString>
#include <QtGlobal>

namespace vz {

// Option bits of an engine command.
namespace EngineOption {
enum : quint32 {
    Always = 0x1 | 0x20,
    ExtractFiles = 0x4,       // extract (else test with TestFiles)
    TestFiles = 0x8,
    ExtractDirNames = 0x200,  // keep the stored folders
    ExtractOverwrite = 0x400,
    NoFolderEntries = 0x800,  // AddEmptyDirs off
    NoDirNames = 0x1000,      // AddDirNames off: names without folders
    RecurseDirs = 0x2000,
    HiddenFiles = 0x20000,
};
}

enum class EngineArgument {
    ArchivePath = 0,    // host path of the archive to write or read
    RootFolder = 2,     // host folder that entry names of include spec i are relative to
    ExtractFolder = 3,  // host folder to extract into
    IncludeSpec = 5,    // host path of include spec i (a folder, a file, or a folder + wildcard)
    StoreSuffixes = 7,  // ".gif:.png:...:" lower case
};

enum class SkipReason { NotFound, InUse, NoAccess, CannotOpen, ReadError, DuplicateName };

class EngineCallbacks {
public:
    virtual ~EngineCallbacks() = default;
    // Progress; each returns 0 to go on, -2 to cancel.
    virtual int ItemStarted(const QString& name, qint64 sizeBytes) = 0;
    virtual int BytesDone(qint64 bytes) = 0;
    virtual int ItemEnded() = 0;
    virtual int TotalCount(qint64 count) = 0;
    virtual int TotalBytes(qint64 bytes) = 0;
    // A message; a non-zero code becomes the operation's error.
    virtual int Message(int code, const QString& text) = 0;
    // An entry left out; answering 1 fails the operation instead.
    virtual int EntrySkipped(const QString& name, SkipReason reason) = 0;
    virtual QString Argument(EngineArgument kind, int index) = 0;
    virtual int IncludeSpecCount() = 0;
};

struct EngineCommand {
    enum Kind { Add, Extract } kind = Add;
    quint32 options = EngineOption::Always;
    int compressionLevel = 9;
    int threads = 0;  // worker threads; 0: one per processor
};

}  // namespace vz
