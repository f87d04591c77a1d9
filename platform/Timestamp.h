#pragma once
// The timestamp type: a local date-time held as a day count, whole days since
// 30 December 1899 plus the elapsed fraction of the day. Dates before day 0
// have a negative day part and the time of day subtracted (-1.25 is
// 29 December 1899, 06:00).

#include <QtGlobal>

namespace vz {

using Timestamp = double;

// 1 January 100, 00:00: missing or unreadable timestamps, never-exported
// categories, and the time reported for folders and missing files.
inline constexpr Timestamp EarliestTimestamp = -657434.0;

struct DateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Calendar date to day count; false when the date does not exist (years 1 to 9999).
bool TryEncodeDate(int year, int month, int day, Timestamp& result);
// Time of day as a fraction of a day; false when out of range.
bool TryEncodeTime(int hour, int minute, int second, int millisecond, Timestamp& result);
// Date plus time of day; for dates before day 0 the time is subtracted.
Timestamp CombineDateTime(Timestamp date, Timestamp timeOfDay);
// Splits a timestamp into its calendar parts (milliseconds rounded).
DateTimeParts DecodeTimestamp(Timestamp value);
Timestamp EncodeTimestamp(const DateTimeParts& parts);  // parts must be valid

// Host time (milliseconds since the Unix epoch, UTC) to and from local timestamps.
Timestamp TimestampFromUnixMs(qint64 unixMs);
qint64 UnixMsFromTimestamp(Timestamp value);

// The 2-second local date-time form of the FAT file system (DOS date in the
// high 16 bits, DOS time in the low 16 bits). Years outside 1980..2107 are
// clamped to the ends of that range; seconds are rounded down to even.
quint32 FatFromTimestamp(Timestamp value);
Timestamp TimestampFromFat(quint32 fat);
// The timestamp rounded through the FAT form.
inline Timestamp RoundToFat(Timestamp value) { return TimestampFromFat(FatFromTimestamp(value)); }

}  // namespace vz
