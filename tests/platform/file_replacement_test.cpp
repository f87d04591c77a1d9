// Whole-file copies and writes never write over their target: the old file
// stays byte for byte until a complete, checked copy replaces it, and every
// failure (a full disk, a read error, a refused create, a failing rename, a
// held or read-only target) leaves the old file and no temporary file.
// Faults are injected under the platform's file calls (tests/support/faultfs).

#include "platform/FileSystem.h"
#include "platform/FileUtilities.h"
#include "platform/TemporaryFiles.h"
#include "tests/platform/ForkedProcess.h"
#include "tests/support/TempPrefix.h"
#include "tests/support/faultfs/FaultInjection.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

namespace vz {
namespace {

using faults::Fault;
using faults::Rule;
using faults::ScopedFault;
using test::ForkedLock;
using test::TempDir;
using test::readFile;
using test::setMTime;
using test::writeFile;

QString S(const char* text) { return QString::fromUtf8(text); }

QByteArray Bytes(int size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(seed + i * 7 + i / 251);
    return bytes;
}

ino_t inodeOf(const QString& path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_ino;
}

// Names in the folder that are the program's temporary files.
QStringList temporaryFilesIn(const QString& folder)
{
    QStringList found;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (hostfs::isTemporaryName(name))
            found << name;
    return found;
}

// The two copies the copy engine uses (the platform's, for the database
// folder, and the one keeping the date through the FAT form), on host paths.
enum class Copy { Platform, KeepingDate, KeepingDateInPlace };

bool copyWith(Copy kind, const QString& from, const QString& to)
{
    switch (kind) {
    case Copy::Platform: return hostfs::copyFile(from, to);
    case Copy::KeepingDate: return CopyHostFileKeepingDate(from, to);
    case Copy::KeepingDateInPlace:
        return CopyHostFileKeepingDate(from, to, hostfs::CopyOptions::NewFile::InPlace);
    }
    return false;
}

class FileReplacementTest : public ::testing::TestWithParam<Copy> {
protected:
    void SetUp() override
    {
        source = dir.file(S("novo/VireoAudio.fdb"));
        target = dir.file(S("Vireodb/VireoAudio.fdb"));
        ASSERT_TRUE(QDir().mkpath(dir.file(S("novo"))));
        ASSERT_TRUE(QDir().mkpath(dir.file(S("Vireodb"))));
        writeFile(source, newBytes);
        writeFile(target, oldBytes);
        setMTime(target, OldMs);
    }
    void expectOldTargetAndNothingElse()
    {
        EXPECT_EQ(readFile(target), oldBytes);
        EXPECT_EQ(hostfs::stat(target)->modifiedUnixMs, OldMs);
        EXPECT_EQ(temporaryFilesIn(dir.file(S("Vireodb"))), QStringList());
        EXPECT_EQ(QDir(dir.file(S("Vireodb"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{S("VireoAudio.fdb")});
    }

    static constexpr qint64 OldMs = 1700000000000;
    TempDir dir;
    QString source, target;
    const QByteArray oldBytes = Bytes(30000, 'a');
    const QByteArray newBytes = Bytes(24000, 'n');
};

TEST_P(FileReplacementTest, EveryInjectedFaultLeavesTheOldFileWholeAndNoTemporaryFile)
{
    const std::string folder = QFile::encodeName(dir.file(S("Vireodb/"))).toStdString();
    const std::string sourceFolder = QFile::encodeName(dir.file(S("novo/"))).toStdString();
    struct Case {
        const char* name;
        Rule rule;
        int expectedError;
    };
    const Case cases[] = {
        // A disk that fills after 10,000 bytes (the new file is 24,000).
        {"disk full", Rule{Fault::NoSpace, folder, {}, 0, 10000, false}, ENOSPC},
        {"disk full at the first write", Rule{Fault::NoSpace, folder, {}, 0, -1, false}, ENOSPC},
        {"read error", Rule{Fault::ReadError, sourceFolder, {}, 0, -1, false}, EIO},
        {"create refused", Rule{Fault::CreateDenied, folder, {}, 0, -1, false}, EACCES},
        {"rename fails", Rule{Fault::RenameFails, folder, {}, 0, -1, false}, EIO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool copied = true;
        int error = 0;
        {
            ScopedFault fault(c.rule);
            errno = 0;
            copied = copyWith(GetParam(), source, target);
            error = errno;
            EXPECT_GT(faults::failuresInjected() + faults::matchingCalls(), 0);
        }
        EXPECT_FALSE(copied);
        EXPECT_EQ(error, c.expectedError);
        expectOldTargetAndNothingElse();
    }
    // Without a fault the same copy replaces the file whole.
    ASSERT_TRUE(copyWith(GetParam(), source, target));
    EXPECT_EQ(readFile(target), newBytes);
    EXPECT_EQ(temporaryFilesIn(dir.file(S("Vireodb"))), QStringList());
}

TEST_P(FileReplacementTest, TheOldFileIsNeverWrittenIntoOnlyReplaced)
{
    // A reader that had the old file open keeps reading the old bytes: the
    // new ones went into another file that took the old one's name.
    const int reader = ::open(QFile::encodeName(target).constData(), O_RDONLY);
    ASSERT_GE(reader, 0);
    const ino_t before = inodeOf(target);
    ASSERT_TRUE(copyWith(GetParam(), source, target));
    EXPECT_NE(inodeOf(target), before);
    QByteArray seen(oldBytes.size(), '\0');
    EXPECT_EQ(::pread(reader, seen.data(), size_t(seen.size()), 0), oldBytes.size());
    ::close(reader);
    EXPECT_EQ(seen, oldBytes);
    EXPECT_EQ(readFile(target), newBytes);
}

TEST_P(FileReplacementTest, AHeldOrReadOnlyTargetOrAFolderIsRefusedBeforeAnyByteIsWritten)
{
    {
        ForkedLock holder(target, false);  // even a reader's shared lock: Windows opens it without sharing
        ASSERT_TRUE(holder.locked());
        errno = 0;
        EXPECT_FALSE(copyWith(GetParam(), source, target));
        EXPECT_EQ(errno, SharingViolation);
        expectOldTargetAndNothingElse();
    }
    ASSERT_TRUE(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    errno = 0;
    EXPECT_FALSE(copyWith(GetParam(), source, target));
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(readFile(target), oldBytes);
    ASSERT_TRUE(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner));

    // The source itself under another name (a hard link).
    const QString alias = dir.file(S("novo/alias.fdb"));
    ASSERT_EQ(::link(QFile::encodeName(source).constData(), QFile::encodeName(alias).constData()), 0);
    errno = 0;
    EXPECT_FALSE(copyWith(GetParam(), source, alias));
    EXPECT_EQ(errno, SharingViolation);
    EXPECT_EQ(readFile(source), newBytes);

    const QString folder = dir.file(S("Vireodb/pasta"));
    ASSERT_TRUE(QDir().mkpath(folder));
    errno = 0;
    EXPECT_FALSE(copyWith(GetParam(), source, folder));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

TEST_P(FileReplacementTest, ANewFileThatFailsLeavesNothingUnderItsName)
{
    const QString fresh = dir.file(S("Vireodb/novo.fdb"));
    {
        ScopedFault fault(Rule{Fault::NoSpace, QFile::encodeName(dir.file(S("Vireodb/"))).toStdString(), {}, 0, 5000,
                               false});
        EXPECT_FALSE(copyWith(GetParam(), source, fresh));
    }
    EXPECT_FALSE(QFileInfo::exists(fresh));
    expectOldTargetAndNothingElse();
}

TEST_P(FileReplacementTest, ALinkedTargetKeepsItsLinkAndItsFileIsReplaced)
{
    const QString link = dir.file(S("Vireodb/atalho.fdb"));
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_TRUE(copyWith(GetParam(), source, link));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readFile(target), newBytes);
}

TEST_P(FileReplacementTest, ASourceThatYieldsLessThanItsSizeCopiesNothing)
{
    // sysfs files claim a size of one page and yield a few bytes.
    const QString shrinking = S("/sys/devices/system/cpu/online");
    if (!QFileInfo(shrinking).isReadable() || QFileInfo(shrinking).size() <= readFile(shrinking).size())
        GTEST_SKIP() << "no sysfs file that yields less than its size";
    EXPECT_FALSE(copyWith(GetParam(), shrinking, target));
    expectOldTargetAndNothingElse();
    const QString fresh = dir.file(S("Vireodb/online"));
    EXPECT_FALSE(copyWith(GetParam(), shrinking, fresh));
    EXPECT_FALSE(QFileInfo::exists(fresh));
}

// A copy carries the source's permission bits, whatever mode a new file
// would get and whatever the file it replaces had.
TEST_P(FileReplacementTest, TheCopyHasTheSourcesModeNewOrReplaced)
{
    const mode_t previous = ::umask(022);
    for (const mode_t mode : {mode_t(0644), mode_t(0600), mode_t(0755), mode_t(0664)}) {
        const QString from = dir.file(S("modos/origem-%1").arg(mode, 0, 8));
        writeFile(from, "bytes");
        ASSERT_EQ(::chmod(QFile::encodeName(from).constData(), mode), 0);
        const QString fresh = dir.file(S("modos/novo-%1").arg(mode, 0, 8));
        const QString old = dir.file(S("modos/velho-%1").arg(mode, 0, 8));
        writeFile(old, "old");
        ASSERT_EQ(::chmod(QFile::encodeName(old).constData(), 0640), 0);
        for (const QString& to : {fresh, old}) {
            ASSERT_TRUE(copyWith(GetParam(), from, to)) << to.toStdString();
            struct stat st {};
            ASSERT_EQ(::stat(QFile::encodeName(to).constData(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, mode) << to.toStdString();
            EXPECT_EQ(readFile(to), QByteArray("bytes"));
        }
    }
    ::umask(previous);
}

INSTANTIATE_TEST_SUITE_P(BothCopies, FileReplacementTest,
                         ::testing::Values(Copy::Platform, Copy::KeepingDate, Copy::KeepingDateInPlace),
                         [](const ::testing::TestParamInfo<Copy>& p) {
                             switch (p.param) {
                             case Copy::Platform: return std::string("Platform");
                             case Copy::KeepingDate: return std::string("KeepingDate");
                             case Copy::KeepingDateInPlace: return std::string("KeepingDateNewFilesInPlace");
                             }
                             return std::string();
                         });

TEST(FileSystemWriteFile, ReplacesWholeOrNotAtAll)
{
    test::TempPrefix prefix;
    const FileSystem fs(prefix.driveMap());
    const QString file = prefix.drive(S("c")) + S("/arquivo.zip");
    writeFile(file, "antigo");
    {
        ScopedFault fault(Rule{Fault::NoSpace, QFile::encodeName(prefix.drive(S("c"))).toStdString() + "/", {}, 0, 100,
                               false});
        EXPECT_FALSE(fs.writeFile(S("C:\\arquivo.zip"), Bytes(5000, 'z')));
    }
    EXPECT_EQ(readFile(file), QByteArray("antigo"));
    EXPECT_EQ(temporaryFilesIn(prefix.drive(S("c"))), QStringList());
    ASSERT_TRUE(fs.writeFile(S("C:\\arquivo.zip"), Bytes(5000, 'z')));
    EXPECT_EQ(readFile(file), Bytes(5000, 'z'));
}

TEST(FileSystemWriteFile, ANewFileGetsTheUsualModeAReplacedOneKeepsItsOwn)
{
    test::TempPrefix prefix;
    const FileSystem fs(prefix.driveMap());
    const mode_t previous = ::umask(022);
    ASSERT_TRUE(fs.writeFile(S("C:\\novo.zip"), "1"));
    const QString replaced = prefix.drive(S("c")) + S("/velho.zip");
    writeFile(replaced, "0");
    ASSERT_EQ(::chmod(QFile::encodeName(replaced).constData(), 0640), 0);
    ASSERT_TRUE(fs.writeFile(S("C:\\velho.zip"), "2"));
    ::umask(previous);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(prefix.drive(S("c")) + S("/novo.zip")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    ASSERT_EQ(::stat(QFile::encodeName(replaced).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(readFile(replaced), QByteArray("2"));
}

TEST(TemporaryFiles, NamesAreRecognisedAndOnlyLeftoversNobodyHoldsAreSwept)
{
    EXPECT_TRUE(hostfs::isTemporaryName(QStringView(u".~vzAb3dEf9Z.tmp")));
    EXPECT_TRUE(hostfs::isTemporaryName(".~vzAb3dEf9Z.tmp"));
    for (const char* other : {".~vzAb3dEf9.tmp", ".~vzAb3dEf9Z.tmp ", "~vzAb3dEf9Z.tmp", ".~vzAb3dEf9!.tmp",
                              ".~vzAb3dEf9Z.TMP", "VireoAudio.fdb", ".vz2.tmp"}) {
        EXPECT_FALSE(hostfs::isTemporaryName(other)) << other;
        EXPECT_FALSE(hostfs::isTemporaryName(QString::fromLatin1(other))) << other;
    }

    TempDir dir;
    QString held;
    HostFile writer = hostfs::createTemporaryFile(dir.path(), &held);
    ASSERT_TRUE(writer.isOpen());
    EXPECT_TRUE(hostfs::isTemporaryName(QFileInfo(held).fileName()));
    QString left;
    hostfs::createTemporaryFile(dir.path(), &left).close();  // its writer is gone
    ASSERT_TRUE(QDir().mkpath(dir.file(S("sub"))));
    QString deeper;
    hostfs::createTemporaryFile(dir.file(S("sub")), &deeper).close();
    writeFile(dir.file(S("sub/.~vz.tmp")), "not ours");
    // A link to another folder is never followed.
    TempDir elsewhere;
    QString outside;
    hostfs::createTemporaryFile(elsewhere.path(), &outside).close();
    ASSERT_TRUE(QFile::link(elsewhere.path(), dir.file(S("link"))));

    EXPECT_EQ(hostfs::removeTemporaryFiles(dir.path(), false), 1);
    EXPECT_FALSE(QFileInfo::exists(left));
    EXPECT_TRUE(QFileInfo::exists(held));  // its writer still holds it
    EXPECT_TRUE(QFileInfo::exists(deeper));
    EXPECT_EQ(hostfs::removeTemporaryFiles(dir.path(), true), 1);
    EXPECT_FALSE(QFileInfo::exists(deeper));
    EXPECT_TRUE(QFileInfo::exists(dir.file(S("sub/.~vz.tmp"))));
    EXPECT_TRUE(QFileInfo::exists(outside));
    writer.close();
    EXPECT_EQ(hostfs::removeTemporaryFiles(dir.path(), true), 1);
    EXPECT_FALSE(QFileInfo::exists(held));
}

}  // namespace
}  // namespace vz
