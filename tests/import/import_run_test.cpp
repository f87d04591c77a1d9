// The import run on a recording frame: web and file mode from a real export,
// the sibling program's moments, and every failure row with its step marks,
// messages and what stays behind.

#include "archive/VolumeNaming.h"
#include "tests/e2e/RunTestKit.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
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
        kit.station.populate();
        ASSERT_TRUE(kit.service.running());
        kit.loadSettings();
        kit.setTimestamps(FileTime - 1);
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
    qsizetype at(const QString& text) const
    {
        for (qsizetype i = 0; i < kit.events.size(); ++i)
            if (kit.events.at(i).contains(text))
                return i;
        return -1;
    }
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
    EXPECT_GT(start, kit.events.lastIndexOf(QRegularExpression(QStringLiteral("^D:\\\\Musicas"))));
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

TEST_F(ImportRunTest, AnArchiveWithoutTheRestoreFolderFailsTheRestoreWithoutTouchingTheSibling)
{
    const QString work = kit.station.host(QStringLiteral("D:\\obra"));
    writeFile(work + QStringLiteral("/outro/x.txt"), "x");
    zipInto(kit.station.host(QStringLiteral("D:\\obra\\")) + QLatin1Char('/') + ArchiveFile, work,
            {QStringLiteral("outro")});
    kit.sibling.running = true;
    kit.dialogs.answerMessage(ImportDriver::SiblingWarning).answerOpen(QStringLiteral("D:\\obra\\") + ArchiveFile);
    kit.runImport(ImportSource::File);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.frame.importSteps.all(), States({StepDone, StepDone, StepFailed}));
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

}  // namespace
