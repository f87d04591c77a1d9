// Databases that a running Firebird server holds, exported while the station
// stays on the air: a writer commits a row every 10 ms through the server for
// the whole export, and the archived copy is still a whole, valid database
// with every row committed before the export began; the live databases are
// left out of backup mode, also when the copy fails midway; a database held
// by an embedded engine in another program is skipped and reported, and an
// import of the archive gives a database the server opens. Needs the
// firebird3.0-server package and root (the test starts the server itself and
// stops it again when it was not running).

#include "db/ParameterBlocks.h"
#include "db/SqlStatement.h"
#include "export/HeldDatabaseCopy.h"
#include "platform/CopyFailure.h"
#include "platform/HostFile.h"
#include "staging/CopyEngine.h"
#include "tests/e2e/RunTestKit.h"
#include "tests/support/faultfs/FaultInjection.h"
#include "tests/support/firebird-server/LocalFirebirdServer.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <mutex>
#include <thread>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vz;
using namespace vz::test;

namespace {

const QString Vireodb = Installation::SystemFolder + QStringLiteral("Vireodb\\");
const QString Audio = Vireodb + QStringLiteral("VireoAudio.fdb");
const QString Adm = Vireodb + QStringLiteral("VireoAdm.fdb");
const QString StagedVireodb = QStringLiteral("C:\\Replicacao\\C\\Vireo\\Vireo Cast\\Vireodb\\");
// An earlier export long ago: every file counts as changed, also the
// databases, whose times the server sets to the real date.
const Timestamp LongAgo = LocalTime(2000, 1, 1);

using Attachment = DirectAttachment;

// The platform's lock test, as the export makes it.
bool Held(const QString& hostPath)
{
    const HostFile probe = HostFile::openRead(hostPath, ShareMode::None);
    return !probe.isOpen() && probe.errorNumber() == SharingViolation;
}

// Waits until the server has let the file go (it closes a database shortly
// after its last detach).
bool WaitReleased(const QString& hostPath)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!Held(hostPath))
            return true;
        QThread::msleep(100);
    }
    return false;
}

// gfix -v -full: the exit status and what it said.
std::pair<int, QString> Validate(const QString& hostPath)
{
    QProcess gfix;
    gfix.setProcessChannelMode(QProcess::MergedChannels);
    gfix.start(QStringLiteral("gfix"), {QStringLiteral("-v"), QStringLiteral("-full"), hostPath});
    if (!gfix.waitForFinished(120000))
        return {-1, QStringLiteral("gfix did not finish")};
    return {gfix.exitStatus() == QProcess::NormalExit ? gfix.exitCode() : -1, QString::fromLocal8Bit(gfix.readAll())};
}

// Commits one row (N = 1, 2, ...) every 10 ms to the audio database through
// the server until stopped.
class Writer {
public:
    explicit Writer(const QString& hostPath)
        : thread_([this, hostPath] {
              try {
                  Attachment attachment = Attachment::server(hostPath);
                  for (long long n = 1; !stop_; ++n) {
                      attachment.exec("INSERT INTO TB_ESCRITA (N) VALUES (" + QByteArray::number(n) + ")");
                      committed_ = n;
                      std::this_thread::sleep_for(std::chrono::milliseconds(10));
                  }
              } catch (const Error& e) {
                  const std::lock_guard<std::mutex> lock(mutex_);
                  error_ = e.message();
              }
          })
    {
    }
    ~Writer() { stop(); }
    long long committed() const { return committed_; }
    bool waitFor(long long rows)
    {
        for (int attempt = 0; attempt < 1000 && committed_ < rows && error().isEmpty(); ++attempt)
            QThread::msleep(10);
        return committed_ >= rows;
    }
    void stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    QString error() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return error_;
    }

private:
    std::atomic<bool> stop_{false};
    std::atomic<long long> committed_{0};
    mutable std::mutex mutex_;
    QString error_;
    std::thread thread_;
};

class HeldDatabaseExportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const QString why = LocalFirebirdServer::unavailableReason(); !why.isEmpty())
            GTEST_SKIP() << "NOTICE: " << why.toStdString() << "; held databases are not tested";
        firebird_ = getpwnam("firebird");
        ASSERT_NE(firebird_, nullptr);
        ASSERT_TRUE(kit.service.running());
        kit.prepare(LongAgo);
        ASSERT_EQ(kit.settings.ClientGuid, Guid);
        kit.dialogs.setLenientMessages(true);

        // The server runs as "firebird": it needs its way to the files, and
        // the database folder to write its delta files in.
        const QString folder = QFileInfo(kit.station.host(Vireodb)).canonicalFilePath();
        for (QString dir = folder; dir.startsWith(kit.station.prefix.path()); dir = QFileInfo(dir).path())
            ASSERT_EQ(chmod(QFile::encodeName(dir).constData(), 0755), 0) << dir.toStdString();
        for (QString dir = QFileInfo(kit.station.prefix.path()).path(); dir.size() > 1; dir = QFileInfo(dir).path()) {
            struct stat st;
            ASSERT_EQ(stat(QFile::encodeName(dir).constData(), &st), 0);
            ASSERT_TRUE(st.st_mode & S_IXOTH) << dir.toStdString() << " is closed to the server";
        }
        for (const QString& path : {folder, audio(), adm()})
            ASSERT_EQ(chown(QFile::encodeName(path).constData(), firebird_->pw_uid, firebird_->pw_gid), 0);
        {
            Attachment setup = Attachment::inProcess(audio());
            setup.exec("CREATE TABLE TB_ESCRITA (N INTEGER NOT NULL)");
        }
        ASSERT_TRUE(server_.start());
        const QString passwordProblem = server_.ensureTestPassword(adm());
        ASSERT_TRUE(passwordProblem.isEmpty()) << passwordProblem.toStdString();
    }

    QString audio() const { return kit.station.host(Audio); }
    QString adm() const { return kit.station.host(Adm); }

    // Both live databases are in their normal state: no backup lock, no delta file.
    void expectLiveDatabasesNormal()
    {
        for (const QString& path : {audio(), adm()}) {
            EXPECT_EQ(Attachment::server(path).backupState(), 0) << path.toStdString();
            EXPECT_FALSE(QFile::exists(path + QStringLiteral(".delta"))) << path.toStdString();
        }
    }

    // An export of every category, timed; the run log's lines of this run.
    qint64 timedExport(QStringList* logLines = nullptr)
    {
        const QString logPath = kit.station.host(Installation::ExeFolder + RunLog::FileName);
        const qsizetype logBefore = QFile::exists(logPath) ? readFile(logPath).size() : 0;
        QElapsedTimer timer;
        timer.start();
        kit.runExport(AllCategories);
        const qint64 ms = timer.elapsed();
        if (logLines)
            *logLines = QString::fromUtf8(readFile(logPath).mid(logBefore)).split(QStringLiteral("\n"));
        return ms;
    }

    bool exportCompleted() const { return kit.frame.exportSteps.at(4) == StepDone; }

    DriverKit kit;
    const passwd* firebird_ = nullptr;
    LocalFirebirdServer server_;
};

TEST_F(HeldDatabaseExportTest, AConsistentCopyWhileAWriterCommitsAndTheImportGivesADatabaseTheServerOpens)
{
    TempDir out;
    const QString audioCopy = out.file(QStringLiteral("VireoAudio.fdb"));
    const QString admCopy = out.file(QStringLiteral("VireoAdm.fdb"));
    long long before = 0;
    long long atEnd = 0;
    qint64 heldMs = 0;
    {
        Attachment admHolder = Attachment::server(adm());
        Writer writer(audio());
        ASSERT_TRUE(writer.waitFor(20)) << writer.error().toStdString();
        ASSERT_TRUE(Held(audio()) && Held(adm()));
        before = writer.committed();
        QStringList log;
        heldMs = timedExport(&log);
        atEnd = writer.committed();
        writer.stop();
        EXPECT_TRUE(writer.error().isEmpty()) << writer.error().toStdString();
        // The station stayed writable for the whole export.
        EXPECT_GT(atEnd, before);

        EXPECT_TRUE(exportCompleted()) << kit.dialogs.messageTexts().join(u'\n').toStdString();
        EXPECT_TRUE(kit.errors.isEmpty()) << kit.errors.join(u'\n').toStdString();
        EXPECT_FALSE(kit.frame.exportProgress.contains(QStringLiteral("não copiado"))) << log.join(u'\n').toStdString();
        expectLiveDatabasesNormal();
    }
    std::cout << "export with the server holding both databases and a writer: " << heldMs << " ms (" << before
              << " rows before, " << atEnd << " at its end)" << std::endl;

    const QMap<QString, QByteArray> archived = ArchivedFiles(kit.service.archivePath());
    ASSERT_TRUE(archived.contains(Audio) && archived.contains(Adm));
    writeFile(audioCopy, archived.value(Audio));
    writeFile(admCopy, archived.value(Adm));
    for (const QString& copy : {audioCopy, admCopy}) {
        const auto [status, said] = Validate(copy);
        EXPECT_EQ(status, 0) << said.toStdString();
        EXPECT_FALSE(said.contains(QStringLiteral("error"), Qt::CaseInsensitive)) << said.toStdString();
    }
    {
        // In-process: the copy is an ordinary database, with every row
        // committed before the export began.
        Attachment copy = Attachment::inProcess(audioCopy);
        EXPECT_EQ(copy.value(QStringLiteral("SELECT MON$REMOTE_PROTOCOL FROM MON$ATTACHMENTS "
                                            "WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION"))
                      .trimmed(),
                  QString());
        EXPECT_EQ(copy.backupState(), 0);
        EXPECT_EQ(copy.number(QStringLiteral("SELECT COUNT(*) FROM TB_ESCRITA WHERE N <= %1").arg(before)), before);
        EXPECT_LE(copy.number(QStringLiteral("SELECT COUNT(*) FROM TB_ESCRITA")), atEnd);
        EXPECT_EQ(copy.value(QStringLiteral("SELECT Pas_Path FROM Tb_Pastas ORDER BY 1")),
                  QStringLiteral("C:\\Vireo\\Vireo Cast\\Musicas\\"));
    }
    EXPECT_EQ(Attachment::inProcess(admCopy).value(QStringLiteral("SELECT CFG_GUID FROM TB_CONFIGURACAO")), Guid);

    // The same export with no one holding the databases, for the time it
    // takes; the service gets the first archive back for the import.
    const QString heldArchive = out.file(QStringLiteral("held.zip"));
    ASSERT_TRUE(QFile::copy(kit.service.archivePath(), heldArchive));
    ASSERT_TRUE(WaitReleased(audio()) && WaitReleased(adm()));
    kit.setTimestamps(LongAgo);
    QFile::remove(kit.service.archivePath());
    const qint64 freeMs = timedExport();
    EXPECT_TRUE(exportCompleted());
    std::cout << "the same export with the databases free: " << freeMs << " ms" << std::endl;
    ASSERT_TRUE(QFile::remove(kit.service.archivePath()) && QFile::rename(heldArchive, kit.service.archivePath()));

    // The restore replaces the databases, which needs the server stopped.
    if (!server_.startedHere())
        GTEST_SKIP() << "NOTICE: the Firebird server was already running; it is not stopped for the import";
    ASSERT_TRUE(server_.stop());
    {
        // The station's database moves on after the export; the import brings the archived one back.
        Attachment live = Attachment::inProcess(audio());
        live.exec("DELETE FROM TB_ESCRITA");
    }
    kit.clock.advanceMs(3600 * 1000);
    kit.runImport(ImportSource::Web);
    EXPECT_EQ(kit.frame.importSteps.at(2), StepDone) << kit.dialogs.messageTexts().join(u'\n').toStdString();
    EXPECT_TRUE(kit.errors.isEmpty()) << kit.errors.join(u'\n').toStdString();
    EXPECT_EQ(kit.station.read(Audio), archived.value(Audio));
    ASSERT_TRUE(server_.start());
    for (int attempt = 0;; ++attempt) {
        try {
            Attachment restored = Attachment::server(audio());
            EXPECT_EQ(restored.backupState(), 0);
            EXPECT_GE(restored.number(QStringLiteral("SELECT COUNT(*) FROM TB_ESCRITA WHERE N <= %1").arg(before)),
                      before);
            break;
        } catch (const DatabaseError& e) {
            if (e.errorCode() == DirectAttachment::NetworkFailed && attempt < 50) {
                QThread::msleep(200);
                continue;
            }
            FAIL() << "the server does not open the restored database: " << e.message().toStdString();
        }
    }
}

TEST_F(HeldDatabaseExportTest, ACopyFailingMidwayLeavesTheLiveDatabasesOutOfBackupAndIsCarriedNextTime)
{
    Attachment admHolder = Attachment::server(adm());
    Writer writer(audio());
    ASSERT_TRUE(writer.waitFor(5)) << writer.error().toStdString();
    const Timestamp before = kit.settings.LastBackupDados;
    QStringList log;
    {
        // The staging disk fills 64 KiB into the first database.
        const std::string staged = QFile::encodeName(kit.station.host(QStringLiteral("C:\\"))).toStdString() +
                                   "/Replicacao/C/Vireo/Vireo Cast/Vireodb/";
        faults::ScopedFault fault(faults::Rule{faults::Fault::NoSpace, staged, {}, 0, 64 * 1024, false});
        timedExport(&log);
        EXPECT_GT(faults::failuresInjected(), 0);
    }
    writer.stop();
    EXPECT_TRUE(writer.error().isEmpty()) << writer.error().toStdString();
    expectLiveDatabasesNormal();

    // Reported, named with its reason, and carried next time: the Dados
    // moment stays below the databases' time.
    EXPECT_TRUE(kit.frame.exportProgress.contains(QStringLiteral("2 arquivo(s) não copiado(s)")))
        << kit.frame.exportProgress.toStdString();
    const QString text = log.join(u'\n');
    EXPECT_TRUE(text.contains(QStringLiteral("VireoAudio.fdb")) && text.contains(QStringLiteral("disco cheio")))
        << text.toStdString();
    if (exportCompleted())
        EXPECT_LT(kit.settings.LastBackupDados, CopyEngine::FatModifiedTime(QFileInfo(audio()).lastModified().toMSecsSinceEpoch()));
    else
        EXPECT_EQ(kit.settings.LastBackupDados, before);
    // Nothing half-written stays in the staging folder.
    const QString staging = kit.station.host(StagedVireodb);
    EXPECT_TRUE(Installation::filesBelow(staging).isEmpty()) << Installation::filesBelow(staging).join(u' ').toStdString();
}

TEST_F(HeldDatabaseExportTest, ADatabaseAnEmbeddedEngineHoldsIsSkippedAndReported)
{
    // isql-fb opens the file in-process, as another program's embedded engine would.
    QProcess isql;
    isql.start(QStringLiteral("isql-fb"), {QStringLiteral("-q"), adm()});
    ASSERT_TRUE(isql.waitForStarted(10000));
    isql.write("SELECT COUNT(*) FROM TB_CONFIGURACAO;\n");
    ASSERT_TRUE(isql.waitForReadyRead(30000)) << isql.readAllStandardError().toStdString();
    ASSERT_TRUE(Held(adm()));
    Attachment audioHolder = Attachment::server(audio());

    QStringList log;
    timedExport(&log);
    isql.closeWriteChannel();
    EXPECT_TRUE(isql.waitForFinished(30000));

    EXPECT_TRUE(kit.frame.exportProgress.contains(QStringLiteral("1 arquivo(s) não copiado(s)")))
        << kit.frame.exportProgress.toStdString();
    const QString text = log.join(u'\n');
    EXPECT_TRUE(text.contains(QStringLiteral("VireoAdm.fdb")) &&
                text.contains(CopyFailureReason(DatabaseHeldWithoutServer)))
        << text.toStdString();
    // The Dados moment is held back below the skipped database's time.
    EXPECT_LT(kit.settings.LastBackupDados, CopyEngine::FatModifiedTime(QFileInfo(adm()).lastModified().toMSecsSinceEpoch()));
    // The one the server holds was carried.
    const QMap<QString, QByteArray> archived = ArchivedFiles(kit.service.archivePath());
    EXPECT_TRUE(archived.contains(Audio));
    EXPECT_FALSE(archived.contains(Adm));
    expectLiveDatabasesNormal();
}

TEST_F(HeldDatabaseExportTest, AFailingOrHangingNbackupFailsTheFileAndStillEndsTheBackup)
{
    Attachment holder = Attachment::server(audio());
    TempDir tools;
    const QString failing = writeFile(tools.file(QStringLiteral("nbackup-fails")), "#!/bin/sh\necho broken >&2\nexit 3\n");
    const QString hanging = writeFile(tools.file(QStringLiteral("nbackup-hangs")), "#!/bin/sh\nexec sleep 30\n");
    for (const QString& tool : {failing, hanging})
        ASSERT_EQ(chmod(QFile::encodeName(tool).constData(), 0755), 0);
    TempDir target;
    for (const QString& tool : {failing, hanging, tools.file(QStringLiteral("missing"))}) {
        SCOPED_TRACE(tool.toStdString());
        HeldDatabaseCopy copy(kit.databases->client, AutomationDatabases::ConnectionParamLines(), tool,
                              500);
        const QString to = target.file(QStringLiteral("VireoAudio.fdb"));
        errno = 0;
        EXPECT_EQ(copy.CopyHeld(Audio, audio(), to), HeldFileCopier::Outcome::Failed);
        EXPECT_EQ(errno, DatabaseLockNotCleared);
        ASSERT_EQ(copy.Details().size(), 1);
        EXPECT_TRUE(copy.Details().first().startsWith(Audio)) << copy.Details().first().toStdString();
        EXPECT_TRUE(Installation::filesBelow(target.path()).isEmpty());
        EXPECT_EQ(holder.backupState(), 0);
    }
    // With the real tool the same copy succeeds; a file no one holds is not its to copy.
    HeldDatabaseCopy copy(kit.databases->client, AutomationDatabases::ConnectionParamLines());
    EXPECT_EQ(copy.CopyHeld(Audio, audio(), target.file(QStringLiteral("VireoAudio.fdb"))),
              HeldFileCopier::Outcome::Copied);
    EXPECT_EQ(Installation::filesBelow(target.path()), QStringList{QStringLiteral("VireoAudio.fdb")});
    const QString plain = writeFile(target.file(QStringLiteral("Outro.fdb")), "not held");
    EXPECT_EQ(copy.CopyHeld(Vireodb + QStringLiteral("Outro.fdb"), plain, target.file(QStringLiteral("x.fdb"))),
              HeldFileCopier::Outcome::NotHeld);
    EXPECT_EQ(holder.backupState(), 0);
}

TEST_F(HeldDatabaseExportTest, AServerRefusingTheLoginOrTheBackupLockFailsTheFileWithItsReason)
{
    Attachment holder = Attachment::server(audio());
    TempDir target;
    const QString to = target.file(QStringLiteral("VireoAudio.fdb"));
    {
        HeldDatabaseCopy copy(kit.databases->client,
                              {QStringLiteral("user_name=SYSDBA"), QStringLiteral("password=not-it")});
        errno = 0;
        EXPECT_EQ(copy.CopyHeld(Audio, audio(), to), HeldFileCopier::Outcome::Failed);
        EXPECT_EQ(errno, DatabaseServerRefused);
        ASSERT_EQ(copy.Details().size(), 1);
        EXPECT_TRUE(copy.Details().first().startsWith(Audio)) << copy.Details().first().toStdString();
    }
    // The server cannot write its delta file beside a database in a folder closed to it.
    const QString folder = kit.station.host(Vireodb);
    ASSERT_EQ(chown(QFile::encodeName(folder).constData(), 0, 0), 0);
    {
        HeldDatabaseCopy copy(kit.databases->client, AutomationDatabases::ConnectionParamLines());
        errno = 0;
        EXPECT_EQ(copy.CopyHeld(Audio, audio(), to), HeldFileCopier::Outcome::Failed);
        EXPECT_EQ(errno, DatabaseServerRefused);
        ASSERT_EQ(copy.Details().size(), 1);
        EXPECT_TRUE(copy.Details().first().contains(QStringLiteral(".delta"))) << copy.Details().first().toStdString();
    }
    EXPECT_TRUE(Installation::filesBelow(target.path()).isEmpty());
    EXPECT_EQ(holder.backupState(), 0);
    EXPECT_FALSE(CopyFailureReason(DatabaseServerRefused).isEmpty());
}

}  // namespace
