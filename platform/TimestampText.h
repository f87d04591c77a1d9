#pragma once
// Timestamps as the user's regional short-date and long-time text, and back.

#include "platform/RegionalSettings.h"
#include "platform/Timestamp.h"

#include <QString>

namespace vz {

// The date in the short date format; then, when the time of day has a
// non-zero hour, minute or second, one blank and the time in the long time
// format. Milliseconds are never written.
QString FormatTimestamp(Timestamp value, const RegionalSettings& settings);

// The value the text denotes, or defaultValue when the text is empty or not a
// valid timestamp text. currentYear fills in two-number dates and places
// one- and two-digit years in the hundred-year window that begins fifty years
// before it.
Timestamp ParseTimestamp(const QString& text, Timestamp defaultValue, const RegionalSettings& settings,
                         int currentYear);

// Formats a number like the patterns "0.00" and "0,000.00": at least
// minIntegerDigits integer digits (zero padded), grouped by thousands when
// grouping is set, exactly `decimals` decimals, with the locale's separators.
QString FormatNumber(double value, int minIntegerDigits, bool grouping, int decimals,
                     const RegionalSettings& settings);

}  // namespace vz
