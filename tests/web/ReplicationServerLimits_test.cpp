// The reference replication service against slow, silent and hostile
// clients: each limit ends what oversteps it, and everyone else is served.
// The limits are set short for the tests; every check counts bytes or
// connections, with margins far beyond the limits.
#include "tests/support/TempPrefix.h"
#include "tests/web/ServiceProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>
#include <vector>

using namespace vz;
using namespace vz::test;

namespace {

const QByteArray PartHead = "--XyZ\r\nContent-Disposition: form-data; name=\"arquivo\"; filename=\"C:\\x.zip\"\r\n"
                            "Content-Type: multipart/form-data\r\n\r\n";
const QByteArray Closing = "\r\n--XyZ--\r\n";

QByteArray uploadHead(const QByteArray& guid, qint64 contentLength) {
    return "POST /Zuvavivevo/Upload.aspx?guid=" + guid + " HTTP/1.0\r\nHost: 127.0.0.1\r\n"
           "Content-Type: multipart/form-data; boundary=XyZ\r\nContent-Length: " + QByteArray::number(contentLength) +
           "\r\n\r\n";
}

// Sends `total` bytes made of `pattern` after `head` for as long as the
// service takes them; the bytes it took.
qint64 sendBody(RawClient& client, const QByteArray& head, const QByteArray& pattern, qint64 total) {
    if (!client.Send(head)) return client.sentBytes();
    QByteArray block;
    while (block.size() < (1 << 20)) block += pattern;
    for (qint64 left = total; left > 0;) {
        const QByteArray piece = block.left(qsizetype(std::min<qint64>(left, block.size())));
        if (!client.Send(piece)) break;
        left -= piece.size();
    }
    return client.sentBytes();
}

// Sends `piece` every 20 ms until the service ends the connection or
// `limitBytes` were sent; whether the service ended it.
bool dripUntilClosed(RawClient& client, const QByteArray& piece, qint64 limitBytes) {
    while (client.sentBytes() < limitBytes) {
        if (client.Closed(0) || !client.Send(piece)) return true;
        QThread::msleep(20);
    }
    return client.Closed(0);
}

class ServiceLimitsTest : public ::testing::Test {
protected:
    TempDir dir;
    QString root = dir.file(QStringLiteral("data"));
    QString archive(const QString& id) const { return root + QStringLiteral("/Replicacao/") + id + QStringLiteral(".zip"); }
    QStringList leftovers() const {
        return QDir(root + QStringLiteral("/Replicacao")).entryList(QDir::Files | QDir::Hidden);
    }
};

TEST_F(ServiceLimitsTest, SlowClientsFromOneAddressLeaveEveryoneElseServed) {
    ServiceProcess service(root, {QStringLiteral("--head-timeout-ms"), QStringLiteral("600000"),
                                  QStringLiteral("--max-connections-per-address"), QStringLiteral("8")});
    // 64 connections from one address that begin a request and stay.
    std::vector<std::unique_ptr<RawClient>> slow;
    for (int i = 0; i < 64; ++i) {
        slow.push_back(std::make_unique<RawClient>("127.0.0.2", service.port()));
        ASSERT_TRUE(slow.back()->connected());
        slow.back()->Send("GET /Zuvavivevo/Repl");
    }

    const QByteArray content = randomBytes(300000);
    const QString file = writeFile(dir.file(QStringLiteral("a.zip")), content);
    const auto up = curl({QStringLiteral("-F"), QStringLiteral("arquivo=@") + file,
                          service.baseUrl() + QStringLiteral("Upload.aspx?guid=other")});
    EXPECT_EQ(up.httpCode, 200);
    EXPECT_EQ(up.body, "TRUE");
    const QString downloaded = dir.file(QStringLiteral("down.zip"));
    EXPECT_EQ(curl({QStringLiteral("-o"), downloaded, service.baseUrl() + QStringLiteral("Replicacao/other.zip")}).httpCode, 200);
    EXPECT_EQ(readFile(downloaded), content);

    // Eight of that address's connections are held; the rest were turned away.
    std::vector<bool> closed(slow.size(), false);
    int closedCount = 0;
    for (QDeadlineTimer deadline(60000); closedCount < 56 && !deadline.hasExpired(); QThread::msleep(10)) {
        for (size_t i = 0; i < slow.size(); ++i)
            if (!closed[i] && slow[i]->Closed(0)) {
                closed[i] = true;
                ++closedCount;
            }
    }
    EXPECT_EQ(closedCount, 56);
    for (size_t i = 0; i < slow.size(); ++i) {
        if (!closed[i]) {
            EXPECT_FALSE(slow[i]->Closed(100)) << i;
        }
    }
}

TEST_F(ServiceLimitsTest, TheWholeRequestHeadHasOneDeadline) {
    ServiceProcess service(root, {QStringLiteral("--head-timeout-ms"), QStringLiteral("1000"),
                                  QStringLiteral("--max-connections-per-address"), QStringLiteral("4")});
    // Four clients that each send a byte every 20 ms and never finish the
    // head: never silent, so only a deadline for the whole head ends them.
    std::vector<std::unique_ptr<RawClient>> drips;
    for (int i = 0; i < 4; ++i) {
        drips.push_back(std::make_unique<RawClient>("127.0.0.3", service.port()));
        ASSERT_TRUE(drips.back()->connected());
        drips.back()->Send("GET /Zuvavivevo/Replicacao/");
    }
    std::vector<bool> closed(drips.size(), false);
    for (bool open = true; open;) {
        open = false;
        for (size_t i = 0; i < drips.size(); ++i) {
            if (closed[i]) continue;
            if (drips[i]->sentBytes() >= 2000 || drips[i]->Closed(0) || !drips[i]->Send("a")) {
                closed[i] = drips[i]->sentBytes() < 2000;
                if (!closed[i]) ADD_FAILURE() << "client " << i << " still connected after " << drips[i]->sentBytes() << " bytes";
                continue;
            }
            open = true;
        }
        QThread::msleep(20);
    }
    // The address's connections are free again.
    EXPECT_EQ(curl({QStringLiteral("--interface"), QStringLiteral("127.0.0.3"),
                    service.baseUrl() + QStringLiteral("Replicacao/none.zip")}).httpCode, 404);
    QByteArray log;
    EXPECT_EQ(service.Stop(&log), 0);
    EXPECT_EQ(log.count("(request head not complete within 1000 ms)"), 4) << log.constData();
}

TEST_F(ServiceLimitsTest, AnUploadBelowTheMinimumRateIsCutAndAFastOneIsNot) {
    ServiceProcess service(root, {QStringLiteral("--min-upload-rate"), QStringLiteral("50000"),
                                  QStringLiteral("--rate-window-ms"), QStringLiteral("500")});
    const QByteArray good = randomBytes(1000);
    writeFile(archive(QStringLiteral("station")), good);

    // 100 bytes every 20 ms: a tenth of the minimum.
    RawClient slow("127.0.0.1", service.port());
    ASSERT_TRUE(slow.Send(uploadHead("station", 10 << 20) + PartHead));
    EXPECT_TRUE(dripUntilClosed(slow, QByteArray(100, 'x'), 200000));
    EXPECT_LT(slow.sentBytes(), 200000);

    const QByteArray content = randomBytes(4 << 20);
    const QString file = writeFile(dir.file(QStringLiteral("fast.zip")), content);
    const auto up = curl({QStringLiteral("-F"), QStringLiteral("arquivo=@") + file,
                          service.baseUrl() + QStringLiteral("Upload.aspx?guid=fast")});
    EXPECT_EQ(up.body, "TRUE");
    EXPECT_EQ(readFile(archive(QStringLiteral("fast"))), content);

    QByteArray log;
    EXPECT_EQ(service.Stop(&log), 0);
    EXPECT_TRUE(log.contains("(upload slower than 50000 bytes/s)")) << log.constData();
    EXPECT_EQ(readFile(archive(QStringLiteral("station"))), good);
    EXPECT_EQ(leftovers(), (QStringList{QStringLiteral("fast.zip"), QStringLiteral("station.zip")}));
}

TEST_F(ServiceLimitsTest, AnArchiveTheClientDoesNotTakeIsAbandoned) {
    ServiceProcess service(root, {QStringLiteral("--send-timeout-ms"), QStringLiteral("500")});
    const qsizetype size = 24 << 20;
    writeFile(archive(QStringLiteral("big")), QByteArray(size, 'z'));

    // Asks for the archive and reads nothing: the service's sends stall.
    RawClient stalled("127.0.0.1", service.port(), 4096);
    ASSERT_TRUE(stalled.Send("GET /Zuvavivevo/Replicacao/big.zip HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    // Meanwhile others are served.
    EXPECT_EQ(curl({service.baseUrl() + QStringLiteral("Replicacao/none.zip")}).httpCode, 404);
    EXPECT_TRUE(service.WaitForLog("(answer not taken for 500 ms)"));

    const QByteArray received = stalled.ReadAll();
    EXPECT_TRUE(received.startsWith("HTTP/1.1 200 OK\r\n")) << received.left(100).constData();
    EXPECT_LT(received.size(), size);
    EXPECT_TRUE(stalled.Closed(0));
}

TEST_F(ServiceLimitsTest, RefusedBodiesAreReadOnlyWithinBoundsOfBytesAndTime) {
    ServiceProcess service(root, {QStringLiteral("--drain-timeout-ms"), QStringLiteral("300")});
    const QByteArray good = randomBytes(1000);
    writeFile(archive(QStringLiteral("station")), good);
    const qint64 huge = qint64(1536) << 20;

    // A long body for an identifier that is refused is not read.
    {
        RawClient client("127.0.0.1", service.port());
        EXPECT_LT(sendBody(client, uploadHead("a/b", huge), QByteArray(1, '\0'), huge), 64 << 20);
        EXPECT_TRUE(client.Closed(30000));
    }
    // Nor is the rest of a long body that turns out malformed at its start.
    {
        RawClient client("127.0.0.1", service.port());
        EXPECT_LT(sendBody(client, uploadHead("station", huge) + "--XyZjunk\r\n", QByteArray(1, 'x'), huge - 11), 64 << 20);
        EXPECT_TRUE(client.Closed(30000));
    }
    // A short refused body is read, so the client sees the answer.
    {
        RawClient client("127.0.0.1", service.port());
        ASSERT_TRUE(client.Send(uploadHead("a/b", 100000) + QByteArray(100000, 'x')));
        const QByteArray answer = client.ReadAll();
        EXPECT_TRUE(answer.startsWith("HTTP/1.1 400 Bad Request\r\n")) << answer.constData();
    }
    // But not for long: 10 bytes every 20 ms would take 10 s.
    {
        RawClient client("127.0.0.1", service.port());
        ASSERT_TRUE(client.Send(uploadHead("a/b", 100000)));
        EXPECT_TRUE(dripUntilClosed(client, QByteArray(10, 'x'), 4000));
        EXPECT_LT(client.sentBytes(), 4000);
    }

    QByteArray log;
    EXPECT_EQ(service.Stop(&log), 0);
    EXPECT_TRUE(log.contains("(refused body still arriving after 300 ms)")) << log.constData();
    EXPECT_TRUE(log.contains("(malformed upload, the rest of the body not read)")) << log.constData();
    EXPECT_EQ(readFile(archive(QStringLiteral("station"))), good);
    EXPECT_EQ(leftovers(), QStringList{QStringLiteral("station.zip")});
}

TEST_F(ServiceLimitsTest, PartHeadsAreBoundedInLinesAndBytes) {
    ServiceProcess service(root);
    const QByteArray good = randomBytes(1000);
    writeFile(archive(QStringLiteral("station")), good);

    // A part head of 20 MB of short lines, then a well-formed rest; and one
    // whose disposition goes on over 2 MB of continuation lines.
    const QByteArray disposition = "--XyZ\r\nContent-Disposition: form-data; name=\"arquivo\"; filename=\"x\"\r\n";
    const QByteArray tail = "\r\narchive" + Closing;
    const struct {
        QByteArray line;
        qint64 bytes;
    } floods[] = {{"a\r\n", 20 << 20}, {" a\r\n", 2 << 20}};
    for (const auto& flood : floods) {
        RawClient client("127.0.0.1", service.port());
        const qint64 length = disposition.size() + flood.bytes + tail.size();
        sendBody(client, uploadHead("station", length) + disposition, flood.line, flood.bytes);
        client.Send(tail);
        const QByteArray answer = client.ReadAll();
        EXPECT_FALSE(answer.contains("TRUE")) << answer.constData();
        EXPECT_TRUE(client.Closed(0));
    }
    EXPECT_LT(service.PeakResidentKiB(), 100 * 1024);
    EXPECT_EQ(readFile(archive(QStringLiteral("station"))), good);
    EXPECT_EQ(leftovers(), QStringList{QStringLiteral("station.zip")});
    EXPECT_EQ(service.Stop(nullptr), 0);
}

TEST_F(ServiceLimitsTest, RunningOutOfDescriptorsWaitsInsteadOfSpinning) {
#if defined(__SANITIZE_ADDRESS__)
    // The service is built like this test. UBSan checks a call through a
    // vtable by writing the memory to a pipe, which it cannot open once the
    // descriptors are gone: it would report every such call as invalid.
    GTEST_SKIP() << "the sanitizers need descriptors of their own";
#endif
    // The service gets 32 descriptors and 64 clients that stay.
    ServiceProcess service(root,
                           {QStringLiteral("--max-connections"), QStringLiteral("1000"),
                            QStringLiteral("--max-connections-per-address"), QStringLiteral("1000"),
                            QStringLiteral("--head-timeout-ms"), QStringLiteral("600000")},
                           [] {
                               const rlimit few{32, 32};
                               setrlimit(RLIMIT_NOFILE, &few);
                           });
    std::vector<std::unique_ptr<RawClient>> held;
    for (int i = 0; i < 64; ++i) {
        held.push_back(std::make_unique<RawClient>("127.0.0.1", service.port()));
        ASSERT_TRUE(held.back()->connected());
        held.back()->Send("GET /");
    }
    for (QDeadlineTimer deadline(30000); service.OpenDescriptors() < 32 && !deadline.hasExpired();) QThread::msleep(20);
    ASSERT_GE(service.OpenDescriptors(), 32);
    QThread::msleep(500);

    // With connections still waiting to be accepted, it should sleep.
    const qint64 ticksBefore = service.CpuTicks();
    QElapsedTimer elapsed;
    elapsed.start();
    QThread::msleep(2000);
    const qint64 ticks = service.CpuTicks() - ticksBefore;
    const qint64 wallTicks = elapsed.elapsed() * sysconf(_SC_CLK_TCK) / 1000;
    EXPECT_LT(ticks * 4, wallTicks) << ticks << " of " << wallTicks << " clock ticks busy";

    // Once clients go, it accepts again.
    held.clear();
    EXPECT_EQ(curl({service.baseUrl() + QStringLiteral("Replicacao/none.zip")}).httpCode, 404);
    QByteArray log;
    EXPECT_EQ(service.Stop(&log), 0);
    EXPECT_TRUE(log.contains("Too many open files")) << "the accept did not fail: " << log.constData();
}

TEST_F(ServiceLimitsTest, AtTheConnectionLimitItWaitsAndAcceptsAgain) {
    ServiceProcess service(root, {QStringLiteral("--max-connections"), QStringLiteral("16"),
                                  QStringLiteral("--max-connections-per-address"), QStringLiteral("1000"),
                                  QStringLiteral("--head-timeout-ms"), QStringLiteral("600000")});
    std::vector<std::unique_ptr<RawClient>> held;
    for (int i = 0; i < 48; ++i) {
        held.push_back(std::make_unique<RawClient>("127.0.0.1", service.port()));
        ASSERT_TRUE(held.back()->connected());
        held.back()->Send("GET /");
    }
    QThread::msleep(500);
    held.clear();
    EXPECT_EQ(curl({service.baseUrl() + QStringLiteral("Replicacao/none.zip")}).httpCode, 404);
    EXPECT_EQ(service.Stop(nullptr), 0);
}

}  // namespace
