// The export sources on a real installation tree: the installation folder's
// categories and the music folders, local and on a network share.

#include "staging/ExportSources.h"
#include "platform/Errors.h"
#include "tests/staging/StagingTestSupport.h"
#include "tests/support/ManualClock.h"

#include <QDir>
#include <optional>

namespace vz {
namespace {

using test::LocalMs;

const QString SystemFolder = QStringLiteral("C:\\Vireo\\Vireo Cast\\");

class ExportSourcesTest : public test::StagingTest {
protected:
    QStringList musicRows;
    std::optional<int> failWalkAfterRows;  // the database fails after this many rows
    ExportSources sources{engine, frame, SystemFolder, [this](const std::function<void(const QString&)>& row) {
                              int n = 0;
                              for (const QString& value : musicRows) {
                                  if (failWalkAfterRows && n++ == *failWalkAfterRows)
                                      throw Error(QStringLiteral("conexão perdida"));
                                  row(value);
                              }
                          }};
};

TEST_F(ExportSourcesTest, DataAndAudioCategoriesStageTheirFoldersOfTheInstallation)
{
    put(SystemFolder + QStringLiteral("Vireo.exe"), "exe", NewMs);
    put(SystemFolder + QStringLiteral("Listas\\2025\\dez.lst"), "list", NewMs);
    const qint64 oddSecondMs = LocalMs(2025, 1, 15, 9, 30, 11, 500);
    put(SystemFolder + QStringLiteral("Vireodb\\VireoAudio.fdb"), "db", oddSecondMs);
    put(SystemFolder + QStringLiteral("Comerciais\\velho.mp3"), "old", OldMs);
    put(SystemFolder + QStringLiteral("Vinhetas\\Natal\\novo.mp3"), "new", NewMs);
    const QString staged = QStringLiteral("C:\\Replicacao\\C\\Vireo\\Vireo Cast\\");

    // The files directly in the installation folder, and nothing below it.
    sources.StageSystemFolder(QString(), false, Threshold);
    EXPECT_TRUE(exists(staged + QStringLiteral("Vireo.exe")));
    EXPECT_FALSE(exists(staged + QStringLiteral("Listas")));

    for (const QString& name : ExportSources::DadosFolders)
        sources.StageSystemFolder(name, true, Threshold);
    EXPECT_TRUE(exists(staged + QStringLiteral("Listas\\2025\\dez.lst")));
    EXPECT_EQ(mtimeMs(staged + QStringLiteral("Vireodb\\VireoAudio.fdb")), oddSecondMs);  // the platform copy
    // A missing folder of the list gives an empty staging folder and no error.
    EXPECT_TRUE(QDir(host(staged + QStringLiteral("Textos Avulsos"))).exists());
    EXPECT_TRUE(QDir(host(staged + QStringLiteral("Textos Avulsos"))).isEmpty());

    for (const QString& name : ExportSources::AudioFolders)
        sources.StageSystemFolder(name, true, Threshold);
    EXPECT_TRUE(exists(staged + QStringLiteral("Vinhetas\\Natal\\novo.mp3")));
    EXPECT_FALSE(exists(staged + QStringLiteral("Comerciais\\velho.mp3")));
    EXPECT_TRUE(exists(staged + QStringLiteral("Locucoes")));
    EXPECT_EQ(engine.TotalMB, 0.0);  // the last folder, "Locucoes", does not exist
}

TEST_F(ExportSourcesTest, AnInterruptedWalkOfASystemFolderRaisesTheCopyError)
{
    put(SystemFolder + QStringLiteral("Plugins\\p.dll"), "dll", NewMs);
    test::SetFolderMode(prefix.path(), 0755);
    test::SetFolderMode(prefix.drive(QStringLiteral("c")));
    test::SetFolderMode(host(SystemFolder + QStringLiteral("Plugins")), 0);

    const int outcome = test::runUnprivileged([this] {
        try {
            sources.StageSystemFolder(QStringLiteral("Plugins"), true, Threshold);
        } catch (const Error& e) {
            return e.message() == QStringLiteral("Não foi possível copiar") ? 1 : 2;
        }
        return 3;
    });
    test::SetFolderMode(host(SystemFolder + QStringLiteral("Plugins")), 0755);
    EXPECT_EQ(outcome, 1);
    EXPECT_TRUE(QDir(host(QStringLiteral("C:\\Replicacao\\C\\Vireo\\Vireo Cast\\Plugins"))).exists());
}

TEST_F(ExportSourcesTest, MusicFoldersAreStagedUnderTheirDriveOrShareWithoutTheirSubfolders)
{
    test::writeFile(share + QStringLiteral("/Rock/rede.mp3"), "net");
    test::setMTime(share + QStringLiteral("/Rock/rede.mp3"), NewMs);
    put(QStringLiteral("D:\\Musicas\\Rock\\local.mp3"), "local", NewMs);
    put(QStringLiteral("D:\\Musicas\\Rock\\antiga.mp3"), "old", OldMs);
    put(QStringLiteral("D:\\Musicas\\Rock\\Ao Vivo\\show.mp3"), "live", NewMs);
    musicRows = {QStringLiteral("\\\\srv\\musica\\Rock\\"), QStringLiteral("D:\\Musicas\\Rock\\")};

    Timestamp lastBackup = Threshold;
    sources.StageMusicFolders(false, lastBackup);
    EXPECT_TRUE(engine.Failures().empty());
    EXPECT_TRUE(exists(QStringLiteral("C:\\Replicacao\\musica\\Rock\\rede.mp3")));
    EXPECT_TRUE(exists(QStringLiteral("C:\\Replicacao\\D\\Musicas\\Rock\\local.mp3")));
    EXPECT_FALSE(exists(QStringLiteral("C:\\Replicacao\\D\\Musicas\\Rock\\antiga.mp3")));
    EXPECT_FALSE(exists(QStringLiteral("C:\\Replicacao\\D\\Musicas\\Rock\\Ao Vivo")));
    EXPECT_EQ(engine.TotalMB, 8.0 / (1024 * 1024));  // local.mp3 and antiga.mp3 only
    EXPECT_FALSE(frame.log.contains(QStringLiteral("MarkExportStep(2,true)")));
}

TEST_F(ExportSourcesTest, GeneralModeSkipsFoldersInsideTheInstallationButStillMeasuresThem)
{
    put(SystemFolder + QStringLiteral("Musicas\\dentro.mp3"), QByteArray(1024 * 1024, 'm'), NewMs);
    put(QStringLiteral("C:\\vireo\\vireo cast\\Extra\\caixa.mp3"), "case", NewMs);
    // Another case is another text: that folder is copied.
    musicRows = {QStringLiteral("C:\\vireo\\vireo cast\\Extra\\"), SystemFolder + QStringLiteral("Musicas\\")};
    const QString inside = QStringLiteral("C:\\Replicacao\\C\\Vireo\\Vireo Cast\\Musicas\\dentro.mp3");

    Timestamp lastBackup = Threshold;
    sources.StageMusicFolders(true, lastBackup);
    EXPECT_TRUE(exists(QStringLiteral("C:\\Replicacao\\C\\vireo\\vireo cast\\Extra\\caixa.mp3")));
    EXPECT_FALSE(exists(inside));
    EXPECT_EQ(engine.TotalMB, 1.0);
    EXPECT_EQ(engine.CopiedMB, 0.0);
    EXPECT_TRUE(engine.Failures().empty());

    // Outside general mode every folder is copied.
    lastBackup = Threshold;
    sources.StageMusicFolders(false, lastBackup);
    EXPECT_TRUE(exists(inside));
}

TEST_F(ExportSourcesTest, ValuesWithoutTrailingBackslashEmptyValuesAndShareRoots)
{
    test::writeFile(share + QStringLiteral("/raiz.mp3"), "root");
    test::setMTime(share + QStringLiteral("/raiz.mp3"), NewMs);
    put(QStringLiteral("D:\\Sem Barra\\propria.mp3"), "own", NewMs);
    put(QStringLiteral("D:\\pai.mp3"), "parent", NewMs);
    musicRows = {QString(), QStringLiteral("   "), QStringLiteral("D:\\Sem Barra"), QStringLiteral("\\\\srv\\musica"),
                 QStringLiteral("\\\\srv")};

    Timestamp lastBackup = Threshold;
    sources.StageMusicFolders(false, lastBackup);
    EXPECT_TRUE(engine.Failures().empty());
    // Staged under its own folder, not among its parent's files.
    EXPECT_TRUE(exists(QStringLiteral("C:\\Replicacao\\D\\Sem Barra\\propria.mp3")));
    EXPECT_FALSE(exists(QStringLiteral("C:\\Replicacao\\D\\propria.mp3")));
    EXPECT_FALSE(exists(QStringLiteral("C:\\Replicacao\\D\\pai.mp3")));
    EXPECT_TRUE(exists(QStringLiteral("C:\\Replicacao\\musica\\raiz.mp3")));
    QStringList firstLevel = QDir(host(QStringLiteral("C:\\Replicacao"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    firstLevel.sort();
    EXPECT_EQ(firstLevel, QStringList({QStringLiteral("D"), QStringLiteral("musica")}));
}

TEST_F(ExportSourcesTest, AFailedWalkMarksTheMusicStepFailedAndKeepsTheTimestamp)
{
    put(QStringLiteral("D:\\Um\\1.mp3"), "1", NewMs);
    put(QStringLiteral("D:\\Dois\\2.mp3"), "2", NewMs);
    musicRows = {QStringLiteral("D:\\Um\\"), QStringLiteral("D:\\Dois\\")};
    failWalkAfterRows = 1;

    Timestamp lastBackup = Threshold;
    EXPECT_THROW(sources.StageMusicFolders(false, lastBackup), SilentAbort);
    EXPECT_EQ(lastBackup, Threshold);
    EXPECT_TRUE(exists(QStringLiteral("C:\\Replicacao\\D\\Um\\1.mp3")));
    EXPECT_FALSE(exists(QStringLiteral("C:\\Replicacao\\D\\Dois")));
    EXPECT_EQ(frame.log.count(QStringLiteral("MarkExportStep(2,true)")), 1);
    EXPECT_EQ(frame.exportSteps.at(2), StepFailed);
    EXPECT_EQ(frame.exportSteps.at(4), StepFailed);
    EXPECT_EQ(frame.exportSteps.at(1), StepPending);
}

TEST_F(ExportSourcesTest, AMusicFolderThatCannotBeWalkedEndsTheRun)
{
    put(QStringLiteral("D:\\Um\\1.mp3"), "1", NewMs);
    put(QStringLiteral("D:\\Fechada\\2.mp3"), "2", NewMs);
    put(QStringLiteral("D:\\Tres\\3.mp3"), "3", NewMs);
    musicRows = {QStringLiteral("D:\\Um\\"), QStringLiteral("D:\\Fechada\\"), QStringLiteral("D:\\Tres\\")};
    test::SetFolderMode(prefix.path(), 0755);
    test::SetFolderMode(prefix.drive(QStringLiteral("c")));
    test::SetFolderMode(host(QStringLiteral("D:\\Fechada")), 0);

    const int outcome = test::runUnprivileged([this] {
        Timestamp lastBackup = Threshold;
        try {
            sources.StageMusicFolders(false, lastBackup);
        } catch (const SilentAbort&) {
            const bool marked = frame.exportSteps.at(2) == StepFailed;
            return marked && lastBackup == Threshold ? 1 : 2;
        }
        return 3;
    });
    test::SetFolderMode(host(QStringLiteral("D:\\Fechada")), 0755);
    EXPECT_EQ(outcome, 1);
    EXPECT_TRUE(exists(QStringLiteral("C:\\Replicacao\\D\\Um\\1.mp3")));
    EXPECT_FALSE(exists(QStringLiteral("C:\\Replicacao\\D\\Tres")));
}

TEST_F(ExportSourcesTest, NoMusicFoldersStagesNothing)
{
    Timestamp lastBackup = Threshold;
    sources.StageMusicFolders(true, lastBackup);
    EXPECT_TRUE(engine.Failures().empty());
    EXPECT_FALSE(exists(QStringLiteral("C:\\Replicacao")));
}

}  // namespace
}  // namespace vz
