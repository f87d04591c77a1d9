// The client over TLS: the three exchanges with the reference service
// serving HTTPS (through the program's client, vz-transfer and curl),
// request bytes inside TLS equal to the plain ones, and every certificate
// that must be refused refused before a byte of a request goes out.

#include "tests/support/TempPrefix.h"
#include "tests/web/ServiceProcess.h"
#include "tests/web/TestCertificates.h"
#include "tests/web/TlsTestServer.h"
#include "tests/web/WebTestSupport.h"
#include "web/DownloadFile.h"
#include "web/HttpErrors.h"
#include "web/ReplicationService.h"

#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

namespace {

const QString Guid = QStringLiteral("{7A1E2B3C-4D5E-4F60-8A9B-0123456789AB}");

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The certificates are made once for all the cases of this file.
class TlsTransferTest : public ::testing::Test, public ClientFixture {
protected:
    static void SetUpTestSuite() { certificates_ = new TestCertificates; }
    static void TearDownTestSuite() {
        delete certificates_;
        certificates_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(certificates_->ready());
        clock.set(EncodeTimestamp(DateTimeParts{2026, 12, 8, 9, 5, 7, 42}));
    }
    const TestCertificates& certs() const { return *certificates_; }
    static QString base(const char* scheme, quint16 port) {
        return QStringLiteral("%1://127.0.0.1:%2/Zuvavivevo/").arg(QLatin1String(scheme)).arg(port);
    }
    // What the client raises on a GET of `url`; empty when it raised nothing.
    QString errorOf(const QString& url) {
        QByteArray body;
        try {
            client.Get(url, body);
        } catch (const Error& e) {
            EXPECT_TRUE(body.isEmpty());
            return e.message();
        }
        return QString();
    }

    static TestCertificates* certificates_;
};

TestCertificates* TlsTransferTest::certificates_ = nullptr;

TEST_F(TlsTransferTest, TheRequestBytesInsideTlsAreThePlainOnes) {
    // One port for both: the Host header is the same, so every byte must be.
    const QByteArray archive = randomBytes(300000);
    TlsTestServer server(TlsTestServer::Mode::TlsOrPlain, certs().server(), certs().key(), ServiceAnswers(archive));
    client.SetCertificateAuthorities(certs().authority());
    TempDir dir;
    const QString upload = writeFile(dir.file(QStringLiteral("up.zip")), randomBytes(200000));

    for (const char* scheme : {"http", "https"}) {
        ReplicationService service(client, clock, base(scheme, server.port()), Guid);
        EXPECT_EQ(service.Upload(QStringLiteral("C:\\up.zip"), upload), QStringLiteral("TRUE"));
        DownloadFile file;
        const QString target = dir.file(QLatin1String(scheme) + QStringLiteral(".zip"));
        ASSERT_TRUE(file.Open(target));
        service.Download(file);
        ASSERT_TRUE(file.Commit(false));
        EXPECT_EQ(readAll(target), archive) << scheme;
        EXPECT_EQ(service.Remove(), QStringLiteral("TRUE"));
    }
    ASSERT_TRUE(server.WaitForConnections(6));
    const auto connections = server.connections();
    QList<QByteArray> plain, secure;
    for (const auto& c : connections) {
        if (c.tls) {
            EXPECT_TRUE(c.handshakeDone) << c.handshakeError.toStdString();
        }
        (c.tls ? secure : plain) << c.received;
    }
    ASSERT_EQ(plain.size(), 3);
    ASSERT_EQ(secure.size(), 3);
    std::sort(plain.begin(), plain.end());
    std::sort(secure.begin(), secure.end());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(secure[i], plain[i]);
    const QByteArray post = "POST /Zuvavivevo/Upload.aspx?guid=" + Guid.toLatin1() + " HTTP/1.0\r\n";
    const QByteArray host = "\r\nHost: 127.0.0.1:" + QByteArray::number(server.port()) + "\r\n";
    EXPECT_TRUE(plain.last().startsWith(post));
    EXPECT_TRUE(plain.last().contains(host));
}

TEST_F(TlsTransferTest, TheReferenceServiceOverTlsThroughTheClientVzTransferAndCurl) {
    TempDir dir;
    ServiceProcess service(dir.file(QStringLiteral("data")),
                           {QStringLiteral("--tls-cert"), certs().server(), QStringLiteral("--tls-key"), certs().key()});
    const QString https = base("https", service.port());
    const QByteArray archive = randomBytes(3 * 1000 * 1000 + 17);
    const QString upload = writeFile(dir.file(QStringLiteral("archive.zip")), archive);

    // The program's client, trusting the authority through SSL_CERT_FILE
    // as a station with a private authority would.
    qputenv("SSL_CERT_FILE", certs().authority().toLocal8Bit());
    {
        ReplicationService ours(client, clock, https, Guid);
        EXPECT_TRUE(ReplicationService::UploadAccepted(ours.Upload(QStringLiteral("C:\\archive.zip"), upload)));
        EXPECT_EQ(readAll(dir.file(QStringLiteral("data/Replicacao/")) + Guid + QStringLiteral(".zip")), archive);
        DownloadFile file;
        ASSERT_TRUE(file.Open(dir.file(QStringLiteral("down.zip"))));
        ours.Download(file);
        ASSERT_TRUE(file.Commit(false));
        EXPECT_EQ(readAll(dir.file(QStringLiteral("down.zip"))), archive);
    }
    qunsetenv("SSL_CERT_FILE");

    // curl, an independent client, reads what ours stored.
    const CurlResult fetched = curl({QStringLiteral("--cacert"), certs().authority(),
                                     https + QStringLiteral("Replicacao/") + Guid + QStringLiteral(".zip")});
    EXPECT_EQ(fetched.httpCode, 200);
    EXPECT_EQ(fetched.body, archive);

    // vz-transfer with --ca: the three exchanges; without it the system's
    // store does not know the authority and nothing is exchanged.
    const auto tool = [&](QStringList arguments, bool withCa) {
        arguments << QStringLiteral("--base") << https << QStringLiteral("--guid") << Guid;
        if (withCa) arguments << QStringLiteral("--ca") << certs().authority();
        QProcess p;
        p.start(QStringLiteral(VZ_TRANSFER_TOOL), arguments);
        p.waitForFinished(120000);
        return std::make_pair(p.exitCode(), p.readAllStandardError());
    };
    const QString copy = dir.file(QStringLiteral("copy.zip"));
    auto [code, err] = tool({QStringLiteral("download"), copy}, false);
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(err.contains("TLS handshake failed: unable to get local issuer certificate")) << err.constData();
    EXPECT_FALSE(QFile::exists(copy));
    std::tie(code, err) = tool({QStringLiteral("upload"), upload}, true);
    EXPECT_EQ(code, 0) << err.constData();
    std::tie(code, err) = tool({QStringLiteral("download"), copy}, true);
    EXPECT_EQ(code, 0) << err.constData();
    EXPECT_EQ(readAll(copy), archive);
    std::tie(code, err) = tool({QStringLiteral("remove")}, true);
    EXPECT_EQ(code, 0) << err.constData();
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("data/Replicacao/")) + Guid + QStringLiteral(".zip")));

    // Only the exchanges that passed the handshake reached the service.
    QByteArray log;
    EXPECT_EQ(service.Stop(&log), 0);
    EXPECT_EQ(log.count("GET /Zuvavivevo/Replicacao/"), 3) << log.constData();  // ours, curl, the tool's
    EXPECT_EQ(log.count("POST /Zuvavivevo/Upload.aspx"), 2) << log.constData();
    EXPECT_EQ(log.count("GET /Zuvavivevo/Remover.aspx"), 1) << log.constData();
}

TEST_F(TlsTransferTest, ARefusedCertificateFailsTheHandshakeWithItsReasonAndNothingIsSent) {
    struct Case {
        QString certificate;
        const char* host;
        bool trustAuthority;
        const char* reason;
    };
    const std::vector<Case> cases{
        {certs().otherHost(), "127.0.0.1", true, "IP address mismatch"},
        {certs().server(), "localhost", true, ""},  // the name it carries: accepted
        {certs().otherHost(), "localhost", true, "hostname mismatch"},
        {certs().selfSigned(), "127.0.0.1", true, "self-signed certificate"},
        {certs().expired(), "127.0.0.1", true, "certificate has expired"},
        {certs().server(), "127.0.0.1", false, "unable to get local issuer certificate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.certificate.toStdString() + " for " + c.host);
        TlsTestServer server(TlsTestServer::Mode::TlsOrPlain, c.certificate, certs().key(), ServiceAnswers("zip"));
        client.SetCertificateAuthorities(c.trustAuthority ? certs().authority() : certs().otherAuthority());
        const QString url = QStringLiteral("https://%1:%2/Zuvavivevo/Replicacao/x.zip")
                                .arg(QLatin1String(c.host))
                                .arg(server.port());
        const QString error = errorOf(url);
        ASSERT_TRUE(server.WaitForConnections(1));
        const TlsTestServer::Connection seen = server.connections().front();
        EXPECT_TRUE(seen.tls);
        if (!*c.reason) {
            EXPECT_EQ(error, QString());
            EXPECT_TRUE(seen.received.startsWith("GET /Zuvavivevo/Replicacao/x.zip HTTP/1.1\r\n"));
            continue;
        }
        EXPECT_EQ(error, QStringLiteral("TLS handshake failed: ") + QLatin1String(c.reason));
        EXPECT_FALSE(seen.handshakeDone);
        EXPECT_EQ(seen.received, QByteArray());
        EXPECT_FALSE(client.Connected());
    }
}

TEST_F(TlsTransferTest, APlainServerOnAnHttpsUrlFailsTheHandshakeAndGetsNoRequest) {
    TlsTestServer server(TlsTestServer::Mode::PlainOnly, {}, {}, {});
    client.SetCertificateAuthorities(certs().authority());
    const QString error = errorOf(base("https", server.port()) + QStringLiteral("Remover.aspx?guid=") + Guid);
    EXPECT_TRUE(error.startsWith(QStringLiteral("TLS handshake failed: "))) << error.toStdString();
    ASSERT_TRUE(server.WaitForConnections(1));
    const QByteArray received = server.connections().front().received;
    // What came is the client's hello, a TLS record; no request, no identifier.
    ASSERT_FALSE(received.isEmpty());
    EXPECT_EQ(received.at(0), '\x16');
    EXPECT_FALSE(received.contains("Zuvavivevo"));
    EXPECT_FALSE(received.contains(Guid.toLatin1()));
    EXPECT_EQ(server.connections().size(), 1u);  // no second try, plain or not
}

TEST_F(TlsTransferTest, AnHttpsRedirectIsNotFollowedNeitherToHttpsNorToPlainHttp) {
    for (const QByteArray& location : {QByteArray("http://127.0.0.1:9/x.zip"), QByteArray("https://127.0.0.1:9/x.zip")}) {
        TlsTestServer server(TlsTestServer::Mode::TlsOrPlain, certs().server(), certs().key(), [&](const QByteArray&) -> QByteArray {
            return "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n";
        });
        client.SetCertificateAuthorities(certs().authority());
        EXPECT_EQ(errorOf(base("https", server.port()) + QStringLiteral("Replicacao/x.zip")),
                  QStringLiteral("HTTP/1.1 302 Found"));
        ASSERT_TRUE(server.WaitForConnections(1));
        EXPECT_EQ(server.connections().size(), 1u);
    }
}

TEST_F(TlsTransferTest, TheHandshakePumpsTheWindowAndEndsAtTheConnectLimit) {
    // A server that takes the connection and never answers the hello.
    TlsTestServer server(TlsTestServer::Mode::Silent, {}, {}, {});
    antiFreeze.Active = true;
    antiFreeze.IdleTimeoutMs = 10;
    antiFreeze.ConnectTimeoutMs = 300;
    client.SetCertificateAuthorities(certs().authority());
    const int pumpsBefore = pump.count;
    EXPECT_EQ(errorOf(base("https", server.port()) + QStringLiteral("Replicacao/x.zip")),
              QStringLiteral("TLS handshake failed: timed out"));
    EXPECT_GT(pump.count - pumpsBefore, 1);
    EXPECT_FALSE(client.Connected());
}

TEST_F(TlsTransferTest, AnUnreadableAuthorityFileIsAnErrorOfItsOwn) {
    TlsTestServer server(TlsTestServer::Mode::TlsOrPlain, certs().server(), certs().key(), ServiceAnswers("zip"));
    TempDir dir;
    client.SetCertificateAuthorities(dir.file(QStringLiteral("missing.pem")));
    const QString error = errorOf(base("https", server.port()) + QStringLiteral("Replicacao/x.zip"));
    EXPECT_TRUE(error.startsWith(QStringLiteral("TLS: the certificate authorities in "))) << error.toStdString();
    // The same client, given a readable one, connects.
    client.SetCertificateAuthorities(certs().authority());
    EXPECT_EQ(errorOf(base("https", server.port()) + QStringLiteral("Replicacao/x.zip")), QString());
}

}  // namespace
