// The export run on a recording frame, against a real installation, real
// databases and the reference service: the order of its steps, the sibling
// program's moments, the first-run prompt, every failure row with its step
// marks, messages and timestamps.

#include "staging/ExportSources.h"
#include "tests/e2e/RunTestKit.h"
#include "tests/platform/ForkedProcess.h"
#include "tests/support/FirebirdTestDatabases.h"

#include <QDir>
#include <QFile>
#include <QUrl>
#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

namespace {

const QString Staging = QStringLiteral("C:\\Replicacao\\C\\Vireo\\Vireo Cast\\");
// The moment a category staged while the clock stood at FirstNow moves to:
// just below it (FirstNow falls on an even second), so a file written in
// the same two seconds still counts as changed next time.
const Timestamp Moved = FirstNow - 1.0 / 86400000.0;
std::vector<StepState> States(std::initializer_list<StepState> s) { return s; }

class ExportRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kit.service.running());
        kit.prepare(FileTime - 1);  // an earlier export: no first-run prompt
        ASSERT_EQ(kit.settings.ClientGuid, Guid);
    }
    qsizetype at(const QString& text, qsizetype from = 0) const { return FirstContaining(kit.events, text, from); }
    qsizetype lastAt(const QString& text) const { return LastContaining(kit.events, text); }
    void expectTimestamps(Timestamp dados, Timestamp audio, Timestamp musica)
    {
        EXPECT_EQ(kit.settings.LastBackupDados, dados);
        EXPECT_EQ(kit.settings.LastBackupAudio, audio);
        EXPECT_EQ(kit.settings.LastBackupMusica, musica);
    }
    // A window event that raises while the copy engine shows a destination
    // containing `part` interrupts that folder's walk.
    void failWalkAt(const QString& part)
    {
        kit.frame.onPump = [this, part] {
            if (kit.frame.exportDestination.contains(part))
                throw Error(QStringLiteral("interrupted"));
        };
    }

    DriverKit kit;
};

TEST_F(ExportRunTest, CategoriesRunClosesTheSiblingAroundItsDatabasesAndCompletes)
{
    kit.sibling.running = true;
    kit.dialogs.answerMessage(ExportDriver::SiblingWarning).answerMessage(ExportDriver::FinishedText);
    kit.runExport(AllCategories);

    EXPECT_TRUE(kit.errors.isEmpty()) << kit.errors.join(u'\n').toStdString();
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.frame.exportSteps.all(), States({StepDone, StepDone, StepDone, StepDone, StepDone}));
    // The warning before anything is copied; the close request after the files
    // directly in the installation folder, before its database folder; the
    // server right after the database folder, before the other data folders.
    const qsizetype close = at(QStringLiteral("sibling: close"));
    const qsizetype start = at(QStringLiteral("sibling: start C:\\Vireo\\Vireo Cast\\Servidor.exe"));
    ASSERT_GE(close, 0);
    ASSERT_GT(start, close);
    EXPECT_LT(lastAt(Staging + QStringLiteral("Vireo.ini")), close);
    EXPECT_GT(at(Staging + QStringLiteral("Vireodb\\")), close);
    EXPECT_LT(lastAt(Staging + QStringLiteral("Vireodb\\VireoAudio.fdb")), start);
    EXPECT_GT(at(Staging + QStringLiteral("Plugins\\")), start);
    EXPECT_EQ(kit.events.count(QStringLiteral("sibling: close")), 1);

    // Delivered, deleted from the drive root, staging gone; new timestamps saved.
    EXPECT_TRUE(QFile::exists(kit.service.archivePath()));
    EXPECT_FALSE(kit.station.exists(QStringLiteral("C:\\") + ArchiveFile));
    EXPECT_FALSE(kit.station.fs.folderExists(QStringLiteral("C:\\Replicacao")));
    expectTimestamps(Moved, Moved, Moved);
    EXPECT_EQ(kit.settings.saves, 1);
    EXPECT_EQ(kit.frame.exportProgress, QStringLiteral("Exportação finalizada as 01/06/2090 10:00:00"));
    EXPECT_EQ(kit.frame.exportDestination, QString());
    EXPECT_EQ(kit.frame.log.last(), QStringLiteral("SetControlsEnabled(true)"));
    EXPECT_FALSE(kit.frame.busy);
    EXPECT_EQ(kit.dialogs.messageTexts().last(), QStringLiteral("Exportação finalizada as 01/06/2090 10:00:00"));
}

TEST_F(ExportRunTest, GeralClosesTheSiblingBeforeTheWholeFolderAndStartsItAfter)
{
    kit.sibling.running = true;
    kit.dialogs.answerMessage(ExportDriver::SiblingWarning).answerMessage(ExportDriver::FinishedText);
    kit.runExport(Geral);

    EXPECT_TRUE(kit.errors.isEmpty());
    EXPECT_EQ(kit.frame.exportSteps.all(), States({StepPending, StepPending, StepDone, StepDone, StepDone}));
    const qsizetype close = at(QStringLiteral("sibling: close"));
    const qsizetype start = at(QStringLiteral("sibling: start"));
    ASSERT_GE(close, 0);
    EXPECT_LT(close, at(Staging));
    EXPECT_GT(start, lastAt(Staging + QStringLiteral("Vireodb\\")));
    EXPECT_GT(start, lastAt(Staging + QStringLiteral("Locucoes\\")));
    // Music folders come after the server start: D: and the share, not the one inside the installation again.
    EXPECT_GT(at(QStringLiteral("C:\\Replicacao\\D\\Musicas\\Rock\\")), start);
    EXPECT_GT(at(QStringLiteral("C:\\Replicacao\\musica\\Jazz\\")), start);
    expectTimestamps(Moved, Moved, Moved);
}

TEST_F(ExportRunTest, WithoutTheSiblingThereIsNoWarningAndNoServerStart)
{
    kit.dialogs.answerMessage(ExportDriver::FinishedText);
    kit.runExport(ExportCategories{false, true, false, false});
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(at(QStringLiteral("sibling: start")), -1);
    EXPECT_GE(at(QStringLiteral("sibling: close")), 0);  // goes to no window
    // Without "Áudios", step 1 is done by the mark of step 2 and step 0 keeps its running mark.
    EXPECT_EQ(kit.frame.exportSteps.all(), States({StepRunning, StepDone, StepDone, StepDone, StepDone}));
    expectTimestamps(Moved, FileTime - 1, FileTime - 1);
}

TEST_F(ExportRunTest, FirstRunPromptRejectsBadDatesAndTakesTheAnswerAsThreshold)
{
    kit.setTimestamps(EarliestTimestamp);
    kit.dialogs.answerInput(QStringLiteral(" abc "))
        .answerMessage(ExportDriver::InvalidDateMessage)
        .answerInput(QStringLiteral("01/01/2095"))  // later than Now
        .answerMessage(ExportDriver::InvalidDateMessage)
        .answerInput(QStringLiteral("01/01/0100"))  // EarliestTimestamp itself
        .answerMessage(ExportDriver::InvalidDateMessage)
        .answerInput(QStringLiteral("\t01/03/2089 09:00\r"))
        .answerMessage(ExportDriver::FinishedText);
    kit.station.put(Installation::SystemFolder + QStringLiteral("Listas\\Nova.lst"), "nova",
                    LocalTime(2089, 3, 2));
    kit.runExport(ExportCategories{false, true, false, false});

    EXPECT_TRUE(kit.dialogs.scriptDone());
    const auto& first = kit.dialogs.records().front();
    EXPECT_EQ(first.caption, Title);
    EXPECT_EQ(first.prompt, ExportDriver::FirstRunPrompt);
    // The prompt comes before the run makes the window busy.
    EXPECT_EQ(kit.frame.log.first(), QStringLiteral("ShowBusy"));
    expectTimestamps(Moved, LocalTime(2089, 3, 1, 9), LocalTime(2089, 3, 1, 9));
}

TEST_F(ExportRunTest, AnEmptyFirstAnswerCopiesEverythingAndTheEmptyAnswerIsAccepted)
{
    kit.setTimestamps(EarliestTimestamp);
    kit.dialogs.cancelInput().answerMessage(ExportDriver::FinishedText);
    kit.runExport(ExportCategories{false, true, false, false});
    EXPECT_TRUE(kit.dialogs.scriptDone());
    expectTimestamps(Moved, EarliestTimestamp, EarliestTimestamp);
}

TEST_F(ExportRunTest, AFailedDataFolderFailsEveryStepAndKeepsTheTimestamps)
{
    failWalkAt(QStringLiteral("Plugins\\"));
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.errors.isEmpty());
    EXPECT_TRUE(kit.dialogs.messageTexts().isEmpty());
    EXPECT_EQ(kit.frame.exportSteps.all(), States({StepFailed, StepFailed, StepFailed, StepFailed, StepFailed}));
    expectTimestamps(FileTime - 1, FileTime - 1, FileTime - 1);
    EXPECT_EQ(kit.settings.saves, 0);
    EXPECT_TRUE(kit.frame.controlsEnabled);
    EXPECT_FALSE(kit.frame.busy);
    // The staged files stay for the next export.
    EXPECT_TRUE(kit.station.exists(Staging + QStringLiteral("Vireo.ini")));
}

TEST_F(ExportRunTest, AFailedAudioFolderPutsTheDataTimestampBack)
{
    failWalkAt(QStringLiteral("Trilhas\\"));
    kit.runExport(AllCategories);
    EXPECT_EQ(kit.frame.exportSteps.all(), States({StepDone, StepFailed, StepFailed, StepFailed, StepFailed}))
        << kit.frame.log.join(u'\n').toStdString() << kit.events.join(u'\n').toStdString();
    expectTimestamps(FileTime - 1, FileTime - 1, FileTime - 1);
    EXPECT_EQ(kit.settings.saves, 0);
}

TEST_F(ExportRunTest, AnUnreachableAudioDatabaseEndsTheRunWithItsTextEvenWithDataOnly)
{
    kit.databases->setFileNames(Installation::SystemFolder + QStringLiteral("Vireodb\\Nenhum.fdb"),
                                Installation::SystemFolder + QStringLiteral("Vireodb\\VireoAdm.fdb"));
    for (const ExportCategories& categories : {AllCategories, ExportCategories{false, true, false, false}}) {
        kit.frame.log.clear();
        kit.runExport(categories);
        EXPECT_TRUE(kit.dialogs.messageTexts().isEmpty());
        EXPECT_EQ(kit.frame.exportProgress, ExportDriver::DatabaseFailedText);
        EXPECT_EQ(kit.frame.exportSteps.at(categories.audios ? 1 : 0), StepRunning);
        EXPECT_EQ(kit.frame.exportSteps.at(2), StepPending);
        expectTimestamps(FileTime - 1, FileTime - 1, FileTime - 1);
    }
    // Geral: the same text, nothing marked.
    kit.runExport(Geral);
    EXPECT_EQ(kit.frame.exportSteps.all(), States({StepPending, StepPending, StepPending, StepPending, StepPending}));
    EXPECT_EQ(kit.settings.saves, 0);
}

TEST_F(ExportRunTest, AFailedMusicStageFailsFromStepTwoAndPutsEveryTimestampBack)
{
    // An audio database without Tb_Pastas: the music query fails.
    ASSERT_TRUE(CreateAdmDatabase(kit.station.host(QStringLiteral("C:\\Outro\\SemPastas.fdb")), {{1, Guid}}));
    kit.databases->setFileNames(QStringLiteral("C:\\Outro\\SemPastas.fdb"),
                                Installation::SystemFolder + QStringLiteral("Vireodb\\VireoAdm.fdb"));
    kit.runExport(AllCategories);
    EXPECT_EQ(kit.frame.exportSteps.all(), States({StepDone, StepDone, StepFailed, StepFailed, StepFailed}));
    expectTimestamps(FileTime - 1, FileTime - 1, FileTime - 1);
    // The connection was not left attached: the next run connects and completes.
    kit.databases->setFileNames(Installation::SystemFolder + QStringLiteral("Vireodb\\VireoAudio.fdb"),
                                Installation::SystemFolder + QStringLiteral("Vireodb\\VireoAdm.fdb"));
    kit.dialogs.answerMessage(ExportDriver::FinishedText);
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_FALSE(kit.databases->DB_Vireo.connected());
}

TEST_F(ExportRunTest, GeralInstallationFolderFailureReachesTheErrorDisplayWithNoMarks)
{
    // The whole installation is one walk: an interruption of its own listing.
    kit.frame.onPump = [this] {
        if (kit.frame.exportDestination.startsWith(Staging) &&
            !kit.frame.exportDestination.mid(Staging.size()).contains(QLatin1Char('\\')))
            throw Error(QStringLiteral("interrupted"));
    };
    kit.runExport(Geral);
    EXPECT_EQ(kit.errors, QStringList{ExportSources::CopyFailedMessage});
    EXPECT_EQ(kit.frame.exportSteps.all(), States({StepPending, StepPending, StepPending, StepPending, StepPending}));
    expectTimestamps(FileTime - 1, FileTime - 1, FileTime - 1);
    EXPECT_FALSE(kit.frame.busy);
    EXPECT_TRUE(kit.frame.controlsEnabled);
}

TEST_F(ExportRunTest, ALeftoverVolumeDeclinedLeavesNoArchiveAndFailsStepFour)
{
    kit.station.put(QStringLiteral("C:\\") + Guid + QStringLiteral(".z01"), "old volume");
    kit.dialogs.answerMessage(QStringLiteral("There is already a file"), ButtonNo);
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.frame.exportSteps.all(), States({StepDone, StepDone, StepDone, StepRunning, StepFailed}));
    expectTimestamps(FileTime - 1, FileTime - 1, FileTime - 1);
    // The staging folder stays for the next export.
    EXPECT_TRUE(kit.station.exists(Staging + QStringLiteral("Vireo.ini")));
}

TEST_F(ExportRunTest, AnOldArchiveKeptAtTheRootIsNeverDeliveredAsThisRunsArchive)
{
    kit.station.put(QStringLiteral("C:\\") + ArchiveFile, "an archive of an earlier run");
    kit.dialogs.setLenientMessages(true);  // the overwrite question answered No, "Last part left as"
    kit.dialogs.answerMessage(QStringLiteral("There is already a file"), ButtonNo);
    kit.runExport(AllCategories);
    EXPECT_EQ(kit.frame.exportSteps.all(), States({StepDone, StepDone, StepDone, StepFailed, StepFailed}));
    EXPECT_FALSE(QFile::exists(kit.service.archivePath()));
    EXPECT_EQ(kit.station.read(QStringLiteral("C:\\") + ArchiveFile), QByteArray("an archive of an earlier run"));
    expectTimestamps(FileTime - 1, FileTime - 1, FileTime - 1);
    EXPECT_EQ(kit.settings.saves, 0);
}

TEST_F(ExportRunTest, WithoutAClientIdentifierNoRunStarts)
{
    kit.settings.ClientGuid.clear();
    kit.settings.ArchiveName.clear();
    kit.dialogs.answerMessage(ExportDriver::NoClientMessage);
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_TRUE(kit.frame.log.isEmpty());
    EXPECT_FALSE(kit.station.fs.folderExists(QStringLiteral("C:\\Replicacao")));
    EXPECT_FALSE(kit.station.exists(QStringLiteral("C:\\.zip")));
}

TEST_F(ExportRunTest, AnArchiveThatCannotBeWrittenFailsThePackingAndKeepsTheStagedFiles)
{
    // A read-only archive of an earlier run at the drive root: the component
    // cannot write there and says so.
    const QString old = QStringLiteral("C:\\") + ArchiveFile;
    kit.station.put(old, "an archive of an earlier run");
    ASSERT_TRUE(QFile::setPermissions(kit.station.host(old), QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    kit.dialogs.setLenientMessages(true);
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.errors.isEmpty());
    EXPECT_TRUE(kit.dialogs.messageTexts().contains(QStringLiteral("Cannot write to ") + old))
        << kit.dialogs.messageTexts().join(u'\n').toStdString();
    EXPECT_EQ(kit.frame.exportSteps.all(), States({StepDone, StepDone, StepDone, StepFailed, StepFailed}));
    EXPECT_EQ(kit.station.read(old), QByteArray("an archive of an earlier run"));
    EXPECT_FALSE(QFile::exists(kit.service.archivePath()));
    EXPECT_TRUE(kit.station.exists(Staging + QStringLiteral("Vireo.ini")));
    expectTimestamps(FileTime - 1, FileTime - 1, FileTime - 1);
    EXPECT_EQ(kit.settings.saves, 0);
    EXPECT_FALSE(kit.frame.busy);
    EXPECT_TRUE(kit.frame.controlsEnabled);
}

TEST_F(ExportRunTest, WithNothingChangedNoArchiveIsWrittenAndTheDeliveryStepFails)
{
    kit.setTimestamps(FirstNow);
    kit.dialogs.answerMessage(QStringLiteral("Nothing to do!"));  // the component's own
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.dialogs.messageTexts().size(), 1);
    EXPECT_TRUE(kit.errors.isEmpty());
    EXPECT_EQ(kit.frame.exportSteps.all(), States({StepDone, StepDone, StepDone, StepRunning, StepFailed}));
    EXPECT_FALSE(kit.station.exists(QStringLiteral("C:\\") + ArchiveFile));
    EXPECT_FALSE(QFile::exists(kit.service.archivePath()));
    expectTimestamps(FirstNow, FirstNow, FirstNow);
    EXPECT_EQ(kit.settings.saves, 0);
}

TEST_F(ExportRunTest, AFileHeldDuringAnExportIsCountedNamedAndCarriedByTheNextExport)
{
    const QString held = Installation::SystemFolder + QStringLiteral("Comerciais\\padaria.mp3");
    const QByteArray bytes = kit.station.read(held);
    auto holder = std::make_unique<ForkedLock>(kit.station.host(held), true);
    ASSERT_TRUE(holder->locked());
    kit.dialogs.answerMessage(ExportDriver::FinishedText);
    kit.runExport(AllCategories);
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.frame.exportSteps.at(4), StepDone);
    // Counted in the final text, named in the log with the reason.
    EXPECT_EQ(kit.dialogs.messageTexts().last(),
              QStringLiteral("Exportação finalizada as 01/06/2090 10:00:00, 1 arquivo(s) não copiado(s)"));
    const QString log = QString::fromUtf8(kit.station.read(Installation::ExeFolder + RunLog::FileName));
    EXPECT_TRUE(log.contains(QStringLiteral("Exportação finalizada, 1 arquivo(s) não copiado(s)"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("não copiado: ") + held + QStringLiteral(" (arquivo em uso por outro programa)")))
        << log.toStdString();
    EXPECT_FALSE(ArchivedFiles(kit.service.archivePath()).contains(held));
    // Its category's moment stays below the file's time; the others move.
    EXPECT_LT(kit.settings.LastBackupAudio, FileTime);
    EXPECT_GE(kit.settings.LastBackupAudio, FileTime - 1);
    EXPECT_EQ(kit.settings.LastBackupDados, Moved);
    EXPECT_EQ(kit.settings.LastBackupMusica, Moved);

    // Released, it goes with the next export.
    holder.reset();
    kit.clock.advanceMs(3600 * 1000);
    kit.dialogs.answerMessage(ExportDriver::FinishedText);
    kit.runExport(AllCategories);
    EXPECT_EQ(kit.dialogs.messageTexts().last(), QStringLiteral("Exportação finalizada as 01/06/2090 11:00:00"));
    EXPECT_EQ(ArchivedFiles(kit.service.archivePath()).value(held), bytes);
}

TEST_F(ExportRunTest, AFileWrittenDuringTheRunInAFolderAlreadyWalkedIsCarriedByTheNextExport)
{
    // Written while the export walks the music folders, stamped with the
    // clock of the run: after the walk of its own folder, before the run ends.
    const QString late = Installation::SystemFolder + QStringLiteral("Comerciais\\chegou agora.mp3");
    bool written = false;
    kit.frame.onPump = [&] {
        if (!written && kit.frame.exportDestination.contains(QStringLiteral("Musicas\\Rock"))) {
            kit.station.put(late, "gravado durante a exportação", kit.clock.now());
            written = true;
        }
    };
    kit.dialogs.answerMessage(ExportDriver::FinishedText);
    kit.runExport(AllCategories);
    kit.frame.onPump = nullptr;
    ASSERT_TRUE(written);
    EXPECT_EQ(kit.frame.exportSteps.at(4), StepDone);
    EXPECT_FALSE(ArchivedFiles(kit.service.archivePath()).contains(late));

    kit.clock.advanceMs(3600 * 1000);
    kit.dialogs.answerMessage(ExportDriver::FinishedText);
    kit.runExport(AllCategories);
    EXPECT_EQ(ArchivedFiles(kit.service.archivePath()).value(late), QByteArray("gravado durante a exportação"));
}

TEST_F(ExportRunTest, DailyExportsKeepOnlyTheTwoNewestOfTheProgramsFoldersInTheTrash)
{
    // Someone else's item in the same trash is never touched.
    const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash");
    ASSERT_FALSE(qEnvironmentVariable("XDG_DATA_HOME").isEmpty());
    ASSERT_TRUE(QDir().mkpath(trash + QStringLiteral("/files/Replicacao")));
    ASSERT_TRUE(QDir().mkpath(trash + QStringLiteral("/info")));
    writeFile(trash + QStringLiteral("/info/Replicacao.trashinfo"),
              "[Trash Info]\nPath=/outro/lugar/Replicacao\nDeletionDate=2020-01-01T10:00:00\n");
    for (int day = 0; day < 5; ++day) {
        kit.clock.advanceMs(24.0 * 3600 * 1000);
        kit.station.put(Installation::SystemFolder + QStringLiteral("Vireo.ini"), QByteArray::number(day),
                        kit.clock.now() - 1.0 / 24);
        // An import's leftover folder goes to the trash at the start, the mirror after packing.
        ASSERT_TRUE(QDir().mkpath(kit.station.host(Installation::ExeFolder + QStringLiteral("Replicacao\\C"))));
        kit.dialogs.answerMessage(ExportDriver::FinishedText);
        kit.runExport(AllCategories);
        ASSERT_TRUE(kit.dialogs.scriptDone());
    }
    // Other tests of this program may have trashed folders of their own
    // stations here: only this station's count.
    int ours = 0;
    const QString prefix = QString::fromUtf8(QUrl::toPercentEncoding(kit.station.prefix.path(), "/"));
    for (const QString& info : QDir(trash + QStringLiteral("/info")).entryList(QDir::Files)) {
        const QString text = QString::fromUtf8(readFile(trash + QStringLiteral("/info/") + info));
        if (text.contains(QStringLiteral("Path=") + prefix)) {
            ++ours;
            EXPECT_TRUE(QFileInfo::exists(trash + QStringLiteral("/files/") + info.chopped(10)));
        }
    }
    EXPECT_EQ(ours, 2);
    EXPECT_TRUE(QFileInfo(trash + QStringLiteral("/files/Replicacao")).isDir());
    EXPECT_TRUE(QFileInfo::exists(trash + QStringLiteral("/info/Replicacao.trashinfo")));
}

}  // namespace
