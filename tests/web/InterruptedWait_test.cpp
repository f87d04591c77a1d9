// Signals that arrive while the client waits for an answer: the program
// handles SIGTERM, SIGINT and SIGHUP itself and the Firebird client adds its
// own, so a wait can be interrupted at any time. An interruption is no
// timeout: the wait goes on, and the answer that comes later is read.

#include "platform/Socket.h"
#include "tests/web/ScriptedServer.h"
#include "tests/web/WebTestSupport.h"

#include <QByteArray>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pthread.h>
#include <thread>

using namespace vz;
using namespace vz::test;

namespace {

std::atomic<int> handled{0};
void countSignal(int) { handled.fetch_add(1); }

// A handler without SA_RESTART, as the program's own are: blocking calls
// return EINTR.
class InterruptedWaitTest : public ::testing::Test {
protected:
    void SetUp() override {
        struct sigaction action {};
        action.sa_handler = countSignal;
        sigemptyset(&action.sa_mask);
        ASSERT_EQ(sigaction(SIGUSR1, &action, &previous_), 0);
        handled = 0;
    }
    void TearDown() override { sigaction(SIGUSR1, &previous_, nullptr); }

    // Signals `thread` until `count` signals have been handled, then lets
    // the server answer.
    void interrupt(pthread_t thread, int count, std::atomic<bool>& release) {
        signaller_ = std::thread([thread, count, &release] {
            while (handled.load() < count) {
                pthread_kill(thread, SIGUSR1);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            release = true;
        });
    }
    void join() {
        if (signaller_.joinable()) signaller_.join();
    }

    struct sigaction previous_ {};
    std::thread signaller_;
};

TEST_F(InterruptedWaitTest, ASlowAnswerIsReadWhateverSignalsArriveWhileTheClientWaits) {
    // The anti-freeze off, no read limit: the client waits for as long as
    // the server takes.
    ClientFixture fixture;
    ScriptedServer server;
    std::atomic<bool> release{false};
    server.AddConnection({ReadRequest(), WaitUntil([&] { return release.load(); }),
                          Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nlater"), Close()});
    const pthread_t self = pthread_self();
    std::thread starter([&] {
        // Only once the request is there is the client surely waiting.
        if (server.WaitForRequests(1)) interrupt(self, 10, release);
        else release = true;
    });
    QByteArray body;
    EXPECT_NO_THROW(fixture.client.Get(server.url(QStringLiteral("/slow")), body));
    starter.join();
    join();
    EXPECT_EQ(body, "later");
    EXPECT_GE(handled.load(), 10);
}

TEST_F(InterruptedWaitTest, AnInterruptedWaitWithATimeLimitGoesOnForTheRestOfIt) {
    // Data comes only after the signals; a wait of its own limit (far longer
    // than the signals take) still sees it.
    Socket listener;
    ASSERT_TRUE(listener.Listen(htonl(INADDR_LOOPBACK), 0, 1));
    Socket client;
    ASSERT_TRUE(client.Open());
    quint32 loopback = 0;
    ASSERT_EQ(Socket::ResolveIPv4(QStringLiteral("127.0.0.1"), loopback), 0);
    ASSERT_TRUE(client.Connect(loopback, listener.LocalPort()));
    Socket peer = listener.Accept();
    ASSERT_TRUE(peer.IsOpen());

    std::atomic<bool> release{false};
    interrupt(pthread_self(), 10, release);
    std::thread sender([&] {
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        peer.SendAll("x", 1);
    });
    EXPECT_EQ(client.WaitReadable(120000), 1);
    sender.join();
    join();
    EXPECT_GE(handled.load(), 10);
}

}  // namespace
