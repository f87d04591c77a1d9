// The watch that lets the window's pump skip idle rounds of the event loop:
// it must raise its flag for whatever makes the loop ready (events posted
// from any thread, timers falling due), and give up rather than guess when
// the loop being pumped is not the one it watches.

#include "platform/WaitingEventsWatch.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace vz {
namespace {

void round() { QCoreApplication::processEvents(); }

// Pumps the way the window does until `done` holds; false when it does not
// within a generous bound (a failure, not a measurement).
template <typename Done>
bool pumpUntil(WaitingEventsWatch& watch, Done done)
{
    const QDeadlineTimer bound(10000);
    while (!done()) {
        if (bound.hasExpired())
            return false;
        if (watch.EventsMayBeWaiting())
            watch.RunRound(round);
    }
    return true;
}

class WaitingEventsWatchTest : public ::testing::Test {
protected:
    int argc_ = 1;
    char name_[32] = "waiting_events_watch_test";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication app_{argc_, argv_};
};

TEST_F(WaitingEventsWatchTest, RaisesItsFlagForEventsTimersAndOtherThreads)
{
    auto watch = WaitingEventsWatch::Start();
    ASSERT_TRUE(watch);
    EXPECT_TRUE(watch->EventsMayBeWaiting()) << "nothing is known before the first round";
    watch->RunRound(round);
    EXPECT_TRUE(watch->Usable());

    int delivered = 0;
    for (int i = 1; i <= 100; ++i) {
        QMetaObject::invokeMethod(&app_, [&delivered] { ++delivered; }, Qt::QueuedConnection);
        ASSERT_TRUE(pumpUntil(*watch, [&] { return delivered == i; })) << "posted event " << i;
    }

    std::thread poster([this, &delivered] {
        QMetaObject::invokeMethod(&app_, [&delivered] { ++delivered; }, Qt::QueuedConnection);
    });
    poster.join();
    EXPECT_TRUE(pumpUntil(*watch, [&] { return delivered == 101; }));

    // A timer owns no descriptor: the periodic raise runs it.
    bool fired = false;
    QTimer::singleShot(5, &app_, [&fired] { fired = true; });
    EXPECT_TRUE(pumpUntil(*watch, [&] { return fired; }));

    // A pump inside a round (an event handler that pumps) leaves the watch working.
    bool inner = false;
    QMetaObject::invokeMethod(
        &app_,
        [&] {
            QMetaObject::invokeMethod(&app_, [&inner] { inner = true; }, Qt::QueuedConnection);
            pumpUntil(*watch, [&] { return inner; });
        },
        Qt::QueuedConnection);
    EXPECT_TRUE(pumpUntil(*watch, [&] { return inner; }));
    EXPECT_TRUE(watch->Usable());
}

TEST_F(WaitingEventsWatchTest, IdleRoundsAreSkippedButNotIdleForLong)
{
    auto watch = WaitingEventsWatch::Start();
    ASSERT_TRUE(watch);
    watch->RunRound(round);
    // A hundred thousand idle pumps take well under a millisecond each; with
    // rounds only when the flag is up they run a small fraction of rounds.
    constexpr int pumps = 100000;
    int rounds = 0;
    for (int i = 0; i < pumps; ++i) {
        if (watch->EventsMayBeWaiting()) {
            watch->RunRound(round);
            ++rounds;
        }
    }
    EXPECT_LT(rounds, pumps / 10);
    // With nothing ready the flag still comes up again by itself (for timers).
    EXPECT_TRUE(pumpUntil(*watch, [&] { return watch->EventsMayBeWaiting(); }));
}

TEST_F(WaitingEventsWatchTest, OneWatchAtATimeAndTheLoopWorksAfterIt)
{
    auto first = WaitingEventsWatch::Start();
    ASSERT_TRUE(first);
    EXPECT_FALSE(WaitingEventsWatch::Start()) << "the context takes one poll hook";
    first->RunRound(round);
    first.reset();

    // The loop polls without the hook again and still delivers.
    int delivered = 0;
    QMetaObject::invokeMethod(&app_, [&delivered] { ++delivered; }, Qt::QueuedConnection);
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered, 1);

    auto second = WaitingEventsWatch::Start();
    ASSERT_TRUE(second);
    second->RunRound(round);
    EXPECT_TRUE(second->Usable());
}

TEST_F(WaitingEventsWatchTest, ARoundThatThrowsLeavesTheNextPumpToRunOne)
{
    auto watch = WaitingEventsWatch::Start();
    ASSERT_TRUE(watch);
    EXPECT_THROW(watch->RunRound([] {
        round();
        throw std::runtime_error("handler failed");
    }),
                 std::runtime_error);
    EXPECT_TRUE(watch->EventsMayBeWaiting());
    int delivered = 0;
    QMetaObject::invokeMethod(&app_, [&delivered] { ++delivered; }, Qt::QueuedConnection);
    EXPECT_TRUE(pumpUntil(*watch, [&] { return delivered == 1; }));
}

TEST_F(WaitingEventsWatchTest, GivesUpWhenTheRoundDoesNotReachTheWatchedLoop)
{
    auto watch = WaitingEventsWatch::Start();
    ASSERT_TRUE(watch);
    watch->RunRound([] {});
    EXPECT_FALSE(watch->Usable());
    for (int i = 0; i < 1000; ++i)
        ASSERT_TRUE(watch->EventsMayBeWaiting()) << "an unwatched loop is pumped every time";
}

}  // namespace
}  // namespace vz
