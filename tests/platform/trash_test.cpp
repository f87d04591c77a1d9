// The FreeDesktop trash: home trash made on demand, volume trashes, the
// size cap, and permanent deletion where no trash can take an item.

#include "platform/FileSystem.h"
#include "platform/Trash.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempPrefix.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace vz {
namespace {

using test::ManualClock;
using test::TempDir;
using test::readFile;
using test::writeFile;

QString S(const char* text) { return QString::fromUtf8(text); }

// Reads a file through the program's own host names (Qt's would lose bytes that are not UTF-8).
QByteArray readHost(const QString& hostPath)
{
    HostFile file = HostFile::openRead(hostPath, ShareMode::All);
    QByteArray bytes(file.isOpen() ? file.size() : 0, '\0');
    if (!bytes.isEmpty() && file.read(bytes.data(), bytes.size()) != bytes.size())
        return {};
    return bytes;
}

class TrashTest : public ::testing::Test {
protected:
    Trash trash(qint64 volumeBytes = 0) const
    {
        Trash t(home.path() + S("/.local/share/Trash"), ::geteuid(), [this] { return clock.now(); });
        if (volumeBytes > 0)
            t.setVolumeSizeBytes([volumeBytes](const QString&) { return volumeBytes; });
        return t;
    }
    QString homeTrash() const { return home.path() + S("/.local/share/Trash"); }

    ManualClock clock{EncodeTimestamp({2026, 12, 8, 10, 45, 32, 0})};
    TempDir home;  // no .local in it: the trash must make its folders
    TempDir work;
};

TEST_F(TrashTest, HomeTrashIsCreatedAndRecordsWhereItemsCameFrom)
{
    const QString folder = work.file(S("Replicação 1"));
    writeFile(folder + S("/C/Vireo/a.txt"), "a");
    EXPECT_EQ(trash().remove(folder), Trash::Outcome::Trashed);
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_EQ(readFile(homeTrash() + S("/files/Replicação 1/C/Vireo/a.txt")), QByteArray("a"));
    const QByteArray info = readFile(homeTrash() + S("/info/Replicação 1.trashinfo"));
    EXPECT_EQ(info, QByteArrayLiteral("[Trash Info]\nPath=") + QFile::encodeName(work.path()).toPercentEncoding("/") +
                        "/Replica%C3%A7%C3%A3o%201\nDeletionDate=2026-12-08T10:45:32\n");
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(homeTrash()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// A folder named in Latin-1 bytes (a Samba share's): it goes whole, under
// its own bytes, and the record holds those bytes, percent-encoded.
TEST_F(TrashTest, NamesThatAreNotUtf8KeepTheirBytes)
{
    const QByteArray bytes = QFile::encodeName(work.path()) + "/Replica\xE7\xE3o";
    ASSERT_EQ(::mkdir(bytes.constData(), 0755), 0);
    const QString folder = hostfs::decodeName(bytes);
    {
        HostFile file = HostFile::create(folder + S("/a.txt"), ShareMode::None);
        ASSERT_TRUE(file.writeAll("a", 1));
    }
    EXPECT_EQ(trash().remove(folder), Trash::Outcome::Trashed);
    struct stat st;
    EXPECT_NE(::lstat(bytes.constData(), &st), 0);
    const QByteArray trashed = QFile::encodeName(homeTrash()) + "/files/Replica\xE7\xE3o";
    ASSERT_EQ(::lstat(trashed.constData(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(readHost(hostfs::decodeName(trashed) + S("/a.txt")), QByteArray("a"));
    const QByteArray info = readHost(hostfs::decodeName(QFile::encodeName(homeTrash()) + "/info/Replica\xE7\xE3o.trashinfo"));
    EXPECT_TRUE(info.contains("/Replica%E7%E3o\nDeletionDate=")) << info.constData();
}

TEST_F(TrashTest, SameNamesGetNumberedAndFilesAndLinksGoToo)
{
    for (const char* content : {"1", "2", "3"}) {
        writeFile(work.file(S("Replicacao/x")), content);
        EXPECT_EQ(trash().remove(work.file(S("Replicacao/")) ), Trash::Outcome::Trashed);
    }
    EXPECT_EQ(readFile(homeTrash() + S("/files/Replicacao/x")), QByteArray("1"));
    EXPECT_EQ(readFile(homeTrash() + S("/files/Replicacao.2/x")), QByteArray("2"));
    EXPECT_EQ(readFile(homeTrash() + S("/files/Replicacao.3/x")), QByteArray("3"));
    EXPECT_TRUE(QFileInfo(homeTrash() + S("/info/Replicacao.3.trashinfo")).isFile());

    // A link to a folder goes itself; what it points to stays.
    const QString target = writeFile(work.file(S("alvo/keep.txt")), "k");
    ASSERT_TRUE(QFile::link(work.file(S("alvo")), work.file(S("ligacao"))));
    EXPECT_EQ(trash().remove(work.file(S("ligacao"))), Trash::Outcome::Trashed);
    EXPECT_TRUE(QFileInfo(homeTrash() + S("/files/ligacao")).isSymLink());
    EXPECT_EQ(readFile(target), QByteArray("k"));

    EXPECT_EQ(trash().remove(work.file(S("nada"))), Trash::Outcome::Missing);
    EXPECT_EQ(trash().remove(S("/")), Trash::Outcome::Failed);
}

TEST_F(TrashTest, ItemsLargerThanATenthOfTheVolumeAreDeleted)
{
    writeFile(work.file(S("grande/a.bin")), QByteArray(60, 'a'));
    writeFile(work.file(S("grande/sub/b.bin")), QByteArray(41, 'b'));
    writeFile(work.file(S("limite/a.bin")), QByteArray(100, 'a'));
    EXPECT_EQ(trash(1000).remove(work.file(S("grande"))), Trash::Outcome::Deleted);
    EXPECT_FALSE(QFileInfo::exists(work.file(S("grande"))));
    EXPECT_FALSE(QFileInfo::exists(homeTrash() + S("/files/grande")));
    // Exactly a tenth still fits.
    EXPECT_EQ(trash(1000).remove(work.file(S("limite"))), Trash::Outcome::Trashed);
    EXPECT_TRUE(QFileInfo(homeTrash() + S("/files/limite/a.bin")).isFile());
}

TEST_F(TrashTest, HomeTrashThatCannotBeMadeMeansPermanentDeletion)
{
    // A file where the trash's parent folder should be.
    writeFile(home.file(S(".local")), "not a folder");
    writeFile(work.file(S("Replicacao/x")), "x");
    EXPECT_EQ(trash().remove(work.file(S("Replicacao"))), Trash::Outcome::Deleted);
    EXPECT_FALSE(QFileInfo::exists(work.file(S("Replicacao"))));
}

TEST_F(TrashTest, EnvironmentNamesTheHomeTrash)
{
    const QByteArray oldHome = qgetenv("HOME");
    const bool hadData = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", "/home/locutor");
    qputenv("XDG_DATA_HOME", "/dados/xdg");
    EXPECT_EQ(Trash::homeTrashFolderFromEnvironment(), S("/dados/xdg/Trash"));
    qputenv("XDG_DATA_HOME", "relativo");  // not absolute: ignored
    EXPECT_EQ(Trash::homeTrashFolderFromEnvironment(), S("/home/locutor/.local/share/Trash"));
    qunsetenv("XDG_DATA_HOME");
    EXPECT_EQ(Trash::homeTrashFolderFromEnvironment(), S("/home/locutor/.local/share/Trash"));
    qputenv("HOME", oldHome);
    if (hadData)
        qputenv("XDG_DATA_HOME", oldData);
}

// What items() reads: an item is an info file that parses, under a name
// that can be an item, with an entry in files/.
TEST_F(TrashTest, ItemsAreTheInfoFilesThatParseWithTheirEntries)
{
    const QByteArray latin1 = QFile::encodeName(work.path()) + "/M\xFAsicas";
    ASSERT_EQ(::mkdir(latin1.constData(), 0755), 0);
    ASSERT_EQ(trash().remove(hostfs::decodeName(latin1)), Trash::Outcome::Trashed);
    const QString t = homeTrash();
    auto item = [&](const QString& name, const QByteArray& info, bool entry = true) {
        writeFile(t + S("/info/") + name + S(".trashinfo"), info);
        if (entry)
            writeFile(t + S("/files/") + name, "x");
    };
    const QByteArray path = "Path=" + QFile::encodeName(work.path()).toPercentEncoding("/");
    // Comments, blank lines, CRLF, blanks around "=", other groups: all read.
    item(S("Lido"), "# written by hand\r\n\r\n[Outro]\r\nPath=/nada\r\n[Trash Info]\r\n" + path +
                        "/Lido%20Sim \r\nDeletionDate = 2026-12-08T23:59:59\r\n");
    item(S("Meianoite"), "[Trash Info]\n" + path + "/Meianoite\nDeletionDate=2026-12-09T00:00:00\n");
    item(S("SemGrupo"), path + "/SemGrupo\nDeletionDate=2026-12-08T10:00:00\n");
    item(S("OutroGrupo"), "[Outro]\n" + path + "/OutroGrupo\nDeletionDate=2026-12-08T10:00:00\n");
    item(S("Duplo"), "[Trash Info]\n" + path + "/a\n" + path + "/b\nDeletionDate=2026-12-08T10:00:00\n");
    item(S("Relativo"), "[Trash Info]\nPath=relativo/Replicacao\nDeletionDate=2026-12-08T10:00:00\n");
    item(S("DataRuim"), "[Trash Info]\n" + path + "/DataRuim\nDeletionDate=2026-02-30T10:00:00\n");
    item(S("Fuso"), "[Trash Info]\n" + path + "/Fuso\nDeletionDate=2026-12-08T10:00:00Z\n");
    item(S("Nulo"), "[Trash Info]\n" + path + "/Nulo%00\nDeletionDate=2026-12-08T10:00:00\n");
    item(S("SemEntrada"), "[Trash Info]\n" + path + "/SemEntrada\nDeletionDate=2026-12-08T10:00:00\n", false);
    item(S(".."), "[Trash Info]\n" + path + "/Pontos\nDeletionDate=2026-12-08T10:00:00\n", false);
    // An info file that is a link, or a folder, is not read.
    writeFile(t + S("/files/Ligacao"), "x");
    ASSERT_TRUE(QFile::link(t + S("/info/Lido.trashinfo"), t + S("/info/Ligacao.trashinfo")));
    writeFile(t + S("/files/Pasta"), "x");
    ASSERT_TRUE(QDir().mkpath(t + S("/info/Pasta.trashinfo")));

    std::vector<Trash::Item> items = trash().items({});
    std::sort(items.begin(), items.end(), [](const Trash::Item& a, const Trash::Item& b) { return a.name < b.name; });
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].name, S("Lido"));
    EXPECT_EQ(items[0].originalPath, work.path() + S("/Lido Sim"));
    EXPECT_EQ(items[0].trashFolder, t);
    EXPECT_EQ(items[1].name, S("Meianoite"));
    EXPECT_EQ(items[1].deletionSeconds - items[0].deletionSeconds, 1);
    EXPECT_EQ(hostfs::encodeName(items[2].name), QByteArray("M\xFAsicas"));
    EXPECT_EQ(hostfs::encodeName(items[2].originalPath), latin1);
    EXPECT_EQ(items[2].deletionSeconds - items[1].deletionSeconds, -(13 * 3600 + 14 * 60 + 28));  // 10:45:32
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(t + S("/info/Lido.trashinfo")).constData(), &st), 0);
    EXPECT_EQ(items[0].infoModifiedNs, qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec);

    // Erasing takes the entry and its info file, and nothing else.
    EXPECT_TRUE(trash().erase(items[2]));
    EXPECT_NE(::lstat(QByteArray(QFile::encodeName(t) + "/files/M\xFAsicas").constData(), &st), 0);
    EXPECT_NE(::lstat(QByteArray(QFile::encodeName(t) + "/info/M\xFAsicas.trashinfo").constData(), &st), 0);
    EXPECT_EQ(trash().items({}).size(), 2u);
    // A name that is no item is never erased: "files/.." is the trash itself.
    Trash::Item dots = items[0];
    dots.name = S("..");
    EXPECT_FALSE(trash().erase(dots));
    dots.name = QString();
    EXPECT_FALSE(trash().erase(dots));
    EXPECT_TRUE(QFileInfo(t + S("/files/Lido")).isFile());
    EXPECT_TRUE(QFileInfo(t + S("/info/...trashinfo")).isFile());
}

TEST_F(TrashTest, LookingForItemsCreatesNoTrash)
{
    EXPECT_TRUE(trash().items({work.file(S("Replicacao"))}).empty());
    EXPECT_TRUE(trash().existingTrashFoldersFor({work.file(S("Replicacao"))}).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(home.file(S(".local"))));
}

// Items on another volume than the home trash: /dev/shm is its own tmpfs.
class VolumeTrashTest : public TrashTest {
protected:
    void SetUp() override
    {
        struct stat a, b;
        if (::stat("/dev/shm", &a) != 0 || ::stat(QFile::encodeName(home.path()).constData(), &b) != 0 ||
            a.st_dev == b.st_dev || ::access("/dev/shm", W_OK) != 0)
            GTEST_SKIP() << "/dev/shm is not a writable volume of its own here";
        own_ = S("/dev/shm/.Trash-") + QString::number(::geteuid());
        ownExisted_ = QFileInfo::exists(own_);
        item_.reset(new QTemporaryDir(S("/dev/shm/vz-trash-test-XXXXXX")));
        ASSERT_TRUE(item_->isValid());
    }
    void TearDown() override
    {
        for (const QString& n : trashed_) {
            hostfs::removeTree(own_ + S("/files/") + n);
            QFile::remove(own_ + S("/info/") + n + S(".trashinfo"));
        }
        if (!ownExisted_ && !own_.isEmpty())
            hostfs::removeTree(own_);
    }
    QString folder(const QString& name) const { return item_->path() + QLatin1Char('/') + name; }

    QString own_;
    bool ownExisted_ = true;
    QStringList trashed_;
    std::unique_ptr<QTemporaryDir> item_;
};

TEST_F(VolumeTrashTest, GoesToTheVolumesOwnTrashWithARelativePath)
{
    writeFile(folder(S("Replicacao/a.txt")), "a");
    const QString itemName = QFileInfo(item_->path()).fileName();
    trashed_ << S("Replicacao");
    ASSERT_EQ(trash().remove(folder(S("Replicacao"))), Trash::Outcome::Trashed);
    EXPECT_EQ(readFile(own_ + S("/files/Replicacao/a.txt")), QByteArray("a"));
    EXPECT_EQ(readFile(own_ + S("/info/Replicacao.trashinfo")),
              QByteArrayLiteral("[Trash Info]\nPath=") + itemName.toUtf8() +
                  "/Replicacao\nDeletionDate=2026-12-08T10:45:32\n");
    EXPECT_FALSE(QFileInfo::exists(homeTrash()));
    struct stat st;
    ASSERT_EQ(::lstat(QFile::encodeName(own_).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, ::geteuid());
}

TEST_F(VolumeTrashTest, AStrangersTrashFolderIsNotUsed)
{
    if (ownExisted_)
        GTEST_SKIP() << own_.toStdString() << " exists already";
    // A planted link, or a folder of another user, is no trash of ours.
    ASSERT_TRUE(QFile::link(item_->path(), own_));
    writeFile(folder(S("Replicacao/a.txt")), "a");
    EXPECT_EQ(trash().remove(folder(S("Replicacao"))), Trash::Outcome::Deleted);
    EXPECT_FALSE(QFileInfo::exists(folder(S("Replicacao"))));
    EXPECT_FALSE(QFileInfo::exists(folder(S("files"))));
    QFile::remove(own_);

    // A folder named for another user but owned by us is not that user's trash.
    const uint otherUid = ::geteuid() + 1;
    const QString otherOwn = S("/dev/shm/.Trash-") + QString::number(otherUid);
    if (QFileInfo::exists(otherOwn))
        return;
    ASSERT_EQ(::mkdir(QFile::encodeName(otherOwn).constData(), 0700), 0);
    writeFile(folder(S("Outra/a.txt")), "a");
    const Trash other(homeTrash(), otherUid, [this] { return clock.now(); });
    EXPECT_EQ(other.remove(folder(S("Outra"))), Trash::Outcome::Deleted);
    EXPECT_FALSE(QFileInfo::exists(otherOwn + S("/files")));
    hostfs::removeTree(otherOwn);
}

TEST_F(VolumeTrashTest, AnAdministratorsStickyTrashIsPreferred)
{
    const QString admin = S("/dev/shm/.Trash");
    if (QFileInfo::exists(admin) || QFileInfo(admin).isSymLink())
        GTEST_SKIP() << "/dev/shm/.Trash exists already";
    ASSERT_EQ(::mkdir("/dev/shm/.Trash", 01777), 0);
    ASSERT_EQ(::chmod("/dev/shm/.Trash", 01777), 0);
    writeFile(folder(S("Replicacao/a.txt")), "a");
    EXPECT_EQ(trash().remove(folder(S("Replicacao"))), Trash::Outcome::Trashed);
    const QString mine = admin + QLatin1Char('/') + QString::number(::geteuid());
    EXPECT_EQ(readFile(mine + S("/files/Replicacao/a.txt")), QByteArray("a"));
    EXPECT_TRUE(QFileInfo(mine + S("/info/Replicacao.trashinfo")).isFile());
    hostfs::removeTree(admin);

    // Without the sticky bit it is not trusted.
    ASSERT_EQ(::mkdir("/dev/shm/.Trash", 0777), 0);
    ASSERT_EQ(::chmod("/dev/shm/.Trash", 0777), 0);
    writeFile(folder(S("Outra/b.txt")), "b");
    trashed_ << S("Outra");
    EXPECT_EQ(trash().remove(folder(S("Outra"))), Trash::Outcome::Trashed);
    EXPECT_EQ(readFile(own_ + S("/files/Outra/b.txt")), QByteArray("b"));
    EXPECT_FALSE(QFileInfo::exists(admin + QLatin1Char('/') + QString::number(::geteuid())));
    hostfs::removeTree(admin);
}

}  // namespace
}  // namespace vz
