#include "platform/RegionalSettings.h"

#include <langinfo.h>
#include <clocale>

namespace vz {

namespace {

struct Converted {
    QString format;
    QChar separator;
    bool twelveHour = false;
};

// Turns a strftime date or time format into the program's format tokens.
// Two-digit years are widened to four: with "yy" the never-exported marker
// (year 100) and every date before 1976 would read back as another year.
Converted convertStrftime(const QByteArray& in, bool time)
{
    Converted out;
    QString fmt;
    auto noteSeparator = [&](QChar c) {
        if (out.separator.isNull())
            out.separator = c;
        fmt += time ? QLatin1Char(':') : QLatin1Char('/');
    };
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in.at(i);
        if (c != '%' || i + 1 >= in.size()) {
            if (c == ' ' || c == ',')
                fmt += QLatin1Char(c);
            else if (!QChar::fromLatin1(c).isLetterOrNumber())
                noteSeparator(QChar::fromLatin1(c));
            else
                fmt += QLatin1Char('"') + QChar::fromLatin1(c) + QLatin1Char('"');
            continue;
        }
        char spec = in.at(++i);
        if (spec == 'E' || spec == 'O') {  // modifiers
            if (i + 1 >= in.size())
                break;
            spec = in.at(++i);
        }
        switch (spec) {
        case 'd': fmt += QStringLiteral("dd"); break;
        case 'e': fmt += QStringLiteral("d"); break;
        case 'm': fmt += QStringLiteral("mm"); break;
        case 'y':
        case 'Y':
        case 'C': fmt += QStringLiteral("yyyy"); break;
        case 'D': fmt += QStringLiteral("mm/dd/yyyy"); out.separator = QLatin1Char('/'); break;
        case 'F': fmt += QStringLiteral("yyyy/mm/dd"); out.separator = QLatin1Char('-'); break;
        case 'H': fmt += QStringLiteral("hh"); break;
        case 'k': fmt += QStringLiteral("h"); break;
        case 'I': fmt += QStringLiteral("hh"); out.twelveHour = true; break;
        case 'l': fmt += QStringLiteral("h"); out.twelveHour = true; break;
        case 'M': fmt += QStringLiteral("nn"); break;
        case 'S': fmt += QStringLiteral("ss"); break;
        case 'p':
        case 'P': fmt += QStringLiteral("ampm"); out.twelveHour = true; break;
        case 'T': fmt += QStringLiteral("hh:nn:ss"); out.separator = QLatin1Char(':'); break;
        case 'R': fmt += QStringLiteral("hh:nn"); out.separator = QLatin1Char(':'); break;
        case 'r': {
            const Converted r = convertStrftime(QByteArray(nl_langinfo(T_FMT_AMPM)), true);
            fmt += r.format;
            if (out.separator.isNull())
                out.separator = r.separator;
            out.twelveHour = true;
            break;
        }
        case '%': noteSeparator(QLatin1Char('%')); break;
        default: break;  // weekday and month names have no place in these formats
        }
    }
    out.format = fmt.trimmed();
    return out;
}

}  // namespace

RegionalSettings RegionalSettings::fromProcessLocale()
{
    RegionalSettings s;
    const Converted date = convertStrftime(QByteArray(nl_langinfo(D_FMT)), false);
    if (!date.format.isEmpty()) {
        s.shortDateFormat = date.format;
        if (!date.separator.isNull())
            s.dateSeparator = date.separator;
    }
    Converted time = convertStrftime(QByteArray(nl_langinfo(T_FMT)), true);
    if (!time.format.isEmpty()) {
        if (time.twelveHour && !time.format.contains(QLatin1String("ampm")))
            time.format += QStringLiteral(" ampm");
        s.longTimeFormat = time.format;
        if (!time.separator.isNull())
            s.timeSeparator = time.separator;
    }
    const QString am = QString::fromLocal8Bit(nl_langinfo(AM_STR));
    const QString pm = QString::fromLocal8Bit(nl_langinfo(PM_STR));
    if (!am.isEmpty())
        s.amWord = am;
    if (!pm.isEmpty())
        s.pmWord = pm;
    const struct lconv* numbers = localeconv();
    if (numbers && numbers->decimal_point && *numbers->decimal_point)
        s.decimalSeparator = QString::fromLocal8Bit(numbers->decimal_point).at(0);
    if (numbers && numbers->thousands_sep && *numbers->thousands_sep)
        s.thousandSeparator = QString::fromLocal8Bit(numbers->thousands_sep).at(0);
    else
        s.thousandSeparator = s.decimalSeparator == QLatin1Char(',') ? QLatin1Char('.') : QLatin1Char(',');
    return s;
}

RegionalSettings RegionalSettings::dayMonthYear() { return RegionalSettings(); }

RegionalSettings RegionalSettings::monthDayYear12h()
{
    RegionalSettings s;
    s.shortDateFormat = QStringLiteral("m/d/yyyy");
    s.longTimeFormat = QStringLiteral("h:nn:ss ampm");
    return s;
}

RegionalSettings RegionalSettings::yearMonthDay()
{
    RegionalSettings s;
    s.shortDateFormat = QStringLiteral("yyyy/mm/dd");
    s.dateSeparator = QLatin1Char('-');
    return s;
}

}  // namespace vz
