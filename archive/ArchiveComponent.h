#pragma once
// The archive component: builds ZIP volume sets from folders (Add) and
// unpacks archives and volume sets (Extract), around the linked-in
// compression engine. Settings are public members named as the program
// knows them; the archive name is set through SetArchiveFileName, which
// reads that archive's directory at once. Neither operation throws: each
// shows its own errors and questions in the component's boxes (none when
// Unattended) and returns the number of its first error, 0 when none.

#include "archive/ArchiveDirectory.h"
#include "archive/ComponentDialogs.h"
#include "platform/EventPump.h"
#include "platform/FileSystem.h"
#include "platform/UserDialogs.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace vz {

enum SpanOption : quint32 {
    NoVolumeName = 0x01,
    CompatibleNames = 0x02,  // ".z01" ... names: the only naming this component writes
    WipeFiles = 0x04,
    TryFormat = 0x08,
    AnyTime = 0x10,
    ExactName = 0x20,
};
enum WriteOption : quint32 {
    DiskSpan = 0x01,  // volumes of MaxVolumeSize(Kb); without it one volume of any size
};
enum AddOption : quint32 {
    AddDirNames = 0x01,     // keep folder paths in entry names
    AddRecurseDirs = 0x02,  // search subfolders
    AddHiddenFiles = 0x04,  // take hidden and system files too
};
enum ExtractOption : quint32 {
    ExtractDirNames = 0x01,   // keep the stored folders
    ExtractOverwrite = 0x02,  // replace existing files
    ExtractForceDirs = 0x04,  // create ExtractBaseDir with its parents
    ExtractTest = 0x08,       // check every entry, write nothing
};
enum SkipOption : quint32 {
    SkipDuplicateName = 0x01,  // a second file under a used name fails the add
    SkipReadError = 0x02,      // a file that cannot be read fails the add
};

class ArchiveComponent {
public:
    ArchiveComponent(const FileSystem& fileSystem, UserDialogs& dialogs, EventPump& pump, QString applicationTitle);
    ArchiveComponent(const ArchiveComponent&) = delete;
    ArchiveComponent& operator=(const ArchiveComponent&) = delete;

    // Settings.
    int CompressionLevel = 9;         // 0 stores everything
    qint64 MaxVolumeSizeKb = 0;       // volume limit in KiB
    qint64 MaxVolumeSize = 0;         // volume limit in bytes; rules when not 0
    quint32 SpanOptions = 0;
    quint32 WriteOptions = 0;
    quint32 AddOptions = 0;
    quint32 ExtractOptions = 0;
    QStringList IncludeSpecs;         // Windows paths: folders ("C:\Replicacao\"), files, "folder\*.ext"
    QString ExtractBaseDir;           // Windows path, ends in "\"
    // When set (a folder name, "Replicacao"), Extract takes only archives
    // whose every entry lies below that folder: one entry elsewhere refuses
    // the archive whole, with the unsafe-name message, and nothing is written.
    QString ExtractOnlyBelow;
    bool Unattended = false;
    QStringList AddStoreSuffixes;     // stored without compression, compared without case
    qint64 MinFreeVolumeSize = 65536;
    qint64 KeepFreeOnDisk1 = 0;
    qint64 KeepFreeOnAllDisks = 0;
    QString TempDir;                  // Windows path; empty: the system's temporary folder
    quint32 NoSkipping = SkipDuplicateName | SkipReadError;
    int EngineThreads = 0;            // worker threads of the engine; 0: one per processor

    // The archive (the last volume of a set), as a Windows path. A new name
    // reads that archive's directory: a missing file is no error, any other
    // failure is reported.
    void SetArchiveFileName(const QString& windowsPath);
    const QString& ArchiveFileName() const { return archiveFileName_; }

    int Add();
    int Extract();

    // The directory last read.
    const std::vector<DirectoryEntry>& Entries() const { return directory_.entries(); }
    int VolumeCount() const { return directory_.volumeCount(); }
    int ErrorCode() const { return dialogs_.errorCode(); }
    bool Busy() const { return busy_; }

    static QStringList DefaultStoreSuffixes();

private:
    class EngineBridge;

    int runAdd();
    int runExtract();
    bool checkWritable(const QString& hostPath);
    QString makeTempArchive();
    void readDirectory(bool reportMissing);
    // The first entry outside ExtractOnlyBelow, or nothing.
    const DirectoryEntry* entryOutsideRequiredFolder() const;

    const FileSystem& fs_;
    EventPump& pump_;
    ComponentDialogs dialogs_;
    QString archiveFileName_;
    ArchiveDirectory directory_;
    bool busy_ = false;
};

}  // namespace vz
