// PadWithZeros, CopyFileKeepingDate and RemoveFolderToRecycleBin on real
// files in temporary Wine-style prefixes.

#include "platform/FileUtilities.h"
#include "tests/platform/ForkedProcess.h"
#include "tests/support/TempPrefix.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

namespace vz {
namespace {

using test::ForkedLock;
using test::TempDir;
using test::TempPrefix;
using test::readFile;
using test::setMTime;
using test::writeFile;

QString S(const char* text) { return QString::fromUtf8(text); }

qint64 localMs(int year, int month, int day, int hour, int minute, int second, int ms)
{
    return UnixMsFromTimestamp(EncodeTimestamp({year, month, day, hour, minute, second, ms}));
}

qint64 mtimeOf(const QString& path) { return hostfs::stat(path)->modifiedUnixMs; }

// What the copy engine compares: the last-write time in the FAT form.
Timestamp fileModifiedTime(const QString& path) { return RoundToFat(TimestampFromUnixMs(mtimeOf(path))); }

QByteArray dosAttrib(const QString& path)
{
    char buffer[64];
    const ssize_t n = ::getxattr(QFile::encodeName(path).constData(), "user.DOSATTRIB", buffer, sizeof buffer);
    return n < 0 ? QByteArray() : QByteArray(buffer, n);
}

class CopyFileKeepingDateTest : public ::testing::Test {
protected:
    TempPrefix prefix;
    FileSystem fs{prefix.driveMap()};
    QString c = prefix.drive(S("c"));
};

TEST(PadWithZeros, FillsToWidthCountingTheTrimmedText)
{
    EXPECT_EQ(PadWithZeros(S("7"), 2), S("07"));
    EXPECT_EQ(PadWithZeros(S("12"), 2), S("12"));
    EXPECT_EQ(PadWithZeros(S("123"), 2), S("123"));
    EXPECT_EQ(PadWithZeros(QString(), 2), S("00"));
    EXPECT_EQ(PadWithZeros(S("7"), 0), S("7"));
    EXPECT_EQ(PadWithZeros(S("7"), -3), S("7"));
    // Blanks and control characters at the ends do not count, but stay.
    EXPECT_EQ(PadWithZeros(S(" 7"), 2), S("0 7"));
    EXPECT_EQ(PadWithZeros(S("\t7\n"), 3), S("00\t7\n"));
    EXPECT_EQ(PadWithZeros(S("1 2"), 4), S("01 2"));
}

TEST_F(CopyFileKeepingDateTest, OntoItselfUnderAnyPathTextFailsAndKeepsTheFile)
{
    const QString file = writeFile(c + S("/Vireo/Dados.ini"), "conteudo");
    setMTime(file, 1700000001234);
    EXPECT_FALSE(CopyFileKeepingDate(fs, S("C:\\Vireo\\Dados.ini"), S("C:\\Vireo\\Dados.ini")));
    EXPECT_FALSE(CopyFileKeepingDate(fs, S("C:\\Vireo\\Dados.ini"), S("c:\\VIREO\\dados.INI")));
    EXPECT_FALSE(CopyFileKeepingDate(fs, S("C:\\Vireo\\Dados.ini"), S("C:\\Vireo\\.\\Dados.ini")));
    EXPECT_EQ(readFile(file), QByteArray("conteudo"));
    EXPECT_EQ(mtimeOf(file), 1700000001234);
    EXPECT_EQ(QDir(c + S("/Vireo")).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(CopyFileKeepingDateTest, SourceHeldByAnotherProcessGivesFalseAndNoDestination)
{
    const QString file = writeFile(c + S("/Vireo/Vireodb/VireoAdm.fdb"), "pages");
    for (bool exclusive : {true, false}) {
        ForkedLock holder(file, exclusive);
        ASSERT_TRUE(holder.locked());
        EXPECT_FALSE(CopyFileKeepingDate(fs, S("C:\\Vireo\\Vireodb\\VireoAdm.fdb"), S("C:\\Replicacao\\VireoAdm.fdb")));
        EXPECT_FALSE(QFileInfo::exists(c + S("/Replicacao/VireoAdm.fdb")));
    }
    // Once released it copies.
    QDir().mkpath(c + S("/Replicacao"));
    EXPECT_TRUE(CopyFileKeepingDate(fs, S("C:\\Vireo\\Vireodb\\VireoAdm.fdb"), S("C:\\Replicacao\\VireoAdm.fdb")));
}

TEST_F(CopyFileKeepingDateTest, DestinationHeldByAnotherProcessIsNotEmptied)
{
    writeFile(c + S("/a.txt"), "novo");
    const QString target = writeFile(c + S("/b.txt"), "antigo em uso");
    ForkedLock holder(target, false);
    ASSERT_TRUE(holder.locked());
    EXPECT_FALSE(CopyFileKeepingDate(fs, S("C:\\a.txt"), S("C:\\b.txt")));
    EXPECT_EQ(readFile(target), QByteArray("antigo em uso"));
}

TEST_F(CopyFileKeepingDateTest, EmptyFileKeepsRoundedTimeAndAttributes)
{
    const QString source = writeFile(c + S("/vazio.txt"), QByteArray());
    ASSERT_TRUE(hostfs::setAttributes(source, AttrHidden | AttrSystem | AttrArchive));
    const qint64 written = localMs(2024, 3, 5, 10, 45, 33, 400);
    setMTime(source, written);
    ASSERT_TRUE(CopyFileKeepingDate(fs, S("C:\\vazio.txt"), S("C:\\copia.txt")));
    const QString copy = c + S("/copia.txt");
    EXPECT_TRUE(readFile(copy).isEmpty());
    EXPECT_TRUE(QFileInfo(copy).isFile());
    EXPECT_EQ(mtimeOf(copy), localMs(2024, 3, 5, 10, 45, 32, 0));
    EXPECT_EQ(fileModifiedTime(copy), fileModifiedTime(source));
    EXPECT_EQ(hostfs::attributes(copy), quint32(AttrHidden | AttrSystem | AttrArchive));
}

TEST_F(CopyFileKeepingDateTest, TimesRoundDownToEvenSecondsAndOutOfRangeYearsStayComparable)
{
    struct Case {
        qint64 source;
        qint64 copy;
    } cases[] = {
        {localMs(2024, 3, 5, 10, 45, 32, 750), localMs(2024, 3, 5, 10, 45, 32, 0)},
        {localMs(2024, 3, 5, 10, 45, 33, 999), localMs(2024, 3, 5, 10, 45, 32, 0)},
        {localMs(2107, 12, 31, 23, 59, 59, 0), localMs(2107, 12, 31, 23, 59, 58, 0)},
        // Outside the FAT years the copy keeps its own date, to the even second.
        {localMs(1975, 6, 1, 12, 0, 3, 500), localMs(1975, 6, 1, 12, 0, 2, 0)},
        {localMs(2150, 1, 1, 0, 0, 1, 0), localMs(2150, 1, 1, 0, 0, 0, 0)},
    };
    const QString source = writeFile(c + S("/musica.mp3"), "ID3");
    for (const Case& k : cases) {
        setMTime(source, k.source);
        ASSERT_TRUE(CopyFileKeepingDate(fs, S("C:\\musica.mp3"), S("C:\\copia.mp3")));
        EXPECT_EQ(mtimeOf(c + S("/copia.mp3")), k.copy) << k.source;
        EXPECT_EQ(fileModifiedTime(c + S("/copia.mp3")), fileModifiedTime(source)) << k.source;
    }
}

// In the hour that repeats when the clocks go back, local time names two
// moments; the copy keeps the moment of its source, to the even local second.
TEST_F(CopyFileKeepingDateTest, RepeatedHourOfAClockChangeKeepsTheMoment)
{
    const QByteArray oldZone = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", "EST5EDT,M3.2.0,M11.1.0");
    ::tzset();
    const QString source = writeFile(c + S("/musica.mp3"), "ID3");
    // 2023-11-05 01:30:03.500 local, first as daylight time (05:30 UTC), then as standard time (06:30 UTC).
    for (const qint64 utcMs : {1699162203500LL, 1699165803500LL}) {
        setMTime(source, utcMs);
        ASSERT_TRUE(CopyFileKeepingDate(fs, S("C:\\musica.mp3"), S("C:\\copia.mp3")));
        EXPECT_EQ(mtimeOf(c + S("/copia.mp3")), utcMs - 1500);
        EXPECT_EQ(fileModifiedTime(c + S("/copia.mp3")), fileModifiedTime(source));
    }
    if (hadZone)
        qputenv("TZ", oldZone);
    else
        qunsetenv("TZ");
    ::tzset();
}

TEST_F(CopyFileKeepingDateTest, ReadOnlySourceGivesReadOnlyCopyThatCannotBeReplaced)
{
    const QString source = writeFile(c + S("/Vireo/licenca.key"), "chave");
    ASSERT_TRUE(hostfs::setAttributes(source, AttrReadOnly | AttrArchive));
    ASSERT_TRUE(CopyFileKeepingDate(fs, S("C:\\Vireo\\licenca.key"), S("C:\\licenca.key")));
    const QString copy = c + S("/licenca.key");
    EXPECT_EQ(hostfs::attributes(copy), quint32(AttrReadOnly | AttrArchive));
    EXPECT_EQ(readFile(copy), QByteArray("chave"));
    // Again: refused at the create, as root too, and the copy stays.
    setMTime(copy, 1000000000000);
    EXPECT_FALSE(CopyFileKeepingDate(fs, S("C:\\Vireo\\licenca.key"), S("C:\\licenca.key")));
    EXPECT_EQ(readFile(copy), QByteArray("chave"));
    EXPECT_EQ(mtimeOf(copy), 1000000000000);

    // The same for an ordinary user.
    ASSERT_EQ(::chmod(QFile::encodeName(prefix.path()).constData(), 0777), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(c).constData(), 0777), 0);
    const QString userCopy = c + S("/usuario.key");
    const int result = test::runUnprivileged([&] {
        if (!CopyHostFileKeepingDate(source, userCopy))
            return 1;
        if (hostfs::attributes(userCopy) != quint32(AttrReadOnly | AttrArchive))
            return 2;
        return CopyHostFileKeepingDate(source, userCopy) ? 3 : 0;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readFile(userCopy), QByteArray("chave"));
}

TEST_F(CopyFileKeepingDateTest, ReplacesContentAndStaleAttributes)
{
    writeFile(c + S("/novo.txt"), "curto");
    const QString target = writeFile(c + S("/alvo.txt"), QByteArray(100000, 'x'));
    ASSERT_TRUE(hostfs::setAttributes(target, AttrHidden | AttrSystem));
    ASSERT_TRUE(CopyFileKeepingDate(fs, S("C:\\novo.txt"), S("C:\\ALVO.txt")));
    EXPECT_EQ(readFile(target), QByteArray("curto"));
    EXPECT_TRUE(dosAttrib(target).isEmpty());
    EXPECT_EQ(hostfs::attributes(target), quint32(AttrArchive));
    EXPECT_FALSE(QFileInfo::exists(c + S("/ALVO.txt")));  // the existing name is kept
}

TEST_F(CopyFileKeepingDateTest, FailuresReportFalse)
{
    writeFile(c + S("/a.txt"), "a");
    QDir().mkpath(c + S("/pasta"));
    EXPECT_FALSE(CopyFileKeepingDate(fs, S("C:\\nada.txt"), S("C:\\b.txt")));
    EXPECT_FALSE(CopyFileKeepingDate(fs, S("C:\\a.txt"), S("C:\\sem pasta\\b.txt")));
    EXPECT_FALSE(CopyFileKeepingDate(fs, S("C:\\a.txt"), S("E:\\b.txt")));
    EXPECT_FALSE(CopyFileKeepingDate(fs, S("musica:\\a.txt"), S("C:\\b.txt")));
    EXPECT_FALSE(CopyFileKeepingDate(fs, S("C:\\pasta"), S("C:\\pasta.txt")));
    EXPECT_FALSE(CopyFileKeepingDate(fs, S("C:\\a.txt"), S("C:\\pasta")));
    EXPECT_FALSE(QFileInfo::exists(c + S("/b.txt")));
    EXPECT_FALSE(QFileInfo::exists(c + S("/pasta.txt")));
    EXPECT_TRUE(QFileInfo(c + S("/pasta")).isDir());
}

TEST(CopyHostFileKeepingDate, SourceShorterThanItsSizeStopsAtItsEnd)
{
    // sysfs files claim a size of one page and yield a few bytes.
    const QString source = S("/sys/devices/system/cpu/online");
    if (!QFileInfo(source).isReadable() || QFileInfo(source).size() <= readFile(source).size())
        GTEST_SKIP() << "no sysfs file that yields less than its size";
    TempDir dir;
    const QString copy = dir.file(S("online"));
    EXPECT_FALSE(CopyHostFileKeepingDate(source, copy));
    EXPECT_FALSE(QFileInfo::exists(copy));  // a copy that is not whole is no copy
}

TEST(CopyHostFileKeepingDate, FilesOf2GiBAndMoreAreCopiedWhole)
{
    TempDir dir;
    const QString source = dir.file(S("grande.wav"));
    const qint64 size = (2LL << 30) + 4096 + 10;
    {
        HostFile f = HostFile::create(source, ShareMode::None);
        ASSERT_TRUE(f.isOpen());
        ASSERT_TRUE(f.writeAll("RIFF", 4));
        ASSERT_TRUE(f.truncate(size - 10));
        ASSERT_TRUE(f.seek(size - 10));
        ASSERT_TRUE(f.writeAll("0123456789", 10));
    }
    const QString copy = dir.file(S("copia.wav"));
    ASSERT_TRUE(CopyHostFileKeepingDate(source, copy));
    HostFile f = HostFile::openRead(copy, ShareMode::None);
    ASSERT_EQ(f.size(), size);
    char tail[10];
    ASSERT_EQ(f.readAt(tail, 10, size - 10), 10);
    EXPECT_EQ(QByteArray(tail, 10), QByteArray("0123456789"));
    char head[4];
    ASSERT_EQ(f.readAt(head, 4, 0), 4);
    EXPECT_EQ(QByteArray(head, 4), QByteArray("RIFF"));
}

// HOME without ~/.local, no XDG_DATA_HOME, and a working folder of its own.
class RecycleBinTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        oldHome_ = qgetenv("HOME");
        oldDataHome_ = qgetenv("XDG_DATA_HOME");
        hadDataHome_ = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        oldCwd_ = QDir::currentPath();
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("XDG_DATA_HOME");
        ASSERT_TRUE(QDir::setCurrent(cwd.path()));
    }
    void TearDown() override
    {
        qputenv("HOME", oldHome_);
        if (hadDataHome_)
            qputenv("XDG_DATA_HOME", oldDataHome_);
        QDir::setCurrent(oldCwd_);
    }
    QString trashFiles() const { return home.path() + S("/.local/share/Trash/files"); }

    TempDir home;
    TempDir cwd;
    TempPrefix prefix;
    FileSystem fs{prefix.driveMap()};
    QString c = prefix.drive(S("c"));

private:
    QByteArray oldHome_;
    QByteArray oldDataHome_;
    bool hadDataHome_ = false;
    QString oldCwd_;
};

TEST_F(RecycleBinTest, FolderGoesToTheHomeTrashWithOrWithoutTrailingBackslash)
{
    writeFile(c + S("/Vireo/Replicacao/C/Vireo/a.txt"), "a");
    writeFile(c + S("/Vireo/Replicacao/.oculto"), "h");
    EXPECT_TRUE(RemoveFolderToRecycleBin(fs, S("C:\\Vireo\\Replicacao")));
    EXPECT_FALSE(QFileInfo::exists(c + S("/Vireo/Replicacao")));
    EXPECT_EQ(readFile(trashFiles() + S("/Replicacao/C/Vireo/a.txt")), QByteArray("a"));
    EXPECT_EQ(readFile(trashFiles() + S("/Replicacao/.oculto")), QByteArray("h"));
    EXPECT_TRUE(QFileInfo(home.path() + S("/.local/share/Trash/info/Replicacao.trashinfo")).isFile());
    EXPECT_FALSE(QFileInfo::exists(cwd.path() + S("/files")));

    writeFile(c + S("/Vireo/Replicacao/b.txt"), "b");
    EXPECT_TRUE(RemoveFolderToRecycleBin(fs, S("C:\\vireo\\replicacao\\")));
    EXPECT_FALSE(QFileInfo::exists(c + S("/Vireo/Replicacao")));
    EXPECT_EQ(readFile(trashFiles() + S("/Replicacao.2/b.txt")), QByteArray("b"));
}

TEST_F(RecycleBinTest, MissingFolderIsNothingToRemove)
{
    EXPECT_TRUE(RemoveFolderToRecycleBin(fs, S("C:\\Vireo\\Replicacao")));
    EXPECT_TRUE(RemoveFolderToRecycleBin(fs, S("E:\\Replicacao")));
    writeFile(c + S("/arquivo"), "a file is no folder");
    EXPECT_TRUE(RemoveFolderToRecycleBin(fs, S("C:\\arquivo")));
    EXPECT_TRUE(QFileInfo::exists(c + S("/arquivo")));
    EXPECT_FALSE(QFileInfo::exists(home.path() + S("/.local")));
}

TEST_F(RecycleBinTest, DriveRootsAreNeverRemoved)
{
    writeFile(c + S("/Vireo/a.txt"), "a");
    EXPECT_FALSE(RemoveFolderToRecycleBin(fs, S("C:\\")));
    EXPECT_FALSE(RemoveFolderToRecycleBin(fs, S("C:")));
    EXPECT_FALSE(RemoveFolderToRecycleBin(fs, S("C:\\Vireo\\..")));
    EXPECT_EQ(readFile(c + S("/Vireo/a.txt")), QByteArray("a"));
}

}  // namespace
}  // namespace vz
