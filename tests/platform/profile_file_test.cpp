// Profile files: how keys are found, how a write keeps the rest of the file,
// that a failed write leaves the old file whole, and that a file which is
// there but cannot be read, or is read-only, is never replaced.

#include "platform/Cp1252.h"
#include "platform/ProfileFile.h"
#include "platform/TemporaryFiles.h"
#include "tests/support/TempPrefix.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

using namespace vz;
using namespace vz::test;

namespace {

QByteArray crlf(const char* text)
{
    QByteArray out;
    for (const char* p = text; *p; ++p) {
        if (*p == '\n')
            out += '\r';
        out += *p;
    }
    return out;
}

QByteArray encoded(const QString& path) { return QFile::encodeName(path); }

// Everything in a folder, hidden entries and dangling links included.
QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// A link that points at itself: opening it fails with ELOOP.
QString makeLinkLoop(const QString& path)
{
    EXPECT_EQ(::symlink(encoded(QFileInfo(path).fileName()).constData(), encoded(path).constData()), 0);
    return path;
}

QByteArray linkTarget(const QString& path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(encoded(path).constData(), buffer, sizeof buffer);
    return n < 0 ? QByteArray() : QByteArray(buffer, n);
}

// Runs `body` in a child process (limits and lost privileges stay there);
// the child's exit status, or -1 when it did not exit.
template <typename Body>
int runInChild(Body body)
{
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0)
        _exit(body());
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Root reads and writes anything: "cannot" is tried as nobody.
bool dropRoot() { return geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0); }

}  // namespace

TEST(ProfileFile, FindsSectionsAndKeysWithoutRegardToCase)
{
    TempDir dir;
    const QString path = writeFile(dir.file(u"a.ini"_qs), crlf("[SERVIDOR]\n"
                                                              "PASTA_SISTEMA = C:\\Vireo\\Vireo Cast  \n"
                                                              "[config]\n"
                                                              "Dados=08/12/2026 10:45:32\n"
                                                              "audio=\"quoted value\"\n"
                                                              "musica='single'\n"
                                                              "half=\"open\n"
                                                              "noequals\n"
                                                              "[other]\n"
                                                              "dados=wrong section\n"));
    ProfileFile ini(path);
    EXPECT_EQ(ini.readString(u"SERVIDOR"_qs, u"PASTA_SISTEMA"_qs), u"C:\\Vireo\\Vireo Cast"_qs);
    EXPECT_EQ(ini.readString(u"CONFIG"_qs, u"DADOS"_qs), u"08/12/2026 10:45:32"_qs);
    EXPECT_EQ(ini.readString(u"Config"_qs, u"dados"_qs), u"08/12/2026 10:45:32"_qs);
    EXPECT_EQ(ini.readString(u"CONFIG"_qs, u"AUDIO"_qs), u"quoted value"_qs);
    EXPECT_EQ(ini.readString(u"CONFIG"_qs, u"MUSICA"_qs), u"single"_qs);
    EXPECT_EQ(ini.readString(u"CONFIG"_qs, u"half"_qs), u"\"open"_qs);
    EXPECT_EQ(ini.readString(u"CONFIG"_qs, u"noequals"_qs), QString());
    EXPECT_EQ(ini.readString(u"CONFIG"_qs, u"missing"_qs), QString());
    EXPECT_EQ(ini.readString(u"NOSECTION"_qs, u"DADOS"_qs), QString());
    EXPECT_EQ(ProfileFile(dir.file(u"none.ini"_qs)).readString(u"A"_qs, u"B"_qs), QString());
}

TEST(ProfileFile, ValuesAreWindows1252AndCutAt2047Characters)
{
    TempDir dir;
    QByteArray bytes = "[S]\r\npath=D:\\M\xFAsicas\\\x80\r\nlong=" + QByteArray(3000, 'x') + "\r\n";
    const QString path = writeFile(dir.file(u"a.ini"_qs), bytes);
    ProfileFile ini(path);
    EXPECT_EQ(ini.readString(u"S"_qs, u"path"_qs), u"D:\\Músicas\\€"_qs);
    EXPECT_EQ(ini.readString(u"S"_qs, u"long"_qs).size(), 2047);

    ASSERT_TRUE(ini.writeString(u"S"_qs, u"path"_qs, u"E:\\Canções\\"_qs));
    EXPECT_TRUE(readFile(path).contains("path=E:\\Can\xE7\xF5" "es\\\r\n"));
}

TEST(ProfileFile, WritesKeepEveryOtherLineInItsOrder)
{
    TempDir dir;
    const QString path = writeFile(dir.file(u"a.ini"_qs), crlf("; comment\n"
                                                              "[SERVIDOR]\n"
                                                              "PASTA_SISTEMA=C:\\Vireo\\Vireo Cast\n"
                                                              "[CONFIG]\n"
                                                              "DADOS=old\n"
                                                              "extra=keep me\n"
                                                              "\n"
                                                              "[LAST]\n"
                                                              "x=1\n"));
    ProfileFile ini(path);
    ASSERT_TRUE(ini.writeString(u"CONFIG"_qs, u"dados"_qs, u"08/12/2026"_qs));   // replaced whatever its case
    ASSERT_TRUE(ini.writeString(u"config"_qs, u"audio"_qs, u"09/12/2026"_qs));   // added to its section
    ASSERT_TRUE(ini.writeString(u"NEW"_qs, u"key"_qs, u"value"_qs));             // new section at the end
    EXPECT_EQ(readFile(path), crlf("; comment\n"
                                   "[SERVIDOR]\n"
                                   "PASTA_SISTEMA=C:\\Vireo\\Vireo Cast\n"
                                   "[CONFIG]\n"
                                   "dados=08/12/2026\n"
                                   "extra=keep me\n"
                                   "audio=09/12/2026\n"
                                   "\n"
                                   "[LAST]\n"
                                   "x=1\n"
                                   "[NEW]\n"
                                   "key=value\n"));
}

TEST(ProfileFile, CreatesAMissingFileAndConvertsLoneLineFeeds)
{
    TempDir dir;
    ProfileFile created(dir.file(u"new.ini"_qs));
    ASSERT_TRUE(created.writeString(u"CONFIG"_qs, u"dados"_qs, u"30/12/1899"_qs));
    EXPECT_EQ(readFile(created.hostPath()), QByteArray("[CONFIG]\r\ndados=30/12/1899\r\n"));

    const QString unix = writeFile(dir.file(u"unix.ini"_qs), "[A]\nb=1\n");
    ProfileFile lf(unix);
    EXPECT_EQ(lf.readString(u"A"_qs, u"B"_qs), u"1"_qs);
    ASSERT_TRUE(lf.writeString(u"A"_qs, u"c"_qs, u"2"_qs));
    EXPECT_EQ(readFile(unix), QByteArray("[A]\r\nb=1\r\nc=2\r\n"));
}

TEST(ProfileFile, WritesReplaceTheFileWholeThroughOneOfTheProgramsTemporaryFiles)
{
    TempDir dir;
    const QString path = writeFile(dir.file(u"a.ini"_qs), "[A]\r\nb=1\r\n");
    ASSERT_EQ(::chmod(encoded(path).constData(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(encoded(path).constData(), &before), 0);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, encoded(dir.path()).constData(), IN_CREATE), 0);

    ASSERT_TRUE(ProfileFile(path).writeString(u"A"_qs, u"b"_qs, u"2"_qs));

    // The events are queued by the time the calls that caused them return.
    QStringList created;
    alignas(inotify_event) char events[8192];
    for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->len > 0)
                created << QFile::decodeName(event->name);
            at += ssize_t(sizeof(inotify_event)) + event->len;
        }
    }
    ::close(watch);
    ASSERT_EQ(created.size(), 1) << created.join(u' ').toStdString();
    EXPECT_TRUE(hostfs::isTemporaryName(created.first())) << created.first().toStdString();

    struct stat after {};
    ASSERT_EQ(::stat(encoded(path).constData(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "written in place instead of renamed over";
    EXPECT_EQ(after.st_mode & 0777, 0640u);
    EXPECT_EQ(readFile(path), QByteArray("[A]\r\nb=2\r\n"));
    EXPECT_EQ(entriesOf(dir.path()), QStringList{u"a.ini"_qs});
}

TEST(ProfileFile, AFailedWriteUnderAReadOnlyFolderKeepsTheOldFile)
{
    TempDir dir;
    const QString folder = dir.file(u"ro"_qs);
    const QByteArray original = "[SERVIDOR]\r\nPASTA_SISTEMA=C:\\Vireo\\Vireo Cast\r\n";
    const QString path = writeFile(folder + u"/a.ini"_qs, original);
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);

    // Root writes anywhere: the write then runs in a child without privileges.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        const bool wrote = ProfileFile(path).writeString(u"CONFIG"_qs, u"dados"_qs, u"x"_qs);
        _exit(wrote ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write should have failed";
    EXPECT_EQ(readFile(path), original);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{u"a.ini"_qs});
    ::chmod(QFile::encodeName(folder).constData(), 0755);
}

TEST(ProfileFile, AFailedWriteLeavesNoTemporaryFile)
{
    TempDir dir;
    // A folder that does not exist: nothing is created, not even the folder.
    ProfileFile nowhere(dir.file(u"absent/a.ini"_qs));
    EXPECT_FALSE(nowhere.writeString(u"CONFIG"_qs, u"dados"_qs, u"x"_qs));
    EXPECT_EQ(nowhere.errorNumber(), ENOENT);
    EXPECT_EQ(entriesOf(dir.path()), QStringList());

    // A write that fails once the temporary file holds part of the new text
    // (the file size limit stands in for a full disk).
    const QByteArray original = "[A]\r\nb=1\r\n";
    const QString path = writeFile(dir.file(u"a.ini"_qs), original);
    const int status = runInChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit {4, 4};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 2;
        ProfileFile ini(path);
        if (ini.writeString(u"A"_qs, u"b"_qs, u"a value longer than the limit"_qs))
            return 1;
        return ini.errorNumber() == EFBIG ? 0 : 3;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(path), original);
    EXPECT_EQ(entriesOf(dir.path()), QStringList{u"a.ini"_qs});
}

TEST(ProfileFile, LoadReadsTheFileOnceAndTellsAMissingFileFromOneThatCannotBeRead)
{
    TempDir dir;
    const QString path = writeFile(dir.file(u"a.ini"_qs), "[A]\r\nb=1\r\n");
    ProfileFile ini(path);
    ASSERT_EQ(ini.load(), ProfileFile::LoadStatus::Loaded);
    EXPECT_EQ(ini.errorNumber(), 0);
    // Reads are answered from what load() read, whatever happens to the file.
    writeFile(path, "[A]\r\nb=2\r\n");
    EXPECT_EQ(ini.readString(u"A"_qs, u"b"_qs), u"1"_qs);
    ASSERT_TRUE(QFile::remove(path));
    makeLinkLoop(path);
    EXPECT_EQ(ini.readString(u"a"_qs, u"B"_qs), u"1"_qs);

    // Missing: nothing at the path, or a file where a folder of it should be.
    writeFile(dir.file(u"plain"_qs), "x");
    for (const QString& missing : {dir.file(u"none.ini"_qs), dir.file(u"plain/a.ini"_qs)}) {
        ProfileFile none(missing);
        EXPECT_EQ(none.load(), ProfileFile::LoadStatus::Missing) << missing.toStdString();
        EXPECT_EQ(none.errorNumber(), 0);
        EXPECT_EQ(none.readString(u"A"_qs, u"b"_qs), QString());
    }

    // There but unreadable: a link loop, a folder, a file whose reads fail.
    ProfileFile loop(path);
    EXPECT_EQ(loop.load(), ProfileFile::LoadStatus::Unreadable);
    EXPECT_EQ(loop.errorNumber(), ELOOP);
    ASSERT_TRUE(QDir().mkpath(dir.file(u"folder.ini"_qs)));
    ProfileFile folder(dir.file(u"folder.ini"_qs));
    EXPECT_EQ(folder.load(), ProfileFile::LoadStatus::Unreadable);
    EXPECT_EQ(folder.errorNumber(), EISDIR);
    // The process's memory from address 0, which is never mapped: it opens,
    // and the first read fails with EIO.
    const QString failing = dir.file(u"failing.ini"_qs);
    ASSERT_EQ(::symlink("/proc/self/mem", encoded(failing).constData()), 0);
    ProfileFile broken(failing);
    EXPECT_EQ(broken.load(), ProfileFile::LoadStatus::Unreadable);
    EXPECT_EQ(broken.errorNumber(), EIO);
    EXPECT_FALSE(broken.writeString(u"CONFIG"_qs, u"dados"_qs, u"x"_qs));
    EXPECT_EQ(broken.errorNumber(), EIO);
    EXPECT_EQ(linkTarget(failing), QByteArray("/proc/self/mem"));
}

TEST(ProfileFile, AFileThatIsThereButCannotBeReadIsNeverReplaced)
{
    TempDir dir;
    // A link loop and a folder in the file's place: left as they are.
    const QString loop = makeLinkLoop(dir.file(u"loop.ini"_qs));
    ProfileFile loopIni(loop);
    EXPECT_FALSE(loopIni.writeString(u"CONFIG"_qs, u"dados"_qs, u"x"_qs));
    EXPECT_EQ(loopIni.errorNumber(), ELOOP);
    EXPECT_EQ(linkTarget(loop), QByteArray("loop.ini"));

    const QString folder = dir.file(u"folder.ini"_qs);
    writeFile(folder + u"/inside"_qs, "kept");
    ProfileFile folderIni(folder);
    EXPECT_FALSE(folderIni.writeString(u"CONFIG"_qs, u"dados"_qs, u"x"_qs));
    EXPECT_EQ(folderIni.errorNumber(), EISDIR);
    EXPECT_EQ(entriesOf(folder), QStringList{u"inside"_qs});
    EXPECT_EQ(entriesOf(dir.path()), (QStringList{u"folder.ini"_qs, u"loop.ini"_qs}));

    // A file the user may not read, in a folder where he may create files:
    // the write must not put a file holding only its one key in its place.
    const QString open = dir.file(u"open"_qs);
    const QByteArray original = "[SERVIDOR]\r\nPASTA_SISTEMA=C:\\Vireo\\Vireo Cast\r\n";
    const QString path = writeFile(open + u"/a.ini"_qs, original);
    ASSERT_EQ(::chmod(encoded(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(encoded(open).constData(), 0777), 0);
    ASSERT_EQ(::chmod(encoded(path).constData(), 0600), 0);
    const int status = runInChild([&] {
        if (!dropRoot())
            return 100;
        ProfileFile ini(path);
        if (ini.writeString(u"CONFIG"_qs, u"dados"_qs, u"x"_qs))
            return 1;
        return ini.errorNumber() == EACCES ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(path), original);
    EXPECT_EQ(entriesOf(open), QStringList{u"a.ini"_qs});
}

TEST(ProfileFile, AReadOnlyFileIsNotReplaced)
{
    TempDir dir;
    const QByteArray original = "[CONFIG]\r\ndados=01/01/0100\r\n";
    const QString path = writeFile(dir.file(u"a.ini"_qs), original);
    ASSERT_EQ(::chmod(encoded(path).constData(), 0444), 0);
    struct stat before {};
    ASSERT_EQ(::stat(encoded(path).constData(), &before), 0);

    ProfileFile ini(path);
    ASSERT_EQ(ini.load(), ProfileFile::LoadStatus::Loaded);  // reading it is fine
    EXPECT_FALSE(ini.writeString(u"CONFIG"_qs, u"dados"_qs, u"08/12/2026"_qs));
    EXPECT_EQ(ini.errorNumber(), EACCES);

    struct stat after {};
    ASSERT_EQ(::stat(encoded(path).constData(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0444u);
    EXPECT_EQ(readFile(path), original);
    EXPECT_EQ(ini.readString(u"CONFIG"_qs, u"dados"_qs), u"01/01/0100"_qs);
    EXPECT_EQ(entriesOf(dir.path()), QStringList{u"a.ini"_qs});
}

TEST(Cp1252, EveryByteSurvivesARoundTrip)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    EXPECT_EQ(EncodeCp1252(DecodeCp1252(all)), all);
    EXPECT_EQ(DecodeCp1252(QByteArray("\x80\x93\x94\xE1")), u"€“”á"_qs);
    EXPECT_EQ(EncodeCp1252(u"日本"_qs), QByteArray("??"));
}
