// Listings, attributes, share modes and the platform copy on real files.

#include "platform/FileSystem.h"
#include "platform/TemporaryFiles.h"
#include "tests/platform/ForkedProcess.h"
#include "tests/support/TempPrefix.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>

#include <dirent.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>

namespace vz {
namespace {

using test::ForkedLock;
using test::TempDir;
using test::TempPrefix;
using test::readFile;
using test::setMTime;
using test::writeFile;

QString S(const char* text) { return QString::fromUtf8(text); }

void setDosAttrib(const QString& path, const QByteArray& value)
{
    ASSERT_EQ(::setxattr(QFile::encodeName(path).constData(), "user.DOSATTRIB", value.constData(), size_t(value.size()), 0), 0);
}

QByteArray dosAttrib(const QString& path)
{
    char buffer[1024];
    const ssize_t n = ::getxattr(QFile::encodeName(path).constData(), "user.DOSATTRIB", buffer, sizeof buffer);
    return n < 0 ? QByteArray() : QByteArray(buffer, n);
}

mode_t modeOf(const QString& path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

std::map<QString, DirEntry> listing(const QString& folder)
{
    std::map<QString, DirEntry> entries;
    EXPECT_TRUE(hostfs::listFolder(folder, [&](const DirEntry& e) { return entries.emplace(e.name, e), true; }));
    return entries;
}

QString units(std::initializer_list<char16_t> utf16)
{
    return QString(reinterpret_cast<const QChar*>(utf16.begin()), static_cast<qsizetype>(utf16.size()));
}

// Runs check in a child process and returns its exit code (-1 when it did not exit).
int inChild(const std::function<int()>& check)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(check());
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

int openDescriptors()
{
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    while (dir != nullptr && ::readdir(dir) != nullptr)
        ++count;
    if (dir != nullptr)
        ::closedir(dir);
    return count;
}

// Writes a file whose name is given as the bytes the kernel sees.
void writeRaw(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path.constData();
    ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    ::close(fd);
}

// `flock` from util-linux, as another program would try it.
int flockTool(const QString& path, const char* mode)
{
    return QProcess::execute(S("flock"), {S("--nonblock"), S(mode), path, S("true")});
}

TEST(HostFs, ListingReportsEveryEntryWithSizesKindsAndAttributes)
{
    TempDir dir;
    writeFile(dir.file(S("plain.txt")), "12345");
    writeFile(dir.file(S(".oculto")), "");
    writeFile(dir.file(S("samba.dat")), "x");
    writeFile(dir.file(S("sistema.sys")), "x");
    writeFile(dir.file(S("somente leitura.txt")), "abc");
    QDir().mkpath(dir.file(S("Pasta")));
    QDir().mkpath(dir.file(S("elsewhere/inner")));
    ASSERT_TRUE(QFile::link(dir.file(S("elsewhere")), dir.file(S("ligacao"))));
    ASSERT_TRUE(QFile::link(dir.file(S("plain.txt")), dir.file(S("link.txt"))));
    ASSERT_TRUE(QFile::link(dir.file(S("missing")), dir.file(S("quebrada"))));
    setDosAttrib(dir.file(S("sistema.sys")), "0x4");
    setDosAttrib(dir.file(S("samba.dat")), QByteArray("0x22\0\3\0binary", 13));  // Samba's blob form
    setDosAttrib(dir.file(S("Pasta")), "0x2");
    ASSERT_EQ(::chmod(QFile::encodeName(dir.file(S("somente leitura.txt"))).constData(), 0444), 0);
    // 64-bit sizes: a sparse file of 5 GiB.
    {
        HostFile big = HostFile::create(dir.file(S("grande.bin")), ShareMode::None);
        ASSERT_TRUE(big.isOpen());
        ASSERT_TRUE(big.truncate(5LL << 30));
    }
    setMTime(dir.file(S("plain.txt")), 1700000000123);

    const auto e = listing(dir.path());
    ASSERT_EQ(e.size(), 13u);
    EXPECT_TRUE(e.at(S(".")).isFolder);
    EXPECT_TRUE(e.at(S("..")).isFolder);
    EXPECT_EQ(e.at(S(".")).attributes, quint32(AttrDirectory));  // "." and ".." are never hidden
    EXPECT_EQ(e.at(S("..")).attributes, quint32(AttrDirectory));

    EXPECT_EQ(e.at(S("plain.txt")).sizeBytes, 5);
    EXPECT_EQ(e.at(S("plain.txt")).attributes, quint32(AttrArchive));
    EXPECT_EQ(e.at(S("plain.txt")).modifiedUnixMs, 1700000000123);
    EXPECT_EQ(e.at(S("grande.bin")).sizeBytes, 5LL << 30);
    EXPECT_EQ(e.at(S(".oculto")).attributes, quint32(AttrArchive | AttrHidden));
    EXPECT_EQ(e.at(S("sistema.sys")).attributes, quint32(AttrSystem));
    EXPECT_EQ(e.at(S("samba.dat")).attributes, quint32(AttrHidden | AttrArchive));
    EXPECT_EQ(e.at(S("somente leitura.txt")).attributes, quint32(AttrArchive | AttrReadOnly));

    EXPECT_TRUE(e.at(S("Pasta")).isFolder);
    EXPECT_EQ(e.at(S("Pasta")).sizeBytes, 0);
    EXPECT_EQ(e.at(S("Pasta")).attributes, quint32(AttrDirectory | AttrHidden));
    // A link to a folder is a system folder, so walks do not loop through it.
    EXPECT_TRUE(e.at(S("ligacao")).isFolder);
    EXPECT_EQ(e.at(S("ligacao")).attributes, quint32(AttrDirectory | AttrSystem));
    EXPECT_EQ(e.at(S("elsewhere")).attributes, quint32(AttrDirectory));
    // A link to a file is that file; a dangling link is listed as a file.
    EXPECT_EQ(e.at(S("link.txt")).sizeBytes, 5);
    EXPECT_FALSE(e.at(S("link.txt")).isFolder);
    EXPECT_FALSE(e.at(S("quebrada")).isFolder);

    // A listing may start at a link to a folder.
    const auto throughLink = listing(dir.file(S("ligacao")));
    EXPECT_EQ(throughLink.size(), 3u);
    EXPECT_TRUE(throughLink.at(S("inner")).isFolder);

    // stat() of single paths agrees, links followed.
    EXPECT_EQ(hostfs::stat(dir.file(S("ligacao")))->attributes, quint32(AttrDirectory | AttrSystem));
    EXPECT_EQ(hostfs::attributes(dir.file(S("sistema.sys"))), quint32(AttrSystem));
    EXPECT_EQ(hostfs::attributes(dir.file(S("nada"))), 0u);
    EXPECT_FALSE(hostfs::stat(dir.file(S("nada"))));
    EXPECT_TRUE(hostfs::isFolder(dir.file(S("ligacao"))));
    EXPECT_TRUE(hostfs::isFile(dir.file(S("link.txt"))));
    EXPECT_FALSE(hostfs::exists(dir.file(S("quebrada"))));
}

TEST(HostFs, ListingStopsWhenAskedAndReportsMissingFolders)
{
    TempDir dir;
    for (int i = 0; i < 10; ++i)
        writeFile(dir.file(QString::number(i)), "x");
    int seen = 0;
    EXPECT_TRUE(hostfs::listFolder(dir.path(), [&](const DirEntry&) { return ++seen < 3; }));
    EXPECT_EQ(seen, 3);
    int error = 0;
    EXPECT_FALSE(hostfs::listFolder(dir.file(S("nada")), [](const DirEntry&) { return true; }, &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(hostfs::listFolder(dir.file(S("0")), [](const DirEntry&) { return true; }, &error));
    EXPECT_EQ(error, ENOTDIR);
    EXPECT_EQ(hostfs::errorText(ENOENT), S("No such file or directory"));
}

TEST(HostFs, SetAttributesWritesModeAndDosAttrib)
{
    TempDir dir;
    const QString file = writeFile(dir.file(S("a.txt")), "x");
    ASSERT_TRUE(hostfs::setAttributes(file, AttrArchive));
    EXPECT_TRUE(dosAttrib(file).isEmpty());  // nothing beyond what the mode says: no xattr
    ASSERT_TRUE(hostfs::setAttributes(file, AttrReadOnly | AttrHidden | AttrArchive));
    EXPECT_EQ(modeOf(file) & 0222, 0u);
    EXPECT_EQ(dosAttrib(file), QByteArray("0x23"));
    EXPECT_EQ(hostfs::attributes(file), quint32(AttrReadOnly | AttrHidden | AttrArchive));
    // Clearing read-only gives the owner write again, and the xattr follows.
    ASSERT_TRUE(hostfs::setAttributes(file, AttrArchive));
    EXPECT_NE(modeOf(file) & 0200, 0u);
    EXPECT_EQ(dosAttrib(file), QByteArray("0x20"));
    EXPECT_EQ(hostfs::attributes(file), quint32(AttrArchive));
    EXPECT_FALSE(hostfs::setAttributes(dir.file(S("nada")), AttrHidden));
}

TEST(HostFile, NoSharingConflictsWithAnotherProcessHoldingTheFile)
{
    TempDir dir;
    const QString file = writeFile(dir.file(S("VireoAdm.fdb")), "database pages");
    {
        // The database engine's way: an exclusive flock held by another process.
        ForkedLock engine(file, true);
        ASSERT_TRUE(engine.locked());
        for (ShareMode mode : {ShareMode::None, ShareMode::DenyWrite}) {
            HostFile f = HostFile::openRead(file, mode);
            EXPECT_FALSE(f.isOpen());
            EXPECT_EQ(f.errorNumber(), SharingViolation);
        }
        EXPECT_TRUE(HostFile::openRead(file, ShareMode::All).isOpen());
        // Creating over it must neither succeed nor empty it.
        HostFile created = HostFile::create(file, ShareMode::None);
        EXPECT_FALSE(created.isOpen());
        EXPECT_EQ(created.errorNumber(), SharingViolation);
        EXPECT_FALSE(HostFile::openReadWrite(file, ShareMode::DenyWrite).isOpen());
    }
    EXPECT_EQ(readFile(file), QByteArray("database pages"));
    {
        // A reader that denies writing lets other such readers in, no one exclusive.
        ForkedLock reader(file, false);
        ASSERT_TRUE(reader.locked());
        EXPECT_TRUE(HostFile::openRead(file, ShareMode::DenyWrite).isOpen());
        EXPECT_EQ(HostFile::openRead(file, ShareMode::None).errorNumber(), SharingViolation);
    }
    EXPECT_TRUE(HostFile::openRead(file, ShareMode::None).isOpen());
}

TEST(HostFile, OurLocksAreSeenByOtherPrograms)
{
    TempDir dir;
    const QString file = writeFile(dir.file(S("x.dat")), "x");
    {
        HostFile held = HostFile::openRead(file, ShareMode::None);
        ASSERT_TRUE(held.isOpen());
        EXPECT_EQ(flockTool(file, "--shared"), 1);
        // Within one process a second open is another holder too.
        EXPECT_EQ(HostFile::openRead(file, ShareMode::DenyWrite).errorNumber(), SharingViolation);
    }
    {
        HostFile shared = HostFile::openRead(file, ShareMode::DenyWrite);
        ASSERT_TRUE(shared.isOpen());
        EXPECT_EQ(flockTool(file, "--shared"), 0);
        EXPECT_EQ(flockTool(file, "--exclusive"), 1);
    }
    EXPECT_EQ(flockTool(file, "--exclusive"), 0);
}

TEST(HostFile, ReadOnlyFilesAreNotReplacedOrRemovedEvenByRoot)
{
    TempDir dir;
    const QString file = writeFile(dir.file(S("ro.txt")), "keep");
    ASSERT_TRUE(hostfs::setAttributes(file, AttrReadOnly | AttrArchive));
    HostFile created = HostFile::create(file, ShareMode::None);
    EXPECT_FALSE(created.isOpen());
    EXPECT_EQ(created.errorNumber(), EACCES);
    EXPECT_FALSE(HostFile::openReadWrite(file, ShareMode::All).isOpen());
    EXPECT_FALSE(hostfs::removeFile(file));
    EXPECT_EQ(readFile(file), QByteArray("keep"));
    EXPECT_TRUE(HostFile::openRead(file, ShareMode::None).isOpen());

    ASSERT_TRUE(hostfs::setAttributes(file, AttrArchive));
    EXPECT_TRUE(hostfs::removeFile(file));
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_FALSE(hostfs::removeFile(file));
    QDir().mkpath(dir.file(S("pasta")));
    EXPECT_FALSE(hostfs::removeFile(dir.file(S("pasta"))));
}

TEST(HostFile, ReadWriteSeekAndTimes)
{
    TempDir dir;
    const QString path = dir.file(S("f.bin"));
    {
        HostFile f = HostFile::create(path, ShareMode::None);
        ASSERT_TRUE(f.isOpen());
        EXPECT_EQ(f.errorNumber(), 0);
        ASSERT_TRUE(f.writeAll("abcdef", 6));
        EXPECT_EQ(f.size(), 6);
        ASSERT_TRUE(f.seek(1));
        char buffer[8] = {};
        EXPECT_EQ(f.read(buffer, 3), 3);
        EXPECT_EQ(QByteArray(buffer, 3), QByteArray("bcd"));
        EXPECT_EQ(f.readAt(buffer, 8, 4), 2);
        EXPECT_EQ(QByteArray(buffer, 2), QByteArray("ef"));
        EXPECT_TRUE(f.truncate(2));
        EXPECT_TRUE(f.flush());
        EXPECT_TRUE(f.setModifiedTime(-86400000LL * 400 + 500));  // before 1970 too
    }
    EXPECT_EQ(readFile(path), QByteArray("ab"));
    EXPECT_EQ(hostfs::stat(path)->modifiedUnixMs, -86400000LL * 400 + 500);
    // Create replaces an existing file's content.
    {
        HostFile f = HostFile::create(path, ShareMode::DenyWrite);
        ASSERT_TRUE(f.isOpen());
        ASSERT_TRUE(f.writeAll("z", 1));
    }
    EXPECT_EQ(readFile(path), QByteArray("z"));
    EXPECT_TRUE(hostfs::setModifiedTime(path, 1234567890000));
    EXPECT_EQ(hostfs::stat(path)->modifiedUnixMs, 1234567890000);

    EXPECT_EQ(HostFile::openRead(dir.file(S("nada")), ShareMode::None).errorNumber(), ENOENT);
    EXPECT_EQ(HostFile::openRead(dir.path(), ShareMode::None).errorNumber(), EISDIR);
    EXPECT_EQ(HostFile::create(dir.file(S("nada/x")), ShareMode::None).errorNumber(), ENOENT);
    HostFile moved = HostFile::openRead(path, ShareMode::None);
    HostFile target;
    target = std::move(moved);
    EXPECT_TRUE(target.isOpen());
    EXPECT_FALSE(moved.isOpen());  // NOLINT(bugprone-use-after-move)
}

TEST(HostFs, PlatformCopyKeepsTimeAttributesAndRespectsHolders)
{
    TempDir dir;
    const QString source = writeFile(dir.file(S("VireoAudio.fdb")), QByteArray(300000, 'd'));
    setDosAttrib(source, "0x24");
    ASSERT_EQ(::chmod(QFile::encodeName(source).constData(), 0640), 0);
    setMTime(source, 1700000001777);
    const QString target = writeFile(dir.file(S("copia/VireoAudio.fdb")), QByteArray(900000, 'o'));
    setDosAttrib(target, "0x2");

    ASSERT_TRUE(hostfs::copyFile(source, target));
    EXPECT_EQ(readFile(target), readFile(source));
    EXPECT_EQ(hostfs::stat(target)->modifiedUnixMs, 1700000001777);  // exact, not rounded
    EXPECT_EQ(dosAttrib(target), QByteArray("0x24"));
    EXPECT_EQ(modeOf(target), 0640u);

    // A database held by the engine is not copied, and no target appears.
    {
        ForkedLock engine(source, true);
        ASSERT_TRUE(engine.locked());
        EXPECT_FALSE(hostfs::copyFile(source, dir.file(S("outra.fdb"))));
        EXPECT_FALSE(QFileInfo::exists(dir.file(S("outra.fdb"))));
    }
    // The same file under another name: refused, nothing emptied.
    ASSERT_TRUE(QFile::link(dir.path(), dir.file(S("mesma"))));
    EXPECT_FALSE(hostfs::copyFile(source, dir.file(S("mesma/VireoAudio.fdb"))));
    EXPECT_EQ(readFile(source).size(), 300000);
    // A read-only target stays.
    ASSERT_TRUE(hostfs::setAttributes(target, AttrReadOnly));
    writeFile(source, "novo");
    EXPECT_FALSE(hostfs::copyFile(source, target));
    EXPECT_EQ(readFile(target).size(), 300000);
    EXPECT_FALSE(hostfs::copyFile(dir.file(S("nada")), dir.file(S("nada2"))));
    EXPECT_FALSE(hostfs::copyFile(dir.file(S("copia")), dir.file(S("pasta-copiada"))));
    EXPECT_FALSE(QFileInfo::exists(dir.file(S("pasta-copiada"))));
}

TEST(HostFs, CopiesAcrossVolumesKeepDataHolesAndLongDosAttribs)
{
    TempDir dir;
    QByteArray data(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char((i * 7919) >> 3);
    const QString source = writeFile(dir.file(S("dados.bin")), data);
    const QByteArray samba = QByteArray("0x26\0", 5) + QByteArray(400, '\x11');  // longer than a short read
    setDosAttrib(source, samba);
    QTemporaryDir shm(S("/dev/shm/vz-copy-XXXXXX"));
    ASSERT_TRUE(shm.isValid());
    const QString there = shm.path() + S("/dados.bin");
    ASSERT_TRUE(hostfs::copyFile(source, there));  // tmpfs: no in-kernel range copy across
    EXPECT_EQ(readFile(there), data);
    EXPECT_EQ(dosAttrib(there), samba);
    EXPECT_EQ(hostfs::attributes(there), quint32(AttrHidden | AttrSystem | AttrArchive));
    ASSERT_TRUE(hostfs::copyFile(there, dir.file(S("volta.bin"))));
    EXPECT_EQ(readFile(dir.file(S("volta.bin"))), data);

    // A sparse source gives a sparse copy of the same bytes.
    const QString sparse = dir.file(S("esparso.bin"));
    {
        HostFile f = HostFile::create(sparse, ShareMode::None);
        ASSERT_TRUE(f.isOpen());
        ASSERT_TRUE(f.writeAll("inicio", 6));
        ASSERT_TRUE(f.seek(64LL << 20));
        ASSERT_TRUE(f.writeAll("meio", 4));
        ASSERT_TRUE(f.truncate(200LL << 20));  // ends in a hole
    }
    ASSERT_TRUE(hostfs::copyFile(sparse, dir.file(S("esparso2.bin"))));
    HostFile copy = HostFile::openRead(dir.file(S("esparso2.bin")), ShareMode::None);
    EXPECT_EQ(copy.size(), 200LL << 20);
    char buffer[6];
    EXPECT_EQ(copy.readAt(buffer, 4, 64LL << 20), 4);
    EXPECT_EQ(QByteArray(buffer, 4), QByteArray("meio"));
    EXPECT_EQ(copy.readAt(buffer, 6, 0), 6);
    EXPECT_EQ(QByteArray(buffer, 6), QByteArray("inicio"));
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(dir.file(S("esparso2.bin"))).constData(), &st), 0);
    EXPECT_LT(qint64(st.st_blocks) * 512, 1LL << 20);
}

// Where the file system has no extended attributes only the dot rule
// applies, and nothing fails for want of them. ramfs, in a private mount
// namespace of a child process, is such a file system.
TEST(HostFs, WithoutExtendedAttributesOnlyTheDotRuleApplies)
{
    TempDir dir;
    const QString mounted = dir.file(S("ramfs"));
    ASSERT_TRUE(QDir().mkpath(mounted));
    const QString source = writeFile(dir.file(S("sistema.dat")), "s");
    setDosAttrib(source, "0x4");
    const int result = inChild([&] {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("none", QFile::encodeName(mounted).constData(), "ramfs", 0, nullptr) != 0)
            return 77;
        int failures = 0;
        writeFile(mounted + S("/.oculto"), "h");
        writeFile(mounted + S("/plain"), "p");
        if (!hostfs::setAttributes(mounted + S("/plain"), AttrHidden | AttrSystem))
            failures |= 1;
        std::map<QString, quint32> attributes;
        hostfs::listFolder(mounted, [&](const DirEntry& e) { return attributes[e.name] = e.attributes, true; });
        if (attributes[S(".oculto")] != quint32(AttrHidden | AttrArchive))
            failures |= 2;
        if (attributes[S("plain")] != quint32(AttrArchive))
            failures |= 4;
        if (!hostfs::copyFile(source, mounted + S("/copia")) || readFile(mounted + S("/copia")) != "s")
            failures |= 8;
        return failures;
    });
    if (result == 77)
        GTEST_SKIP() << "no private mount namespace here (needs root)";
    EXPECT_EQ(result, 0);
}

TEST(HostFs, FoldersRenameAndRemoveTree)
{
    TempDir dir;
    EXPECT_TRUE(hostfs::createFolders(dir.file(S("a/b/c"))));
    EXPECT_TRUE(hostfs::createFolders(dir.file(S("a/b/c/"))));
    EXPECT_TRUE(hostfs::isFolder(dir.file(S("a/b/c"))));
    writeFile(dir.file(S("a/f")), "x");
    EXPECT_FALSE(hostfs::createFolders(dir.file(S("a/f"))));
    EXPECT_FALSE(hostfs::createFolders(dir.file(S("a/f/g"))));

    // rename never replaces.
    writeFile(dir.file(S("a/g")), "y");
    EXPECT_FALSE(hostfs::rename(dir.file(S("a/f")), dir.file(S("a/g"))));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(readFile(dir.file(S("a/g"))), QByteArray("y"));
    EXPECT_TRUE(hostfs::rename(dir.file(S("a/f")), dir.file(S("a/h"))));
    EXPECT_EQ(readFile(dir.file(S("a/h"))), QByteArray("x"));

    // removeTree takes read-only files and locked-down folders, but never
    // what a link inside points to.
    const QString outside = writeFile(dir.file(S("fora/precioso.txt")), "keep");
    ASSERT_TRUE(QFile::link(dir.file(S("fora")), dir.file(S("a/b/ligacao"))));
    writeFile(dir.file(S("a/b/c/ro.txt")), "r");
    ASSERT_TRUE(hostfs::setAttributes(dir.file(S("a/b/c/ro.txt")), AttrReadOnly));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.file(S("a/b/c"))).constData(), 0500), 0);
    EXPECT_TRUE(hostfs::removeTree(dir.file(S("a"))));
    EXPECT_FALSE(QFileInfo::exists(dir.file(S("a"))));
    EXPECT_EQ(readFile(outside), QByteArray("keep"));
    EXPECT_TRUE(hostfs::removeTree(dir.file(S("a"))));  // nothing left to remove
}

TEST(HostFs, CanonicalPathOfPathsThatDoNotExist)
{
    TempDir dir;
    QDir().mkpath(dir.file(S("real")));
    ASSERT_TRUE(QFile::link(dir.file(S("real")), dir.file(S("link"))));
    EXPECT_EQ(hostfs::canonicalPath(dir.file(S("link/../link/novo/x"))), dir.file(S("real/novo/x")));
    EXPECT_EQ(hostfs::canonicalPath(S("/")), S("/"));
    EXPECT_TRUE(hostfs::executablePath().endsWith(S("platform_file_system_test")));
    EXPECT_GT(hostfs::diskSpace(dir.path()).totalBytes, 0);
    EXPECT_GT(hostfs::diskSpace(dir.path()).freeBytes, 0);
    EXPECT_EQ(hostfs::decodeName(hostfs::encodeName(S("Canção"))), S("Canção"));

    // Relative paths are taken from the working folder.
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.file(S("link"))));
    EXPECT_EQ(hostfs::currentFolder(), dir.file(S("real")));
    EXPECT_EQ(hostfs::canonicalPath(S("novo/../x")), dir.file(S("real/x")));
    QDir::setCurrent(before);

    // Temporary files (archives being built, copies being written): new, private, recognisable.
    QString first, second;
    ASSERT_TRUE(hostfs::createTemporaryFile(dir.path(), &first).isOpen());
    ASSERT_TRUE(hostfs::createTemporaryFile(dir.path(), &second).isOpen());
    EXPECT_NE(first, second);
    for (const QString& made : {first, second}) {
        EXPECT_TRUE(hostfs::isTemporaryName(QFileInfo(made).fileName())) << made.toStdString();
        EXPECT_EQ(QFileInfo(made).absolutePath(), dir.path());
        EXPECT_EQ(modeOf(made), 0600u);
        EXPECT_EQ(hostfs::stat(made)->sizeBytes, 0);
    }
    QString none;
    const HostFile missing = hostfs::createTemporaryFile(dir.file(S("nada")), &none);
    EXPECT_FALSE(missing.isOpen());
    EXPECT_EQ(missing.errorNumber(), ENOENT);
    EXPECT_TRUE(none.isEmpty());
}

TEST(FileSystem, WindowsPathOperations)
{
    TempPrefix prefix;
    FileSystem fs(prefix.driveMap());
    EXPECT_TRUE(fs.createFolders(S("C:\\Vireo\\Vireodb\\")));
    EXPECT_TRUE(fs.writeFile(S("C:\\Vireo\\Vireodb\\VireoAdm.fdb"), "adm"));
    EXPECT_TRUE(fs.fileExists(S("C:\\VIREO\\vireodb\\vireoadm.fdb")));
    EXPECT_TRUE(fs.copyFile(S("C:\\Vireo\\Vireodb\\VireoAdm.fdb"), S("C:\\vireo\\Copia.fdb")));
    EXPECT_EQ(readFile(prefix.drive(S("c")) + S("/Vireo/Copia.fdb")), QByteArray("adm"));
    QStringList names;
    EXPECT_TRUE(fs.listFolder(S("C:\\vireo\\"), [&](const DirEntry& e) { return names << e.name, true; }));
    names.sort();
    EXPECT_EQ(names, (QStringList{S("."), S(".."), S("Copia.fdb"), S("Vireodb")}));
    EXPECT_TRUE(fs.deleteFile(S("C:\\Vireo\\copia.FDB")));
    EXPECT_FALSE(fs.fileExists(S("C:\\Vireo\\Copia.fdb")));
    EXPECT_FALSE(fs.deleteFile(S("C:\\Vireo\\Vireodb")));
}

TEST(HostNames, BytesThatAreNotUtf8DecodeToEscapesAndBack)
{
    struct Case {
        QByteArray bytes;
        QString text;
    } cases[] = {
        {QByteArray("plain.txt"), S("plain.txt")},
        {QByteArray("Can\xC3\xA7\xC3\xA3o \xF0\x9F\x8E\xB5.mp3"), S("Canção 🎵.mp3")},
        // Latin-1 from a Samba share: one escape per byte.
        {QByteArray("M\xFAsica.mp3"), S("M") + QChar(0xDCFA) + S("sica.mp3")},
        // An overlong "/", an encoded surrogate, a code point past U+10FFFF,
        // a sequence cut short and a stray continuation byte.
        {QByteArray("\xC0\xAF"), units({0xDCC0, 0xDCAF})},
        {QByteArray("\xED\xB2\x80"), units({0xDCED, 0xDCB2, 0xDC80})},
        {QByteArray("\xF4\x90\x80\x80"), units({0xDCF4, 0xDC90, 0xDC80, 0xDC80})},
        {QByteArray("a\xE2\x82"), units({u'a', 0xDCE2, 0xDC82})},
        {QByteArray("\x80\xC3\xA9"), units({0xDC80, 0xE9})},
        // An escaped byte right after a character of two UTF-16 units.
        {QByteArray("\xF0\x9F\x8E\xB5\xFF"), S("🎵") + QChar(0xDCFF)},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(hostfs::decodeName(k.bytes), k.text) << k.bytes.toHex().constData();
        EXPECT_EQ(hostfs::encodeName(k.text), k.bytes) << k.bytes.toHex().constData();
        EXPECT_EQ(hostfs::holdsRawBytes(k.text), QString::fromUtf8(k.bytes).toUtf8() != k.bytes)
            << k.bytes.toHex().constData();
    }
    // Lone surrogates no host name decodes to are written as U+FFFD.
    EXPECT_EQ(hostfs::encodeName(units({0xD800, u'x'})), QByteArray("\xEF\xBF\xBDx"));
    EXPECT_EQ(hostfs::encodeName(units({0xDC10})), QByteArray("\xEF\xBF\xBD"));
    EXPECT_FALSE(hostfs::holdsRawBytes(units({0xDC10})));
}

TEST(HostFs, NamesInLatin1BytesAreListedOpenedCopiedAndRenamed)
{
    TempDir dir;
    const QByteArray folder = hostfs::encodeName(dir.path());
    writeRaw(folder + "/M\xFAsica.mp3", "ID3 latin-1");
    ASSERT_EQ(::mkdir(QByteArray(folder + "/Can\xE7\xF5" "es").constData(), 0755), 0);
    writeRaw(folder + "/Can\xE7\xF5" "es/faixa.mp3", "faixa");

    QString file, sub;
    ASSERT_TRUE(hostfs::listFolder(dir.path(), [&](const DirEntry& e) {
        if (e.isFolder && e.name.startsWith(S("Can")))
            sub = e.name;
        else if (e.name.endsWith(S("sica.mp3")))
            file = e.name;
        return true;
    }));
    ASSERT_EQ(file, S("M") + QChar(0xDCFA) + S("sica.mp3"));
    ASSERT_FALSE(sub.isEmpty());
    EXPECT_TRUE(hostfs::isFile(dir.file(file)));
    EXPECT_EQ(hostfs::stat(dir.file(file))->sizeBytes, 11);
    HostFile opened = HostFile::openRead(dir.file(file), ShareMode::None);
    ASSERT_TRUE(opened.isOpen());
    opened.close();

    // Copied into the other folder, renamed there and listed again: the same bytes all along.
    ASSERT_TRUE(hostfs::copyFile(dir.file(file), dir.file(sub + S("/") + file)));
    ASSERT_TRUE(hostfs::rename(dir.file(sub + S("/") + file), dir.file(sub + S("/outra ") + file)));
    struct stat st;
    EXPECT_EQ(::stat(QByteArray(folder + "/Can\xE7\xF5" "es/outra M\xFAsica.mp3").constData(), &st), 0);
    EXPECT_EQ(st.st_size, 11);
    EXPECT_EQ(hostfs::pathKind(dir.file(sub)), hostfs::PathKind::Folder);
    EXPECT_TRUE(hostfs::createFolders(dir.file(sub + S("/") + sub)));
    EXPECT_EQ(::stat(QByteArray(folder + "/Can\xE7\xF5" "es/Can\xE7\xF5" "es").constData(), &st), 0);
    EXPECT_EQ(hostfs::canonicalPath(dir.file(sub + S("/../") + file)), dir.file(file));
    EXPECT_TRUE(hostfs::removeTree(dir.file(sub)));
    EXPECT_NE(::stat(QByteArray(folder + "/Can\xE7\xF5" "es").constData(), &st), 0);
}

TEST(HostFs, ListingForCopiesReadsOnlyTheFoldersDosAttributes)
{
    TempDir dir;
    writeFile(dir.file(S("sistema.sys")), "s");
    setDosAttrib(dir.file(S("sistema.sys")), "0x6");
    writeFile(dir.file(S(".ponto")), "p");
    ASSERT_TRUE(QDir().mkpath(dir.file(S("Oculta"))));
    setDosAttrib(dir.file(S("Oculta")), "0x2");
    ASSERT_TRUE(QDir().mkpath(dir.file(S("Pasta"))));
    ASSERT_TRUE(QFile::link(dir.file(S("Pasta")), dir.file(S("ligacao"))));

    std::map<QString, quint32> full, forCopies;
    ASSERT_TRUE(hostfs::listFolder(dir.path(), [&](const DirEntry& e) { return full[e.name] = e.attributes, true; }));
    ASSERT_TRUE(hostfs::listFolder(
        dir.path(), [&](const DirEntry& e) { return forCopies[e.name] = e.attributes, true; }, nullptr,
        hostfs::FolderAttributesOnly));
    EXPECT_EQ(full[S("sistema.sys")], quint32(AttrHidden | AttrSystem));
    // A file keeps what its name and mode say; folders keep everything.
    EXPECT_EQ(forCopies[S("sistema.sys")], quint32(AttrArchive));
    EXPECT_EQ(forCopies[S(".ponto")], quint32(AttrArchive | AttrHidden));
    EXPECT_EQ(forCopies[S("Oculta")], quint32(AttrDirectory | AttrHidden));
    EXPECT_EQ(forCopies[S("ligacao")], quint32(AttrDirectory | AttrSystem));
    EXPECT_EQ(forCopies[S("Pasta")], full[S("Pasta")]);
}

TEST(HostFs, ListingClosesTheFolderWhenTheVisitorThrows)
{
    TempDir dir;
    for (int i = 0; i < 5; ++i)
        writeFile(dir.file(QString::number(i)), "x");
    const int before = openDescriptors();
    for (int round = 0; round < 20; ++round) {
        int seen = 0;
        EXPECT_THROW(hostfs::listFolder(dir.path(),
                                        [&](const DirEntry&) -> bool {
                                            if (++seen == 3)
                                                throw std::runtime_error("visitor failed");
                                            return true;
                                        }),
                     std::runtime_error);
        EXPECT_EQ(seen, 3);
    }
    EXPECT_EQ(openDescriptors(), before);
}

// Kernels before 6.13 have no getxattrat, and sandboxes may filter it: the
// attributes are then read by path, with the same result. A seccomp filter
// in a child process takes the call away.
TEST(HostFs, ListingWithoutGetxattratReadsTheSameAttributes)
{
    TempDir dir;
    writeFile(dir.file(S("sistema.sys")), "s");
    setDosAttrib(dir.file(S("sistema.sys")), "0x4");
    ASSERT_TRUE(QDir().mkpath(dir.file(S("Oculta"))));
    setDosAttrib(dir.file(S("Oculta")), QByteArray("0x2\0", 4) + QByteArray(300, '\x07'));  // Samba's long form
    const auto check = [&]() -> int {
        std::map<QString, quint32> seen;
        if (!hostfs::listFolder(dir.path(), [&](const DirEntry& e) { return seen[e.name] = e.attributes, true; }))
            return 10;
        int failures = 0;
        if (seen[S("sistema.sys")] != quint32(AttrSystem))
            failures |= 1;
        if (seen[S("Oculta")] != quint32(AttrDirectory | AttrHidden))
            failures |= 2;
        return failures;
    };
    EXPECT_EQ(inChild(check), 0);
    const int filtered = inChild([&] {
        struct sock_filter program[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 464, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA)),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        struct sock_fprog filter = {static_cast<unsigned short>(std::size(program)), program};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0)
            return 77;
        return check();
    });
    if (filtered == 77)
        GTEST_SKIP() << "no seccomp filters here";
    EXPECT_EQ(filtered, 0);
}

TEST(HostFs, CreateFoldersStopsAtWhatCannotBeAFolder)
{
    TempDir dir;
    // Many levels at once, then one more under an existing parent.
    EXPECT_TRUE(hostfs::createFolders(dir.file(S("a/b/c/d/e"))));
    EXPECT_TRUE(hostfs::createFolders(dir.file(S("a/b/c/d/e/f"))));
    EXPECT_TRUE(hostfs::isFolder(dir.file(S("a/b/c/d/e/f"))));
    // Through a link to a folder; not over a dangling link.
    ASSERT_TRUE(QFile::link(dir.file(S("a/b")), dir.file(S("atalho"))));
    EXPECT_TRUE(hostfs::createFolders(dir.file(S("atalho/novo/x"))));
    EXPECT_TRUE(hostfs::isFolder(dir.file(S("a/b/novo/x"))));
    ASSERT_TRUE(QFile::link(dir.file(S("nada")), dir.file(S("quebrada"))));
    EXPECT_FALSE(hostfs::createFolders(dir.file(S("quebrada"))));
    EXPECT_FALSE(hostfs::createFolders(dir.file(S("quebrada/x"))));
    // A folder the user may not write to.
    ASSERT_TRUE(QDir().mkpath(dir.file(S("fechada"))));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(dir.file(S("fechada"))).constData(), 0555), 0);
    const int result = test::runUnprivileged([&] {
        if (hostfs::createFolders(dir.file(S("fechada/x/y"))))
            return 1;
        return errno == EACCES ? 0 : 2;
    });
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(QFileInfo::exists(dir.file(S("fechada/x"))));
}

}  // namespace
}  // namespace vz
