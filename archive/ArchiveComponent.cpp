#include "archive/ArchiveComponent.h"

#include "platform/Errors.h"
#include "platform/TemporaryFiles.h"

#include "archive/CompressionEngine.h"
#include "archive/SafeEntryPath.h"
#include "archive/VolumeJoiner.h"
#include "archive/VolumeSpanner.h"
#include "platform/WindowsPath.h"


namespace vz {

using namespace ArchiveMessage;

namespace {

QString hostFolderOf(const QString& hostPath)
{
    const qsizetype slash = hostPath.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : hostPath.left(slash);
}

// Marks the component busy for one operation.
class BusyGuard {
public:
    explicit BusyGuard(bool& busy) : busy_(busy) { busy_ = true; }
    ~BusyGuard() { busy_ = false; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    bool& busy_;
};

// Removes a temporary archive on every way out.
class TempFileGuard {
public:
    explicit TempFileGuard(QString path) : path_(std::move(path)) {}
    ~TempFileGuard()
    {
        if (!path_.isEmpty())
            hostfs::removeFile(path_);
    }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;

private:
    QString path_;
};

}  // namespace

// Answers the engine from the settings of one operation and lets the window
// handle its events after every callback.
class ArchiveComponent::EngineBridge final : public EngineCallbacks {
public:
    EngineBridge(ArchiveComponent& owner, QString archiveHostPath)
        : owner_(owner), archive_(std::move(archiveHostPath)) {}

    QString extractFolder;
    QStringList specs;   // host paths
    QStringList roots;   // host folders the names of each spec are relative to

    int ItemStarted(const QString&, qint64) override { return pump(); }
    int BytesDone(qint64) override { return pump(); }
    int ItemEnded() override { return pump(); }
    int TotalCount(qint64) override { return pump(); }
    int TotalBytes(qint64) override { return pump(); }
    int Message(int code, const QString& text) override
    {
        // Entry problems found while extracting are the component's own
        // reports; engine error numbers only become the operation's error.
        if (code >= NoZipFile || code == SkippingPrefix)
            owner_.dialogs_.ReportText(code, text);
        else
            owner_.dialogs_.Note(code);
        return pump();
    }
    int EntrySkipped(const QString&, SkipReason reason) override
    {
        pump();
        if (reason == SkipReason::DuplicateName && (owner_.NoSkipping & SkipDuplicateName))
            return 1;
        if (reason == SkipReason::ReadError && (owner_.NoSkipping & SkipReadError))
            return 1;
        return 0;
    }
    QString Argument(EngineArgument kind, int index) override
    {
        switch (kind) {
        case EngineArgument::ArchivePath: return archive_;
        case EngineArgument::ExtractFolder: return extractFolder;
        case EngineArgument::IncludeSpec: return specs.value(index);
        case EngineArgument::RootFolder: return roots.value(index);
        case EngineArgument::StoreSuffixes: {
            QString text;
            for (const QString& s : owner_.AddStoreSuffixes)
                text += QLatin1Char('.') + s.toLower() + QLatin1Char(':');
            return text;
        }
        }
        return {};
    }
    int IncludeSpecCount() override { return static_cast<int>(specs.size()); }

private:
    int pump()
    {
        owner_.pump_.ProcessPendingMessages();
        return 0;
    }

    ArchiveComponent& owner_;
    QString archive_;
};

ArchiveComponent::ArchiveComponent(const FileSystem& fileSystem, UserDialogs& dialogs, EventPump& pump,
                                   QString applicationTitle)
    : AddStoreSuffixes(DefaultStoreSuffixes()),
      fs_(fileSystem),
      pump_(pump),
      dialogs_(dialogs, std::move(applicationTitle))
{
}

QStringList ArchiveComponent::DefaultStoreSuffixes()
{
    return {QStringLiteral("gif"), QStringLiteral("png"),  QStringLiteral("z"),   QStringLiteral("zip"),
            QStringLiteral("zoo"), QStringLiteral("arc"),  QStringLiteral("lzh"), QStringLiteral("arj"),
            QStringLiteral("taz"), QStringLiteral("tgz"),  QStringLiteral("lha"), QStringLiteral("rar"),
            QStringLiteral("ace"), QStringLiteral("cab"),  QStringLiteral("gz"),  QStringLiteral("gzip"),
            QStringLiteral("jar"), QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("7zp"),
            QStringLiteral("mp3"), QStringLiteral("wmv"),  QStringLiteral("wma"), QStringLiteral("dvr-ms"),
            QStringLiteral("avi")};
}

void ArchiveComponent::SetArchiveFileName(const QString& windowsPath)
{
    if (windowsPath == archiveFileName_)
        return;
    archiveFileName_ = windowsPath;
    dialogs_.begin(Unattended);
    readDirectory(false);
}

void ArchiveComponent::readDirectory(bool reportMissing)
{
    directory_.clear();
    if (archiveFileName_.isEmpty())
        return;
    const auto host = fs_.toHost(archiveFileName_);
    const int error = host ? directory_.Read(*host) : InputFileMissing;
    if (error == InputFileMissing && !reportMissing)
        return;
    if (error)
        dialogs_.Report(error);
}

int ArchiveComponent::Add()
{
    if (busy_)
        return ArchiveMessage::Busy;
    BusyGuard guard(busy_);
    dialogs_.begin(Unattended);
    try {
        return runAdd();
    } catch (const RunStopped&) {
        throw;  // the program is ending: no box, the caller's run stops
    } catch (...) {
        dialogs_.Report(FatalDllError);
        return dialogs_.errorCode();
    }
}

int ArchiveComponent::Extract()
{
    if (busy_)
        return ArchiveMessage::Busy;
    BusyGuard guard(busy_);
    dialogs_.begin(Unattended);
    try {
        return runExtract();
    } catch (const RunStopped&) {
        throw;  // the program is ending: no box, the caller's run stops
    } catch (...) {
        dialogs_.Report(FatalDllError);
        return dialogs_.errorCode();
    }
}

bool ArchiveComponent::checkWritable(const QString& hostPath)
{
    if (!hostfs::exists(hostPath)) {
        HostFile probe = HostFile::create(hostPath, ShareMode::None);
        if (!probe.isOpen())
            return false;
        probe.close();
        hostfs::removeFile(hostPath);
        return true;
    }
    if (hostfs::attributes(hostPath) & AttrReadOnly)
        return false;
    return HostFile::openReadWrite(hostPath, ShareMode::None).isOpen();
}

QString ArchiveComponent::makeTempArchive()
{
    QString folder = hostfs::tempFolder();
    if (!TempDir.isEmpty()) {
        const auto host = fs_.toHost(TempDir);
        if (!host)
            return {};
        folder = *host;
    }
    // Named as the program's temporary files are, so that one a killed run
    // left behind is recognised and removed by the next run.
    QString path;
    if (!hostfs::createTemporaryFile(folder, &path).isOpen())
        return {};
    return path;
}

int ArchiveComponent::runAdd()
{
    if (archiveFileName_.isEmpty()) {
        dialogs_.Report(NoZipFile);
        return dialogs_.errorCode();
    }
    if (IncludeSpecs.isEmpty()) {
        dialogs_.Report(NoFilesToZip);
        return dialogs_.errorCode();
    }
    const auto archiveHost = fs_.toHost(archiveFileName_);
    if (!archiveHost || !hostfs::isFolder(hostFolderOf(*archiveHost))) {
        dialogs_.Report(DestinationMustExist, ExcludeTrailingBackslash(ExtractFilePath(archiveFileName_)));
        return dialogs_.errorCode();
    }
    if (!checkWritable(*archiveHost)) {
        dialogs_.Report(CannotWriteTo, archiveFileName_);
        return dialogs_.errorCode();
    }
    const QString temp = makeTempArchive();
    if (temp.isEmpty()) {
        dialogs_.Report(TempFileNotCreated);
        return dialogs_.errorCode();
    }
    // Also after an engine error: a partial temporary archive is of no use.
    TempFileGuard removeTemp(temp);

    EngineBridge bridge(*this, temp);
    for (const QString& spec : IncludeSpecs) {
        const auto host = fs_.toHost(spec);
        const auto root = fs_.toHost(ExtractDrive(spec) + QLatin1Char('\\'));
        bridge.specs << host.value_or(QString());
        bridge.roots << root.value_or(QString());
    }
    EngineCommand command;
    command.kind = EngineCommand::Add;
    command.options = EngineOption::Always | EngineOption::NoFolderEntries;
    if (AddOptions & AddRecurseDirs)
        command.options |= EngineOption::RecurseDirs;
    if (!(AddOptions & AddDirNames))
        command.options |= EngineOption::NoDirNames;
    if (AddOptions & AddHiddenFiles)
        command.options |= EngineOption::HiddenFiles;
    command.compressionLevel = std::clamp(CompressionLevel, 0, 9);
    command.threads = EngineThreads;

    const int result = CompressionEngine().Exec(command, bridge);
    if (result >= 0) {
        SpanSettings span;
        span.archiveHostPath = *archiveHost;
        span.archiveWindowsPath = archiveFileName_;
        if (WriteOptions & DiskSpan)
            span.volumeLimitBytes = MaxVolumeSize > 0 ? MaxVolumeSize : MaxVolumeSizeKb * 1024;
        span.keepFreeOnDisk1 = KeepFreeOnDisk1;
        span.keepFreeOnAllDisks = KeepFreeOnAllDisks;
        span.minFreeVolumeSize = MinFreeVolumeSize;
        VolumeSpanner spanner(span, dialogs_, pump_);
        if (spanner.Span(temp))
            readDirectory(false);
    } else {
        const int error = result >= -2 ? UserCanceled : -result;
        if (!dialogs_.wasShown(error))
            dialogs_.Report(error);
    }
    return dialogs_.errorCode();
}

const DirectoryEntry* ArchiveComponent::entryOutsideRequiredFolder() const
{
    if (ExtractOnlyBelow.isEmpty())
        return nullptr;
    for (const DirectoryEntry& entry : directory_.entries()) {
        const auto components = SafeEntryPath::Components(entry.name);
        // The folder itself may be an entry; a file of that name may not.
        const bool below = components && components->first() == ExtractOnlyBelow &&
                           (components->size() > 1 || entry.isFolder());
        if (!below)
            return &entry;
    }
    return nullptr;
}

int ArchiveComponent::runExtract()
{
    if (archiveFileName_.isEmpty()) {
        dialogs_.Report(NoZipFile);
        return dialogs_.errorCode();
    }
    // Read afresh: the set on disk may have changed since the name was given.
    directory_.clear();
    const auto archiveHost = fs_.toHost(archiveFileName_);
    if (!archiveHost || !hostfs::isFile(*archiveHost)) {
        dialogs_.Note(InputFileMissing);
        return dialogs_.errorCode();
    }
    readDirectory(true);
    if (dialogs_.errorCode())
        return dialogs_.errorCode();
    if (directory_.entries().empty()) {
        dialogs_.Report(ZipNotOpened);
        return dialogs_.errorCode();
    }

    if (const DirectoryEntry* outside = entryOutsideRequiredFolder()) {
        dialogs_.Report(UnsafeName, ShownName(outside->name));
        return dialogs_.errorCode();
    }

    const bool testOnly = (ExtractOptions & ExtractTest) != 0;
    QString baseHost;
    if (!testOnly) {
        const auto host = fs_.toHost(ExtractBaseDir);
        if (host && (ExtractOptions & ExtractForceDirs))
            hostfs::createFolders(*host);
        if (!host || !hostfs::isFolder(*host)) {
            dialogs_.Report(ExtractDirMustExist, ExtractBaseDir);
            return dialogs_.errorCode();
        }
        baseHost = *host;
    }

    QString source = *archiveHost;
    QString joined;
    if (directory_.volumeCount() > 1) {
        joined = makeTempArchive();
        if (joined.isEmpty()) {
            dialogs_.Report(TempFileNotCreated);
            return dialogs_.errorCode();
        }
    }
    TempFileGuard removeJoined(joined);
    if (!joined.isEmpty()) {
        if (Failure failure = VolumeJoiner(pump_).Join(directory_, *archiveHost, joined)) {
            dialogs_.Report(failure);
            return dialogs_.errorCode();
        }
        source = joined;
    }

    EngineBridge bridge(*this, source);
    bridge.extractFolder = baseHost;
    EngineCommand command;
    command.kind = EngineCommand::Extract;
    command.options = EngineOption::Always | (testOnly ? EngineOption::TestFiles : EngineOption::ExtractFiles);
    if (ExtractOptions & ExtractDirNames)
        command.options |= EngineOption::ExtractDirNames;
    if (ExtractOptions & ExtractOverwrite)
        command.options |= EngineOption::ExtractOverwrite;
    command.threads = EngineThreads;
    const int result = CompressionEngine().Exec(command, bridge);
    if (result < 0) {
        const int error = result >= -2 ? UserCanceled : -result;
        if (!dialogs_.wasShown(error))
            dialogs_.Report(error);
    }
    return dialogs_.errorCode();
}

}  // namespace vz
