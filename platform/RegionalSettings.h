#pragma once
// The user's regional settings that the program's texts follow.
// Format tokens: d, dd, m, mm, yy, yyyy; h, hh, n, nn (minutes), s, ss,
// am/pm (or ampm). In a format, "/" stands for the date separator and ":" for
// the time separator; text in double or single quotes is copied as it is.

#include <QChar>
#include <QString>

namespace vz {

struct RegionalSettings {
    QString shortDateFormat = QStringLiteral("dd/mm/yyyy");
    QString longTimeFormat = QStringLiteral("hh:nn:ss");
    QChar dateSeparator = QLatin1Char('/');
    QChar timeSeparator = QLatin1Char(':');
    QChar decimalSeparator = QLatin1Char('.');
    QChar thousandSeparator = QLatin1Char(',');
    QString amWord = QStringLiteral("AM");
    QString pmWord = QStringLiteral("PM");

    // Built from the process locale (LC_TIME, LC_NUMERIC).
    static RegionalSettings fromProcessLocale();

    // Fixed settings for tests and tools.
    static RegionalSettings dayMonthYear();      // dd/mm/yyyy hh:nn:ss, "." decimals, "," thousands
    static RegionalSettings monthDayYear12h();   // m/d/yyyy h:nn:ss AM/PM
    static RegionalSettings yearMonthDay();      // yyyy-mm-dd hh:nn:ss
};

}  // namespace vz
