// The reference replication service, run as its own process: exercised with
// curl and with the program's client.
#include "tests/support/TempPrefix.h"
#include "tests/web/ServiceProcess.h"
#include "tests/web/WebTestSupport.h"
#include "web/HttpErrors.h"
#include "web/ReplicationService.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <memory>

using namespace vz;
using namespace vz::test;

namespace {

class ReplicationServerTest : public ::testing::Test {
protected:
    TempDir dir;
    QString root = dir.file(QStringLiteral("data"));
    QString archive(const QString& id) const { return root + QStringLiteral("/Replicacao/") + id + QStringLiteral(".zip"); }
    QStringList leftovers() const {
        return QDir(root + QStringLiteral("/Replicacao")).entryList(QDir::Files | QDir::Hidden);
    }
};

TEST_F(ReplicationServerTest, CurlUploadsDownloadsAndRemoves) {
    ServiceProcess service(root);
    const QByteArray content = randomBytes(3 * 1024 * 1024 + 17);
    const QString file = writeFile(dir.file(QStringLiteral("upload.zip")), content);
    const QString id = QStringLiteral("{3F2504E0-4F89-11D3-9A0C-0305E82C3301}");

    auto up = curl({QStringLiteral("-F"), QStringLiteral("arquivo=@") + file, service.baseUrl() + QStringLiteral("Upload.aspx?guid=") + id});
    EXPECT_EQ(up.httpCode, 200);
    EXPECT_EQ(up.body, "TRUE");
    EXPECT_EQ(readFile(archive(id)), content);

    const QString downloaded = dir.file(QStringLiteral("down.zip"));
    auto down = curl({QStringLiteral("-o"), downloaded, service.baseUrl() + QStringLiteral("Replicacao/") + id + QStringLiteral(".zip")});
    EXPECT_EQ(down.httpCode, 200);
    EXPECT_EQ(readFile(downloaded), content);

    auto missing = curl({QStringLiteral("-o"), QStringLiteral("/dev/null"), service.baseUrl() + QStringLiteral("Replicacao/other.zip")});
    EXPECT_EQ(missing.httpCode, 404);

    auto removed = curl({service.baseUrl() + QStringLiteral("Remover.aspx?guid=") + id});
    EXPECT_EQ(removed.httpCode, 200);
    EXPECT_EQ(removed.body, "TRUE");
    EXPECT_FALSE(QFile::exists(archive(id)));
    EXPECT_EQ(curl({service.baseUrl() + QStringLiteral("Replicacao/") + id + QStringLiteral(".zip")}).httpCode, 404);

    // Identifiers that are no safe file names are refused everywhere.
    EXPECT_EQ(curl({QStringLiteral("-F"), QStringLiteral("arquivo=@") + file, service.baseUrl() + QStringLiteral("Upload.aspx?guid=..%2Fescape")}).httpCode, 400);
    EXPECT_EQ(curl({QStringLiteral("-F"), QStringLiteral("arquivo=@") + file, service.baseUrl() + QStringLiteral("Upload.aspx")}).httpCode, 400);
    EXPECT_EQ(curl({service.baseUrl() + QStringLiteral("Remover.aspx?guid=a/b")}).httpCode, 400);
    EXPECT_EQ(curl({service.baseUrl() + QStringLiteral("Replicacao/.hidden.zip")}).httpCode, 400);
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("escape.zip"))));
    // Other pages and methods.
    EXPECT_EQ(curl({service.baseUrl() + QStringLiteral("Outro.aspx")}).httpCode, 404);
    EXPECT_EQ(curl({service.baseUrl() + QStringLiteral("Upload.aspx?guid=x")}).httpCode, 405);

    QByteArray log;
    EXPECT_EQ(service.Stop(&log), 0);
    EXPECT_EQ(log.count("\"GET ") + log.count("\"POST "), 11) << log.constData();
    EXPECT_TRUE(log.contains("stopped"));
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(QLatin1Char(' ')).toStdString();
}

TEST_F(ReplicationServerTest, ConcurrentUploadsEachKeepTheirOwnArchive) {
    ServiceProcess service(root);
    std::vector<std::unique_ptr<QProcess>> uploads;
    std::vector<QByteArray> contents;
    for (int i = 0; i < 6; ++i) {
        // Clients 0-3 have their own identifiers; 4 and 5 share one.
        const QString id = QStringLiteral("client-%1").arg(std::min(i, 4));
        contents.push_back(randomBytes(1024 * 1024 + i * 4099));
        const QString file = writeFile(dir.file(QStringLiteral("u%1.zip").arg(i)), contents.back());
        auto p = std::make_unique<QProcess>();
        p->start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-F"), QStringLiteral("arquivo=@") + file,
                                          service.baseUrl() + QStringLiteral("Upload.aspx?guid=") + id});
        uploads.push_back(std::move(p));
    }
    for (auto& p : uploads) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->readAllStandardOutput(), "TRUE");
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(readFile(archive(QStringLiteral("client-%1").arg(i))), contents[size_t(i)]);
    const QByteArray shared = readFile(archive(QStringLiteral("client-4")));
    EXPECT_TRUE(shared == contents[4] || shared == contents[5]);  // one whole upload, never a mix
    EXPECT_EQ(leftovers().size(), 5);
}

TEST_F(ReplicationServerTest, BrokenOversizedAndMalformedUploadsLeaveTheGoodArchive) {
    ServiceProcess service(root, {QStringLiteral("--max-upload-bytes"), QStringLiteral("200000")});
    const QString id = QStringLiteral("station");
    const QByteArray good = randomBytes(1000);
    writeFile(archive(id), good);

    // A client that goes away in the middle of its body.
    quint32 loopback = 0;
    Socket::ResolveIPv4(QStringLiteral("127.0.0.1"), loopback);
    {
        Socket raw;
        ASSERT_TRUE(raw.Open());
        ASSERT_TRUE(raw.Connect(loopback, service.port()));
        const QByteArray head = "POST /Zuvavivevo/Upload.aspx?guid=station HTTP/1.0\r\n"
                                "Content-Type: multipart/form-data; boundary=XyZ\r\nContent-Length: 150000\r\n\r\n"
                                "--XyZ\r\nContent-Disposition: form-data; name=\"arquivo\"; filename=\"C:\\x.zip\"\r\n\r\n" +
                                QByteArray(5000, 'b');
        ASSERT_TRUE(raw.SendAll(head.constData(), head.size()));
    }
    const QString file = writeFile(dir.file(QStringLiteral("big.zip")), randomBytes(300000));
    EXPECT_EQ(curl({QStringLiteral("-F"), QStringLiteral("arquivo=@") + file, service.baseUrl() + QStringLiteral("Upload.aspx?guid=station")}).httpCode, 413);
    // No "arquivo" part, and a body without its closing line.
    const QString small = writeFile(dir.file(QStringLiteral("small.zip")), "small");
    EXPECT_EQ(curl({QStringLiteral("-F"), QStringLiteral("outro=@") + small, service.baseUrl() + QStringLiteral("Upload.aspx?guid=station")}).httpCode, 400);
    EXPECT_EQ(curl({QStringLiteral("-H"), QStringLiteral("Content-Type: multipart/form-data; boundary=XyZ"), QStringLiteral("--data-binary"),
                    QStringLiteral("--XyZ\r\nContent-Disposition: form-data; name=\"arquivo\"; filename=\"a\"\r\n\r\ncut"),
                    service.baseUrl() + QStringLiteral("Upload.aspx?guid=station")}).httpCode, 400);

    QByteArray log;
    EXPECT_EQ(service.Stop(&log), 0);
    EXPECT_EQ(readFile(archive(id)), good);
    EXPECT_EQ(leftovers(), QStringList{QStringLiteral("station.zip")});
}

TEST_F(ReplicationServerTest, TheLogCarriesEachRequestAsItCame) {
    ServiceProcess service(root);
    const QByteArray targets[] = {"/Zuvavivevo/Replicacao/%2e%2e.zip", "/Zuvavivevo/Remover.aspx?guid=a%2Fb%1"};
    for (const QByteArray& target : targets) {
        RawClient client("127.0.0.1", service.port());
        ASSERT_TRUE(client.Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
        EXPECT_TRUE(client.ReadAll().startsWith("HTTP/1.1 400 Bad Request\r\n"));
    }
    QByteArray log;
    EXPECT_EQ(service.Stop(&log), 0);
    for (const QByteArray& target : targets)
        EXPECT_TRUE(log.contains(QByteArray(" 127.0.0.1 \"GET " + target + " HTTP/1.1\" 400 11\n"))) << log.constData();
}

TEST_F(ReplicationServerTest, TheProgramsClientAgainstTheService) {
    ServiceProcess service(root);
    CountingPump pump;
    AntiFreeze antiFreeze(pump);
    ManualClock clock;
    HttpClient client(antiFreeze, clock);
    const QString id = QStringLiteral("{AB12-CD34}");
    ReplicationService replication(client, clock, service.baseUrl(), id);

    const QByteArray content = randomBytes(2 * 1024 * 1024 + 5);
    const QString file = writeFile(dir.file(QStringLiteral("export.zip")), content);
    client.OnWorkBegin = [&](int, qint32) { antiFreeze.Active = true; };
    EXPECT_EQ(replication.Upload(QStringLiteral("C:\\") + id + QStringLiteral(".zip"), file), QStringLiteral("TRUE"));
    EXPECT_EQ(readFile(archive(id)), content);

    QByteArray buffer;
    replication.Download(buffer);
    EXPECT_EQ(buffer, content);
    client.Disconnect();
    EXPECT_EQ(replication.Remove(), QStringLiteral("TRUE"));
    buffer.clear();
    try {
        replication.Download(buffer);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_TRUE(ReplicationService::NoArchiveOnServer(e)) << e.what();
    }
    EXPECT_EQ(service.Stop(nullptr), 0);
}

}  // namespace
