// The recycle bin keeps only the newest of the program's own trashed folders:
// real folders in a temporary prefix, a trash of the test's own, and the
// trash of a second volume (/dev/shm) where there is one.

#include "platform/RecycleBin.h"
#include "tests/platform/ForkedProcess.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempPrefix.h"

#include <QFile>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

namespace vz {
namespace {

using test::ManualClock;
using test::TempDir;
using test::TempPrefix;
using test::readFile;
using test::writeFile;

QString S(const char* text) { return QString::fromUtf8(text); }

const QString StagingMirror = S("C:\\Replicacao");
const QString RestoreFolder = S("C:\\Vireo\\Zuvavivevo\\Replicacao");

Timestamp day(int n, int hour = 10, int minute = 0, int second = 0)
{
    return EncodeTimestamp({2026, 12, n, hour, minute, second, 0});
}

bool exists(const QString& hostPath)
{
    struct stat st;
    return ::lstat(hostfs::encodeName(hostPath).constData(), &st) == 0;
}

// Every entry of a trash's files/ folder with the text of its marca.txt
// ("-" for an entry without one).
std::map<QString, QByteArray> trashedMarks(const QString& trashFolder)
{
    std::map<QString, QByteArray> marks;
    hostfs::listFolder(trashFolder + S("/files"), [&](const DirEntry& e) {
        if (e.name != S(".") && e.name != S("..")) {
            const QString mark = trashFolder + S("/files/") + e.name + S("/marca.txt");
            marks[e.name] = hostfs::isFile(mark) ? readFile(mark) : QByteArray("-");
        }
        return true;
    });
    return marks;
}

QStringList infoFiles(const QString& trashFolder)
{
    QStringList names;
    hostfs::listFolder(trashFolder + S("/info"), [&](const DirEntry& e) {
        if (e.name != S(".") && e.name != S(".."))
            names << e.name;
        return true;
    });
    names.sort();
    return names;
}

void writeInfo(const QString& trashFolder, const QString& name, const QByteArray& text)
{
    writeFile(trashFolder + S("/info/") + name + S(".trashinfo"), text);
}

QByteArray pathField(const QString& hostPath)
{
    return hostfs::encodeName(hostPath).toPercentEncoding("/");
}

class RecycleBinTest : public ::testing::Test {
protected:
    Trash trash(uint uid = ::geteuid()) const
    {
        return Trash(homeTrash(), uid, [this] { return clock.now(); });
    }
    RecycleBin bin(int keep = 2) const { return RecycleBin(fs, {RestoreFolder, StagingMirror}, trash(), keep); }
    QString homeTrash() const { return home.path() + S("/.local/share/Trash"); }
    // One export's worth: the staging mirror and the restore folder, each
    // with a marca.txt naming it, go to the trash an hour apart.
    void exportRun(RecycleBin& recycleBin, int n)
    {
        const QByteArray run = QByteArray::number(n);
        writeFile(c + S("/Replicacao/marca.txt"), "staging " + run);
        writeFile(c + S("/Replicacao/C/Vireo/Vireo Cast/Vireo.ini"), "[x]\r\n");
        clock.set(day(n, 10));
        EXPECT_TRUE(recycleBin.RemoveFolder(StagingMirror + S("\\")));
        EXPECT_FALSE(exists(c + S("/Replicacao")));
        writeFile(c + S("/Vireo/Zuvavivevo/Replicacao/marca.txt"), "restore " + run);
        clock.set(day(n, 11));
        EXPECT_TRUE(recycleBin.RemoveFolder(RestoreFolder));
        EXPECT_TRUE(recycleBin.PruneFailures().isEmpty()) << recycleBin.PruneFailures().join(S(", ")).toStdString();
    }

    ManualClock clock{day(1)};
    TempDir home;
    TempPrefix prefix;
    FileSystem fs{prefix.driveMap()};
    QString c = prefix.drive(S("c"));
};

TEST_F(RecycleBinTest, FiveExportsLeaveTheTwoNewestOwnItemsAndEverythingElse)
{
    const QString t = homeTrash();
    // Others' things in the same trash, all older than the program's items.
    clock.set(day(1, 8));
    writeFile(c + S("/Outros/Replicacao/marca.txt"), "another Replicacao");
    ASSERT_EQ(trash().remove(c + S("/Outros/Replicacao")), Trash::Outcome::Trashed);
    const QByteArray ownPath = pathField(c + S("/Replicacao"));
    writeFile(t + S("/files/Quebrado/marca.txt"), "date that does not parse");
    writeInfo(t, S("Quebrado"), "[Trash Info]\nPath=" + ownPath + "\nDeletionDate=ontem\n");
    writeFile(t + S("/files/Percentual/marca.txt"), "path that does not parse");
    writeInfo(t, S("Percentual"), "[Trash Info]\nPath=" + ownPath + "%G1\nDeletionDate=2026-01-01T00:00:00\n");
    writeFile(t + S("/files/Solto/marca.txt"), "no info file");
    // Info files whose names are no item ("." and ""): never a way to the trash itself.
    writeInfo(t, S("."), "[Trash Info]\nPath=" + ownPath + "\nDeletionDate=2000-01-01T00:00:00\n");
    writeInfo(t, QString(), "[Trash Info]\nPath=" + ownPath + "\nDeletionDate=2000-01-01T00:00:00\n");

    RecycleBin recycleBin = bin();
    for (int n = 1; n <= 5; ++n) {
        exportRun(recycleBin, n);
        int own = 0;
        for (const auto& [name, mark] : trashedMarks(t))
            own += mark.startsWith("staging ") || mark.startsWith("restore ");
        EXPECT_EQ(own, std::min(2 * n, 2)) << "after export " << n;
    }

    const std::map<QString, QByteArray> marks = trashedMarks(t);
    QList<QByteArray> found;
    for (const auto& [name, mark] : marks)
        found << mark;
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (QList<QByteArray>{"another Replicacao", "date that does not parse", "no info file",
                                        "path that does not parse", "restore 5", "staging 5"}));
    // The kept items whole, with their info files.
    for (const auto& [name, mark] : marks) {
        if (mark == "staging 5") {
            EXPECT_EQ(readFile(t + S("/files/") + name + S("/C/Vireo/Vireo Cast/Vireo.ini")), QByteArray("[x]\r\n"));
            EXPECT_TRUE(readFile(t + S("/info/") + name + S(".trashinfo")).contains(QByteArray("\nPath=" + ownPath + "\n")));
        }
        if (mark == "restore 5") {
            EXPECT_TRUE(hostfs::isFile(t + S("/info/") + name + S(".trashinfo")));
        }
    }
    EXPECT_EQ(infoFiles(t).size(), 7);  // Replicacao (the other one), two of ours, 2 broken, "." and ""
    EXPECT_TRUE(infoFiles(t).contains(S("..trashinfo")));
    EXPECT_TRUE(infoFiles(t).contains(S(".trashinfo")));
    EXPECT_EQ(readFile(t + S("/files/Replicacao/marca.txt")), QByteArray("another Replicacao"));
}

TEST_F(RecycleBinTest, OrderIsByDeletionDateThenByTheInfoFilesTime)
{
    const QString t = homeTrash();
    RecycleBin recycleBin = bin();
    // Four items, the first three in the same second; the pruning waits until all are there.
    for (int n = 1; n <= 4; ++n) {
        writeFile(c + S("/Replicacao/marca.txt"), "item " + QByteArray::number(n));
        clock.set(n < 4 ? day(3, 9, 0, 0) : day(3, 9, 0, 1));
        ASSERT_EQ(trash().remove(c + S("/Replicacao")), Trash::Outcome::Trashed);
    }
    // Nanoseconds apart, in another order than the names': Replicacao newest
    // of the three, Replicacao.2 oldest. The item of the later second has the
    // oldest info file of all, and still counts as newest.
    const std::map<QString, long> nanoseconds{
        {S("Replicacao"), 300}, {S("Replicacao.2"), 100}, {S("Replicacao.3"), 200}, {S("Replicacao.4"), 0}};
    for (const auto& [name, ns] : nanoseconds) {
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = 1800000000;
        times[0].tv_nsec = times[1].tv_nsec = ns;
        ASSERT_EQ(::utimensat(AT_FDCWD, hostfs::encodeName(t + S("/info/") + name + S(".trashinfo")).constData(),
                              times, 0),
                  0);
    }
    EXPECT_TRUE(recycleBin.Prune());
    const std::map<QString, QByteArray> marks = trashedMarks(t);
    EXPECT_EQ(marks, (std::map<QString, QByteArray>{{S("Replicacao"), "item 1"}, {S("Replicacao.4"), "item 4"}}));
    EXPECT_EQ(infoFiles(t), (QStringList{S("Replicacao.4.trashinfo"), S("Replicacao.trashinfo")}));
}

// The drive map finds a folder without regard to case: the program's folder
// on disk as "replicacao" is still its own.
TEST_F(RecycleBinTest, TheOwnFolderIsFoundWithoutRegardToCase)
{
    RecycleBin recycleBin = bin(1);
    for (int n = 1; n <= 3; ++n) {
        writeFile(c + S("/replicacao/marca.txt"), "lower " + QByteArray::number(n));
        clock.set(day(n));
        EXPECT_TRUE(recycleBin.RemoveFolder(S("C:\\REPLICACAO")));
    }
    const std::map<QString, QByteArray> marks = trashedMarks(homeTrash());
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks.begin()->second, QByteArray("lower 3"));
}

// What goes with a pruned item: read-only and closed folders, names that are
// not UTF-8, links (removed as links, their targets untouched). Run as an
// ordinary user, so the permission bits really stand in the way.
TEST_F(RecycleBinTest, APrunedItemGoesWholeAndItsLinksAreNotFollowed)
{
    const QString outside = c + S("/Fora");
    writeFile(outside + S("/precioso.txt"), "keep me");
    for (const QString& folder : {home.path(), prefix.path(), c, outside})
        ASSERT_EQ(::chmod(hostfs::encodeName(folder).constData(), 0777), 0);
    ASSERT_EQ(::chmod(hostfs::encodeName(outside + S("/precioso.txt")).constData(), 0666), 0);
    const uint user = ::geteuid() == 0 ? 65534 : ::geteuid();

    const int result = test::runUnprivileged([&] {
        RecycleBin recycleBin(fs, {StagingMirror}, trash(user), 2);
        const QByteArray item = hostfs::encodeName(c + S("/Replicacao"));
        auto at = [&](const char* relative) { return QByteArray(item + relative); };
        for (int n = 1; n <= 3; ++n) {
            if (::mkdir(item.constData(), 0755) != 0 || ::mkdir(at("/Somente leitura").constData(), 0755) != 0 ||
                ::mkdir(at("/Fechada").constData(), 0755) != 0 || ::mkdir(at("/Can\xE7\xF5" "es").constData(), 0755) != 0)
                return 1;
            for (const char* file : {"/marca.txt", "/Somente leitura/a.txt", "/Fechada/b.txt",
                                     "/Can\xE7\xF5" "es/M\xFAsica.mp3"}) {
                const int fd = ::open(at(file).constData(), O_WRONLY | O_CREAT | O_EXCL, 0444);
                const QByteArray text = "item " + QByteArray::number(n);
                if (fd < 0 || ::write(fd, text.constData(), size_t(text.size())) != text.size())
                    return 2;
                ::close(fd);
            }
            if (::symlink(hostfs::encodeName(outside).constData(), at("/pasta-fora").constData()) != 0 ||
                ::symlink(hostfs::encodeName(outside + S("/precioso.txt")).constData(), at("/arquivo-fora").constData()) != 0)
                return 3;
            if (::chmod(at("/Somente leitura").constData(), 0555) != 0 || ::chmod(at("/Fechada").constData(), 0) != 0 ||
                ::chmod(at("/Can\xE7\xF5" "es").constData(), 0555) != 0)
                return 4;
            clock.set(day(n));
            if (!recycleBin.RemoveFolder(StagingMirror))
                return 5;
            if (!recycleBin.PruneFailures().isEmpty())
                return 6;
        }
        return 0;
    });
    ASSERT_EQ(result, 0);

    const QString t = homeTrash();
    EXPECT_EQ(trashedMarks(t), (std::map<QString, QByteArray>{{S("Replicacao.2"), "item 2"}, {S("Replicacao.3"), "item 3"}}));
    EXPECT_FALSE(exists(t + S("/files/Replicacao")));
    EXPECT_EQ(infoFiles(t), (QStringList{S("Replicacao.2.trashinfo"), S("Replicacao.3.trashinfo")}));
    // A kept item still has everything, Latin-1 names and links included.
    const QByteArray kept = hostfs::encodeName(t + S("/files/Replicacao.3"));
    struct stat st;
    EXPECT_EQ(::lstat(QByteArray(kept + "/Can\xE7\xF5" "es/M\xFAsica.mp3").constData(), &st), 0);
    ASSERT_EQ(::lstat(QByteArray(kept + "/pasta-fora").constData(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    // What the links pointed to is untouched.
    EXPECT_EQ(readFile(outside + S("/precioso.txt")), QByteArray("keep me"));
    EXPECT_TRUE(hostfs::isFolder(outside));
}

TEST_F(RecycleBinTest, RemovingKeepsTheContractOfRemoveFolderToRecycleBin)
{
    RecycleBin recycleBin = bin();
    EXPECT_TRUE(recycleBin.RemoveFolder(StagingMirror));       // nothing there
    EXPECT_TRUE(recycleBin.RemoveFolder(S("E:\\Replicacao")));  // no such drive: nothing there
    writeFile(c + S("/arquivo"), "a file is no folder");
    EXPECT_TRUE(recycleBin.RemoveFolder(S("C:\\arquivo")));
    EXPECT_TRUE(hostfs::isFile(c + S("/arquivo")));
    writeFile(c + S("/Vireo/a.txt"), "a");
    EXPECT_FALSE(recycleBin.RemoveFolder(S("C:\\")));
    EXPECT_FALSE(recycleBin.RemoveFolder(S("C:")));
    EXPECT_FALSE(recycleBin.RemoveFolder(S("C:\\Vireo\\..")));
    EXPECT_EQ(readFile(c + S("/Vireo/a.txt")), QByteArray("a"));
    EXPECT_FALSE(exists(homeTrash()));

    // Into the trash it was given, any folder, with or without a trailing backslash.
    writeFile(c + S("/Vireo/Outra/marca.txt"), "outra");
    EXPECT_TRUE(recycleBin.RemoveFolder(S("C:\\vireo\\outra\\")));
    EXPECT_FALSE(exists(c + S("/Vireo/Outra")));
    EXPECT_EQ(readFile(homeTrash() + S("/files/Outra/marca.txt")), QByteArray("outra"));
}

// Own items in the home trash and in a second volume's .Trash-$uid count
// together: /dev/shm is a volume of its own where it is a tmpfs. Drive D:
// lies there.
class VolumeRecycleBinTest : public RecycleBinTest {
protected:
    void SetUp() override
    {
        struct stat shm, tmp;
        if (::stat("/dev/shm", &shm) != 0 || ::stat(hostfs::encodeName(home.path()).constData(), &tmp) != 0 ||
            shm.st_dev == tmp.st_dev || ::access("/dev/shm", W_OK) != 0) {
            GTEST_SKIP() << "/dev/shm is not a writable volume of its own here";
        }
        volumeTrash = S("/dev/shm/.Trash-") + QString::number(::geteuid());
        volumeTrashExisted = exists(volumeTrash);
        QByteArray folder = "/dev/shm/vz-recycle-bin-XXXXXX";
        ASSERT_NE(::mkdtemp(folder.data()), nullptr);
        d = hostfs::decodeName(folder);
        ASSERT_EQ(::symlink(folder.constData(), hostfs::encodeName(prefix.path() + S("/dosdevices/d:")).constData()), 0);
    }
    // Whatever the test put on /dev/shm goes, also when it failed halfway:
    // the items whose info file names the test's folder.
    void TearDown() override
    {
        if (d.isEmpty())
            return;
        const QByteArray relative = pathField(d.mid(9) + S("/"));
        for (const QString& info : infoFiles(volumeTrash)) {
            if (readFile(volumeTrash + S("/info/") + info).contains(QByteArray("\nPath=" + relative))) {
                EXPECT_TRUE(hostfs::removeTree(volumeTrash + S("/files/") + info.chopped(10)));
                EXPECT_TRUE(QFile::remove(volumeTrash + S("/info/") + info));
            }
        }
        if (!volumeTrashExisted) {
            EXPECT_TRUE(hostfs::removeTree(volumeTrash));
        }
        EXPECT_TRUE(hostfs::removeTree(d));
    }
    // The marks of the own items of D:\Replicacao in the volume's trash.
    QList<QByteArray> volumeMarks() const
    {
        QList<QByteArray> marks;
        const QByteArray path = "\nPath=" + pathField(d.mid(9) + S("/Replicacao")) + "\n";
        for (const QString& info : infoFiles(volumeTrash)) {
            if (readFile(volumeTrash + S("/info/") + info).contains(path))
                marks << readFile(volumeTrash + S("/files/") + info.chopped(10) + S("/marca.txt"));
        }
        return marks;
    }

    QString volumeTrash;
    bool volumeTrashExisted = true;
    QString d;
};

TEST_F(VolumeRecycleBinTest, TheHomeTrashAndTheVolumesTrashCountTogether)
{
    const FileSystem withD{prefix.driveMap()};
    RecycleBin recycleBin(withD, {StagingMirror, S("D:\\Replicacao")}, trash(), 2);

    // C1 D1 C2 D2 C3 D3, a day apart.
    int n = 0;
    for (int run = 1; run <= 3; ++run) {
        for (const QString& folder : QStringList{c + S("/Replicacao"), d + S("/Replicacao")}) {
            writeFile(folder + S("/marca.txt"), (folder.startsWith(c) ? "C" : "D") + QByteArray::number(run));
            clock.set(day(++n));
            EXPECT_TRUE(recycleBin.RemoveFolder(folder.startsWith(c) ? StagingMirror : S("D:\\Replicacao")));
        }
        // The two newest of all: one in each trash. (The volume's trash is
        // really used, with paths relative to its top.)
        const QByteArray number = QByteArray::number(run);
        QList<QByteArray> inHome;
        for (const auto& [name, mark] : trashedMarks(homeTrash()))
            inHome << mark;
        EXPECT_EQ(inHome, QList<QByteArray>{"C" + number}) << "after run " << run;
        EXPECT_EQ(volumeMarks(), QList<QByteArray>{"D" + number}) << "after run " << run;
    }
    EXPECT_TRUE(recycleBin.PruneFailures().isEmpty());
}

}  // namespace
}  // namespace vz
