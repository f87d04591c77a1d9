// The fault-injection layer met through the program's own file calls on real
// files: each fault where it is armed, the byte budget to the byte, the call
// counts, `once`, the path filters, disarming, worker threads, and a child
// program armed through VZ_FAULTS.

#include "tests/support/faultfs/FaultInjection.h"

#include "platform/FileSystem.h"
#include "platform/HostFile.h"
#include "platform/ProfileFile.h"
#include "tests/support/TempPrefix.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

using namespace vz;
using namespace vz::faults;
using namespace vz::test;

namespace {

QByteArray pattern(qsizetype bytes)
{
    QByteArray data(bytes, '\0');
    for (qsizetype i = 0; i < bytes; ++i)
        data[i] = char('a' + i % 26);
    return data;
}

// A temporary folder with an "in" folder the rules aim at and an "out"
// folder beside it that they must leave alone.
struct Folders {
    TempDir dir;
    QString in = dir.file(u"in"_qs);
    QString out = dir.file(u"out"_qs);
    Folders()
    {
        EXPECT_TRUE(QDir().mkpath(in));
        EXPECT_TRUE(QDir().mkpath(out));
    }
    Rule rule(Fault fault) const
    {
        Rule r;
        r.fault = fault;
        r.pathPrefix = QString(in + u'/').toStdString();
        return r;
    }
};

struct WriteOutcome {
    bool opened = false;
    bool written = false;
    int error = 0;
};

WriteOutcome createAndWrite(const QString& path, const QByteArray& data)
{
    WriteOutcome outcome;
    HostFile file = HostFile::create(path, ShareMode::None);
    outcome.opened = file.isOpen();
    if (!outcome.opened) {
        outcome.error = file.errorNumber();
        return outcome;
    }
    errno = 0;
    outcome.written = file.writeAll(data.constData(), data.size());
    outcome.error = outcome.written ? 0 : errno;
    return outcome;
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

}  // namespace

TEST(NoSpace, TheByteBudgetIsHonouredExactlyAndSharedByAllMatchingFiles)
{
    Folders f;
    const QByteArray data = pattern(50000);
    WriteOutcome first;
    {
        Rule r = f.rule(Fault::NoSpace);
        r.afterBytes = 10000;
        ScopedFault fault(r);
        first = createAndWrite(f.in + u"/a.bin"_qs, data);
        // One short write of the 10000 bytes that fit, then ENOSPC.
        EXPECT_EQ(matchingCalls(), 2);
        EXPECT_EQ(failuresInjected(), 1);
    }
    ASSERT_TRUE(first.opened);
    EXPECT_FALSE(first.written);
    EXPECT_EQ(first.error, ENOSPC);
    EXPECT_EQ(readFile(f.in + u"/a.bin"_qs), data.left(10000));

    // The budget is the disk's free space: every matching file draws on it.
    WriteOutcome a, b;
    {
        Rule r = f.rule(Fault::NoSpace);
        r.afterBytes = 10000;
        ScopedFault fault(r);
        a = createAndWrite(f.in + u"/b.bin"_qs, data.left(6000));
        b = createAndWrite(f.in + u"/c.bin"_qs, data.left(6000));
    }
    EXPECT_TRUE(a.written);
    EXPECT_FALSE(b.written);
    EXPECT_EQ(b.error, ENOSPC);
    EXPECT_EQ(readFile(f.in + u"/b.bin"_qs).size(), 6000);
    EXPECT_EQ(readFile(f.in + u"/c.bin"_qs), data.left(4000));
}

TEST(NoSpace, AWholeFileCopyIntoTheFolderFailsAndLeavesNoTarget)
{
    Folders f;
    const QByteArray data = pattern(300000);
    const QString source = writeFile(f.out + u"/source.bin"_qs, data);
    for (const long long budget : {-1LL, 65536LL}) {
        SCOPED_TRACE(budget);
        bool copied = true;
        int error = 0;
        {
            Rule r = f.rule(Fault::NoSpace);
            r.afterBytes = budget;
            ScopedFault fault(r);
            copied = hostfs::copyFile(source, f.in + u"/target.bin"_qs);
            error = errno;
            EXPECT_EQ(failuresInjected(), 1);
        }
        EXPECT_FALSE(copied);
        EXPECT_EQ(error, ENOSPC);
        EXPECT_FALSE(QFile::exists(f.in + u"/target.bin"_qs));
        EXPECT_EQ(readFile(source), data);  // the source was read, not harmed
    }
    // The same copy into the folder beside succeeds under the same rule.
    Rule r = f.rule(Fault::NoSpace);
    ScopedFault fault(r);
    EXPECT_TRUE(hostfs::copyFile(source, f.out + u"/copy.bin"_qs));
    EXPECT_EQ(matchingCalls(), 0);
    EXPECT_EQ(readFile(f.out + u"/copy.bin"_qs), data);
}

TEST(NoSpace, AfterCallsLetsThatManyWritesThroughAndOncePassesAgainAfterItsFailure)
{
    Folders f;
    const QByteArray chunk = pattern(100);
    {
        Rule r = f.rule(Fault::NoSpace);
        r.afterCalls = 2;
        ScopedFault fault(r);
        HostFile file = HostFile::create(f.in + u"/calls.bin"_qs, ShareMode::None);
        ASSERT_TRUE(file.isOpen());
        EXPECT_TRUE(file.writeAll(chunk.constData(), chunk.size()));
        EXPECT_TRUE(file.writeAll(chunk.constData(), chunk.size()));
        errno = 0;
        EXPECT_FALSE(file.writeAll(chunk.constData(), chunk.size()));
        EXPECT_EQ(errno, ENOSPC);
        EXPECT_FALSE(file.writeAll(chunk.constData(), chunk.size()));  // not `once`: it stays full
        EXPECT_EQ(matchingCalls(), 4);
        EXPECT_EQ(failuresInjected(), 2);
    }
    EXPECT_EQ(readFile(f.in + u"/calls.bin"_qs).size(), 200);

    {
        Rule r = f.rule(Fault::NoSpace);
        r.afterCalls = 1;
        r.once = true;
        ScopedFault fault(r);
        HostFile file = HostFile::create(f.in + u"/once.bin"_qs, ShareMode::None);
        ASSERT_TRUE(file.isOpen());
        EXPECT_TRUE(file.writeAll(chunk.constData(), chunk.size()));
        EXPECT_FALSE(file.writeAll(chunk.constData(), chunk.size()));
        EXPECT_TRUE(file.writeAll(chunk.constData(), chunk.size()));
        EXPECT_TRUE(file.writeAll(chunk.constData(), chunk.size()));
        EXPECT_EQ(matchingCalls(), 4);
        EXPECT_EQ(failuresInjected(), 1);
    }
    EXPECT_EQ(readFile(f.in + u"/once.bin"_qs).size(), 300);
}

TEST(NoSpace, QFileWritesFailWithTheDiskFullError)
{
    Folders f;
    Rule r = f.rule(Fault::NoSpace);
    r.afterBytes = 1000;
    ScopedFault fault(r);
    QFile file(f.in + u"/qfile.bin"_qs);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray data = pattern(100000);
    EXPECT_EQ(file.write(data), 1000);  // Qt reports the short write as it is
    EXPECT_EQ(file.write(data), -1);
    EXPECT_EQ(file.error(), QFileDevice::ResourceError);
    EXPECT_TRUE(file.errorString().contains(QString::fromUtf8(std::strerror(ENOSPC))));
    file.close();
    EXPECT_EQ(QFileInfo(file.fileName()).size(), 1000);
}

TEST(ReadError, ReadsOfMatchingFilesFailThroughEveryPlatformRead)
{
    Folders f;
    const QByteArray data = pattern(70000);
    const QString inside = writeFile(f.in + u"/data.bin"_qs, data);
    const QString outside = writeFile(f.out + u"/data.bin"_qs, data);
    char buffer[4096];
    {
        ScopedFault fault(f.rule(Fault::ReadError));
        HostFile file = HostFile::openRead(inside, ShareMode::DenyWrite);
        ASSERT_TRUE(file.isOpen());  // opening is not reading
        errno = 0;
        EXPECT_EQ(file.read(buffer, sizeof buffer), -1);
        EXPECT_EQ(errno, EIO);
        errno = 0;
        EXPECT_EQ(file.readAt(buffer, sizeof buffer, 100), -1);
        EXPECT_EQ(errno, EIO);

        // A copy from the folder fails on its source; one from beside does not.
        errno = 0;
        EXPECT_FALSE(hostfs::copyFile(inside, f.out + u"/copy.bin"_qs));
        EXPECT_EQ(errno, EIO);
        EXPECT_FALSE(QFile::exists(f.out + u"/copy.bin"_qs));
        EXPECT_TRUE(hostfs::copyFile(outside, f.out + u"/copy2.bin"_qs));

        QFile qfile(inside);
        ASSERT_TRUE(qfile.open(QIODevice::ReadOnly));
        EXPECT_TRUE(qfile.readAll().isEmpty());
        EXPECT_EQ(qfile.error(), QFileDevice::ReadError);

        HostFile other = HostFile::openRead(outside, ShareMode::DenyWrite);
        EXPECT_EQ(other.read(buffer, sizeof buffer), qint64(sizeof buffer));
        EXPECT_EQ(matchingCalls(), 4);
        EXPECT_EQ(failuresInjected(), 4);
    }
    EXPECT_EQ(readFile(f.out + u"/copy2.bin"_qs), data);
    // Disarmed, the same file reads again.
    HostFile file = HostFile::openRead(inside, ShareMode::DenyWrite);
    EXPECT_EQ(file.read(buffer, sizeof buffer), qint64(sizeof buffer));
}

TEST(ReadError, OnceFailsOneReadThenTheFileReadsOnAndAnOpenDescriptorIsJudgedToo)
{
    Folders f;
    const QByteArray data = pattern(5000);
    const QString path = writeFile(f.in + u"/once.bin"_qs, data);
    // Opened before arming: judged by the path the kernel reports for it.
    HostFile file = HostFile::openRead(path, ShareMode::DenyWrite);
    ASSERT_TRUE(file.isOpen());
    Rule r = f.rule(Fault::ReadError);
    r.afterCalls = 1;
    r.once = true;
    ScopedFault fault(r);
    char buffer[1000];
    EXPECT_EQ(file.read(buffer, sizeof buffer), 1000);
    EXPECT_EQ(file.read(buffer, sizeof buffer), -1);
    QByteArray rest(buffer, 1000);
    for (qint64 n; (n = file.read(buffer, sizeof buffer)) > 0;)
        rest.append(buffer, n);
    EXPECT_EQ(rest, data);  // the failed read consumed nothing
    EXPECT_EQ(failuresInjected(), 1);
    EXPECT_EQ(matchingCalls(), 7);  // 1000, the failure, 4 x 1000, the end
}

TEST(CreateDenied, NewFilesCannotBeCreatedButExistingOnesStillOpen)
{
    Folders f;
    const QString existing = writeFile(f.in + u"/existing.bin"_qs, "old");
    const QString source = writeFile(f.out + u"/source.bin"_qs, pattern(1000));
    {
        ScopedFault fault(f.rule(Fault::CreateDenied));
        const WriteOutcome created = createAndWrite(f.in + u"/new.bin"_qs, "x");
        EXPECT_FALSE(created.opened);
        EXPECT_EQ(created.error, EACCES);
        EXPECT_FALSE(QFile::exists(f.in + u"/new.bin"_qs));

        const WriteOutcome replaced = createAndWrite(existing, "new");
        EXPECT_TRUE(replaced.opened);
        EXPECT_TRUE(replaced.written);

        errno = 0;
        EXPECT_FALSE(hostfs::copyFile(source, f.in + u"/copy.bin"_qs));
        EXPECT_EQ(errno, EACCES);
        EXPECT_TRUE(hostfs::copyFile(source, f.out + u"/copy.bin"_qs));

        QFile qnew(f.in + u"/qnew.bin"_qs);
        EXPECT_FALSE(qnew.open(QIODevice::WriteOnly));
        QFile qexisting(existing);
        EXPECT_TRUE(qexisting.open(QIODevice::Append));

        // Relative names: against a folder descriptor and against the current folder.
        const int folder = ::open(f.in.toUtf8().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(folder, 0);
        errno = 0;
        EXPECT_EQ(::openat(folder, "relative.bin", O_WRONLY | O_CREAT | O_CLOEXEC, 0644), -1);
        EXPECT_EQ(errno, EACCES);
        ::close(folder);
        const QString cwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(f.in));
        const WriteOutcome relative = createAndWrite(u"relative.bin"_qs, "x");
        ASSERT_TRUE(QDir::setCurrent(cwd));
        EXPECT_EQ(relative.error, EACCES);

        EXPECT_EQ(failuresInjected(), 5);  // new.bin, copy.bin, qnew.bin, two relative.bin
        EXPECT_EQ(matchingCalls(), 5);     // opens of existing files do not count
    }
    EXPECT_EQ(readFile(existing), "new");
    EXPECT_EQ(entries(f.in), QStringList({u"existing.bin"_qs}));
    // Disarmed, creating works again.
    EXPECT_TRUE(createAndWrite(f.in + u"/new.bin"_qs, "x").written);
}

TEST(RenameFails, RenamesOntoMatchingTargetsFailAndLeaveTheSource)
{
    Folders f;
    const QString a = writeFile(f.out + u"/a.bin"_qs, "a");
    {
        ScopedFault fault(f.rule(Fault::RenameFails));
        errno = 0;
        EXPECT_FALSE(hostfs::rename(a, f.in + u"/a.bin"_qs));
        EXPECT_EQ(errno, EIO);
        EXPECT_TRUE(QFile::exists(a));
        EXPECT_FALSE(QFile::exists(f.in + u"/a.bin"_qs));
        // Renaming within the folder beside is not touched.
        EXPECT_TRUE(hostfs::rename(a, f.out + u"/b.bin"_qs));
        EXPECT_EQ(matchingCalls(), 1);
        EXPECT_EQ(failuresInjected(), 1);
    }
    EXPECT_TRUE(hostfs::rename(f.out + u"/b.bin"_qs, f.in + u"/a.bin"_qs));
}

TEST(ProfileFile, AFailedReplacementLeavesTheOldFileWholeAndNoTemporaryFile)
{
    Folders f;
    const QString ini = writeFile(f.in + u"/settings.ini"_qs, "[A]\r\nkey=old\r\n");
    for (const Fault kind : {Fault::NoSpace, Fault::CreateDenied, Fault::RenameFails}) {
        SCOPED_TRACE(int(kind));
        ProfileFile profile(ini);
        bool written = true;
        {
            ScopedFault fault(f.rule(kind));
            written = profile.writeString(u"A"_qs, u"key"_qs, u"new"_qs);
            EXPECT_GE(failuresInjected(), 1);
        }
        EXPECT_FALSE(written);
        EXPECT_EQ(readFile(ini), "[A]\r\nkey=old\r\n");
        EXPECT_EQ(entries(f.in), QStringList({u"settings.ini"_qs}));
    }
    EXPECT_TRUE(ProfileFile(ini).writeString(u"A"_qs, u"key"_qs, u"new"_qs));
    EXPECT_EQ(readFile(ini), "[A]\r\nkey=new\r\n");
}

TEST(Paths, OnlyFilesUnderThePrefixAndWithTheTextAreHit)
{
    Folders f;
    const QByteArray data = pattern(3000);
    ASSERT_TRUE(QDir().mkpath(f.in + u"2"_qs));  // "in2": the prefix ends with "/"
    ASSERT_TRUE(QDir().mkpath(f.in + u"/sub"_qs));
    Rule r = f.rule(Fault::NoSpace);
    r.pathContains = ".zip";
    ScopedFault fault(r);
    EXPECT_TRUE(createAndWrite(f.out + u"/a.zip"_qs, data).written);
    EXPECT_TRUE(createAndWrite(f.in + u"2/a.zip"_qs, data).written);
    EXPECT_TRUE(createAndWrite(f.in + u"/a.txt"_qs, data).written);
    EXPECT_EQ(matchingCalls(), 0);
    const WriteOutcome hit = createAndWrite(f.in + u"/sub/../a.zip"_qs, data);
    EXPECT_FALSE(hit.written);
    EXPECT_EQ(hit.error, ENOSPC);
    EXPECT_EQ(failuresInjected(), 1);
    for (const QString& name : QStringList{f.out + u"/a.zip"_qs, f.in + u"2/a.zip"_qs, f.in + u"/a.txt"_qs})
        EXPECT_EQ(readFile(name), data) << name.toStdString();
}

TEST(Paths, APrefixThroughASymbolicLinkMatchesTheResolvedPathAndTheOtherWayRound)
{
    Folders f;
    const QString link = f.dir.file(u"link"_qs);
    ASSERT_TRUE(QFile::link(f.in, link));
    {
        Rule r = f.rule(Fault::CreateDenied);
        r.pathPrefix = QString(link + u'/').toStdString();
        ScopedFault fault(r);
        EXPECT_EQ(createAndWrite(f.in + u"/a.bin"_qs, "x").error, EACCES);
    }
    {
        ScopedFault fault(f.rule(Fault::CreateDenied));
        EXPECT_EQ(createAndWrite(link + u"/b.bin"_qs, "x").error, EACCES);
    }
    EXPECT_TRUE(entries(f.in).isEmpty());
}

TEST(Descriptors, AClosedOrReplacedDescriptorLosesItsVerdict)
{
    Folders f;
    const QByteArray data = pattern(100);
    ScopedFault fault(f.rule(Fault::NoSpace));
    int number = -1;
    {
        HostFile inside = HostFile::create(f.in + u"/a.bin"_qs, ShareMode::None);
        ASSERT_TRUE(inside.isOpen());
        EXPECT_FALSE(inside.writeAll(data.constData(), data.size()));
        number = inside.fd();
    }
    HostFile outside = HostFile::create(f.out + u"/b.bin"_qs, ShareMode::None);
    ASSERT_EQ(outside.fd(), number);  // the lowest free number comes back
    EXPECT_TRUE(outside.writeAll(data.constData(), data.size()));

    // dup2 onto a matching descriptor: it now writes to the file beside.
    HostFile inside = HostFile::create(f.in + u"/c.bin"_qs, ShareMode::None);
    ASSERT_TRUE(inside.isOpen());
    EXPECT_FALSE(inside.writeAll(data.constData(), data.size()));
    ASSERT_EQ(::dup2(outside.fd(), inside.fd()), inside.fd());
    EXPECT_TRUE(inside.writeAll(data.constData(), data.size()));
    EXPECT_EQ(failuresInjected(), 2);
}

TEST(Descriptors, DisarmingRestoresEveryCallAtOnce)
{
    Folders f;
    const QByteArray data = pattern(100);
    HostFile file;
    {
        ScopedFault fault(f.rule(Fault::NoSpace));
        EXPECT_TRUE(isArmed());
        file = HostFile::create(f.in + u"/a.bin"_qs, ShareMode::None);
        ASSERT_TRUE(file.isOpen());
        EXPECT_FALSE(file.writeAll(data.constData(), data.size()));
    }
    EXPECT_FALSE(isArmed());
    EXPECT_TRUE(file.writeAll(data.constData(), data.size()));  // opened while armed, written after
    EXPECT_TRUE(createAndWrite(f.in + u"/b.bin"_qs, data).written);
    EXPECT_EQ(failuresInjected(), 1);  // counters keep their values until the next arm
    EXPECT_EQ(readFile(f.in + u"/a.bin"_qs), data);
}

TEST(Threads, WorkerThreadsMeetTheFaultAndShareOneExactBudget)
{
    Folders f;
    WriteOutcome single;
    {
        ScopedFault fault(f.rule(Fault::NoSpace));
        std::thread worker([&] { single = createAndWrite(f.in + u"/worker.bin"_qs, "x"); });
        worker.join();
        EXPECT_EQ(failuresInjected(), 1);
    }
    EXPECT_TRUE(single.opened);
    EXPECT_FALSE(single.written);
    EXPECT_EQ(single.error, ENOSPC);

    // Four writers at once, 512 bytes a call, against a budget of 10000:
    // what reaches the disk adds up to the budget exactly.
    constexpr int Writers = 4;
    std::atomic<int> failed{0};
    {
        Rule r = f.rule(Fault::NoSpace);
        r.afterBytes = 10000;
        ScopedFault fault(r);
        std::vector<std::thread> workers;
        for (int w = 0; w < Writers; ++w) {
            workers.emplace_back([&, w] {
                HostFile file = HostFile::create(f.in + u"/t%1.bin"_qs.arg(w), ShareMode::None);
                const QByteArray chunk = pattern(512);
                for (int i = 0; i < 20; ++i) {
                    if (!file.writeAll(chunk.constData(), chunk.size())) {
                        failed += errno == ENOSPC ? 1 : 100;
                        return;
                    }
                }
            });
        }
        for (std::thread& worker : workers)
            worker.join();
    }
    EXPECT_EQ(failed.load(), Writers);
    qint64 total = 0;
    for (int w = 0; w < Writers; ++w)
        total += QFileInfo(f.in + u"/t%1.bin"_qs.arg(w)).size();
    EXPECT_EQ(total, 10000);
}

TEST(OtherCalls, VectoredWritesReservationsTemporaryFilesLinksAndStreams)
{
    Folders f;
    const QByteArray in = (f.in + u'/').toUtf8();
    const auto at = [&in](const char* name) { return QByteArray(in + name); };
    const QByteArray data = pattern(300);
    {
        Rule r = f.rule(Fault::NoSpace);
        r.afterBytes = 250;
        ScopedFault fault(r);
        const int fd = ::open(at("v.bin").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        char* base = const_cast<char*>(data.constData());
        const struct iovec parts[3] = {{base, 100}, {base + 100, 100}, {base + 200, 100}};
        EXPECT_EQ(::writev(fd, parts, 3), 250);  // cut inside the third buffer
        EXPECT_EQ(::writev(fd, parts, 3), -1);
        EXPECT_EQ(::ftruncate(fd, 100), 0);  // shrinking needs no space
        EXPECT_EQ(::ftruncate(fd, 1 << 20), -1);
        EXPECT_EQ(errno, ENOSPC);
        EXPECT_EQ(::posix_fallocate(fd, 0, 1 << 20), ENOSPC);
        ::close(fd);
    }
    {
        ScopedFault fault(f.rule(Fault::CreateDenied));
        char pattern[PATH_MAX];
        std::snprintf(pattern, sizeof pattern, "%sXXXXXX", in.constData());
        EXPECT_EQ(::mkstemp(pattern), -1);
        EXPECT_EQ(::fopen(at("stream.txt").constData(), "w"), nullptr);
        EXPECT_EQ(errno, EACCES);
        EXPECT_EQ(::open(in.constData(), O_TMPFILE | O_RDWR, 0600), -1);
        EXPECT_EQ(failuresInjected(), 3);
    }
    {
        const QByteArray outside = writeFile(f.out + u"/l.bin"_qs, "l").toUtf8();
        ScopedFault fault(f.rule(Fault::RenameFails));
        EXPECT_EQ(::linkat(AT_FDCWD, outside.constData(), AT_FDCWD, at("l.bin").constData(), 0), -1);
        EXPECT_EQ(errno, EIO);
        EXPECT_EQ(::renameat2(AT_FDCWD, outside.constData(), AT_FDCWD, at("l.bin").constData(), 0), -1);
        EXPECT_EQ(failuresInjected(), 2);
    }
    EXPECT_EQ(entries(f.in), QStringList({u"v.bin"_qs}));
    EXPECT_EQ(readFile(f.in + u"/v.bin"_qs), data.left(100));
}

TEST(Environment, RulesAreReadFromTheirTextForm)
{
    Folders f;
    // A folder whose name holds ':' as a drive link does.
    const QString drive = f.in + u"/c:"_qs;
    ASSERT_TRUE(QDir().mkpath(drive));
    std::string error;
    ASSERT_TRUE(armFromText("nospace:prefix=" + drive.toStdString() + "/:bytes=100:once", &error)) << error;
    const WriteOutcome outcome = createAndWrite(drive + u"/a.bin"_qs, pattern(300));
    disarm();
    EXPECT_EQ(outcome.error, ENOSPC);
    EXPECT_EQ(readFile(drive + u"/a.bin"_qs).size(), 100);

    for (const char* invalid : {"", "full", "nospace:bytes=ten", "nospace:calls=-1", "readerror:bytes=5",
                                "renamefails:once=1", "renamefails:speed=1"}) {
        error.clear();
        EXPECT_FALSE(armFromText(invalid, &error)) << invalid;
        EXPECT_FALSE(error.empty()) << invalid;
        EXPECT_FALSE(isArmed()) << invalid;
    }
}

TEST(Environment, AChildProgramIsArmedThroughPreloadAndVzFaults)
{
    Folders f;
    const QByteArray data = pattern(50000);
    const QString source = writeFile(f.out + u"/source.bin"_qs, data);
    const QString target = f.in + u"/copy.bin"_qs;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QString preload = QString::fromUtf8(VZ_FAULTFS_LIBRARY);
    // A sanitized library needs the sanitizer's runtime loaded before it.
    if (void* asanInit = ::dlsym(RTLD_DEFAULT, "__asan_init")) {
        Dl_info info{};
        ASSERT_NE(::dladdr(asanInit, &info), 0);
        preload = QString::fromUtf8(info.dli_fname) + u' ' + preload;
        environment.insert(u"ASAN_OPTIONS"_qs, u"detect_leaks=0"_qs);
    }
    environment.insert(u"LD_PRELOAD"_qs, preload);
    environment.insert(u"VZ_FAULTS"_qs, u"nospace:prefix="_qs + f.in + u"/:bytes=10000"_qs);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(u"cp"_qs, {source, target});
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_NE(child.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(child.readAllStandardError()).contains(QString::fromUtf8(std::strerror(ENOSPC))));
    EXPECT_EQ(readFile(target), data.left(10000));

    // An invalid rule stops the child at load with its reason.
    environment.insert(u"VZ_FAULTS"_qs, u"nospace:bytes=ten"_qs);
    child.setProcessEnvironment(environment);
    child.start(u"/bin/true"_qs, {});
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_FALSE(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0);
    EXPECT_TRUE(child.readAllStandardError().contains("VZ_FAULTS"));
}
