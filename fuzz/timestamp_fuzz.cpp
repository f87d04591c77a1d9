// ParseTimestamp on any text, in the three kinds of regional settings and
// with odd separators: it never fails on a text, what it reads is a valid
// date and time, and with the standard settings the text FormatTimestamp
// writes for it reads back as the same moment to the second.
//
// Input: one byte choosing the settings, two bytes of the current year,
// then the text (UTF-8).

#include "fuzz/ByteReader.h"
#include "fuzz/FuzzCheck.h"
#include "platform/TimestampText.h"

#include <QString>

using namespace vz;

namespace {

const Timestamp NotRead = -999999999.0;  // a default no valid text gives

bool sameToTheSecond(const DateTimeParts& a, const DateTimeParts& b)
{
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute &&
           a.second == b.second;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::ByteReader in(data, size);
    const uint8_t choice = in.byte();
    const int currentYear = 1 + (in.byte() << 8 | in.byte()) % 9999;
    const QString text = QString::fromUtf8(in.rest());

    RegionalSettings settings;
    switch (choice % 3) {
    case 0: settings = RegionalSettings::dayMonthYear(); break;
    case 1: settings = RegionalSettings::monthDayYear12h(); break;
    default: settings = RegionalSettings::yearMonthDay(); break;
    }
    // Separators and designators of other locales: only reading is checked.
    const bool standard = (choice & 0x04) == 0;
    if (!standard) {
        static const char dateSeparators[] = {'/', '-', '.', ' ', ':'};
        static const char timeSeparators[] = {':', '.', 'h', ' '};
        settings.dateSeparator = QLatin1Char(dateSeparators[(choice >> 3) % 5]);
        settings.timeSeparator = QLatin1Char(timeSeparators[(choice >> 5) % 4]);
        if (choice & 0x80) {
            settings.amWord = QString();
            settings.pmWord = QStringLiteral("p");
        }
    }

    const Timestamp value = ParseTimestamp(text, NotRead, settings, currentYear);
    if (value == NotRead)
        return 0;
    FUZZ_CHECK(value >= EarliestTimestamp - 1000000.0 && value <= 2958466.0, "a value beyond the years 1 to 9999");
    const DateTimeParts parts = DecodeTimestamp(value);
    Timestamp check = 0;
    FUZZ_CHECK(TryEncodeDate(parts.year, parts.month, parts.day, check), "a date that does not exist");
    FUZZ_CHECK(TryEncodeTime(parts.hour, parts.minute, parts.second, parts.millisecond, check),
               "a time of day out of range");
    if (!standard)
        return 0;

    const QString written = FormatTimestamp(value, settings);
    const Timestamp back = ParseTimestamp(written, NotRead, settings, currentYear);
    FUZZ_CHECK(back != NotRead, "FormatTimestamp wrote a text that ParseTimestamp does not read");
    const DateTimeParts backParts = DecodeTimestamp(back);
    FUZZ_CHECK(sameToTheSecond(backParts, parts) && backParts.millisecond == 0,
               "the written text reads back as another moment");
    return 0;
}
