// The music folders as the export driver hands them over: read from table
// Tb_Pastas of a real audio database through the database layer.

#include "db/AutomationDatabases.h"
#include "staging/ExportSources.h"
#include "tests/staging/StagingTestSupport.h"
#include "tests/support/FirebirdTestDatabases.h"
#include "tests/support/ManualClock.h"

#include <QDir>

namespace vz {
namespace {

const QString SystemFolder = QStringLiteral("C:\\Vireo\\Vireo Cast\\");
const QString AudioWindows = SystemFolder + QStringLiteral("Vireodb\\VireoAudio.fdb");
const QString AdmWindows = SystemFolder + QStringLiteral("Vireodb\\VireoAdm.fdb");

class MusicFoldersDatabaseTest : public test::StagingTest {
protected:
    // Stages the music folders of an audio database holding these rows.
    void stageFrom(const std::vector<std::optional<QString>>& rows)
    {
        const QString vireodb = host(SystemFolder + QStringLiteral("Vireodb"));
        EXPECT_TRUE(QDir().mkpath(vireodb));
        EXPECT_TRUE(test::CreateAudioDatabase(vireodb + QStringLiteral("/VireoAudio.fdb"), rows));
        AutomationDatabases databases(fs);
        databases.setFileNames(AudioWindows, AdmWindows);
        databases.ConnectVireo();
        ExportSources sources(engine, frame, SystemFolder,
                              [&](const std::function<void(const QString&)>& row) { databases.ForEachMusicFolder(row); });
        sources.StageMusicFolders(false, Threshold);
        databases.DisconnectVireo();
    }
};

TEST_F(MusicFoldersDatabaseTest, TheFoldersOfTbPastasAreStagedInTheOrderRead)
{
    test::writeFile(share + QStringLiteral("/Rock/rede.mp3"), "net");
    test::setMTime(share + QStringLiteral("/Rock/rede.mp3"), NewMs);
    put(QStringLiteral("D:\\Musicas\\Rock\\local.mp3"), "local", NewMs);
    put(QStringLiteral("D:\\Musicas\\Rock\\Ao Vivo\\show.mp3"), "live", NewMs);

    stageFrom({QStringLiteral("\\\\srv\\musica\\Rock\\"), std::nullopt, QStringLiteral("D:\\Musicas\\Rock\\")});
    EXPECT_TRUE(engine.Failures().empty());
    EXPECT_TRUE(exists(QStringLiteral("C:\\Replicacao\\musica\\Rock\\rede.mp3")));
    EXPECT_TRUE(exists(QStringLiteral("C:\\Replicacao\\D\\Musicas\\Rock\\local.mp3")));
    EXPECT_FALSE(exists(QStringLiteral("C:\\Replicacao\\D\\Musicas\\Rock\\Ao Vivo")));
    // The rows were walked in order: the local folder's entries were shown last.
    EXPECT_TRUE(frame.exportDestination.startsWith(QLatin1String("C:\\Replicacao\\D\\Musicas\\Rock\\")));
}

TEST_F(MusicFoldersDatabaseTest, AnEmptyTbPastasStagesNothing)
{
    stageFrom({});
    EXPECT_TRUE(engine.Failures().empty());
    EXPECT_FALSE(exists(QStringLiteral("C:\\Replicacao")));
    EXPECT_TRUE(frame.destinations.isEmpty());
}

}  // namespace
}  // namespace vz
