#include "platform/TimestampText.h"

#include <optional>

namespace vz {

namespace {

QString padded(int value, int width) { return QString::number(value).rightJustified(width, QLatin1Char('0')); }

bool hasAmPm(const QString& format)
{
    const QString lower = format.toLower();
    return lower.contains(QLatin1String("ampm")) || lower.contains(QLatin1String("am/pm")) ||
           lower.contains(QLatin1String("a/p"));
}

// Writes one of the short date / long time formats for the given parts.
QString applyFormat(const QString& format, const DateTimeParts& p, const RegionalSettings& s)
{
    QString out;
    const bool twelveHour = hasAmPm(format);
    bool lastWasHour = false;
    qsizetype i = 0;
    auto runLength = [&](QChar c) {
        qsizetype n = 0;
        while (i + n < format.size() && format.at(i + n).toLower() == c)
            ++n;
        return n;
    };
    while (i < format.size()) {
        const QChar c = format.at(i);
        const QChar lc = c.toLower();
        if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            const qsizetype end = format.indexOf(c, i + 1);
            const qsizetype stop = end < 0 ? format.size() : end;
            out += format.mid(i + 1, stop - i - 1);
            i = stop + 1;
            continue;
        }
        if (c == QLatin1Char('/')) {
            out += s.dateSeparator;
            ++i;
            continue;
        }
        if (c == QLatin1Char(':')) {
            out += s.timeSeparator;
            ++i;
            continue;
        }
        if (lc == QLatin1Char('a')) {
            const QString rest = format.mid(i);
            const bool pm = p.hour >= 12;
            if (rest.startsWith(QLatin1String("ampm"), Qt::CaseInsensitive)) {
                out += pm ? s.pmWord : s.amWord;
                i += 4;
            } else if (rest.startsWith(QLatin1String("am/pm"), Qt::CaseInsensitive)) {
                const QString word = pm ? QStringLiteral("pm") : QStringLiteral("am");
                out += rest.at(0).isUpper() ? word.toUpper() : word;
                i += 5;
            } else if (rest.startsWith(QLatin1String("a/p"), Qt::CaseInsensitive)) {
                const QString word = pm ? QStringLiteral("p") : QStringLiteral("a");
                out += rest.at(0).isUpper() ? word.toUpper() : word;
                i += 3;
            } else {
                out += c;
                ++i;
            }
            lastWasHour = false;
            continue;
        }
        const qsizetype n = runLength(lc);
        if (lc == QLatin1Char('d')) {
            out += n == 1 ? QString::number(p.day) : padded(p.day, 2);
        } else if (lc == QLatin1Char('m') && !lastWasHour) {
            out += n == 1 ? QString::number(p.month) : padded(p.month, 2);
        } else if (lc == QLatin1Char('m') || lc == QLatin1Char('n')) {
            out += n == 1 ? QString::number(p.minute) : padded(p.minute, 2);
        } else if (lc == QLatin1Char('y')) {
            out += n <= 2 ? padded(p.year % 100, 2) : padded(p.year, 4);
        } else if (lc == QLatin1Char('h')) {
            int hour = p.hour;
            if (twelveHour) {
                hour %= 12;
                if (hour == 0)
                    hour = 12;
            }
            out += n == 1 ? QString::number(hour) : padded(hour, 2);
        } else if (lc == QLatin1Char('s')) {
            out += n == 1 ? QString::number(p.second) : padded(p.second, 2);
        } else if (lc == QLatin1Char('z')) {
            out += n >= 3 ? padded(p.millisecond, 3) : QString::number(p.millisecond);
        } else {
            out += format.mid(i, n);
        }
        lastWasHour = lc == QLatin1Char('h');
        i += n;
    }
    return out;
}

enum class DateOrder { DMY, MDY, YMD };

DateOrder dateOrder(const QString& format)
{
    bool quoted = false;
    QChar quote;
    for (QChar c : format) {
        if (quoted) {
            quoted = c != quote;
            continue;
        }
        if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            quoted = true;
            quote = c;
            continue;
        }
        switch (c.toLower().unicode()) {
        case 'd': return DateOrder::DMY;
        case 'm': return DateOrder::MDY;
        case 'y': return DateOrder::YMD;
        default: break;
        }
    }
    return DateOrder::DMY;
}

// A cursor over the text being parsed.
class Scanner {
public:
    explicit Scanner(const QString& text, qsizetype pos = 0) : text_(&text), pos_(pos) {}

    qsizetype pos() const { return pos_; }
    bool atEnd() const { return pos_ >= text_->size(); }
    void skipBlanks()
    {
        while (pos_ < text_->size() && text_->at(pos_) == QLatin1Char(' '))
            ++pos_;
    }
    bool take(QChar c)
    {
        if (pos_ < text_->size() && text_->at(pos_) == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    // A whole number; digits receives how many digits it had.
    std::optional<int> number(int* digits = nullptr)
    {
        qsizetype n = 0;
        qint64 value = 0;
        while (pos_ + n < text_->size() && text_->at(pos_ + n).isDigit() && text_->at(pos_ + n).unicode() < 128) {
            value = value * 10 + (text_->at(pos_ + n).unicode() - '0');
            if (++n > 9)
                return std::nullopt;
        }
        if (n == 0)
            return std::nullopt;
        pos_ += n;
        if (digits)
            *digits = static_cast<int>(n);
        return static_cast<int>(value);
    }
    // The AM or PM designator: the locale's words or "AM"/"PM".
    std::optional<bool> amPm(const RegionalSettings& s)
    {
        const QString rest = text_->mid(pos_);
        const std::pair<QString, bool> words[] = {
            {s.amWord, false}, {s.pmWord, true}, {QStringLiteral("AM"), false}, {QStringLiteral("PM"), true}};
        for (const auto& [word, pm] : words) {
            if (!word.isEmpty() && rest.startsWith(word, Qt::CaseInsensitive)) {
                pos_ += word.size();
                return pm;
            }
        }
        return std::nullopt;
    }

private:
    const QString* text_;
    qsizetype pos_;
};

int expandYear(int year, int digits, int currentYear)
{
    if (digits > 2)
        return year;
    const int centuryBase = currentYear - 50;
    year += centuryBase / 100 * 100;
    if (year < centuryBase)
        year += 100;
    return year;
}

std::optional<Timestamp> scanDate(Scanner& sc, const RegionalSettings& s, int currentYear)
{
    int numbers[3] = {0, 0, 0};
    int digits[3] = {0, 0, 0};
    sc.skipBlanks();
    auto first = sc.number(&digits[0]);
    if (!first)
        return std::nullopt;
    numbers[0] = *first;
    int count = 1;
    while (count < 3) {
        Scanner probe = sc;
        probe.skipBlanks();
        if (!probe.take(s.dateSeparator))
            break;
        probe.skipBlanks();
        auto n = probe.number(&digits[count]);
        if (!n) {
            if (count >= 2)
                sc = probe;  // the one trailing separator after the numbers
            break;
        }
        numbers[count++] = *n;
        sc = probe;
    }
    if (count < 2)
        return std::nullopt;
    if (count == 3) {
        Scanner probe = sc;
        probe.skipBlanks();
        if (probe.take(s.dateSeparator))
            sc = probe;
    }

    int day = 0, month = 0, year = currentYear;
    const DateOrder order = dateOrder(s.shortDateFormat);
    if (count == 2) {
        if (order == DateOrder::DMY) {
            day = numbers[0];
            month = numbers[1];
        } else {
            month = numbers[0];
            day = numbers[1];
        }
    } else {
        switch (order) {
        case DateOrder::DMY:
            day = numbers[0], month = numbers[1], year = expandYear(numbers[2], digits[2], currentYear);
            break;
        case DateOrder::MDY:
            month = numbers[0], day = numbers[1], year = expandYear(numbers[2], digits[2], currentYear);
            break;
        case DateOrder::YMD:
            year = expandYear(numbers[0], digits[0], currentYear), month = numbers[1], day = numbers[2];
            break;
        }
    }
    Timestamp date = 0;
    if (!TryEncodeDate(year, month, day, date))
        return std::nullopt;
    return date;
}

// A time running to the end of the text.
std::optional<Timestamp> scanTime(Scanner& sc, const RegionalSettings& s)
{
    sc.skipBlanks();
    std::optional<bool> pm = sc.amPm(s);
    sc.skipBlanks();
    auto hour = sc.number();
    if (!hour)
        return std::nullopt;
    sc.skipBlanks();
    if (!sc.take(s.timeSeparator))
        return std::nullopt;
    sc.skipBlanks();
    auto minute = sc.number();
    if (!minute)
        return std::nullopt;
    int second = 0, ms = 0;
    sc.skipBlanks();
    if (sc.take(s.timeSeparator)) {
        sc.skipBlanks();
        auto sec = sc.number();
        if (!sec)
            return std::nullopt;
        second = *sec;
        if (sc.take(s.decimalSeparator)) {
            auto milli = sc.number();
            if (!milli)
                return std::nullopt;
            ms = *milli;
        }
    }
    sc.skipBlanks();
    if (!pm)
        pm = sc.amPm(s);
    sc.skipBlanks();
    if (!sc.atEnd())
        return std::nullopt;
    int h = *hour;
    if (pm) {
        if (h < 1 || h > 12)
            return std::nullopt;
        if (h == 12)
            h = 0;
        if (*pm)
            h += 12;
    }
    Timestamp time = 0;
    if (!TryEncodeTime(h, *minute, second, ms, time))
        return std::nullopt;
    return time;
}

}  // namespace

QString FormatTimestamp(Timestamp value, const RegionalSettings& settings)
{
    const DateTimeParts parts = DecodeTimestamp(value);
    QString text = applyFormat(settings.shortDateFormat, parts, settings);
    if (parts.hour != 0 || parts.minute != 0 || parts.second != 0)
        text += QLatin1Char(' ') + applyFormat(settings.longTimeFormat, parts, settings);
    return text;
}

Timestamp ParseTimestamp(const QString& text, Timestamp defaultValue, const RegionalSettings& settings,
                         int currentYear)
{
    if (text.isEmpty())
        return defaultValue;
    Scanner sc(text);
    if (auto date = scanDate(sc, settings, currentYear)) {
        sc.skipBlanks();
        if (sc.atEnd())
            return *date;
        Scanner timeScanner(text, sc.pos());
        if (auto time = scanTime(timeScanner, settings))
            return CombineDateTime(*date, *time);
    }
    Scanner whole(text);
    if (auto time = scanTime(whole, settings))
        return *time;
    return defaultValue;
}

QString FormatNumber(double value, int minIntegerDigits, bool grouping, int decimals, const RegionalSettings& settings)
{
    const bool negative = value < 0;
    const QString plain = QString::number(negative ? -value : value, 'f', decimals);
    const qsizetype dot = plain.indexOf(QLatin1Char('.'));
    QString integer = dot < 0 ? plain : plain.left(dot);
    const QString fraction = dot < 0 ? QString() : plain.mid(dot + 1);
    integer = integer.rightJustified(minIntegerDigits, QLatin1Char('0'));
    if (grouping) {
        for (qsizetype pos = integer.size() - 3; pos > 0; pos -= 3)
            integer.insert(pos, settings.thousandSeparator);
    }
    bool nonZero = false;
    for (QChar c : plain)
        nonZero = nonZero || (c.isDigit() && c != QLatin1Char('0'));
    QString out = negative && nonZero ? QStringLiteral("-") : QString();
    out += integer;
    if (decimals > 0)
        out += settings.decimalSeparator + fraction;
    return out;
}

}  // namespace vz
