// The copy engine on real trees in a Wine-style prefix (drives C: and D:).

#include "staging/CopyEngine.h"
#include "tests/staging/StagingTestSupport.h"

#include "platform/Errors.h"

#include <QDir>
#include <QFile>
#include <QSet>

namespace vz {
namespace {

using test::LocalMs;
using test::LocalTime;
using test::StagingTest;

constexpr qint64 MB = 1024 * 1024;

QByteArray bytes(qint64 count) { return QByteArray(static_cast<qsizetype>(count), 'x'); }

using CopyEngineTest = StagingTest;

TEST_F(CopyEngineTest, StagingPathsMirrorAbsolutePathsUnderTheStagingRoot)
{
    EXPECT_EQ(engine.StagingRoot(), QStringLiteral("C:\\Replicacao\\"));
    EXPECT_EQ(engine.StagingPathFor(QStringLiteral("C:\\Vireo\\Vireo Cast\\Vireodb")),
              QStringLiteral("C:\\Replicacao\\C\\Vireo\\Vireo Cast\\Vireodb"));
    EXPECT_EQ(engine.StagingPathFor(QStringLiteral("D:\\Musicas\\Rock\\")),
              QStringLiteral("C:\\Replicacao\\D\\Musicas\\Rock\\"));
    // Only the first ":" goes; case and blanks stay.
    EXPECT_EQ(engine.StagingPathFor(QStringLiteral("d:\\a:b\\ Rock \\")), QStringLiteral("C:\\Replicacao\\d\\a:b\\ Rock \\"));
    const CopyEngine onShare(fs, frame, QStringLiteral("\\\\srv\\dados"));
    EXPECT_EQ(onShare.StagingPathFor(QStringLiteral("musica:\\Rock\\")),
              QStringLiteral("\\\\srv\\dados\\Replicacao\\musica\\Rock\\"));
}

TEST_F(CopyEngineTest, OnlyFilesStrictlyNewerInTheTwoSecondFatFormAreCopied)
{
    const qint64 thresholdMs = UnixMsFromTimestamp(Threshold);
    put(QStringLiteral("D:\\Src\\igual.txt"), "same", thresholdMs);
    put(QStringLiteral("D:\\Src\\depois.txt"), "later", thresholdMs + 2000);
    put(QStringLiteral("D:\\Src\\antigo.txt"), "1970", LocalMs(1970, 6, 1, 12, 0, 0));
    put(QStringLiteral("D:\\Src\\futuro.txt"), "2200", LocalMs(2200, 1, 1, 0, 0, 0));

    EXPECT_TRUE(stage(QStringLiteral("D:\\Src"), QStringLiteral("D:\\Stage"), Threshold, false));
    EXPECT_FALSE(exists(QStringLiteral("D:\\Stage\\igual.txt")));
    EXPECT_TRUE(exists(QStringLiteral("D:\\Stage\\depois.txt")));
    EXPECT_EQ(mtimeMs(QStringLiteral("D:\\Stage\\depois.txt")), thresholdMs + 2000);
    // Times outside the FAT years count as the nearest end of them.
    EXPECT_FALSE(exists(QStringLiteral("D:\\Stage\\antigo.txt")));
    EXPECT_TRUE(exists(QStringLiteral("D:\\Stage\\futuro.txt")));

    // Seconds are halved and the rest dropped: 10:45:33.400 is 10:45:32,
    // which is not after 10:45:32.750; 10:45:34.000 is.
    put(QStringLiteral("D:\\Fat\\33.txt"), "a", LocalMs(2026, 12, 8, 10, 45, 33, 400));
    put(QStringLiteral("D:\\Fat\\34.txt"), "b", LocalMs(2026, 12, 8, 10, 45, 34, 0));
    EXPECT_EQ(engine.FileModifiedTime(QStringLiteral("D:\\Fat\\33.txt")), LocalTime(2026, 12, 8, 10, 45, 32));
    EXPECT_TRUE(stage(QStringLiteral("D:\\Fat\\"), QStringLiteral("D:\\FatStage\\"),
                      LocalTime(2026, 12, 8, 10, 45, 32, 750), false));
    EXPECT_FALSE(exists(QStringLiteral("D:\\FatStage\\33.txt")));
    EXPECT_TRUE(exists(QStringLiteral("D:\\FatStage\\34.txt")));

    // Everything is newer than EarliestTimestamp (import), also the 1970 file.
    EXPECT_TRUE(stage(QStringLiteral("D:\\Src\\"), QStringLiteral("D:\\All\\"), EarliestTimestamp, false));
    for (const char* name : {"igual.txt", "depois.txt", "antigo.txt", "futuro.txt"})
        EXPECT_TRUE(exists(QStringLiteral("D:\\All\\") + QLatin1String(name))) << name;

    EXPECT_EQ(engine.FileModifiedTime(QStringLiteral("D:\\Src")), EarliestTimestamp);
    EXPECT_EQ(engine.FileModifiedTime(QStringLiteral("D:\\Src\\nada.txt")), EarliestTimestamp);
}

TEST_F(CopyEngineTest, EveryVisitedEntryCountsAndShowsProgressOnBothPages)
{
    put(QStringLiteral("D:\\Src\\a.bin"), bytes(3 * MB / 2), NewMs);
    put(QStringLiteral("D:\\Src\\Sub\\b.bin"), bytes(MB), OldMs);  // not newer: counted, not copied
    put(QStringLiteral("D:\\Src\\Sub\\Deep\\c.bin"), bytes(MB / 4), NewMs);
    ASSERT_TRUE(QDir().mkpath(host(QStringLiteral("D:\\Src\\Sub2"))));

    EXPECT_TRUE(stage(QStringLiteral("D:\\Src\\"), QStringLiteral("D:\\Stage\\"), Threshold, true));
    EXPECT_EQ(engine.TotalMB, 2.75);
    EXPECT_EQ(engine.CopiedMB, 2.75);
    EXPECT_TRUE(exists(QStringLiteral("D:\\Stage\\a.bin")));
    EXPECT_FALSE(exists(QStringLiteral("D:\\Stage\\Sub\\b.bin")));
    EXPECT_TRUE(exists(QStringLiteral("D:\\Stage\\Sub\\Deep\\c.bin")));
    EXPECT_TRUE(hostfs::isFolder(host(QStringLiteral("D:\\Stage\\Sub2"))));

    EXPECT_EQ(frame.exportProgress, QStringLiteral("Copiando: 3 MB de 3 MB"));
    EXPECT_EQ(frame.importProgress, frame.exportProgress);
    EXPECT_TRUE(frame.barNavy);
    EXPECT_EQ(frame.exportBarMax, 11 * MB / 4);
    EXPECT_EQ(frame.exportBarPos, 11 * MB / 4);
    EXPECT_EQ(frame.importBarMax, frame.exportBarMax);
    EXPECT_EQ(frame.importBarPos, frame.exportBarPos);
    EXPECT_EQ(frame.importDestination, frame.exportDestination);

    // Each entry once; a folder's own entries before its subfolders' entries.
    const QStringList expected = {
        QStringLiteral("D:\\Stage\\a.bin"),      QStringLiteral("D:\\Stage\\Sub"),
        QStringLiteral("D:\\Stage\\Sub2"),       QStringLiteral("D:\\Stage\\Sub\\b.bin"),
        QStringLiteral("D:\\Stage\\Sub\\Deep"), QStringLiteral("D:\\Stage\\Sub\\Deep\\c.bin"),
    };
    ASSERT_EQ(QSet<QString>(frame.destinations.begin(), frame.destinations.end()),
              QSet<QString>(expected.begin(), expected.end()));
    ASSERT_EQ(frame.destinations.size(), expected.size());
    const auto at = [&](const char* path) { return frame.destinations.indexOf(QLatin1String(path)); };
    EXPECT_LT(std::max({at("D:\\Stage\\a.bin"), at("D:\\Stage\\Sub"), at("D:\\Stage\\Sub2")}),
              at("D:\\Stage\\Sub\\b.bin"));
    EXPECT_LT(at("D:\\Stage\\Sub\\b.bin"), at("D:\\Stage\\Sub\\Deep\\c.bin"));
    EXPECT_LT(at("D:\\Stage\\Sub\\Deep"), at("D:\\Stage\\Sub\\Deep\\c.bin"));

    // The window is pumped after every listed entry, "." and ".." included,
    // once while measuring and once while copying: 4 folders, 6 entries.
    EXPECT_EQ(frame.pumps, 2 * (6 + 4 * 2));
}

TEST_F(CopyEngineTest, MegabytesAreRoundedHalfToEven)
{
    const struct {
        qint64 bytes;
        const char* text;
    } cases[] = {
        {5 * MB / 2, "Copiando: 2 MB de 2 MB"},
        {7 * MB / 2, "Copiando: 4 MB de 4 MB"},
        {419430, "Copiando: 0 MB de 0 MB"},  // 0.4 MB
    };
    for (const auto& c : cases) {
        const QString folder = QStringLiteral("D:\\R%1\\").arg(c.bytes);
        put(folder + QStringLiteral("f.bin"), bytes(c.bytes), NewMs);
        EXPECT_TRUE(stage(folder, QStringLiteral("D:\\Stage") + folder.mid(2), Threshold, false));
        EXPECT_EQ(frame.exportProgress, QLatin1String(c.text));
        EXPECT_EQ(frame.importProgress, QLatin1String(c.text));
    }
    engine.TotalMB = 340.0;
    engine.CopiedMB = 12.3 - 0.4;  // the entry adds 0.4 MB, as on the first page of a long copy
    put(QStringLiteral("D:\\Mix\\f.bin"), bytes(419430), NewMs);
    EXPECT_TRUE(engine.CopyNewerTree(QStringLiteral("D:\\Mix\\"), QStringLiteral("D:\\Stage\\Mix\\"), Threshold, false));
    EXPECT_EQ(frame.exportProgress, QStringLiteral("Copiando: 12 MB de 340 MB"));
}

TEST_F(CopyEngineTest, LongDestinationsAreShownByTheirLast56Characters)
{
    for (int length : {55, 56, 80}) {
        // "D:\" + padding + "\" + "f.txt" has `length` characters.
        const QString destination = QStringLiteral("D:\\") + QString(length - 9, QLatin1Char('p')) + QLatin1Char('\\');
        const QString source = QStringLiteral("D:\\L%1\\").arg(length);
        put(source + QStringLiteral("f.txt"), "x", NewMs);
        EXPECT_TRUE(stage(source, destination, Threshold, false));
        const QString full = destination + QStringLiteral("f.txt");
        ASSERT_EQ(full.size(), length);
        const QString shown = length == 55 ? full : QStringLiteral("...") + full.right(56);
        EXPECT_EQ(frame.exportDestination, shown) << length;
        EXPECT_EQ(frame.importDestination, shown) << length;
        EXPECT_TRUE(exists(full));
    }
    EXPECT_EQ(frame.exportDestination.size(), 59);
}

TEST_F(CopyEngineTest, DestinationsContainingVireodbUseThePlatformCopy)
{
    // An odd second with a fraction: the platform copy keeps it, the copy
    // keeping the date through the FAT form rounds it down to an even second.
    const qint64 sourceMs = LocalMs(2025, 1, 15, 9, 30, 11, 500);
    const qint64 fatMs = LocalMs(2025, 1, 15, 9, 30, 10, 0);
    put(QStringLiteral("D:\\Db\\base.fdb"), "database", sourceMs);
    put(QStringLiteral("D:\\Db\\Sub\\log.fdb"), "log", sourceMs);
    // The platform copy overwrites an existing file too.
    put(QStringLiteral("D:\\A\\Vireodb\\base.fdb"), "older content", OldMs);

    EXPECT_TRUE(stage(QStringLiteral("D:\\Db"), QStringLiteral("D:\\A\\Vireodb"), Threshold, true));
    EXPECT_TRUE(stage(QStringLiteral("D:\\Db"), QStringLiteral("D:\\B\\vireodb"), Threshold, true));
    EXPECT_TRUE(stage(QStringLiteral("D:\\Db\\Sub"), QStringLiteral("D:\\C\\Vireodb\\x\\Sub"), Threshold, true));

    EXPECT_EQ(test::readFile(host(QStringLiteral("D:\\A\\Vireodb\\base.fdb"))), QByteArray("database"));
    EXPECT_EQ(mtimeMs(QStringLiteral("D:\\A\\Vireodb\\base.fdb")), sourceMs);
    EXPECT_EQ(mtimeMs(QStringLiteral("D:\\A\\Vireodb\\Sub\\log.fdb")), sourceMs);
    EXPECT_EQ(mtimeMs(QStringLiteral("D:\\C\\Vireodb\\x\\Sub\\log.fdb")), sourceMs);
    EXPECT_EQ(mtimeMs(QStringLiteral("D:\\B\\vireodb\\base.fdb")), fatMs);
    EXPECT_EQ(mtimeMs(QStringLiteral("D:\\B\\vireodb\\Sub\\log.fdb")), fatMs);
    // Both give the same time in the form the comparison uses.
    EXPECT_EQ(engine.FileModifiedTime(QStringLiteral("D:\\A\\Vireodb\\base.fdb")),
              engine.FileModifiedTime(QStringLiteral("D:\\B\\vireodb\\base.fdb")));
}

TEST_F(CopyEngineTest, HiddenAndSystemFilesAreCopiedButSuchSubfoldersAreNotEntered)
{
    put(QStringLiteral("D:\\Src\\.oculto.txt"), bytes(MB), NewMs);
    const QString system = put(QStringLiteral("D:\\Src\\sistema.txt"), bytes(MB), NewMs);
    ASSERT_TRUE(hostfs::setAttributes(system, AttrSystem | AttrArchive));
    ASSERT_TRUE(hostfs::attributes(system) & AttrSystem) << "no extended attributes on this file system";
    put(QStringLiteral("D:\\Src\\.escondida\\x.txt"), bytes(MB), NewMs);
    put(QStringLiteral("D:\\Src\\Oculta\\y.txt"), bytes(MB), NewMs);
    put(QStringLiteral("D:\\Src\\Sistema\\z.txt"), bytes(MB), NewMs);
    put(QStringLiteral("D:\\Src\\Normal\\n.txt"), bytes(MB), NewMs);
    ASSERT_TRUE(hostfs::setAttributes(host(QStringLiteral("D:\\Src\\Oculta")), AttrHidden));
    ASSERT_TRUE(hostfs::setAttributes(host(QStringLiteral("D:\\Src\\Sistema")), AttrSystem));

    EXPECT_TRUE(stage(QStringLiteral("D:\\Src\\"), QStringLiteral("D:\\Stage\\"), Threshold, true));
    EXPECT_TRUE(exists(QStringLiteral("D:\\Stage\\.oculto.txt")));
    EXPECT_TRUE(exists(QStringLiteral("D:\\Stage\\sistema.txt")));
    EXPECT_TRUE(hostfs::attributes(host(QStringLiteral("D:\\Stage\\sistema.txt"))) & AttrSystem);
    EXPECT_TRUE(exists(QStringLiteral("D:\\Stage\\Normal\\n.txt")));
    EXPECT_FALSE(exists(QStringLiteral("D:\\Stage\\.escondida")));
    EXPECT_FALSE(exists(QStringLiteral("D:\\Stage\\Oculta")));
    EXPECT_FALSE(exists(QStringLiteral("D:\\Stage\\Sistema")));
    // Their folder entries are visited (size 0), their contents neither measured nor copied.
    EXPECT_EQ(engine.TotalMB, 3.0);
    EXPECT_EQ(engine.CopiedMB, 3.0);
    EXPECT_TRUE(frame.destinations.contains(QStringLiteral("D:\\Stage\\Sistema")));
    EXPECT_FALSE(frame.destinations.contains(QStringLiteral("D:\\Stage\\Sistema\\z.txt")));

    QStringList names{QStringLiteral("antes")};
    engine.ListSubfolders(QStringLiteral("D:\\Src\\"), names);
    EXPECT_EQ(names.first(), QStringLiteral("antes"));  // appended to, not cleared
    names.removeFirst();
    names.sort();
    EXPECT_EQ(names, QStringList({QStringLiteral("."), QStringLiteral(".."), QStringLiteral("Normal")}));
    QStringList none;
    engine.ListSubfolders(QStringLiteral("D:\\Nada\\"), none);
    EXPECT_TRUE(none.isEmpty());
}

TEST_F(CopyEngineTest, WithoutRecursionSubfoldersAreOnlyCountedAsEntries)
{
    put(QStringLiteral("D:\\Src\\a.txt"), bytes(MB), NewMs);
    put(QStringLiteral("D:\\Src\\Sub\\b.txt"), bytes(MB), NewMs);

    EXPECT_TRUE(stage(QStringLiteral("D:\\Src\\"), QStringLiteral("D:\\Stage\\"), Threshold, false));
    EXPECT_EQ(engine.TotalMB, 1.0);
    EXPECT_EQ(engine.CopiedMB, 1.0);
    EXPECT_TRUE(exists(QStringLiteral("D:\\Stage\\a.txt")));
    EXPECT_FALSE(exists(QStringLiteral("D:\\Stage\\Sub")));
    EXPECT_TRUE(frame.destinations.contains(QStringLiteral("D:\\Stage\\Sub")));
    EXPECT_EQ(frame.pumps, 2 * (2 + 2));

    // Below EarliestTimestamp a folder entry would count as newer; copying it
    // as a file has no effect.
    EXPECT_TRUE(stage(QStringLiteral("D:\\Src\\"), QStringLiteral("D:\\Early\\"), EarliestTimestamp - 1, false));
    EXPECT_TRUE(exists(QStringLiteral("D:\\Early\\a.txt")));
    EXPECT_FALSE(exists(QStringLiteral("D:\\Early\\Sub")));
}

TEST_F(CopyEngineTest, MissingOrEmptySourcesGiveAnEmptyDestinationAndTrue)
{
    ASSERT_TRUE(QDir().mkpath(host(QStringLiteral("D:\\Vazia"))));
    EXPECT_TRUE(stage(QStringLiteral("D:\\Nada"), QStringLiteral("D:\\Stage\\Nada"), Threshold, true));
    EXPECT_TRUE(stage(QStringLiteral("D:\\Vazia\\"), QStringLiteral("D:\\Stage\\Vazia\\"), Threshold, true));
    EXPECT_TRUE(stage(QStringLiteral("Q:\\Sem drive\\"), QStringLiteral("D:\\Stage\\Q\\"), Threshold, true));
    for (const char* folder : {"D:\\Stage\\Nada", "D:\\Stage\\Vazia", "D:\\Stage\\Q"}) {
        const QString h = host(QLatin1String(folder));
        EXPECT_TRUE(hostfs::isFolder(h)) << folder;
        EXPECT_TRUE(QDir(h).isEmpty()) << folder;
    }
    EXPECT_EQ(engine.TotalMB, 0.0);
    EXPECT_TRUE(frame.destinations.isEmpty());
    EXPECT_FALSE(frame.barNavy);

    // A destination on no drive (a share's name restored as "musica:\"):
    // the entries are walked and shown, nothing is written, nothing reported.
    put(QStringLiteral("D:\\Replicacao\\musica\\Rock\\f.mp3"), "mp3", NewMs);
    EXPECT_TRUE(stage(QStringLiteral("D:\\Replicacao\\musica"), QStringLiteral("musica:\\"), EarliestTimestamp, true));
    EXPECT_EQ(frame.exportDestination, QStringLiteral("musica:\\Rock\\f.mp3"));
}

TEST_F(CopyEngineTest, FilesHeldByAnotherProcessAreSkipped)
{
    put(QStringLiteral("D:\\Src\\livre.txt"), "free", NewMs);
    const QString held = put(QStringLiteral("D:\\Src\\preso.txt"), "held", NewMs);
    put(QStringLiteral("D:\\Db\\livre.fdb"), "free", NewMs);
    const QString heldDb = put(QStringLiteral("D:\\Db\\preso.fdb"), "held", NewMs);
    test::ForkedLock holder(held, true);
    test::ForkedLock dbHolder(heldDb, true);
    ASSERT_TRUE(holder.locked() && dbHolder.locked());

    EXPECT_TRUE(stage(QStringLiteral("D:\\Src\\"), QStringLiteral("D:\\Stage\\"), Threshold, true));
    EXPECT_TRUE(stage(QStringLiteral("D:\\Db\\"), QStringLiteral("D:\\Stage\\Vireodb\\"), Threshold, true));
    EXPECT_TRUE(exists(QStringLiteral("D:\\Stage\\livre.txt")));
    EXPECT_FALSE(exists(QStringLiteral("D:\\Stage\\preso.txt")));
    EXPECT_TRUE(exists(QStringLiteral("D:\\Stage\\Vireodb\\livre.fdb")));
    EXPECT_FALSE(exists(QStringLiteral("D:\\Stage\\Vireodb\\preso.fdb")));
    EXPECT_EQ(engine.CopiedMB, engine.TotalMB);
}

TEST_F(CopyEngineTest, AnUnreadableFolderEndsOnlyItsOwnCall)
{
    put(QStringLiteral("D:\\Src\\A\\a.txt"), "a", NewMs);
    put(QStringLiteral("D:\\Src\\B\\b.txt"), "b", NewMs);
    put(QStringLiteral("D:\\Src\\C\\c.txt"), "c", NewMs);
    put(QStringLiteral("D:\\Src\\top.txt"), "t", NewMs);
    put(QStringLiteral("D:\\Fechada\\f.txt"), "f", NewMs);
    test::SetFolderMode(prefix.path(), 0755);
    test::SetFolderMode(prefix.drive(QStringLiteral("d")));
    test::SetFolderMode(host(QStringLiteral("D:\\Src\\B")), 0);
    test::SetFolderMode(host(QStringLiteral("D:\\Fechada")), 0);

    const int outcome = test::runUnprivileged([this] {
        const bool tree = stage(QStringLiteral("D:\\Src\\"), QStringLiteral("D:\\Stage\\Src\\"), Threshold, true);
        const bool closed = stage(QStringLiteral("D:\\Fechada\\"), QStringLiteral("D:\\Stage\\Fechada\\"), Threshold, true);
        return (tree ? 1 : 0) | (closed ? 2 : 0) | (engine.TotalMB == 0.0 ? 4 : 0);
    });
    test::SetFolderMode(host(QStringLiteral("D:\\Src\\B")), 0755);
    test::SetFolderMode(host(QStringLiteral("D:\\Fechada")), 0755);

    // The tree's call is true, the closed folder's false, and it measured nothing.
    EXPECT_EQ(outcome, 1 | 4);
    EXPECT_TRUE(exists(QStringLiteral("D:\\Stage\\Src\\top.txt")));
    EXPECT_TRUE(exists(QStringLiteral("D:\\Stage\\Src\\A\\a.txt")));
    EXPECT_TRUE(exists(QStringLiteral("D:\\Stage\\Src\\C\\c.txt")));
    EXPECT_TRUE(QDir(host(QStringLiteral("D:\\Stage\\Src\\B"))).isEmpty());
    EXPECT_TRUE(QDir(host(QStringLiteral("D:\\Stage\\Fechada"))).exists());
    EXPECT_TRUE(QDir(host(QStringLiteral("D:\\Stage\\Fechada"))).isEmpty());
}

TEST_F(CopyEngineTest, AnErrorEndsTheWalkOfTheFolderWhereItHappened)
{
    put(QStringLiteral("D:\\Src\\top.txt"), "t", NewMs);
    put(QStringLiteral("D:\\Src\\A\\a1.txt"), "a", NewMs);
    put(QStringLiteral("D:\\Src\\A\\a2.txt"), "a", NewMs);
    put(QStringLiteral("D:\\Src\\B\\b.txt"), "b", NewMs);

    // An error while a subfolder is walked ends that subfolder only.
    engine.TotalMB = engine.FolderSizeMB(QStringLiteral("D:\\Src\\"), true);
    frame.onPump = [this] {
        if (frame.exportDestination.startsWith(QLatin1String("D:\\Stage\\A\\")))
            throw Error(QStringLiteral("falha"));
    };
    EXPECT_TRUE(engine.CopyNewerTree(QStringLiteral("D:\\Src\\"), QStringLiteral("D:\\Stage\\"), Threshold, true));
    const int copiedInA = QDir(host(QStringLiteral("D:\\Stage\\A"))).entryList(QDir::Files).size();
    EXPECT_EQ(copiedInA, 1);  // the first entry was copied before its pump failed
    EXPECT_TRUE(exists(QStringLiteral("D:\\Stage\\B\\b.txt")));
    EXPECT_EQ(frame.destinations.filter(QStringLiteral("D:\\Stage\\A\\")).size(), 1);

    // An error in the folder's own walk ends the call with false: nothing after it is visited.
    frame.destinations.clear();
    frame.onPump = [this] {
        if (!frame.destinations.isEmpty())
            throw Error(QStringLiteral("falha"));
    };
    EXPECT_FALSE(engine.CopyNewerTree(QStringLiteral("D:\\Src\\"), QStringLiteral("D:\\Stage2\\"), Threshold, true));
    EXPECT_EQ(frame.destinations.size(), 1);
    // Measuring never fails: it returns what it reached.
    const double fullMB = engine.TotalMB;
    frame.onPump = [] { throw Error(QStringLiteral("falha")); };
    double reachedMB = fullMB;
    EXPECT_NO_THROW(reachedMB = engine.FolderSizeMB(QStringLiteral("D:\\Src\\"), true));
    EXPECT_LT(reachedMB, fullMB);
}

TEST_F(CopyEngineTest, FilesOfTwoGibibytesAndMoreCountWithTheirRealSize)
{
    const QString big = put(QStringLiteral("D:\\Src\\grande.wav"), QByteArray(), OldMs);
    {
        QFile file(big);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.resize(2049 * MB));  // sparse: costs no disk
    }
    test::setMTime(big, OldMs);
    EXPECT_TRUE(stage(QStringLiteral("D:\\Src\\"), QStringLiteral("D:\\Stage\\"), Threshold, false));
    EXPECT_EQ(engine.TotalMB, 2049.0);
    EXPECT_EQ(engine.CopiedMB, 2049.0);
    EXPECT_EQ(frame.exportProgress, QStringLiteral("Copiando: 2049 MB de 2049 MB"));
    EXPECT_EQ(frame.exportBarMax, 2049 * MB);
    EXPECT_EQ(frame.exportBarPos, 2049 * MB);
}

TEST_F(CopyEngineTest, ExistingDestinationNamesMatchWithoutRegardToCase)
{
    put(QStringLiteral("D:\\Stage\\LEIA.TXT"), "old", OldMs);
    put(QStringLiteral("D:\\Stage\\SUB\\velho.txt"), "old", OldMs);
    put(QStringLiteral("D:\\Src\\leia.txt"), "new", NewMs);
    put(QStringLiteral("D:\\Src\\novo.txt"), "new", NewMs);
    put(QStringLiteral("D:\\Src\\Sub\\x.txt"), "new", NewMs);

    EXPECT_TRUE(stage(QStringLiteral("D:\\Src\\"), QStringLiteral("D:\\Stage\\"), Threshold, true));
    const QString stageHost = host(QStringLiteral("D:\\Stage"));
    EXPECT_EQ(test::readFile(stageHost + QStringLiteral("/LEIA.TXT")), QByteArray("new"));
    EXPECT_FALSE(QFile::exists(stageHost + QStringLiteral("/leia.txt")));
    EXPECT_TRUE(QFile::exists(stageHost + QStringLiteral("/novo.txt")));
    EXPECT_TRUE(QFile::exists(stageHost + QStringLiteral("/SUB/x.txt")));
    EXPECT_FALSE(QFile::exists(stageHost + QStringLiteral("/Sub")));
    // The texts show the source's names.
    EXPECT_TRUE(frame.destinations.contains(QStringLiteral("D:\\Stage\\Sub\\x.txt")));
}

// Names in Latin-1 bytes, as a Samba share gives them, are staged under
// the same bytes, in both copy ways (a database folder's platform copy
// too), and counted like any other.
TEST_F(CopyEngineTest, NamesThatAreNotUtf8AreStagedUnderTheirOwnBytes)
{
    const QByteArray source = hostfs::encodeName(host(QStringLiteral("D:\\Src")));
    ASSERT_TRUE(hostfs::createFolders(host(QStringLiteral("D:\\Src"))));
    ASSERT_EQ(::mkdir(QByteArray(source + "/Vireodb \xE7\xF5" "es").constData(), 0755), 0);
    for (const QByteArray& name : {QByteArray("/M\xFAsica.mp3"), QByteArray("/Vireodb \xE7\xF5" "es/Adm \xE9.fdb")}) {
        HostFile file = HostFile::create(hostfs::decodeName(source + name), ShareMode::None);
        ASSERT_TRUE(file.writeAll(bytes(MB).constData(), MB));
    }
    put(QStringLiteral("D:\\Src\\Canção.mp3"), bytes(MB), NewMs);

    EXPECT_TRUE(stage(QStringLiteral("D:\\Src\\"), QStringLiteral("D:\\Stage\\"), EarliestTimestamp, true));
    EXPECT_EQ(engine.TotalMB, 3.0);
    EXPECT_EQ(engine.CopiedMB, 3.0);
    const QByteArray staged = hostfs::encodeName(host(QStringLiteral("D:\\Stage")));
    for (const char* name : {"/M\xFAsica.mp3", "/Vireodb \xE7\xF5" "es/Adm \xE9.fdb", "/Can\xC3\xA7\xC3\xA3o.mp3"}) {
        struct stat st;
        ASSERT_EQ(::stat(QByteArray(staged + name).constData(), &st), 0) << name;
        EXPECT_EQ(st.st_size, MB) << name;
    }
    // Staged again into a folder that holds them: found under their exact bytes, not copied beside.
    EXPECT_TRUE(stage(QStringLiteral("D:\\Src\\"), QStringLiteral("D:\\Stage\\"), EarliestTimestamp, true));
    int entries = 0;
    hostfs::listFolder(host(QStringLiteral("D:\\Stage")), [&](const DirEntry&) { return ++entries, true; });
    EXPECT_EQ(entries, 5);
}

TEST_F(CopyEngineTest, StagingADriveRootNeverCopiesTheStagingFolderIntoItself)
{
    put(QStringLiteral("C:\\raiz.txt"), bytes(MB), NewMs);
    put(QStringLiteral("C:\\Vireo\\dados.txt"), bytes(MB), NewMs);
    const QString destination = engine.StagingPathFor(QStringLiteral("C:\\"));
    for (int run = 0; run < 2; ++run) {
        EXPECT_TRUE(stage(QStringLiteral("C:\\"), destination, Threshold, true));
        EXPECT_EQ(engine.TotalMB, 2.0) << run;
        EXPECT_EQ(engine.CopiedMB, 2.0) << run;
    }
    EXPECT_TRUE(exists(QStringLiteral("C:\\Replicacao\\C\\raiz.txt")));
    EXPECT_TRUE(exists(QStringLiteral("C:\\Replicacao\\C\\Vireo\\dados.txt")));
    EXPECT_FALSE(QFile::exists(host(QStringLiteral("C:\\Replicacao\\C")) + QStringLiteral("/Replicacao")));
}

}  // namespace
}  // namespace vz
