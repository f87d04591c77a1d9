// Timestamps as regional text and back, in the three kinds of locale.

#include "platform/TimestampText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <random>

using namespace vz;

namespace {

Timestamp at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return EncodeTimestamp(DateTimeParts{y, mo, d, h, mi, s, ms});
}

const Timestamp Marker = -999999999.0;  // a default no valid text gives

QString fmt(Timestamp t, const RegionalSettings& s) { return FormatTimestamp(t, s); }
Timestamp parse(const QString& text, const RegionalSettings& s = RegionalSettings::dayMonthYear())
{
    return ParseTimestamp(text, Marker, s, 2026);
}

}  // namespace

TEST(FormatTimestamp, DayMonthYear)
{
    const auto s = RegionalSettings::dayMonthYear();
    EXPECT_EQ(fmt(at(2026, 12, 8, 10, 45, 32), s), u"08/12/2026 10:45:32"_qs);
    EXPECT_EQ(fmt(at(2026, 12, 8), s), u"08/12/2026"_qs);
    EXPECT_EQ(fmt(0, s), u"30/12/1899"_qs);
    EXPECT_EQ(fmt(EarliestTimestamp, s), u"01/01/0100"_qs);
    // Milliseconds are never written, and alone they do not bring the time.
    EXPECT_EQ(fmt(at(2026, 12, 8, 10, 45, 32, 750), s), u"08/12/2026 10:45:32"_qs);
    EXPECT_EQ(fmt(at(2026, 12, 8, 0, 0, 0, 500), s), u"08/12/2026"_qs);
}

TEST(FormatTimestamp, OtherLocales)
{
    const auto us = RegionalSettings::monthDayYear12h();
    EXPECT_EQ(fmt(at(2026, 12, 8, 10, 45, 32), us), u"12/8/2026 10:45:32 AM"_qs);
    EXPECT_EQ(fmt(at(2026, 1, 5, 13, 5, 0), us), u"1/5/2026 1:05:00 PM"_qs);
    EXPECT_EQ(fmt(at(2026, 1, 5, 0, 30, 0), us), u"1/5/2026 12:30:00 AM"_qs);
    EXPECT_EQ(fmt(at(2026, 1, 5, 12, 0, 1), us), u"1/5/2026 12:00:01 PM"_qs);
    const auto iso = RegionalSettings::yearMonthDay();
    EXPECT_EQ(fmt(at(2026, 12, 8, 10, 45, 32), iso), u"2026-12-08 10:45:32"_qs);
    EXPECT_EQ(fmt(EarliestTimestamp, iso), u"0100-01-01"_qs);
}

TEST(ParseTimestamp, TheReadingTableInDayMonthYear)
{
    EXPECT_EQ(parse(u"01/01/0100"_qs), EarliestTimestamp);
    EXPECT_EQ(parse(u"08/12/2026"_qs), at(2026, 12, 8));
    EXPECT_DOUBLE_EQ(parse(u"08/12/26 10:45"_qs), at(2026, 12, 8, 10, 45));
    EXPECT_EQ(parse(u"8/12"_qs), at(2026, 12, 8));
    EXPECT_DOUBLE_EQ(parse(u"10:45"_qs), at(1899, 12, 30, 10, 45));
    for (const char* bad : {"31/02/2026", "abc", "08/12/2026 x", "", "8/", "8/12/2026/1", "08/12/2026 25:00",
                            "08/12/2026 10:60", "10:45:61", "08-12-2026", "/08/12", "1:2:3:4"})
        EXPECT_EQ(parse(QString::fromLatin1(bad)), Marker) << bad;
}

TEST(ParseTimestamp, PartsAndBlanks)
{
    EXPECT_DOUBLE_EQ(parse(u"08/12/2026 10:45:32.750"_qs), at(2026, 12, 8, 10, 45, 32, 750));
    EXPECT_DOUBLE_EQ(parse(u" 8 / 12 / 2026  10 : 45 "_qs), at(2026, 12, 8, 10, 45));
    EXPECT_EQ(parse(u"8/12/"_qs), at(2026, 12, 8));         // one trailing separator
    EXPECT_EQ(parse(u"8/12/2026/"_qs), at(2026, 12, 8));
    EXPECT_DOUBLE_EQ(parse(u"29/12/1899 06:00"_qs), -1.25);  // before day 0 the time is subtracted
}

TEST(ParseTimestamp, YearWindowAroundTheCurrentYear)
{
    EXPECT_EQ(parse(u"1/1/0"_qs), at(2000, 1, 1));
    EXPECT_EQ(parse(u"1/1/75"_qs), at(2075, 1, 1));
    EXPECT_EQ(parse(u"1/1/76"_qs), at(1976, 1, 1));
    EXPECT_EQ(parse(u"1/1/99"_qs), at(1999, 1, 1));
    EXPECT_EQ(parse(u"1/1/100"_qs), at(100, 1, 1));   // three digits: as written
    EXPECT_EQ(parse(u"1/1/026"_qs), at(26, 1, 1));
    // The window moves with the current year.
    EXPECT_EQ(ParseTimestamp(u"1/1/80"_qs, Marker, RegionalSettings::dayMonthYear(), 2040), at(2080, 1, 1));
    EXPECT_EQ(ParseTimestamp(u"1/1/95"_qs, Marker, RegionalSettings::dayMonthYear(), 2040), at(1995, 1, 1));
}

TEST(ParseTimestamp, AmPmBeforeOrAfter)
{
    const auto us = RegionalSettings::monthDayYear12h();
    EXPECT_DOUBLE_EQ(parse(u"12/8/2026 10:45 AM"_qs, us), at(2026, 12, 8, 10, 45));
    EXPECT_DOUBLE_EQ(parse(u"12/8/2026 pm 1:05"_qs, us), at(2026, 12, 8, 13, 5));
    EXPECT_DOUBLE_EQ(parse(u"12:30 AM"_qs, us), at(1899, 12, 30, 0, 30));
    EXPECT_DOUBLE_EQ(parse(u"12:30 PM"_qs, us), at(1899, 12, 30, 12, 30));
    EXPECT_EQ(parse(u"13:00 PM"_qs, us), Marker);
    EXPECT_EQ(parse(u"0:30 AM"_qs, us), Marker);
    // The locale's own words count too.
    RegionalSettings words = us;
    words.amWord = u"da manhã"_qs;
    words.pmWord = u"da tarde"_qs;
    EXPECT_DOUBLE_EQ(parse(u"3:15 da tarde"_qs, words), at(1899, 12, 30, 15, 15));
    EXPECT_DOUBLE_EQ(parse(u"3:15 PM"_qs, words), at(1899, 12, 30, 15, 15));
}

TEST(ParseTimestamp, DateOrderComesFromTheFormat)
{
    const auto us = RegionalSettings::monthDayYear12h();
    const auto iso = RegionalSettings::yearMonthDay();
    EXPECT_EQ(parse(u"12/8/2026"_qs, us), at(2026, 12, 8));
    EXPECT_EQ(parse(u"12/8"_qs, us), at(2026, 12, 8));       // month first
    EXPECT_EQ(parse(u"2026-12-08"_qs, iso), at(2026, 12, 8));
    EXPECT_EQ(parse(u"12-8"_qs, iso), at(2026, 12, 8));      // month then day
    EXPECT_EQ(parse(u"26-12-8"_qs, iso), at(2026, 12, 8));
    // Written in one order, read in another: day and month swap or the text is unreadable.
    EXPECT_EQ(parse(u"08/12/2026"_qs, us), at(2026, 8, 12));
    EXPECT_EQ(parse(u"25/12/2026"_qs, us), Marker);
}

TEST(ParseTimestamp, ReadsBackWhatFormatWritesToTheSecond)
{
    std::mt19937_64 random(20261208);
    std::uniform_real_distribution<double> days(-657434.0, 2958465.0);  // years 100..9999
    for (const auto& settings :
         {RegionalSettings::dayMonthYear(), RegionalSettings::monthDayYear12h(), RegionalSettings::yearMonthDay()}) {
        for (int i = 0; i < 2000; ++i) {
            const DateTimeParts p = DecodeTimestamp(days(random));
            const Timestamp value = EncodeTimestamp(DateTimeParts{p.year, p.month, p.day, p.hour, p.minute, p.second, 0});
            const QString text = FormatTimestamp(value, settings);
            const Timestamp back = ParseTimestamp(text, Marker, settings, 2026);
            ASSERT_NEAR(back, value, 1e-9) << text.toStdString();
        }
    }
    // A timestamp saved with milliseconds reads back without them.
    const auto s = RegionalSettings::dayMonthYear();
    EXPECT_DOUBLE_EQ(parse(FormatTimestamp(at(2026, 12, 8, 10, 45, 32, 750), s)), at(2026, 12, 8, 10, 45, 32));
}

TEST(RegionalSettings, TheCLocaleKeepsFourDigitYears)
{
    std::setlocale(LC_ALL, "C");
    const RegionalSettings s = RegionalSettings::fromProcessLocale();
    EXPECT_EQ(s.shortDateFormat, u"mm/dd/yyyy"_qs);
    EXPECT_EQ(s.dateSeparator, QLatin1Char('/'));
    EXPECT_EQ(s.longTimeFormat, u"hh:nn:ss"_qs);
    EXPECT_EQ(s.timeSeparator, QLatin1Char(':'));
    EXPECT_EQ(s.decimalSeparator, QLatin1Char('.'));
    EXPECT_EQ(s.thousandSeparator, QLatin1Char(','));
    // The never-exported marker survives a write and a read.
    EXPECT_EQ(FormatTimestamp(EarliestTimestamp, s), u"01/01/0100"_qs);
    EXPECT_EQ(ParseTimestamp(FormatTimestamp(EarliestTimestamp, s), Marker, s, 2026), EarliestTimestamp);
}

TEST(FormatNumber, PatternsWithTheLocaleSeparators)
{
    RegionalSettings dot = RegionalSettings::dayMonthYear();
    EXPECT_EQ(FormatNumber(1.5, 4, true, 2, dot), u"0,001.50"_qs);
    EXPECT_EQ(FormatNumber(2048, 4, true, 2, dot), u"2,048.00"_qs);
    EXPECT_EQ(FormatNumber(1234567.891, 4, true, 2, dot), u"1,234,567.89"_qs);
    EXPECT_EQ(FormatNumber(0, 1, false, 2, dot), u"0.00"_qs);
    EXPECT_EQ(FormatNumber(12345.678, 1, false, 2, dot), u"12345.68"_qs);
    RegionalSettings comma = dot;
    comma.decimalSeparator = QLatin1Char(',');
    comma.thousandSeparator = QLatin1Char('.');
    EXPECT_EQ(FormatNumber(1.5, 4, true, 2, comma), u"0.001,50"_qs);
    EXPECT_EQ(FormatNumber(2048, 4, true, 2, comma), u"2.048,00"_qs);
    EXPECT_EQ(FormatNumber(-3.25, 1, false, 2, comma), u"-3,25"_qs);
}
