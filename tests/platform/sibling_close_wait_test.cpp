// The wait for the sibling to close, on a test clock that the wait's own
// pauses advance: it ends at the first look that finds the sibling gone,
// pumps the window's events and shows its text on the run's page while it
// waits, and gives up after a minute of the clock's forward time, however
// the clock moves.

#include "platform/Errors.h"
#include "platform/SiblingCloseWait.h"
#include "tests/support/ManualClock.h"
#include "tests/support/RecordingRunFrame.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace vz;
using namespace vz::test;

namespace {

constexpr double MsPerDay = 86400000.0;

// A sibling that is there for a given number of looks; each look is noted
// with the clock's time and the frame's pump count.
class LeavingSibling final : public SiblingProgram {
public:
    LeavingSibling(const ManualClock& clock, const RecordingRunFrame& frame, int looksPresent)
        : clock_(clock), frame_(frame), looksPresent_(looksPresent)
    {
    }
    bool SiblingIsRunning() override
    {
        lookTimes.push_back(clock_.now());
        lookPumps.push_back(frame_.pumps);
        return looksPresent_ < 0 || static_cast<int>(lookTimes.size()) <= looksPresent_;
    }
    void AskSiblingToClose() override { ADD_FAILURE() << "the wait asks nothing"; }
    void StartSiblingServer(const QString&) override { ADD_FAILURE() << "the wait starts nothing"; }

    std::vector<Timestamp> lookTimes;
    std::vector<int> lookPumps;

private:
    const ManualClock& clock_;
    const RecordingRunFrame& frame_;
    int looksPresent_;  // -1: never leaves
};

class SiblingCloseWaitTest : public ::testing::Test {
protected:
    double msSinceStart(Timestamp t) const { return (t - start) * MsPerDay; }
    // The wait's pauses advance the clock by what they were asked to sleep.
    SiblingCloseWait::Pause clockPause()
    {
        return [this](int ms) {
            pausedMs += ms;
            clock.advanceMs(ms);
        };
    }

    ManualClock clock;
    const Timestamp start = clock.now();
    RecordingRunFrame frame;
    int pausedMs = 0;
};

TEST_F(SiblingCloseWaitTest, SiblingNotThereEndsAtOnceWithNothingShown)
{
    LeavingSibling sibling(clock, frame, 0);
    EXPECT_TRUE(SiblingCloseWait(sibling, frame, clock, RunPage::Import, clockPause()).Wait());
    EXPECT_EQ(sibling.lookTimes.size(), 1u);
    EXPECT_EQ(frame.pumps, 0);
    EXPECT_EQ(pausedMs, 0);
    EXPECT_EQ(frame.importProgress, QString());
}

TEST_F(SiblingCloseWaitTest, EndsAtTheFirstLookThatFindsItGonePumpingAndShowingTheTextMeanwhile)
{
    LeavingSibling sibling(clock, frame, 3);
    EXPECT_TRUE(SiblingCloseWait(sibling, frame, clock, RunPage::Import, clockPause()).Wait());

    ASSERT_EQ(sibling.lookTimes.size(), 4u);
    EXPECT_EQ(frame.importProgress, SiblingCloseWait::WaitingText);
    EXPECT_EQ(frame.exportProgress, QString());
    // A look every 250 ms, the window's events handled every 25 ms between.
    for (size_t i = 0; i < sibling.lookTimes.size(); ++i) {
        EXPECT_NEAR(msSinceStart(sibling.lookTimes[i]), i * SiblingCloseWait::PollIntervalMs, 1.0) << i;
        EXPECT_EQ(sibling.lookPumps[i], static_cast<int>(i) * 10) << i;
    }
    EXPECT_EQ(pausedMs, 3 * SiblingCloseWait::PollIntervalMs);
}

TEST_F(SiblingCloseWaitTest, TheTextGoesToTheRunsOwnPage)
{
    LeavingSibling sibling(clock, frame, 1);
    EXPECT_TRUE(SiblingCloseWait(sibling, frame, clock, RunPage::Export, clockPause()).Wait());
    EXPECT_EQ(frame.exportProgress, SiblingCloseWait::WaitingText);
    EXPECT_EQ(frame.importProgress, QString());
}

TEST_F(SiblingCloseWaitTest, GivesUpAfterAMinuteWithALastLookAtTheLimit)
{
    LeavingSibling sibling(clock, frame, -1);
    EXPECT_FALSE(SiblingCloseWait(sibling, frame, clock, RunPage::Import, clockPause()).Wait());

    // Within a millisecond: a day count near today resolves about a microsecond per step.
    EXPECT_NEAR(msSinceStart(clock.now()), SiblingCloseWait::LimitMs, 1.0);
    // Looks at 0, 250, ..., 60000 ms.
    ASSERT_EQ(sibling.lookTimes.size(), size_t(SiblingCloseWait::LimitMs / SiblingCloseWait::PollIntervalMs + 1));
    EXPECT_NEAR(msSinceStart(sibling.lookTimes.back()), SiblingCloseWait::LimitMs, 1.0);
    EXPECT_EQ(frame.importProgress, SiblingCloseWait::WaitingText);
}

TEST_F(SiblingCloseWaitTest, LooksGoOnWhileTheClockStandsStill)
{
    LeavingSibling sibling(clock, frame, 5);
    int pauses = 0;
    EXPECT_TRUE(SiblingCloseWait(sibling, frame, clock, RunPage::Import, [&](int) { ++pauses; }).Wait());
    EXPECT_EQ(sibling.lookTimes.size(), 6u);
    EXPECT_EQ(pauses, 5 * 10);
}

TEST_F(SiblingCloseWaitTest, AClockSetBackDoesNotLengthenTheWait)
{
    // An hour back (the end of summer time) ten seconds in: still a minute of waiting in all.
    LeavingSibling sibling(clock, frame, -1);
    int pauses = 0;
    const auto pause = [&](int ms) {
        ++pauses;
        clock.advanceMs(ms);
        if (pauses == 400)
            clock.advanceMs(-3600000.0);
    };
    EXPECT_FALSE(SiblingCloseWait(sibling, frame, clock, RunPage::Import, pause).Wait());
    EXPECT_EQ(pauses, SiblingCloseWait::LimitMs / SiblingCloseWait::SliceMs + 1);
}

TEST_F(SiblingCloseWaitTest, WhatThePumpThrowsEndsTheWait)
{
    // A close of the window during the wait stops the run at the pump.
    LeavingSibling sibling(clock, frame, -1);
    frame.onPump = [&] {
        if (frame.pumps == 3)
            throw RunStopped();
    };
    EXPECT_THROW(SiblingCloseWait(sibling, frame, clock, RunPage::Import, clockPause()).Wait(), RunStopped);
    EXPECT_EQ(frame.pumps, 3);
}

}  // namespace
