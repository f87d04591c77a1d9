// The client against servers that try to exhaust its memory or keep it
// busy: each attempt ends with an error that says what was refused, with
// the peak memory of the attempt bounded. The servers' streams are finite
// only so that a client without bounds would still end (and fail these
// tests) instead of running forever.

#include "tests/web/PeakMemory.h"
#include "tests/web/ScriptedServer.h"
#include "tests/web/WebTestSupport.h"
#include "web/CookieStore.h"
#include "web/HttpErrors.h"
#include "web/HttpHeaders.h"

#include <gtest/gtest.h>
#include <time.h>

using namespace vz;
using namespace vz::test;

namespace {

// What a hostile stream could have cost a client without bounds is far
// above this; what the client may hold (a receive block, one line, the
// head, an error body) is far below.
constexpr qint64 MemoryBoundKb = 48 * 1024;
constexpr qint64 StreamBudgetBytes = 8 * 1024 * 1024;

// CPU time of the calling thread: the work itself, whatever else the
// machine does meanwhile.
qint64 ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

QByteArray ok(const QByteArray& body, const QByteArray& extraHeaders = {}) {
    return "HTTP/1.1 200 OK\r\n" + extraHeaders + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
           body;
}

class HostileServerTest : public ::testing::Test, public ClientFixture {
protected:
    ScriptedServer server;
    PeakMemory memory;

    // Runs a GET that must fail; returns its error's message and checks
    // that the memory the attempt took stayed bounded.
    std::string FailingGet(const QString& path) {
        const bool measured = memory.Reset();
        std::string message = "(no error)";
        try {
            QByteArray buffer;
            client.Get(server.url(path), buffer);
        } catch (const Error& e) {
            message = e.message().toStdString();
        }
        if (measured) {
            EXPECT_LT(memory.GrowthKb(), MemoryBoundKb) << "for " << message;
        } else {
            ADD_FAILURE() << "the peak resident size cannot be reset here";
        }
        EXPECT_FALSE(client.Connected());
        return message;
    }
};

TEST_F(HostileServerTest, EndlessHeaderLinesEndAtTheHeadLimits) {
    // Short lines: the line count ends it.
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 200 OK\r\n"), Stream("a\n", StreamBudgetBytes),
                          Send("\r\nContent-Length: 2\r\n\r\nok")});
    EXPECT_EQ(FailingGet(QStringLiteral("/lines")), "Response head longer than 100 lines.");

    // Long lines: the size ends it first.
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 200 OK\r\n"),
                          Stream("X-Padding: " + QByteArray(2000, 'p') + "\r\n", StreamBudgetBytes),
                          Send("\r\nContent-Length: 2\r\n\r\nok")});
    EXPECT_EQ(FailingGet(QStringLiteral("/bytes")), "Response head longer than 65536 bytes.");

    // Interim answers count towards the same head.
    server.AddConnection({ReadRequest(), Stream("HTTP/1.1 100 Continue\r\n\r\n", StreamBudgetBytes), Send(ok("ok"))});
    EXPECT_EQ(FailingGet(QStringLiteral("/continue")), "Response head longer than 100 lines.");

    // 20,000 cookies in one answer are just as many header lines.
    QByteArray cookies;
    for (int i = 0; i < 20000; ++i) cookies += "Set-Cookie: c" + QByteArray::number(i) + "=v\r\n";
    server.AddReply("HTTP/1.1 200 OK\r\n" + cookies + "Content-Length: 2\r\n\r\nok");
    EXPECT_EQ(FailingGet(QStringLiteral("/cookies")), "Response head longer than 100 lines.");
    EXPECT_EQ(client.Cookies().size(), 0);

    // A head within the limits is read as before: 100 lines, 16 KiB each.
    QByteArray head = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 97; ++i) head += "X-" + QByteArray::number(i) + ": " + QByteArray(300, 'h') + "\r\n";
    server.AddReply(head + "Content-Length: 2\r\n\r\nok");
    QByteArray buffer;
    client.Get(server.url(QStringLiteral("/fits")), buffer);
    EXPECT_EQ(buffer, "ok");
}

TEST_F(HostileServerTest, EndlessContinuationLinesEndAtTheHeadLimits) {
    // A smaller stream: joined by copying, even this much took a minute.
    const qint64 budget = 1024 * 1024;
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 200 OK\r\nX-Long: start\r\n"),
                          Stream(" continued\r\n", budget), Send("\r\nContent-Length: 2\r\n\r\nok")});
    const qint64 cpuBefore = ThreadCpuMs();
    EXPECT_EQ(FailingGet(QStringLiteral("/folded")), "Response head longer than 100 lines.");
    EXPECT_LT(ThreadCpuMs() - cpuBefore, 5000);
}

TEST(HttpHeaders, ContinuationLinesAreJoinedInLinearTime) {
    // 600 KB of continuation lines, as a server sent them: joining them by
    // copying the value for each line took 13 s.
    HttpHeaders headers;
    headers.AddLine("X-Long: start");
    const qint64 cpuBefore = ThreadCpuMs();
    for (int i = 0; i < 200000; ++i) headers.AddLine(" ab");
    EXPECT_LT(ThreadCpuMs() - cpuBefore, 2000);
    const QByteArray value = headers.Value("x-long");
    EXPECT_EQ(value.size(), 5 + 200000 * 3);
    EXPECT_TRUE(value.startsWith("start ab ab"));
    EXPECT_TRUE(value.endsWith(" ab ab"));
}

TEST(FoldHeaderLine, LongLinesAreFoldedInLinearTime) {
    QByteArray line = "Cookie: ";
    for (int i = 0; line.size() < 4 * 1024 * 1024; ++i) line += "c" + QByteArray::number(i) + "=value; ";
    line.chop(2);
    const qint64 cpuBefore = ThreadCpuMs();
    const QByteArray folded = FoldHeaderLine(line);
    EXPECT_LT(ThreadCpuMs() - cpuBefore, 2000);
    const QList<QByteArray> pieces = folded.left(folded.size() - 2).split('\n');
    ASSERT_GT(pieces.size(), 10000);
    for (const QByteArray& piece : pieces) ASSERT_LE(piece.size(), 78 + 1) << piece.constData();  // with its CR
    QByteArray unfolded = folded;
    unfolded.replace("\r\n ", "");
    EXPECT_EQ(unfolded, line + "\r\n");
}

TEST_F(HostileServerTest, ChunkSizesBeyondSixtyThreeBitsAreRefused) {
    // Taken for 0 it would end the body early without a word.
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                              "FFFFFFFFFFFFFFFF\r\n"),
                          Stream("x", StreamBudgetBytes)});
    EXPECT_EQ(FailingGet(QStringLiteral("/huge")), "Chunk size out of range: FFFFFFFFFFFFFFFF");
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                              "8000000000000000;ext\r\n"),
                          Stream("x", StreamBudgetBytes)});
    EXPECT_EQ(FailingGet(QStringLiteral("/huge2")), "Chunk size out of range: 8000000000000000");

    // Leading zeros do not make a size large.
    server.AddReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                    "000000000000000000000003\r\nabc\r\n0\r\n\r\n");
    QByteArray buffer;
    client.Get(server.url(QStringLiteral("/zeros")), buffer);
    EXPECT_EQ(buffer, "abc");

    // A Content-Length beyond 63 bits is no missing one.
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 200 OK\r\nContent-Length: 18446744073709551615\r\n\r\n"),
                          Stream("x", StreamBudgetBytes)});
    client.Disconnect();
    EXPECT_EQ(FailingGet(QStringLiteral("/length")), "Content-Length out of range.");
}

TEST_F(HostileServerTest, BodiesLongerThanAnnouncedAreErrors) {
    // What arrived with the body is seen at once; the rest is never read.
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloSURPLUS"),
                          Stream("x", StreamBudgetBytes)});
    EXPECT_EQ(FailingGet(QStringLiteral("/surplus")), "Response body longer than its Content-Length of 5 bytes.");

    // A chunk with more bytes than its size said.
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                              "5\r\nhelloEXTRA\r\n0\r\n\r\n")});
    EXPECT_EQ(FailingGet(QStringLiteral("/chunk")), "Chunk longer than its announced size.");

    // Exactly the announced body, then the server's close: no error.
    server.AddReply(ok("exact"), true);
    QByteArray buffer;
    client.Get(server.url(QStringLiteral("/exact")), buffer);
    EXPECT_EQ(buffer, "exact");
}

TEST_F(HostileServerTest, RedirectLoopsEndAtTheFirstAnswerAndErrorBodiesAreBounded) {
    // Redirections are not followed: a loop is one request and its error.
    const QByteArray toItself = "HTTP/1.1 302 Found\r\nLocation: " + server.url(QStringLiteral("/loop")).toLatin1() +
                                "\r\nContent-Length: 0\r\n\r\n";
    server.AddConnection({ReadRequest(), Send(toItself), ReadRequest(), Send(toItself)});
    QByteArray buffer;
    try {
        client.Get(server.url(QStringLiteral("/loop")), buffer);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.message().toStdString(), "HTTP/1.1 302 Found");
    }
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.connectionsAccepted(), 1);
    client.Disconnect();

    // An endless body of a redirection (or any error answer) is kept up to
    // its bound, and the connection, with the rest unread, is closed.
    const qint64 budget = 64 * 1024 * 1024;
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 302 Found\r\nLocation: /loop\r\n\r\n"), Stream("r", budget)});
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 301 Moved Permanently\r\nLocation: /loop\r\n"
                                              "Transfer-Encoding: chunked\r\n\r\n"),
                          Stream("1000\r\n" + QByteArray(4096, 'c') + "\r\n", budget)});
    for (const QString& path : {QStringLiteral("/plain"), QStringLiteral("/chunked")}) {
        ASSERT_TRUE(memory.Reset());
        try {
            client.Get(server.url(path), buffer);
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_TRUE(e.message().startsWith(QLatin1String("HTTP/1.1 30"))) << e.message().toStdString();
            const auto* http = dynamic_cast<const HttpError*>(&e);
            ASSERT_NE(http, nullptr);
            EXPECT_EQ(http->body().size(), HttpClient::MaxErrorBodyBytes);
        }
        EXPECT_LT(memory.GrowthKb(), MemoryBoundKb);
        EXPECT_FALSE(client.Connected());
    }
    EXPECT_LT(server.bytesStreamed(), 2 * budget);
}

TEST_F(HostileServerTest, SlowDripsEndWithinTheLimits) {
    // An error body read has 2 s in all, however the bytes trickle in.
    server.AddConnection(
        {ReadRequest(), Send("HTTP/1.1 404 Not Found\r\n\r\n"), Drip(QByteArray(20000, 'd'), 1), Close()});
    EXPECT_EQ(FailingGet(QStringLiteral("/drip")), "Read Timeout");
    EXPECT_LT(server.bytesStreamed(), 20000);

    // A dripped head ends at its bounds like any other.
    QByteArray head = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 200; ++i) head += "X: y\r\n";
    server.AddConnection({ReadRequest(), Drip(head + "Content-Length: 2\r\n\r\nok", 0)});
    EXPECT_EQ(FailingGet(QStringLiteral("/head")), "Response head longer than 100 lines.");
}

TEST_F(HostileServerTest, TheWindowKeepsHandlingEventsWhileAServerDrips) {
    // Each byte comes well within the anti-freeze's idle time, so no wait
    // ever ends empty; the window is pumped all the same.
    antiFreeze.Active = true;
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 200 OK\r\nContent-Length: 200\r\n\r\n"),
                          Drip(QByteArray(200, 'd'), 2)});
    pump.count = 0;
    QByteArray buffer;
    client.Get(server.url(QStringLiteral("/drip")), buffer);
    EXPECT_EQ(buffer, QByteArray(200, 'd'));
    EXPECT_GE(pump.count, 2);
}

TEST_F(HostileServerTest, CookiesOfManyAnswersKeepTheStoreAndTheCookieHeaderBounded) {
    // 20,000 cookies, 80 per answer.
    constexpr int Answers = 250, PerAnswer = 80;
    std::vector<ServerAction> script;
    for (int r = 0; r < Answers; ++r) {
        QByteArray cookies;
        for (int i = 0; i < PerAnswer; ++i)
            cookies += "Set-Cookie: c" + QByteArray::number(r) + "_" + QByteArray::number(i) + "=v\r\n";
        script.push_back(ReadRequest());
        script.push_back(Send(ok("", cookies)));
    }
    script.push_back(ReadRequest());
    script.push_back(Send(ok("last")));
    server.AddConnection(script);
    QByteArray buffer;
    for (int r = 0; r <= Answers; ++r) client.Get(server.url(QStringLiteral("/c")), buffer);

    EXPECT_LE(client.Cookies().size(), CookieStore::MaxCookiesPerDomain);
    ASSERT_TRUE(server.WaitForRequests(Answers + 1));
    const QByteArray last = server.requests().back();
    EXPECT_LT(last.size(), 4096);
    // The oldest were dropped, the newest kept.
    EXPECT_TRUE(last.contains("c249_79=v")) << last.left(300).constData();
    EXPECT_FALSE(last.contains("c0_0=v"));
}

TEST(CookieStore, AFloodFromOneHostIsBoundedAndLeavesOtherHostsCookies) {
    ManualClock clock;
    CookieStore store(clock);
    store.Store(QStringLiteral("service.example"), QStringLiteral("/Zuvavivevo/Upload.aspx"), {"session=keep"}, {});
    for (int i = 0; i < 20000; ++i)
        store.Store(QStringLiteral("flood.example"), QStringLiteral("/"), {"f" + QByteArray::number(i) + "=x"}, {});
    EXPECT_EQ(store.size(), 1 + CookieStore::MaxCookiesPerDomain);
    EXPECT_EQ(store.HeaderFor(QStringLiteral("service.example"), QStringLiteral("/Zuvavivevo/Replicacao/G.zip"), false),
              "session=keep");
    const QList<QByteArray> flood =
        store.HeaderFor(QStringLiteral("flood.example"), QStringLiteral("/"), false).split(';');
    ASSERT_EQ(flood.size(), CookieStore::MaxCookiesPerDomain);
    EXPECT_EQ(flood.first().trimmed(), "f19950=x");
    EXPECT_EQ(flood.last().trimmed(), "f19999=x");

    // Large cookies: the domain keeps what fits its byte bound, newest
    // first; one beyond the size of a cookie is not kept at all.
    for (int i = 0; i < 10; ++i)
        store.Store(QStringLiteral("big.example"), QStringLiteral("/"),
                    {"b" + QByteArray::number(i) + "=" + QByteArray(4000, 'v')}, {});
    const QByteArray big = store.HeaderFor(QStringLiteral("big.example"), QStringLiteral("/"), false);
    EXPECT_LE(big.size(), CookieStore::MaxBytesPerDomain + 10 * 2);
    EXPECT_TRUE(big.contains("b9=")) << big.left(40).constData();
    EXPECT_FALSE(big.contains("b0="));
    store.Store(QStringLiteral("huge.example"), QStringLiteral("/"), {"h=" + QByteArray(5000, 'v')}, {});
    EXPECT_EQ(store.HeaderFor(QStringLiteral("huge.example"), QStringLiteral("/"), false), QByteArray());

    // Many hosts: the store as a whole stays bounded.
    for (int h = 0; h < 20; ++h)
        for (int i = 0; i < 60; ++i)
            store.Store(QStringLiteral("h%1.example").arg(h), QStringLiteral("/"),
                        {"k" + QByteArray::number(i) + "=x"}, {});
    EXPECT_EQ(store.size(), CookieStore::MaxCookies);
}

}  // namespace
