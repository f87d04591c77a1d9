#include "tests/support/TempPrefix.h"
#include "tests/web/ScriptedServer.h"
#include "tests/web/WebTestSupport.h"
#include "web/HttpErrors.h"
#include "web/ReplicationService.h"

#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

namespace {

const QByteArray Guid = "{3F2504E0-4F89-11D3-9A0C-0305E82C3301}";

class ReplicationServiceTest : public ::testing::Test, public ClientFixture {
protected:
    ReplicationServiceTest() { clock.set(EncodeTimestamp(DateTimeParts{2026, 12, 8, 9, 5, 7, 42})); }
    ScriptedServer server;
    ReplicationService service{client, clock, server.url(QStringLiteral("/Zuvavivevo/")), QString::fromLatin1(Guid)};
    QByteArray hostHeader() const { return "Host: 127.0.0.1:" + QByteArray::number(server.port()) + "\r\n"; }
};

TEST_F(ReplicationServiceTest, TheThreeExchangesSendExactlyTheseBytes) {
    TempPrefix prefix;
    const QByteArray archive = "PK\x05\x06" + QByteArray(18, '\0');
    writeFile(prefix.drive(QStringLiteral("c")) + QStringLiteral("/") + QString::fromLatin1(Guid) + QStringLiteral(".zip"), archive);
    FileSystem fs(prefix.driveMap());
    const QString windowsPath = QStringLiteral("C:\\") + QString::fromLatin1(Guid) + QStringLiteral(".zip");

    server.AddReply("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ntrue");
    const QString answer = service.Upload(windowsPath, fs);
    EXPECT_EQ(answer, QStringLiteral("true"));
    EXPECT_TRUE(ReplicationService::UploadAccepted(answer));

    server.AddConnection({ReadRequest(), Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nzip"), ReadRequest(),
                          Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nTRUE")});
    QByteArray buffer;
    service.Download(buffer);
    EXPECT_EQ(buffer, "zip");
    service.Remove();

    ASSERT_TRUE(server.WaitForRequests(3));
    const auto requests = server.requests();
    const QByteArray boundary = "--------120826090507042";
    const QByteArray body = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"arquivo\"; filename=\"C:\\" + Guid +
                            ".zip\"\r\nContent-Type: multipart/form-data\r\nContent-Transfer-Encoding: binary\r\n\r\n" +
                            archive + "\r\n--" + boundary + "--\r\n";
    EXPECT_EQ(body.size(), 191 + windowsPath.size() + archive.size());
    EXPECT_EQ(requests[0], "POST /Zuvavivevo/Upload.aspx?guid=" + Guid + " HTTP/1.0\r\n"
                           "Connection: keep-alive\r\n"
                           "Content-Type: multipart/form-data; boundary=" + boundary + "\r\n"
                           "Content-Length: " + QByteArray::number(body.size()) + "\r\n" + hostHeader() +
                           "Accept: text/html, */*\r\n"
                           "User-Agent: Mozilla/3.0 (compatible; Vireo Zuvavivevo)\r\n"
                           "\r\n" + body);
    EXPECT_EQ(requests[1], "GET /Zuvavivevo/Replicacao/" + Guid + ".zip HTTP/1.1\r\n" + hostHeader() +
                           "Accept: text/html, */*\r\n"
                           "User-Agent: Mozilla/3.0 (compatible; Vireo Zuvavivevo)\r\n\r\n");
    EXPECT_EQ(requests[2], "GET /Zuvavivevo/Remover.aspx?guid=" + Guid + " HTTP/1.1\r\n" + hostHeader() +
                           "Accept: text/html, */*\r\n"
                           "User-Agent: Mozilla/3.0 (compatible; Vireo Zuvavivevo)\r\n\r\n");
    EXPECT_EQ(server.connectionsAccepted(), 2);  // the removal reused the download's connection
}

TEST_F(ReplicationServiceTest, WhatTheCallersReadFromTheAnswers) {
    EXPECT_TRUE(ReplicationService::UploadAccepted(QStringLiteral("TRUE")));
    EXPECT_TRUE(ReplicationService::UploadAccepted(QStringLiteral("tRuE")));
    EXPECT_FALSE(ReplicationService::UploadAccepted(QStringLiteral("TRUE\r\n")));
    EXPECT_FALSE(ReplicationService::UploadAccepted(QStringLiteral(" TRUE")));
    EXPECT_FALSE(ReplicationService::UploadAccepted(QStringLiteral("FALSE")));

    // A redirected upload is an error carrying the status line; nothing is
    // asked of the new location.
    TempDir dir;
    const QString host = writeFile(dir.file(QStringLiteral("a.zip")), "zip");
    server.AddReply("HTTP/1.1 302 Object moved\r\nLocation: /Outro/Upload.aspx\r\nContent-Length: 0\r\n\r\n");
    try {
        service.Upload(QStringLiteral("C:\\a.zip"), host);
        ADD_FAILURE() << "no error";
    } catch (const HttpError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("HTTP/1.1 302 Object moved"));
    }
    EXPECT_EQ(server.requests().size(), 1u);

    // The download's "no archive" answer, in another letter case.
    server.AddReply("HTTP/1.1 404 NOT FOUND\r\nContent-Length: 0\r\n\r\n");
    QByteArray buffer;
    try {
        service.Download(buffer);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_TRUE(ReplicationService::NoArchiveOnServer(e));
    }
    EXPECT_TRUE(buffer.isEmpty());
}

}  // namespace
