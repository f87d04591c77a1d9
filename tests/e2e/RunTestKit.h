#pragma once
// What the export and import tests run on: a Vireo Cast installation in a
// Wine-style prefix (drives C: and D:, the share \\srv\musica) with real
// Firebird databases, the reference replication service on a free port of
// 127.0.0.1, a sibling program that records what it is asked, and the two
// runs built on a recording run frame (DriverKit) the way the window builds them.

#include "archive/ArchiveComponent.h"
#include "db/AutomationDatabases.h"
#include "export/ExportDriver.h"
#include "export/PackageAndDelivery.h"
#include "import/ImportDriver.h"
#include "platform/FileSystem.h"
#include "platform/RecycleBin.h"
#include "platform/RegionalSettings.h"
#include "platform/RunLog.h"
#include "platform/RunSettings.h"
#include "platform/SiblingProgram.h"
#include "tests/support/ManualClock.h"
#include "tests/support/RecordingRunFrame.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TempPrefix.h"
#include "web/AntiFreeze.h"
#include "web/HttpClient.h"

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

namespace vz::test {

inline const QString Title = QStringLiteral("Vireo Zuvavivevo");
inline const QString Guid = QStringLiteral("{8F3A1C2E-5B7D-4E6F-9A0B-1C2D3E4F5A6B}");
inline const QString ArchiveFile = Guid + QStringLiteral(".zip");

// Local times far from the real date, so that files the databases touch
// while attached never count as changed since the clock's Now.
Timestamp LocalTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
inline qint64 MsOf(Timestamp t) { return UnixMsFromTimestamp(t); }
inline const Timestamp FileTime = LocalTime(2089, 3, 1, 8, 0, 0);  // time of every installation file
inline const Timestamp FirstNow = LocalTime(2090, 6, 1, 10, 0, 0);  // the clock when the tests start

// Bytes that do not compress.
QByteArray Noise(int bytes, quint32 seed);

// The reference replication service (vz-replication-service --port 0).
class ServiceProcess {
public:
    explicit ServiceProcess(const QStringList& extraArguments = {});
    ~ServiceProcess();
    bool running() const { return port_ != 0; }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    QString baseUrl() const { return QStringLiteral("http://") + host() + QStringLiteral("/Zuvavivevo/"); }
    // Where the service keeps the client's archive.
    QString archivePath() const { return root_.path() + QStringLiteral("/Replicacao/") + ArchiveFile; }
    void stop();

private:
    TempDir root_;
    QProcess process_;
    quint16 port_ = 0;
};

// One file as the tests compare it.
struct FileState {
    QByteArray bytes;
    qint64 modifiedMs = 0;
};

// A station: the prefix, the installation files and databases, the program's
// folder with its settings file.
class Installation {
public:
    static inline const QString ExeFolder = QStringLiteral("C:\\Vireo\\Zuvavivevo\\");
    static inline const QString SystemFolder = QStringLiteral("C:\\Vireo\\Vireo Cast\\");

    Installation();
    // Every file of the installation, the music folders (D:\Musicas\Rock
    // with a subfolder, \\srv\musica\Jazz\, one inside the installation), the
    // databases (client Guid) and the settings file.
    void populate();
    // Only the databases and the settings file: a station to restore into.
    void populateEmpty();

    QString host(const QString& windowsPath) const;
    void put(const QString& windowsPath, const QByteArray& bytes, Timestamp time = FileTime) const;
    bool exists(const QString& windowsPath) const;
    QByteArray read(const QString& windowsPath) const;
    // Windows paths of the files a full export carries (the installation with
    // everything below it, the files directly in the music folders on drive D
    // the share), with their bytes and times.
    QMap<QString, FileState> exportedFiles() const;
    // Files below a host folder, by path relative to it.
    static QStringList filesBelow(const QString& hostFolder);

    TempPrefix prefix{QStringLiteral("cd")};
    QString share = prefix.addShare(QStringLiteral("srv"), QStringLiteral("musica"));  // \\srv\musica
    FileSystem fs{prefix.driveMap()};
};

// The settings values of an installation, with the saves counted.
class TestRunSettings final : public RunSettings {
public:
    QString FormatTimestamp(Timestamp value) const override;
    Timestamp ParseTimestamp(const QString& text, Timestamp defaultValue) const override;
    void SaveBackupTimestamps() override;
    int saves = 0;
    const Clock* clock = nullptr;
};

// Records every call, and into the shared event list (with the frame's destinations).
// With `real` set, each call is also carried out by that program (the X11
// sibling under Xvfb) and `running` is its answer.
class RecordingSibling final : public SiblingProgram {
public:
    explicit RecordingSibling(QStringList& events) : events_(events) {}
    bool running = false;
    SiblingProgram* real = nullptr;
    bool SiblingIsRunning() override;
    void AskSiblingToClose() override;
    void StartSiblingServer(const QString& systemFolderWindowsPath) override;

private:
    QStringList& events_;
};

// A recording frame that puts every destination text into the shared event list.
class EventFrame final : public RecordingRunFrame {
public:
    explicit EventFrame(QStringList& events) : events_(events) {}
    void SetDestinationText(const QString& text) override;

private:
    QStringList& events_;
};

// The two runs on a recording frame, with the window's objects around them.
class DriverKit {
public:
    explicit DriverKit(PackagingOptions packagingOptions = {});

    // ExeFolder, ExeDrive, SystemFolder, BaseUrl, the database file names and
    // the identifier read from the administration database; every timestamp
    // EarliestTimestamp.
    void loadSettings();
    // A populated installation with its settings loaded, last exported at
    // `lastExport` (later than EarliestTimestamp: no first-run prompt).
    void prepare(Timestamp lastExport);
    // Runs as the window's start buttons do: SilentAbort ends quietly, any
    // other error is kept in `errors` (the standard error display).
    void runExport(const ExportCategories& categories);
    void runImport(ImportSource source);
    void setTimestamps(Timestamp value);

    Installation station;
    ServiceProcess service;
    ManualClock clock{FirstNow};
    ScriptedDialogs dialogs;
    QStringList events;
    EventFrame frame{events};
    RecordingSibling sibling{events};
    TestRunSettings settings;
    std::unique_ptr<AutomationDatabases> databases;
    AntiFreeze antiFreeze{frame};
    HttpClient http{antiFreeze, clock};
    RecycleBin recycleBin{station.fs, {Installation::ExeFolder + QStringLiteral("Replicacao"),
                                       QStringLiteral("C:\\Replicacao")}};
    RunLog runLog{station.host(Installation::ExeFolder + RunLog::FileName), clock};
    ArchiveComponent importArchive;
    PackageAndDelivery packaging;
    ExportDriver exportDriver;
    ImportDriver importDriver;
    QStringList errors;
};

// Positions in an event list, -1 when there is none: the first event
// containing text (from `from` on), the last one containing it, the last one
// starting with prefix.
qsizetype FirstContaining(const QStringList& events, const QString& text, qsizetype from = 0);
qsizetype LastContaining(const QStringList& events, const QString& text);
qsizetype LastStartingWith(const QStringList& events, const QString& prefix);

// The files of an archive by the Windows path they were staged from (shares
// left out: they are not restored), read with the standard tool.
QMap<QString, QByteArray> ArchivedFiles(const QString& hostArchive);

inline const ExportCategories AllCategories{false, true, true, true};
inline const ExportCategories Geral{true, false, false, false};

}  // namespace vz::test
