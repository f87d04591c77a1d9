// Downloads written as they arrive: into a temporary file beside the
// target, which takes the target's name only when committed; what the file
// holds is what was received, also when the transfer breaks off; memory
// stays at one write block whatever the size.

#include "platform/TemporaryFiles.h"
#include "tests/support/TempPrefix.h"
#include "tests/web/PeakMemory.h"
#include "tests/web/ServiceProcess.h"
#include "tests/web/ScriptedServer.h"
#include "tests/web/WebTestSupport.h"
#include "web/DownloadFile.h"
#include "web/HttpErrors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace vz;
using namespace vz::test;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList temporaryFilesIn(const QString& folder) {
    QStringList found;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        if (hostfs::isTemporaryName(name)) found << name;
    return found;
}

QByteArray ok(qint64 announced) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(announced) + "\r\n\r\n";
}

class DownloadFileTest : public ::testing::Test, public ClientFixture {
protected:
    TempDir dir;
    ScriptedServer server;
    QString target = dir.file(QStringLiteral("archive.zip"));
};

TEST_F(DownloadFileTest, TheFileGrowsBesideTheTargetAndTakesItsNameOnlyWhenCommitted) {
    const QByteArray body = randomBytes(5 * DownloadFile::WriteBlockBytes + 123);
    writeFile(target, "the old archive");
    ASSERT_TRUE(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
    server.AddReply(ok(body.size()) + body, true);

    // Seen from the progress events: a temporary file beside the target
    // holding the blocks written so far, the old archive untouched.
    qint64 largestSeen = 0;
    bool oldKept = true;
    client.OnWork = [&](int, qint32 count) {
        const QStringList temporaries = temporaryFilesIn(dir.path());
        if (temporaries.size() != 1) return;
        const qint64 size = QFileInfo(dir.file(temporaries.first())).size();
        EXPECT_LE(size, count);
        EXPECT_GT(size, count - DownloadFile::WriteBlockBytes);
        largestSeen = std::max(largestSeen, size);
        oldKept = oldKept && readAll(target) == "the old archive";
    };
    DownloadFile file;
    ASSERT_TRUE(file.Open(target));
    EXPECT_EQ(temporaryFilesIn(dir.path()).size(), 1);
    client.Get(server.url(QStringLiteral("/a.zip")), file);
    EXPECT_GE(largestSeen, 4 * DownloadFile::WriteBlockBytes);
    EXPECT_TRUE(oldKept);
    EXPECT_EQ(readAll(target), "the old archive");
    ASSERT_TRUE(file.Commit(false));
    EXPECT_EQ(readAll(target), body);
    EXPECT_TRUE(temporaryFilesIn(dir.path()).isEmpty());
    // A replaced file keeps its permission bits.
    EXPECT_EQ(QFileInfo(target).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
              QFileDevice::ReadGroup);
}

TEST_F(DownloadFileTest, WhatArrivedBeforeAnErrorIsWhatTheFileHolds) {
    // A chunked body whose third chunk size is out of range: an error of
    // the client after two chunks, one of them in the middle of a block.
    const QByteArray first = randomBytes(70000), second = randomBytes(DownloadFile::WriteBlockBytes + 5);
    const auto chunk = [](const QByteArray& bytes) -> QByteArray {
        return QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n";
    };
    server.AddReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk(first) + chunk(second) +
                        "FFFFFFFFFFFFFFFFFF\r\n",
                    true);
    DownloadFile file;
    ASSERT_TRUE(file.Open(target));
    EXPECT_THROW(client.Get(server.url(QStringLiteral("/a.zip")), file), Error);
    EXPECT_EQ(file.receivedBytes(), first.size() + second.size());
    ASSERT_TRUE(file.Commit(false));
    EXPECT_EQ(readAll(target), first + second);

    // Cut by the server before the announced end: what came, nothing more.
    const QByteArray whole = randomBytes(3 * DownloadFile::WriteBlockBytes);
    server.AddConnection({ReadRequest(), Send(ok(whole.size()) + whole.left(1234567)), Close()});
    DownloadFile cut;
    ASSERT_TRUE(cut.Open(target));
    client.Get(server.url(QStringLiteral("/b.zip")), cut);
    ASSERT_TRUE(cut.Commit(false));
    EXPECT_EQ(readAll(target), whole.left(1234567));
}

TEST_F(DownloadFileTest, AnUncommittedDownloadLeavesTheTargetAsItWas) {
    writeFile(target, "kept");
    server.AddReply(ok(10) + "0123456789", true);
    {
        DownloadFile file;
        ASSERT_TRUE(file.Open(target));
        client.Get(server.url(QStringLiteral("/a.zip")), file);
    }
    EXPECT_EQ(readAll(target), "kept");
    EXPECT_TRUE(temporaryFilesIn(dir.path()).isEmpty());

    // A folder in the target's place is refused before anything is asked.
    const QString folder = dir.file(QStringLiteral("folder.zip"));
    ASSERT_TRUE(QDir().mkdir(folder));
    DownloadFile refused;
    EXPECT_FALSE(refused.Open(folder));
    EXPECT_EQ(errno, EISDIR);
}

TEST_F(DownloadFileTest, AFileThatCannotTakeTheBytesStopsTheTransferAndIsNotCommitted) {
    // The process may write no file beyond 2 MiB (the disk "full" there).
    writeFile(target, "kept");
    const QByteArray body = randomBytes(4 * DownloadFile::WriteBlockBytes);
    server.AddReply(ok(body.size()) + body, true);
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 2 * DownloadFile::WriteBlockBytes;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    DownloadFile file;
    ASSERT_TRUE(file.Open(target));
    QString error;
    try {
        client.Get(server.url(QStringLiteral("/a.zip")), file);
    } catch (const Error& e) {
        error = e.message();
    }
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(error.startsWith(QStringLiteral("Cannot write the download: "))) << error.toStdString();
    EXPECT_FALSE(file.Commit(false));
    EXPECT_EQ(readAll(target), "kept");
    EXPECT_TRUE(temporaryFilesIn(dir.path()).isEmpty());
}

TEST_F(DownloadFileTest, MemoryStaysAtAFewBlocksWhateverTheSize) {
    // 16 MB and 160 MB streamed: the peak grows by far less than either.
    PeakMemory peak;
    if (!peak.Reset()) GTEST_SKIP() << "this kernel cannot reset the peak resident size";
    const QByteArray pattern = randomBytes(65536);
    qint64 growthKb[2] = {0, 0};
    const qint64 sizes[2] = {16 * 1000 * 1000, 160 * 1000 * 1000};
    for (int i = 0; i < 2; ++i) {
        server.AddConnection({ReadRequest(), Send(ok(sizes[i])), Stream(pattern, sizes[i]), Close()});
        DownloadFile file;
        ASSERT_TRUE(file.Open(target));
        ASSERT_TRUE(peak.Reset());
        client.Get(server.url(QStringLiteral("/a.zip")), file);
        growthKb[i] = peak.GrowthKb();
        ASSERT_TRUE(file.Commit(false));
        EXPECT_EQ(QFileInfo(target).size(), sizes[i]);
        QFile::remove(target);
    }
    EXPECT_LT(growthKb[0], 16 * 1024);
    EXPECT_LT(growthKb[1], 16 * 1024);
}

}  // namespace
