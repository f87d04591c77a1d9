// The import run on a recording frame: web and file mode from a real export,
// the sibling program's moments, and every failure row with its step marks,
// messages and what stays behind.

#include "archive/VolumeNaming.h"
#include "platform/TemporaryFiles.h"
#include "tests/e2e/RunTestKit.h"
#include "tests/platform/ForkedProcess.h"
#include "tests/web/ScriptedServer.h"
#include "web/HttpErrors.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <algorithm>
#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

namespace {

const QString Downloaded = Installation::ExeFolder + ArchiveFile;
const QString RestoreRoot = Installation::ExeFolder + QStringLiteral("Replicacao");
const QString Padaria = Installation::SystemFolder + QStringLiteral("Comerciais\\padaria.mp3");
const QString Rock = QStringLiteral("D:\\Musicas\\Rock\\01 - Estrada.mp3");
const QString Jazz = QStringLiteral("\\\\srv\\musica\\Jazz\\Noite.mp3");
const Timestamp ImportNow = LocalTime(2090, 6, 2, 9, 30, 0);
std::vector<StepState> States(std::initializer_list<StepState> s) { return s; }

class ImportRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kit.service.running());
        kit.prepare(FileTime - 1);
    }
    // A full export uploaded to the service, then the files damaged.
    void exportAndDamage()
    {
        kit.dialogs.answerMessage(ExportDriver::FinishedText);
        kit.runExport(Geral);
        ASSERT_TRUE(kit.dialogs.scriptDone());
        ASSERT_TRUE(QFile::exists(kit.service.archivePath()));
        before = kit.station.exportedFiles();
        QFile::remove(kit.station.host(Padaria));
        kit.station.put(Rock, "changed", LocalTime(2090, 6, 1, 11));
        kit.station.put(Jazz, "changed on the share");
        kit.events.clear();
        kit.frame.log.clear();
        kit.clock.set(ImportNow);
        kit.setTimestamps(FileTime - 1);
        kit.settings.saves = 0;
        messagesBefore = kit.dialogs.messageTexts().size();
    }
    qsizetype at(const QString& text) const { return FirstContaining(kit.events, text); }
    void expectNotCompleted()
    {
        EXPECT_EQ(kit.settings.LastBackupDados, FileTime - 1);
        EXPECT_EQ(kit.settings.saves, 0);
        EXPECT_TRUE(kit.frame.controlsEnabled);
        EXPECT_FALSE(kit.frame.busy);
    }
    // Writes a ZIP with the standard tool (the test's oracle for foreign archives).
    void zipInto(const QString& hostArchive, const QString& hostFolder, const QStringList& entries)
    {
        QProcess zip;
        zip.setWorkingDirectory(hostFolder);
        zip.start(QStringLiteral("zip"), QStringList{QStringLiteral("-q"), QStringLiteral("-r"), hostArchive} + entries);
        ASSERT_TRUE(zip.waitForFinished(30000));
        ASSERT_EQ(zip.exitCode(), 0) << zip.readAllStandardError().toStdString();
    }

    // Messages shown by the import (after the export that made the archive).
    QStringList newMessages() const { return kit.dialogs.messageTexts().mid(messagesBefore); }

    DriverKit kit;
    QMap<QString, FileState> before;
    qsizetype messagesBefore = 0;
};

TEST_F(ImportRunTest, AWebImportRestoresEveryFileAndRemovesTheServersCopy)
{
    exportAndDamage();
    kit.sibling.running = true;
    kit.dialogs.answerMessage(ImportDriver::SiblingWarning).answerMessage(ImportDriver::FinishedText);
    kit.runImport(ImportSource::Web);

    EXPECT_TRUE(kit.errors.isEmpty()) << kit.errors.join(u'\n').toStdString();
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepDone, StepDone}));
    EXPECT_EQ(kit.station.read(Padaria), before.value(Padaria).bytes);
    EXPECT_EQ(kit.station.read(Rock), before.value(Rock).bytes);
    // A share is no drive: its folder is not restored.
    EXPECT_EQ(kit.station.read(Jazz), QByteArray("changed on the share"));
    EXPECT_LE(qAbs(QFileInfo(kit.station.host(Padaria)).lastModified().toMSecsSinceEpoch() -
                   before.value(Padaria).modifiedMs),
              2000);
    // Closed just before the restore copies, its server started after them.
    const qsizetype close = at(QStringLiteral("sibling: close"));
    const qsizetype start = at(QStringLiteral("sibling: start C:\\Vireo\\Vireo Cast\\Servidor.exe"));
    EXPECT_GT(close, at(QStringLiteral("sibling: running?")));
    EXPECT_LT(close, at(QStringLiteral("C:\\Vireo\\")));
    const qsizetype lastRestored = std::max(LastStartingWith(kit.events, QStringLiteral("C:\\Vireo\\")),
                                            LastStartingWith(kit.events, QStringLiteral("D:\\Musicas\\")));
    ASSERT_GT(lastRestored, close);
    EXPECT_GT(start, lastRestored);
    // Nothing left behind; the service's copy asked to go; the timestamps saved.
    EXPECT_FALSE(kit.station.exists(Downloaded));
    EXPECT_FALSE(kit.station.fs.folderExists(RestoreRoot));
    EXPECT_FALSE(QFile::exists(kit.service.archivePath()));
    EXPECT_EQ(kit.settings.LastBackupDados, ImportNow);
    EXPECT_EQ(kit.settings.LastBackupAudio, ImportNow);
    EXPECT_EQ(kit.settings.LastBackupMusica, ImportNow);
    EXPECT_EQ(kit.settings.saves, 1);
    EXPECT_EQ(kit.frame.importProgress, QStringLiteral("Importação finalizada as 02/06/2090 09:30:00"));
    EXPECT_EQ(kit.dialogs.messageTexts().last(), kit.frame.importProgress);
}

TEST_F(ImportRunTest, ANotRunningSiblingIsNotWarnedNorStarted)
{
    exportAndDamage();
    kit.dialogs.answerMessage(ImportDriver::FinishedText);
    kit.runImport(ImportSource::Web);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_GE(at(QStringLiteral("sibling: close")), 0);
    EXPECT_EQ(at(QStringLiteral("sibling: start")), -1);
}

TEST_F(ImportRunTest, AnEmptyServerEndsTheRunWithItsMessage)
{
    kit.dialogs.answerMessage(ImportDriver::NothingOnServerMessage);
    kit.runImport(ImportSource::Web);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepRunning, StepPending, StepPending}));
    EXPECT_FALSE(kit.station.exists(Downloaded));
    EXPECT_FALSE(kit.http.Connected());
    expectNotCompleted();
}

TEST_F(ImportRunTest, AnUnreachableServerGivesAnEmptyArchiveThatFailsTheExtraction)
{
    kit.service.stop();
    kit.dialogs.setLenientMessages(true);  // the archive component's own message
    kit.runImport(ImportSource::Web);
    EXPECT_TRUE(kit.dialogs.messageTexts().contains(QStringLiteral("This archive is not a valid Zip archive")));
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepFailed, StepFailed}));
    EXPECT_TRUE(kit.errors.isEmpty());
    expectNotCompleted();
}

TEST_F(ImportRunTest, ADamagedArchiveIsKeptAndTheServersCopyStays)
{
    exportAndDamage();
    QFile archive(kit.service.archivePath());
    ASSERT_TRUE(archive.open(QIODevice::ReadWrite));
    archive.seek(200);
    archive.write(QByteArray(4000, '\0'));  // the data of the first entries
    archive.close();
    kit.dialogs.setLenientMessages(true);
    kit.runImport(ImportSource::Web);
    EXPECT_FALSE(newMessages().isEmpty());
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepFailed, StepFailed}));
    EXPECT_TRUE(kit.station.exists(Downloaded));
    EXPECT_TRUE(QFile::exists(kit.service.archivePath()));
    EXPECT_FALSE(kit.station.exists(Padaria));
    expectNotCompleted();
}

TEST_F(ImportRunTest, ADownloadThatCannotBeWrittenReachesTheErrorDisplay)
{
    exportAndDamage();
    QDir().mkpath(kit.station.host(Downloaded));  // a folder where the file should go
    kit.runImport(ImportSource::Web);
    ASSERT_EQ(kit.errors.size(), 1);
    EXPECT_TRUE(kit.errors.first().contains(Downloaded));
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepRunning, StepPending, StepPending}));
    EXPECT_FALSE(kit.http.Connected());
    expectNotCompleted();
}

TEST_F(ImportRunTest, FileModeCancelledOrWithoutTheArchiveEndsQuietlyOrWithItsMessage)
{
    kit.dialogs.answerOpen(std::nullopt);
    kit.runImport(ImportSource::File);
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepRunning, StepPending, StepPending}));
    EXPECT_TRUE(kit.dialogs.messageTexts().isEmpty());

    kit.dialogs.answerOpen(QStringLiteral("D:\\Musicas\\Rock\\01 - Estrada.mp3"))
        .answerMessage(ImportDriver::ArchiveNotFoundMessage);
    kit.runImport(ImportSource::File);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.dialogs.records().front().file.filter, QStringLiteral("Arquivo do Zuvavivevo|") + ArchiveFile);
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepRunning, StepPending, StepPending}));
    expectNotCompleted();
}

TEST_F(ImportRunTest, FileModeTakesTheArchiveFromTheChosenFolderAndLeavesItThere)
{
    exportAndDamage();
    const QString folder = QStringLiteral("D:\\Copias\\");
    QDir().mkpath(kit.station.host(folder));
    QFile::copy(kit.service.archivePath(), kit.station.host(folder + ArchiveFile));
    kit.dialogs.answerOpen(folder + QStringLiteral("outro arquivo.txt")).answerMessage(ImportDriver::FinishedText);
    kit.runImport(ImportSource::File);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepDone, StepDone}));
    EXPECT_EQ(kit.station.read(Padaria), before.value(Padaria).bytes);
    EXPECT_TRUE(kit.station.exists(folder + ArchiveFile));
    EXPECT_FALSE(QFile::exists(kit.service.archivePath()));  // the removal is asked in file mode too
}

TEST_F(ImportRunTest, AnArchiveWithoutTheRestoreFolderIsRefusedWithoutTouchingTheSibling)
{
    const QString work = kit.station.host(QStringLiteral("D:\\obra"));
    writeFile(work + QStringLiteral("/outro/x.txt"), "x");
    zipInto(kit.station.host(QStringLiteral("D:\\obra\\")) + QLatin1Char('/') + ArchiveFile, work,
            {QStringLiteral("outro")});
    kit.sibling.running = true;
    kit.dialogs.answerMessage(ImportDriver::SiblingWarning)
        .answerOpen(QStringLiteral("D:\\obra\\") + ArchiveFile)
        .answerMessage(QStringLiteral("Unsafe file name in archive: outro/"));
    kit.runImport(ImportSource::File);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepFailed, StepFailed}));
    EXPECT_FALSE(kit.station.exists(Installation::ExeFolder + QStringLiteral("outro\\x.txt")));
    EXPECT_EQ(at(QStringLiteral("sibling: close")), -1);
    EXPECT_EQ(at(QStringLiteral("sibling: start")), -1);
    expectNotCompleted();
}

TEST_F(ImportRunTest, AnEmptyRestoreFolderStillClosesAndStartsTheSibling)
{
    const QString work = kit.station.host(QStringLiteral("D:\\obra"));
    QDir().mkpath(work + QStringLiteral("/Replicacao"));
    zipInto(work + QLatin1Char('/') + ArchiveFile, work, {QStringLiteral("Replicacao")});
    kit.sibling.running = true;
    kit.dialogs.answerMessage(ImportDriver::SiblingWarning)
        .answerOpen(QStringLiteral("D:\\obra\\") + ArchiveFile)
        .answerMessage(ImportDriver::FinishedText);
    kit.runImport(ImportSource::File);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepDone, StepDone}));
    EXPECT_GE(at(QStringLiteral("sibling: close")), 0);
    EXPECT_GE(at(QStringLiteral("sibling: start")), 0);
}

TEST_F(ImportRunTest, AFailedRemovalLeavesTheRestoredFilesAndTheTimestamps)
{
    exportAndDamage();
    // The service goes away while the files are restored.
    kit.frame.onPump = [this] {
        if (kit.frame.importSteps.at(2) == StepRunning)
            kit.service.stop();
    };
    kit.runImport(ImportSource::Web);
    ASSERT_EQ(kit.errors.size(), 1);
    EXPECT_TRUE(kit.errors.first().startsWith(QStringLiteral("Socket Error # "))) << kit.errors.first().toStdString();
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepDone, StepDone}));
    EXPECT_EQ(kit.station.read(Padaria), before.value(Padaria).bytes);
    EXPECT_TRUE(kit.station.fs.folderExists(RestoreRoot));
    EXPECT_TRUE(newMessages().isEmpty());
    expectNotCompleted();
}

TEST_F(ImportRunTest, LeftoverVolumesBesideTheDownloadAreDeletedPastNinetyNine)
{
    exportAndDamage();
    for (int i = 0; i < 101; ++i)
        kit.station.put(VolumeNaming::SpanName(Downloaded, i), "leftover");
    kit.dialogs.answerMessage(ImportDriver::FinishedText);
    kit.runImport(ImportSource::Web);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_TRUE(
        QDir(kit.station.host(Installation::ExeFolder)).entryList({Guid + QStringLiteral(".*")}, QDir::Files).isEmpty());
}

TEST_F(ImportRunTest, WithoutAClientIdentifierNoRunStarts)
{
    kit.settings.ClientGuid.clear();
    kit.settings.ArchiveName.clear();
    kit.dialogs.answerMessage(ImportDriver::NoClientMessage);
    kit.runImport(ImportSource::Web);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_TRUE(kit.frame.log.isEmpty());
    EXPECT_TRUE(kit.events.isEmpty());
}

// --- The download from a scripted server -------------------------------------------

// Serves the import's requests from a script instead of the reference service.
class ScriptedDownloadTest : public ImportRunTest {
protected:
    // From here on the run talks to the scripted server.
    void useScriptedServer() { kit.settings.BaseUrl = server.url(QStringLiteral("/Zuvavivevo/")); }
    static QByteArray Ok(const QByteArray& body, qsizetype announcedBytes)
    {
        return "HTTP/1.1 200 OK\r\nContent-Type: application/x-zip-compressed\r\nContent-Length: " +
               QByteArray::number(announcedBytes) + "\r\n\r\n" + body;
    }
    // The request line of the n-th request the server read.
    QByteArray requestLine(size_t n) const
    {
        const auto requests = server.requests();
        return n < requests.size() ? requests.at(n).left(requests.at(n).indexOf("\r\n")) : QByteArray();
    }
    // Nothing but the download was asked for (no removal request followed).
    void expectOnlyTheDownload(int connectionsBefore = 0)
    {
        EXPECT_EQ(server.connectionsAccepted(), connectionsBefore + 1);
        EXPECT_EQ(requestLine(size_t(connectionsBefore)),
                  "GET /Zuvavivevo/Replicacao/" + ArchiveFile.toLatin1() + " HTTP/1.1");
    }

    ScriptedServer server;
};

TEST_F(ScriptedDownloadTest, ADownloadClosedGracefullyIsDroppedAndItsEmptyArchiveFailsTheExtraction)
{
    // The server takes the request and closes before any status line.
    useScriptedServer();
    server.AddConnection({ReadRequest(), Close()});
    server.AddConnection({ReadRequest(), Close()});
    // What the client makes of that: the error of its own kind.
    QByteArray probe;
    EXPECT_THROW(kit.http.Get(server.url(QStringLiteral("/sonda")), probe), ConnectionClosedGracefully);
    kit.http.Disconnect();

    kit.dialogs.setLenientMessages(true);  // the archive component's own message
    kit.runImport(ImportSource::Web);

    EXPECT_TRUE(kit.errors.isEmpty()) << kit.errors.join(u'\n').toStdString();
    expectOnlyTheDownload(1);
    EXPECT_FALSE(kit.http.Connected());
    // An empty archive was written; the component reports it and the
    // extraction fails, keeping the download.
    ASSERT_TRUE(kit.station.exists(Downloaded));
    EXPECT_EQ(QFileInfo(kit.station.host(Downloaded)).size(), 0);
    // (Reported when the component is given the file, and again by the extraction.)
    const QStringList messages = kit.dialogs.messageTexts();
    EXPECT_FALSE(messages.isEmpty());
    EXPECT_EQ(messages.count(QStringLiteral("This archive is not a valid Zip archive")), messages.size());
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepFailed, StepFailed}));
    EXPECT_FALSE(kit.station.fs.folderExists(RestoreRoot));
    EXPECT_EQ(at(QStringLiteral("sibling: close")), -1);
    expectNotCompleted();
}

TEST_F(ScriptedDownloadTest, ATruncatedDownloadRestoresNothingAndAsksNoRemoval)
{
    exportAndDamage();
    const QByteArray archive = readFile(kit.service.archivePath());
    const qsizetype received = archive.size() / 2;
    useScriptedServer();
    // Announced whole, closed halfway: no error, half an archive.
    server.AddConnection({ReadRequest(), Send(Ok(archive.left(received), archive.size())), Close()});
    kit.dialogs.setLenientMessages(true);
    kit.runImport(ImportSource::Web);

    EXPECT_TRUE(kit.errors.isEmpty()) << kit.errors.join(u'\n').toStdString();
    expectOnlyTheDownload();
    EXPECT_FALSE(newMessages().isEmpty());
    EXPECT_FALSE(newMessages().contains(QRegularExpression(QStringLiteral("^Importação finalizada"))));
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepFailed, StepFailed}));
    EXPECT_EQ(kit.station.read(Downloaded), archive.left(received));
    EXPECT_FALSE(kit.station.exists(Padaria));
    EXPECT_EQ(kit.station.read(Rock), QByteArray("changed"));
    expectNotCompleted();
}

TEST_F(ScriptedDownloadTest, ARemovalAnsweredWithAnErrorStatusLeavesTheRestoredFilesAndTheTimestamps)
{
    exportAndDamage();
    const QByteArray archive = readFile(kit.service.archivePath());
    useScriptedServer();
    server.AddReply(Ok(archive, archive.size()));
    server.AddReply("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 5\r\n\r\nfalha");
    kit.runImport(ImportSource::Web);

    EXPECT_EQ(kit.errors, QStringList{QStringLiteral("HTTP/1.1 500 Internal Server Error")});
    EXPECT_EQ(requestLine(1), "GET /Zuvavivevo/Remover.aspx?guid=" + Guid.toLatin1() + " HTTP/1.1");
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepDone, StepDone}));
    EXPECT_EQ(kit.station.read(Padaria), before.value(Padaria).bytes);
    EXPECT_TRUE(kit.station.exists(RestoreRoot + QStringLiteral("\\C\\Vireo\\Vireo Cast\\Comerciais\\padaria.mp3")));
    EXPECT_FALSE(kit.station.exists(Downloaded));
    EXPECT_TRUE(newMessages().isEmpty());
    expectNotCompleted();
}

// --- Extraction and restore failures ---------------------------------------------

TEST_F(ImportRunTest, AnArchiveGoneBeforeItIsUnpackedFailsTheExtractionQuietly)
{
    exportAndDamage();
    const QString copy = kit.station.prefix.drive(QStringLiteral("d")) + QStringLiteral("/Copias/") + ArchiveFile;
    writeFile(copy, readFile(kit.service.archivePath()));
    // The drive holding it is taken away while the window handles its events.
    kit.frame.onPump = [&] {
        if (kit.frame.importSteps.at(1) == StepRunning)
            QFile::remove(copy);
    };
    kit.dialogs.answerOpen(QStringLiteral("D:\\Copias\\") + ArchiveFile);
    kit.runImport(ImportSource::File);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_TRUE(kit.errors.isEmpty());
    EXPECT_TRUE(newMessages().isEmpty());
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepFailed, StepFailed}));
    EXPECT_EQ(at(QStringLiteral("sibling: close")), -1);
    EXPECT_TRUE(QFile::exists(kit.service.archivePath()));
    expectNotCompleted();
}

TEST_F(ImportRunTest, AnErrorWhileUnpackingFailsTheExtractionAndKeepsTheDownload)
{
    exportAndDamage();
    // A window event raises once the first entries are written.
    kit.frame.onPump = [this] {
        if (kit.frame.importSteps.at(1) == StepRunning && kit.station.fs.folderExists(RestoreRoot))
            throw Error(QStringLiteral("interrupted"));
    };
    kit.dialogs.setLenientMessages(true);  // the component's own report
    kit.runImport(ImportSource::Web);
    EXPECT_TRUE(kit.errors.isEmpty()) << kit.errors.join(u'\n').toStdString();
    EXPECT_EQ(newMessages().size(), 1);
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepFailed, StepFailed}));
    EXPECT_TRUE(kit.station.exists(Downloaded));
    EXPECT_TRUE(QFile::exists(kit.service.archivePath()));
    EXPECT_FALSE(kit.station.exists(Padaria));
    EXPECT_EQ(at(QStringLiteral("sibling: close")), -1);
    expectNotCompleted();
}

TEST_F(ImportRunTest, ADownloadedFileThatCannotBeDeletedIsLeftAndTheImportCompletes)
{
    exportAndDamage();
    // Leftover volumes beside the download; the first one read-only.
    const QString z01 = VolumeNaming::SpanName(Downloaded, 0);
    const QString z02 = VolumeNaming::SpanName(Downloaded, 1);
    kit.station.put(z01, "leftover");
    kit.station.put(z02, "leftover");
    ASSERT_TRUE(QFile::setPermissions(kit.station.host(z01), QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    kit.dialogs.answerMessage(ImportDriver::FinishedText);
    kit.runImport(ImportSource::Web);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_TRUE(kit.errors.isEmpty());
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepDone, StepDone}));
    EXPECT_FALSE(kit.station.exists(Downloaded));
    EXPECT_TRUE(kit.station.exists(z01));
    EXPECT_FALSE(kit.station.exists(z02));  // the deletions went on past it
    EXPECT_EQ(kit.station.read(Padaria), before.value(Padaria).bytes);
    EXPECT_EQ(kit.settings.LastBackupDados, ImportNow);
    EXPECT_EQ(kit.settings.saves, 1);
}

TEST_F(ImportRunTest, FilesThatCannotBeRestoredFailTheRestoreKeepEverythingAndTheNextImportCompletes)
{
    exportAndDamage();
    const QString lista = Installation::SystemFolder + QStringLiteral("Listas\\Segunda.lst");
    const QString database = Installation::SystemFolder + QStringLiteral("Vireodb\\VireoAudio.fdb");
    const QString tempo = Installation::SystemFolder + QStringLiteral("Textos\\tempo.mp3");
    ASSERT_TRUE(before.contains(lista) && before.contains(database) && before.contains(tempo));
    // Read-only.
    kit.station.put(lista, "lista alterada");
    ASSERT_TRUE(QFile::setPermissions(kit.station.host(lista), QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    // Held open without sharing, as a running database engine holds its file.
    kit.station.put(database, "base em uso");
    auto engine = std::make_unique<ForkedLock>(kit.station.host(database), true);
    ASSERT_TRUE(engine->locked());
    // A folder where the file was.
    QFile::remove(kit.station.host(tempo));
    QDir().mkpath(kit.station.host(tempo));
    // (The share \\srv\musica is no drive: Jazz has no place to go back to, and that is no failure.)

    kit.dialogs.answerMessage(ExtractionAndRestore::NotRestoredMessage.arg(3));
    kit.runImport(ImportSource::Web);
    EXPECT_TRUE(kit.dialogs.scriptDone()) << newMessages().join(u'\n').toStdString();
    EXPECT_TRUE(kit.errors.isEmpty()) << kit.errors.join(u'\n').toStdString();
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepDone, StepFailed}));
    // The files that could not be replaced are as they were, not half written.
    EXPECT_EQ(kit.station.read(lista), QByteArray("lista alterada"));
    EXPECT_EQ(kit.station.read(database), QByteArray("base em uso"));
    EXPECT_TRUE(QFileInfo(kit.station.host(tempo)).isDir());
    EXPECT_EQ(kit.station.read(Jazz), QByteArray("changed on the share"));
    // Everything else is back...
    EXPECT_EQ(kit.station.read(Padaria), before.value(Padaria).bytes);
    EXPECT_EQ(kit.station.read(Rock), before.value(Rock).bytes);
    // ...but nothing that would make the next import impossible is gone: the
    // service's copy, the downloaded archive, the unpacked folder; and the
    // timestamps did not move.
    EXPECT_TRUE(QFile::exists(kit.service.archivePath()));
    EXPECT_TRUE(kit.station.exists(Downloaded));
    EXPECT_TRUE(QFileInfo(kit.station.host(RestoreRoot)).isDir());
    expectNotCompleted();
    // Each file is named in the log with its reason.
    const QString log = QString::fromUtf8(kit.station.read(Installation::ExeFolder + RunLog::FileName));
    EXPECT_TRUE(log.contains(QStringLiteral("Importação não concluída, 3 arquivo(s) não restaurado(s)"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("não copiado: ") + lista + QStringLiteral(" (somente leitura ou sem permissão)")))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("não copiado: ") + database + QStringLiteral(" (arquivo em uso por outro programa)")))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("não copiado: ") + tempo + QStringLiteral(" (existe uma pasta com esse nome)")))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("pasta de rede não restaurada: musica"))) << log.toStdString();
    // No temporary file of the failed copies is left beside them.
    EXPECT_EQ(QDir(kit.station.host(Installation::SystemFolder + QStringLiteral("Vireodb")))
                  .entryList(QDir::Files | QDir::Hidden)
                  .filter(QStringLiteral(".~vz")),
              QStringList());

    // The user closes what held the files and imports again: now it completes.
    // (The database as archived: attaching it since has changed its header.)
    const QByteArray archivedDatabase = kit.station.read(RestoreRoot + QStringLiteral("\\C\\Vireo\\Vireo Cast\\Vireodb\\VireoAudio.fdb"));
    ASSERT_FALSE(archivedDatabase.isEmpty());
    engine.reset();
    ASSERT_TRUE(QFile::setPermissions(kit.station.host(lista), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    ASSERT_TRUE(QDir(kit.station.host(tempo)).removeRecursively());
    kit.dialogs.answerMessage(ImportDriver::FinishedText);
    kit.runImport(ImportSource::Web);
    EXPECT_TRUE(kit.dialogs.scriptDone()) << newMessages().join(u'\n').toStdString();
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepDone, StepDone}));
    for (const QString& path : {lista, tempo, Padaria})
        EXPECT_EQ(kit.station.read(path), before.value(path).bytes) << path.toStdString();
    EXPECT_EQ(kit.station.read(database), archivedDatabase);
    EXPECT_FALSE(QFile::exists(kit.service.archivePath()));
    EXPECT_FALSE(kit.station.exists(Downloaded));
    EXPECT_EQ(kit.settings.LastBackupDados, ImportNow);
    EXPECT_EQ(kit.settings.saves, 1);
}

TEST_F(ImportRunTest, TheNextRunRemovesTheTemporaryFilesAKilledRunLeftButNotOnesStillHeld)
{
    exportAndDamage();
    // What an import killed while it extracted and restored leaves behind:
    // its restore folder with an extraction's temporary file in it, a
    // restore's temporary file beside an installation file, and a download's
    // beside the program. One more is still held by a live writer.
    const QString comerciais = kit.station.host(Installation::SystemFolder + QStringLiteral("Comerciais"));
    const QString restoreComerciais =
        kit.station.host(RestoreRoot + QStringLiteral("\\C\\Vireo\\Vireo Cast\\Comerciais"));
    ASSERT_TRUE(QDir().mkpath(restoreComerciais));
    QStringList leftovers;
    for (const QString& folder :
         {comerciais, restoreComerciais, kit.station.host(QStringLiteral("C:\\Vireo\\Zuvavivevo"))}) {
        QString path;
        HostFile file = hostfs::createTemporaryFile(folder, &path);
        ASSERT_TRUE(file.isOpen());
        file.writeAll("part", 4);
        leftovers << path;
    }
    QString held;
    HostFile writer = hostfs::createTemporaryFile(comerciais, &held);
    ASSERT_TRUE(writer.isOpen());
    writer.close();
    ForkedLock liveWriter(held, true);  // another process writes it now
    ASSERT_TRUE(liveWriter.locked());

    kit.dialogs.answerMessage(ImportDriver::FinishedText);
    kit.runImport(ImportSource::Web);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepDone, StepDone}));
    for (const QString& path : leftovers)
        EXPECT_FALSE(QFileInfo::exists(path)) << path.toStdString();
    EXPECT_TRUE(QFileInfo::exists(held));
    // Nothing of them went to the trash with the old restore folder either.
    QDirIterator trash(qEnvironmentVariable("XDG_DATA_HOME"), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (trash.hasNext())
        EXPECT_FALSE(hostfs::isTemporaryName(QFileInfo(trash.next()).fileName()));
}

// An archive from an impersonated service: beside the staged files, one
// meant for the program's own folder. Nothing of it is taken.
TEST_F(ImportRunTest, AnArchiveWithAnEntryOutsideTheRestoreFolderIsNotRestoredAtAll)
{
    const QString settingsFile = Installation::ExeFolder + QStringLiteral("VireoReplicador.ini");
    const QByteArray settingsBefore = kit.station.read(settingsFile);
    const QByteArray padariaBefore = kit.station.read(Padaria);
    ASSERT_FALSE(settingsBefore.isEmpty());
    const QString work = kit.station.host(QStringLiteral("D:\\obra"));
    writeFile(work + QStringLiteral("/Replicacao/C/Vireo/Vireo Cast/Comerciais/padaria.mp3"), "from the archive");
    writeFile(work + QStringLiteral("/VireoReplicador.ini"), "[SERVIDOR]\r\nPASTA_SISTEMA=C:\\outro\r\n");
    zipInto(work + QLatin1Char('/') + ArchiveFile, work,
            {QStringLiteral("Replicacao"), QStringLiteral("VireoReplicador.ini")});
    kit.sibling.running = true;
    kit.dialogs.answerMessage(ImportDriver::SiblingWarning)
        .answerOpen(QStringLiteral("D:\\obra\\") + ArchiveFile)
        .answerMessage(QStringLiteral("Unsafe file name in archive: VireoReplicador.ini"));
    kit.runImport(ImportSource::File);
    EXPECT_TRUE(kit.dialogs.scriptDone()) << kit.dialogs.messageTexts().join(u'\n').toStdString();
    EXPECT_TRUE(kit.errors.isEmpty()) << kit.errors.join(u'\n').toStdString();
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepFailed, StepFailed}));
    EXPECT_EQ(kit.station.read(settingsFile), settingsBefore);
    EXPECT_EQ(kit.station.read(Padaria), padariaBefore);
    EXPECT_FALSE(kit.station.fs.folderExists(RestoreRoot));
    EXPECT_EQ(at(QStringLiteral("sibling: close")), -1);
    expectNotCompleted();
}

// Staged paths that lead onto the program itself (its settings file, a
// helper beside it, also written in other letter cases) are refused and
// reported like any file that could not be restored; a first-level folder
// that names no drive is not restored; everything else is.
TEST_F(ImportRunTest, TheRestoreNeverWritesTheProgramsOwnFilesAndReportsThem)
{
    const QString settingsFile = Installation::ExeFolder + QStringLiteral("VireoReplicador.ini");
    const QString helper = Installation::ExeFolder + QStringLiteral("vz-ajudante");
    const QByteArray settingsBefore = kit.station.read(settingsFile);
    ASSERT_FALSE(settingsBefore.isEmpty());
    const QString work = kit.station.host(QStringLiteral("D:\\obra"));
    const QString staged = work + QStringLiteral("/Replicacao/C/");
    writeFile(staged + QStringLiteral("Vireo/Zuvavivevo/VireoReplicador.ini"), "[SERVIDOR]\r\nPASTA_SISTEMA=C:\\outro\r\n");
    writeFile(staged + QStringLiteral("Vireo/Zuvavivevo/vz-ajudante"), "#!/bin/sh\n");
    writeFile(staged + QStringLiteral("VIREO/zuvavivevo/vireoreplicador.INI"), "[SERVIDOR]\r\n");
    writeFile(staged + QStringLiteral("Vireo/Vireo Cast/Comerciais/padaria.mp3"), "restored");
    writeFile(work + QStringLiteral("/Replicacao/1/Jazz/Noite.mp3"), "a share's");
    zipInto(work + QLatin1Char('/') + ArchiveFile, work, {QStringLiteral("Replicacao")});
    kit.dialogs.answerOpen(QStringLiteral("D:\\obra\\") + ArchiveFile)
        .answerMessage(ExtractionAndRestore::NotRestoredMessage.arg(3));
    kit.runImport(ImportSource::File);
    EXPECT_TRUE(kit.dialogs.scriptDone()) << kit.dialogs.messageTexts().join(u'\n').toStdString();
    EXPECT_TRUE(kit.errors.isEmpty()) << kit.errors.join(u'\n').toStdString();
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepDone, StepFailed}));
    EXPECT_EQ(kit.station.read(settingsFile), settingsBefore);
    EXPECT_FALSE(kit.station.exists(helper));
    EXPECT_EQ(QDir(kit.station.host(Installation::ExeFolder)).entryList(QDir::Files).filter(QStringLiteral(".ini"), Qt::CaseInsensitive),
              QStringList{QStringLiteral("VireoReplicador.ini")});
    EXPECT_EQ(kit.station.read(Padaria), QByteArray("restored"));
    expectNotCompleted();
    const QString log = QString::fromUtf8(kit.station.read(Installation::ExeFolder + RunLog::FileName));
    EXPECT_TRUE(log.contains(QStringLiteral("Importação não concluída, 3 arquivo(s) não restaurado(s)"))) << log.toStdString();
    for (const QString& refused : {settingsFile, helper, QStringLiteral("C:\\VIREO\\zuvavivevo\\vireoreplicador.INI")})
        EXPECT_TRUE(log.contains(QStringLiteral("não copiado: ") + refused +
                                 QStringLiteral(" (arquivo protegido do próprio programa)")))
            << refused.toStdString() << "\n" << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("pasta de rede não restaurada: 1"))) << log.toStdString();
}

}  // namespace
