#include "tests/web/ScriptedServer.h"
#include "tests/web/WebTestSupport.h"
#include "web/HttpErrors.h"
#include "web/ReplicationService.h"

#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

namespace {

QByteArray ok(const QByteArray& body, const QByteArray& extraHeaders = {}) {
    return "HTTP/1.1 200 OK\r\n" + extraHeaders + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
           body;
}

QByteArray requestLine(const QByteArray& request) { return request.left(request.indexOf("\r\n")); }

template <typename E, typename F>
E expectError(F&& call) {
    try {
        call();
    } catch (const E& e) {
        return e;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "other error: " << e.what();
        throw;
    }
    ADD_FAILURE() << "no error raised";
    throw std::runtime_error("no error");
}

class HttpClientTest : public ::testing::Test, public ClientFixture {
protected:
    ScriptedServer server;
    QByteArray Get(const QString& path) {
        QByteArray buffer;
        client.Get(server.url(path), buffer);
        return buffer;
    }
};

TEST_F(HttpClientTest, BodyLengthsDecideWhatIsReadAndWhichReadEventsFire) {
    // Content-Length 0: nothing read, no read events.
    server.AddReply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", true);
    EXPECT_EQ(Get(QStringLiteral("/a")), QByteArray());
    EXPECT_TRUE(work.events.isEmpty()) << work.events.join(QLatin1Char(',')).toStdString();

    // No length, no chunking: read until the server closes; 0 expected.
    server.AddReply("HTTP/1.0 200 OK\r\n\r\nhello world", true);
    work.events.clear();
    QByteArray buffer("kept:");
    client.Get(server.url(QStringLiteral("/b")), buffer);
    EXPECT_EQ(buffer, "kept:hello world");  // appended to what the buffer held
    ASSERT_GE(work.events.size(), 3);
    EXPECT_EQ(work.events.first(), QStringLiteral("begin 0 0"));
    EXPECT_EQ(work.events.at(work.events.size() - 2), QStringLiteral("work 0 11"));
    EXPECT_EQ(work.events.last(), QStringLiteral("end 0"));
    EXPECT_FALSE(client.Connected());

    // The server closes before the announced length: no error, the bytes received.
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly part"), Close()});
    work.events.clear();
    EXPECT_EQ(Get(QStringLiteral("/c")), "only part");
    EXPECT_EQ(work.events.first(), QStringLiteral("begin 0 100"));
    EXPECT_EQ(work.events.last(), QStringLiteral("end 0"));
    EXPECT_FALSE(client.Connected());
}

TEST_F(HttpClientTest, ChunkedBodiesGiveOneTransferPerChunk) {
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                              "5;name=value\r\nhello\r\n"
                                              "1 words after the size\r\n,\r\n"
                                              "6\r\n world\r\n"
                                              "0\r\n\r\n")});
    EXPECT_EQ(Get(QStringLiteral("/chunks")), "hello, world");
    EXPECT_EQ(work.events, QStringList({QStringLiteral("begin 0 5"), QStringLiteral("work 0 5"), QStringLiteral("end 0"),
                                        QStringLiteral("begin 0 1"), QStringLiteral("work 0 1"), QStringLiteral("end 0"),
                                        QStringLiteral("begin 0 6"), QStringLiteral("work 0 6"), QStringLiteral("end 0")}));
    EXPECT_TRUE(client.Connected());

    // A size that is not hexadecimal ends the body; the bytes left after it
    // make the kept connection unusable, so the next request reconnects.
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                              "3\r\nabc\r\nzz\r\n\r\nEXTRA")});
    server.AddReply(ok("fresh"));
    client.Disconnect();
    EXPECT_EQ(Get(QStringLiteral("/garbage")), "abc");
    EXPECT_EQ(Get(QStringLiteral("/next")), "fresh");
    EXPECT_EQ(server.connectionsAccepted(), 3);
}

TEST_F(HttpClientTest, InterimContinueIsSkippedWithItsHeaders) {
    server.AddReply("HTTP/1.1 100 Continue\r\nX-Interim: yes\r\n\r\n" + ok("done", "X-Final: 1\r\n"));
    EXPECT_EQ(client.GetText(server.url(QStringLiteral("/"))), QStringLiteral("done"));
}

TEST_F(HttpClientTest, RedirectionsAndErrorStatusesRaiseTheStatusLineWithCodeAndBody) {
    server.AddReply("HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 5\r\n\r\nmoved");
    auto redirect = expectError<HttpError>([&] { Get(QStringLiteral("/first")); });
    EXPECT_EQ(redirect.message(), QStringLiteral("HTTP/1.1 302 Found"));
    EXPECT_EQ(redirect.statusCode(), 302);
    EXPECT_EQ(redirect.body(), QStringLiteral("moved"));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_FALSE(server.requests()[0].contains("elsewhere"));

    // A Location header turns even a 200 into the error.
    server.AddReply("HTTP/1.1 200 OK\r\nLocation: http://other/\r\nContent-Length: 2\r\n\r\nhi");
    client.Disconnect();
    EXPECT_EQ(expectError<HttpError>([&] { Get(QStringLiteral("/second")); }).message(), QStringLiteral("HTTP/1.1 200 OK"));

    // 404 with its body; only the exact reason counts as "no archive".
    server.AddReply("HTTP/1.1 404 Not Found\r\nContent-Length: 7\r\n\r\nno file");
    client.Disconnect();
    auto notFound = expectError<HttpError>([&] { Get(QStringLiteral("/missing")); });
    EXPECT_EQ(notFound.message(), QStringLiteral("HTTP/1.1 404 Not Found"));
    EXPECT_EQ(notFound.statusCode(), 404);
    EXPECT_EQ(notFound.body(), QStringLiteral("no file"));
    EXPECT_TRUE(ReplicationService::NoArchiveOnServer(notFound));
    EXPECT_TRUE(client.Connected());  // the error response was read whole: kept

    server.AddReply("HTTP/1.1 404 Object Not Found\r\nContent-Length: 0\r\n\r\n");
    client.Disconnect();
    EXPECT_FALSE(ReplicationService::NoArchiveOnServer(expectError<HttpError>([&] { Get(QStringLiteral("/x")); })));

    // A status line that is no status: code -1.
    server.AddReply("garbage\r\n\r\n", true);
    client.Disconnect();
    EXPECT_EQ(expectError<HttpError>([&] { Get(QStringLiteral("/y")); }).statusCode(), -1);
}

TEST_F(HttpClientTest, AnErrorBodyThatDoesNotComeEndsInReadTimeout) {
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 500 Internal Server Error\r\n\r\npartial")});
    EXPECT_EQ(expectError<Error>([&] { Get(QStringLiteral("/slow")); }).message(), QStringLiteral("Read Timeout"));
    EXPECT_FALSE(client.Connected());
}

TEST_F(HttpClientTest, ClosedConnectionsAndOverlongLines) {
    server.AddConnection({ReadRequest(), Close()});
    expectError<ConnectionClosedGracefully>([&] { Get(QStringLiteral("/a")); });
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 2"), Close()});
    expectError<ConnectionClosedGracefully>([&] { Get(QStringLiteral("/b")); });

    // Headers cut off by the close on a 2xx.
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"), Close()});
    EXPECT_EQ(expectError<Error>([&] { Get(QStringLiteral("/c")); }).message(), QStringLiteral("Undefined situation"));

    // 16384 characters are allowed, one more is not.
    const QByteArray statusLine = "HTTP/1.1 200 " + QByteArray(16384 - 13, 'x');
    const QByteArray header = "X-Long: " + QByteArray(16384 - 8, 'y');
    server.AddReply(statusLine + "\r\n" + header + "\r\nContent-Length: 2\r\n\r\nok");
    EXPECT_EQ(Get(QStringLiteral("/d")), "ok");
    server.AddReply("HTTP/1.1 200 OK\r\nX-Long: " + QByteArray(20000, 'z') + "\r\nContent-Length: 2\r\n\r\nok");
    client.Disconnect();
    EXPECT_EQ(expectError<Error>([&] { Get(QStringLiteral("/e")); }).message(), QStringLiteral("Max line length exceeded."));
    EXPECT_FALSE(client.Connected());
}

TEST_F(HttpClientTest, KeepAliveIsDecidedAfterEveryExchange) {
    // GET without a Connection header: kept, and the next GET reuses it.
    server.AddConnection({ReadRequest(), Send(ok("one")), ReadRequest(), Send(ok("two", "Connection: close\r\n"))});
    EXPECT_EQ(Get(QStringLiteral("/1")), "one");
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(Get(QStringLiteral("/2")), "two");
    EXPECT_FALSE(client.Connected());  // "close" ends it
    EXPECT_EQ(server.connectionsAccepted(), 1);

    server.AddReply(ok("p", "Proxy-Connection: Close \r\n"));
    EXPECT_EQ(Get(QStringLiteral("/3")), "p");
    EXPECT_FALSE(client.Connected());

    // POST (HTTP/1.0): kept only when the answer says keep-alive.
    BytesBody body("data");
    server.AddReply(ok("TRUE"));
    EXPECT_EQ(client.PostMultipart(server.url(QStringLiteral("/post")), body), QStringLiteral("TRUE"));
    EXPECT_FALSE(client.Connected());
    server.AddReply(ok("TRUE", "Connection: Keep-Alive\r\n"));
    EXPECT_EQ(client.PostMultipart(server.url(QStringLiteral("/post")), body), QStringLiteral("TRUE"));
    EXPECT_TRUE(client.Connected());

    // The POST always starts afresh, and GETs go back to HTTP/1.1.
    server.AddReply(ok("TRUE"));
    client.PostMultipart(server.url(QStringLiteral("/post")), body);
    server.AddReply(ok("g"));
    Get(QStringLiteral("/after"));
    const auto requests = server.requests();
    EXPECT_EQ(server.connectionsAccepted(), 6);
    EXPECT_EQ(requestLine(requests.at(5)), "POST /post HTTP/1.0");
    EXPECT_EQ(requestLine(requests.at(6)), "GET /after HTTP/1.1");
}

TEST_F(HttpClientTest, WorkEventsOfAnUploadAndItsAnswer) {
    QByteArray bytes(100000, 'u');
    BytesBody body(bytes);
    server.AddReply(ok("TRUE"));
    client.PostMultipart(server.url(QStringLiteral("/up")), body);
    const QStringList writes = work.Filter(QStringLiteral(" 1"));
    ASSERT_GE(writes.size(), 2 + 4);  // four blocks of at most 32768 bytes
    EXPECT_EQ(writes.first(), QStringLiteral("begin 1 100000"));
    EXPECT_EQ(writes.at(writes.size() - 2), QStringLiteral("work 1 100000"));
    EXPECT_EQ(writes.last(), QStringLiteral("end 1"));
    EXPECT_EQ(work.events.mid(writes.size()), QStringList({QStringLiteral("begin 0 4"), QStringLiteral("work 0 4"), QStringLiteral("end 0")}));
    ASSERT_TRUE(server.WaitForRequests(1));
    EXPECT_TRUE(server.requests()[0].endsWith(bytes));

    // A body that runs out before its announced length.
    BytesBody shortBody("12345", 10);
    server.AddConnection({ReadRequest()});
    work.events.clear();
    EXPECT_EQ(expectError<Error>([&] { client.PostMultipart(server.url(QStringLiteral("/up")), shortBody); }).message(),
              QStringLiteral("No data to read."));
    EXPECT_EQ(work.events.last(), QStringLiteral("end 1"));  // levels return to 0
    EXPECT_FALSE(client.Connected());
}

TEST_F(HttpClientTest, UrlsAreSentWithoutFragmentAndWithoutHeaderBreakingCharacters) {
    server.AddConnection({ReadRequest(), Send(ok("1")), ReadRequest(), Send(ok("2"))});
    Get(QStringLiteral("\\Zuvavivevo\\Replicacao\\{AB-12}.zip#part"));
    client.GetText(server.url(QStringLiteral("/Remover.aspx?guid=a b\r\nX-Injected: 1\t\x7f")));
    const auto requests = server.requests();
    EXPECT_EQ(requestLine(requests.at(0)), "GET /Zuvavivevo/Replicacao/{AB-12}.zip HTTP/1.1");
    EXPECT_EQ(requestLine(requests.at(1)), "GET /Remover.aspx?guid=a%20b%0D%0AX-Injected:%201%09%7F HTTP/1.1");
    EXPECT_FALSE(requests.at(1).contains("\r\nX-Injected"));
}

TEST_F(HttpClientTest, CookiesAreSentBackByHostAndPathOnly) {
    server.AddConnection({ReadRequest(), Send(ok("TRUE",
                                                 "Set-Cookie: session=abc; path=/Zuvavivevo\r\n"
                                                 "Set-Cookie: deep=1; Path=/Zuvavivevo/Replicacao\r\n"
                                                 "set-cookie: other=2; path=/Outro\r\n"
                                                 "Set-Cookie: sec=3; secure\r\n"
                                                 "Set-Cookie: foreign=4; domain=example.com\r\n"
                                                 "Set-Cookie: old=5; expires=Wed, 09 Jun 2021 10:18:14 GMT\r\n"
                                                 "Set-Cookie: brief=6; max-age=60\r\n"
                                                 "Set-Cookie: bad=a\rb\r\n"
                                                 "Set-Cookie2: v2=7; Version=1; Path=/\r\n")),
                          ReadRequest(), Send(ok("x")), ReadRequest(), Send(ok("y"))});
    Get(QStringLiteral("/Zuvavivevo/Upload.aspx"));
    Get(QStringLiteral("/Zuvavivevo/Replicacao/G.zip"));
    clock.advanceMs(61000);
    Get(QStringLiteral("/Zuvavivevo/Remover.aspx"));
    // The same server under another host name gets nothing.
    server.AddReply(ok("z"));
    QByteArray buffer;
    client.Get(QStringLiteral("http://localhost:%1/Zuvavivevo/Replicacao/G.zip").arg(server.port()), buffer);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_FALSE(requests[0].contains("Cookie:"));
    EXPECT_TRUE(requests[1].contains("\r\nCookie: deep=1; session=abc; brief=6; v2=7\r\n")) << requests[1].constData();
    EXPECT_TRUE(requests[2].contains("\r\nCookie: session=abc; v2=7\r\n")) << requests[2].constData();
    EXPECT_FALSE(requests[3].contains("Cookie:"));
    EXPECT_EQ(server.connectionsAccepted(), 2);  // another host name: another connection
}

TEST_F(HttpClientTest, LongRequestHeadersAreFolded) {
    const QByteArray value(30, 'v');
    server.AddConnection({ReadRequest(),
                          Send(ok("", "Set-Cookie: alpha=" + value + "\r\nSet-Cookie: beta=" + value +
                                          "\r\nSet-Cookie: gamma=" + value + "\r\n")),
                          ReadRequest(), Send(ok(""))});
    Get(QStringLiteral("/a"));
    Get(QStringLiteral("/b"));
    const QByteArray head = server.requests().at(1);
    const QByteArray cookie = head.mid(head.indexOf("Cookie: "));
    const QList<QByteArray> lines = cookie.left(cookie.indexOf("\r\n\r\n")).split('\n');
    ASSERT_GE(lines.size(), 2);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        EXPECT_LE(lines[i].trimmed().size(), 78);
        if (i > 0) {
            EXPECT_TRUE(lines[i].startsWith(' '));
        }
    }
    QByteArray unfolded = cookie.left(cookie.indexOf("\r\n\r\n"));
    unfolded.replace("\r\n ", "");
    EXPECT_EQ(unfolded, "Cookie: alpha=" + value + "; beta=" + value + "; gamma=" + value);
}

TEST(FoldHeaderLine, BreaksOutsideQuotesOnly) {
    EXPECT_EQ(FoldHeaderLine("Short: line"), "Short: line\r\n");
    const QByteArray quoted = "X: \"" + QByteArray(40, 'q') + ", " + QByteArray(40, 'q') + "\"," + QByteArray(10, 'r');
    const QByteArray folded = FoldHeaderLine(quoted);
    // The only break points are the space after "X:" and the comma after
    // the quotes: the comma and space inside them stay on one line.
    EXPECT_EQ(folded.toStdString(), QByteArray("X: \r\n \"" + QByteArray(40, 'q') + ", " + QByteArray(40, 'q') +
                                               "\",\r\n " + QByteArray(10, 'r') + "\r\n").toStdString());
    EXPECT_EQ(FoldHeaderLine(QByteArray(100, 'n')), QByteArray(100, 'n') + "\r\n");
}

TEST_F(HttpClientTest, AntiFreezePumpsWhileWaitingForDataOnlyWhenActive) {
    // Switched on by the work-begin handler, as the window does: it takes
    // effect at the next wait, in the middle of the body.
    client.OnWorkBegin = [this](int, qint32) { antiFreeze.Active = true; };
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nab"),
                          WaitUntil([this] { return pump.count >= 3; }), Send("cd")});
    EXPECT_EQ(Get(QStringLiteral("/slow")), "abcd");
    EXPECT_GE(pump.count, 3);

    // Off: waits block without pumping.
    antiFreeze.Active = false;
    client.OnWorkBegin = nullptr;
    pump.count = 0;
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nab"),
                          WaitUntil([] {
                              std::this_thread::sleep_for(std::chrono::milliseconds(150));
                              return true;
                          }),
                          Send("cd")});
    client.Disconnect();
    EXPECT_EQ(Get(QStringLiteral("/slow")), "abcd");
    EXPECT_EQ(pump.count, 0);
}

TEST_F(HttpClientTest, ConnectFailuresAndTheConnectTimeLimit) {
    // A listener whose queue is full leaves further connects unanswered.
    quint32 loopback = 0;
    Socket::ResolveIPv4(QStringLiteral("127.0.0.1"), loopback);
    Socket full;
    ASSERT_TRUE(full.Listen(loopback, 0, 0));
    Socket occupant;
    ASSERT_TRUE(occupant.Open());
    ASSERT_TRUE(occupant.Connect(loopback, full.LocalPort()));

    antiFreeze.Active = true;
    antiFreeze.ConnectTimeoutMs = 300;
    QByteArray buffer;
    EXPECT_EQ(expectError<Error>([&] {
                  client.Get(QStringLiteral("http://127.0.0.1:%1/x").arg(full.LocalPort()), buffer);
              }).message(),
              QStringLiteral("Connect timed out."));
    EXPECT_GT(pump.count, 0);
    EXPECT_FALSE(client.Connected());

    // A window handler that raises while the connect goes on: the error
    // comes through at once and the connect thread is not left behind.
    struct RaisingPump final : EventPump {
        void ProcessPendingMessages() override { throw SilentAbort(); }
    } raising;
    AntiFreeze raisingFreeze(raising);
    raisingFreeze.Active = true;
    HttpClient raisingClient(raisingFreeze, clock);
    EXPECT_THROW(raisingClient.Get(QStringLiteral("http://127.0.0.1:%1/x").arg(full.LocalPort()), buffer), SilentAbort);
    EXPECT_FALSE(raisingClient.Connected());

    // Nobody listening: the system's error number and text.
    const quint16 closedPort = full.LocalPort();
    full.Close();
    occupant.Close();
    auto refused = expectError<SocketError>([&] {
        client.Get(QStringLiteral("http://127.0.0.1:%1/x").arg(closedPort), buffer);
    });
    EXPECT_EQ(refused.message(), QStringLiteral("Socket Error # 111\r\nConnection refused"));

    // A scheme other than http without a port.
    EXPECT_EQ(expectError<Error>([&] { client.Get(QStringLiteral("gopher://127.0.0.1/x"), buffer); }).message(), QString());
}

}  // namespace
