// Profile files: how keys are found, how a write keeps the rest of the file,
// and that a failed write leaves the old file whole.

#include "platform/Cp1252.h"
#include "platform/ProfileFile.h"
#include "tests/support/TempPrefix.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

TEST(ProfileFile, WritesReplaceTheFileWholeAndLeaveNoTemporaryFile)
{
    TempDir dir;
    const QString path = writeFile(dir.file(u"a.ini"_qs), "[A]\r\nb=1\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);
    ASSERT_TRUE(ProfileFile(path).writeString(u"A"_qs, u"b"_qs, u"2"_qs));
    struct stat after {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "written in place instead of renamed over";
    EXPECT_EQ(after.st_mode & 0777, 0640u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"a.ini"_qs});
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

TEST(Cp1252, EveryByteSurvivesARoundTrip)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    EXPECT_EQ(EncodeCp1252(DecodeCp1252(all)), all);
    EXPECT_EQ(DecodeCp1252(QByteArray("\x80\x93\x94\xE1")), u"€“”á"_qs);
    EXPECT_EQ(EncodeCp1252(u"日本"_qs), QByteArray("??"));
}
