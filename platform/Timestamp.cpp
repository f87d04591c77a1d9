#include "platform/Timestamp.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace vz {

namespace {

constexpr qint64 MsPerDay = 86400000;
// Day count of 1 January 1970 in the timestamp scale.
constexpr qint64 UnixEpochDay = 25569;

bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : days[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (valid far beyond 1..9999).
qint64 daysFromCivil(qint64 y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<qint64>(doe) - 719468;
}

void civilFromDays(qint64 z, int& year, int& month, int& day)
{
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 y = static_cast<qint64>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

qint64 floorDiv(qint64 a, qint64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

bool TryEncodeDate(int year, int month, int day, Timestamp& result)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month))
        return false;
    result = static_cast<Timestamp>(daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                                    UnixEpochDay);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, Timestamp& result)
{
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
        millisecond > 999)
        return false;
    const qint64 ms = ((static_cast<qint64>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
    result = static_cast<Timestamp>(ms) / MsPerDay;
    return true;
}

Timestamp CombineDateTime(Timestamp date, Timestamp timeOfDay)
{
    // Before day 0 the day part is negative and the time counts back from it.
    return date < 0 ? date - timeOfDay : date + timeOfDay;
}

DateTimeParts DecodeTimestamp(Timestamp value)
{
    const qint64 totalMs = std::llround(value * MsPerDay);
    const qint64 dayPart = totalMs / MsPerDay;  // toward zero: -1.25 is day -1, 06:00
    const qint64 timeMs = std::llabs(totalMs) % MsPerDay;
    DateTimeParts parts;
    civilFromDays(dayPart - UnixEpochDay, parts.year, parts.month, parts.day);
    parts.hour = static_cast<int>(timeMs / 3600000);
    parts.minute = static_cast<int>(timeMs / 60000 % 60);
    parts.second = static_cast<int>(timeMs / 1000 % 60);
    parts.millisecond = static_cast<int>(timeMs % 1000);
    return parts;
}

Timestamp EncodeTimestamp(const DateTimeParts& parts)
{
    Timestamp date = 0, time = 0;
    TryEncodeDate(parts.year, parts.month, parts.day, date);
    TryEncodeTime(parts.hour, parts.minute, parts.second, parts.millisecond, time);
    return CombineDateTime(date, time);
}

Timestamp TimestampFromUnixMs(qint64 unixMs)
{
    const qint64 seconds = floorDiv(unixMs, 1000);
    const int ms = static_cast<int>(unixMs - seconds * 1000);
    const time_t t = static_cast<time_t>(seconds);
    struct tm local {};
    if (!localtime_r(&t, &local))
        return EarliestTimestamp;
    DateTimeParts parts;
    parts.year = local.tm_year + 1900;
    parts.month = local.tm_mon + 1;
    parts.day = local.tm_mday;
    parts.hour = local.tm_hour;
    parts.minute = local.tm_min;
    parts.second = local.tm_sec > 59 ? 59 : local.tm_sec;  // leap seconds
    parts.millisecond = ms;
    return EncodeTimestamp(parts);
}

qint64 UnixMsFromTimestamp(Timestamp value)
{
    const DateTimeParts parts = DecodeTimestamp(value);
    struct tm local {};
    local.tm_year = parts.year - 1900;
    local.tm_mon = parts.month - 1;
    local.tm_mday = parts.day;
    local.tm_hour = parts.hour;
    local.tm_min = parts.minute;
    local.tm_sec = parts.second;
    local.tm_isdst = -1;
    const time_t t = mktime(&local);
    return static_cast<qint64>(t) * 1000 + parts.millisecond;
}

quint32 FatFromTimestamp(Timestamp value)
{
    DateTimeParts p = DecodeTimestamp(value);
    if (p.year < 1980) {
        p = DateTimeParts{1980, 1, 1, 0, 0, 0, 0};
    } else if (p.year > 2107) {
        p = DateTimeParts{2107, 12, 31, 23, 59, 58, 0};
    }
    const quint32 date = (static_cast<quint32>(p.year - 1980) << 9) | (static_cast<quint32>(p.month) << 5) |
                         static_cast<quint32>(p.day);
    const quint32 time = (static_cast<quint32>(p.hour) << 11) | (static_cast<quint32>(p.minute) << 5) |
                         static_cast<quint32>(p.second / 2);
    return (date << 16) | time;
}

Timestamp TimestampFromFat(quint32 fat)
{
    const quint32 date = fat >> 16;
    const quint32 time = fat & 0xFFFF;
    // Archives from elsewhere may hold impossible fields (a zero date is
    // common); bring each into range rather than fail.
    const int year = 1980 + static_cast<int>(date >> 9);
    int month = static_cast<int>((date >> 5) & 0x0F);
    month = month < 1 ? 1 : (month > 12 ? 12 : month);
    int day = static_cast<int>(date & 0x1F);
    day = day < 1 ? 1 : (day > daysInMonth(year, month) ? daysInMonth(year, month) : day);
    int hour = static_cast<int>(time >> 11);
    int minute = static_cast<int>((time >> 5) & 0x3F);
    int second = static_cast<int>((time & 0x1F) * 2);
    hour = hour > 23 ? 23 : hour;
    minute = minute > 59 ? 59 : minute;
    second = second > 59 ? 58 : second;
    return EncodeTimestamp(DateTimeParts{year, month, day, hour, minute, second, 0});
}

}  // namespace vz
