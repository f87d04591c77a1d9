// Day counts, calendar parts, host times and the FAT form.

#include "platform/Timestamp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using namespace vz;

namespace {

Timestamp date(int y, int m, int d)
{
    Timestamp t = 0;
    EXPECT_TRUE(TryEncodeDate(y, m, d, t)) << y << "-" << m << "-" << d;
    return t;
}

Timestamp at(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return EncodeTimestamp(DateTimeParts{y, mo, d, h, mi, s, ms});
}

// Runs the test body under a fixed time zone, restored afterwards.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone)
    {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard()
    {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

}  // namespace

TEST(Timestamp, DayCountsOfKnownDates)
{
    EXPECT_EQ(date(1899, 12, 30), 0.0);
    EXPECT_EQ(date(1900, 1, 1), 2.0);
    EXPECT_EQ(date(2000, 1, 1), 36526.0);
    EXPECT_EQ(date(2026, 12, 8), 46364.0);
    EXPECT_EQ(date(100, 1, 1), EarliestTimestamp);
    EXPECT_EQ(date(1, 1, 1), -693593.0);
}

TEST(Timestamp, ImpossibleDatesAndTimesAreRefused)
{
    Timestamp t = 0;
    EXPECT_FALSE(TryEncodeDate(2026, 2, 29, t));
    EXPECT_TRUE(TryEncodeDate(2024, 2, 29, t));
    EXPECT_FALSE(TryEncodeDate(1900, 2, 29, t));  // not a leap year
    EXPECT_TRUE(TryEncodeDate(2000, 2, 29, t));
    EXPECT_FALSE(TryEncodeDate(2026, 13, 1, t));
    EXPECT_FALSE(TryEncodeDate(2026, 4, 31, t));
    EXPECT_FALSE(TryEncodeDate(0, 1, 1, t));
    EXPECT_FALSE(TryEncodeDate(10000, 1, 1, t));
    EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, t));
    EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, t));
    EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, t));
    EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, t));
    EXPECT_TRUE(TryEncodeTime(23, 59, 59, 999, t));
}

TEST(Timestamp, DatesBeforeDayZeroSubtractTheTimeOfDay)
{
    Timestamp time = 0;
    ASSERT_TRUE(TryEncodeTime(6, 0, 0, 0, time));
    EXPECT_DOUBLE_EQ(CombineDateTime(date(1899, 12, 29), time), -1.25);
    const DateTimeParts p = DecodeTimestamp(-1.25);
    EXPECT_EQ(p.year, 1899);
    EXPECT_EQ(p.month, 12);
    EXPECT_EQ(p.day, 29);
    EXPECT_EQ(p.hour, 6);
    // Day 0 itself adds.
    EXPECT_DOUBLE_EQ(CombineDateTime(0, time), 0.25);
}

TEST(Timestamp, DecodeGivesBackEveryPartToTheMillisecond)
{
    for (const DateTimeParts& in : {DateTimeParts{2026, 12, 8, 10, 45, 32, 750}, DateTimeParts{100, 1, 1, 0, 0, 0, 0},
                                    DateTimeParts{1850, 6, 15, 23, 59, 59, 999}, DateTimeParts{9999, 12, 31, 12, 0, 0, 1},
                                    DateTimeParts{1980, 1, 1, 0, 0, 0, 0}, DateTimeParts{2024, 2, 29, 0, 0, 0, 1}}) {
        const DateTimeParts out = DecodeTimestamp(EncodeTimestamp(in));
        EXPECT_EQ(out.year, in.year);
        EXPECT_EQ(out.month, in.month);
        EXPECT_EQ(out.day, in.day);
        EXPECT_EQ(out.hour, in.hour);
        EXPECT_EQ(out.minute, in.minute);
        EXPECT_EQ(out.second, in.second);
        EXPECT_EQ(out.millisecond, in.millisecond) << in.year;
    }
}

TEST(Timestamp, HostTimesAreLocalTimes)
{
    ZoneGuard zone("BRT3");  // UTC-3, no daylight saving
    // 2026-12-08 13:45:32.750 UTC is 10:45:32.750 in the zone.
    const qint64 unixMs = 1796737532750LL;
    EXPECT_EQ(DecodeTimestamp(TimestampFromUnixMs(unixMs)).hour, 10);
    EXPECT_NEAR(TimestampFromUnixMs(unixMs), at(2026, 12, 8, 10, 45, 32, 750), 1e-9);
    EXPECT_EQ(UnixMsFromTimestamp(at(2026, 12, 8, 10, 45, 32, 750)), unixMs);
    // Before 1970 the milliseconds still count forward within their second.
    const qint64 early = -1500;  // 1969-12-31 23:59:58.500 UTC
    EXPECT_NEAR(TimestampFromUnixMs(early), at(1969, 12, 31, 20, 59, 58, 500), 1e-9);
    EXPECT_EQ(UnixMsFromTimestamp(TimestampFromUnixMs(early)), early);
}

TEST(Timestamp, FatFormHasTwoSecondStepsRoundedDown)
{
    // 10:45:33.400 counts as 10:45:32.
    EXPECT_EQ(RoundToFat(at(2026, 12, 8, 10, 45, 33, 400)), at(2026, 12, 8, 10, 45, 32));
    EXPECT_EQ(RoundToFat(at(2026, 12, 8, 10, 45, 32, 999)), at(2026, 12, 8, 10, 45, 32));
    EXPECT_EQ(RoundToFat(at(2026, 12, 8, 10, 45, 34)), at(2026, 12, 8, 10, 45, 34));
    const quint32 fat = FatFromTimestamp(at(2026, 12, 8, 10, 45, 32));
    EXPECT_EQ(fat >> 16, ((2026u - 1980) << 9) | (12u << 5) | 8u);
    EXPECT_EQ(fat & 0xFFFF, (10u << 11) | (45u << 5) | 16u);
}

TEST(Timestamp, FatFormClampsOutsideItsYears)
{
    EXPECT_EQ(RoundToFat(at(1975, 6, 1, 12, 0, 0)), at(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(RoundToFat(EarliestTimestamp), at(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(RoundToFat(at(2200, 1, 1, 0, 0, 0)), at(2107, 12, 31, 23, 59, 58));
    EXPECT_EQ(RoundToFat(at(2107, 12, 31, 23, 59, 59)), at(2107, 12, 31, 23, 59, 58));
}

TEST(Timestamp, ImpossibleFatFieldsComeBackInRange)
{
    // A zero DOS date (month 0, day 0) is common in archives from elsewhere.
    EXPECT_EQ(TimestampFromFat(0), at(1980, 1, 1, 0, 0, 0));
    // February 31st of 2023 becomes the 28th; 31 hours become 23.
    const quint32 fat = ((((2023u - 1980) << 9) | (2u << 5) | 31u) << 16) | (31u << 11);
    EXPECT_EQ(TimestampFromFat(fat), at(2023, 2, 28, 23, 0, 0));
}
