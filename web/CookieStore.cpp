#include "web/CookieStore.h"

#include "platform/Cp1252.h"
#include "platform/Timestamp.h"

#include <QDateTime>
#include <QStringList>
#include <QTimeZone>
#include <algorithm>

namespace vz {

namespace {

// Splits at `separator` outside double quotes.
QList<QByteArray> splitOutsideQuotes(const QByteArray& text, char separator) {
    QList<QByteArray> parts;
    QByteArray current;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') quoted = !quoted;
        if (c == separator && !quoted) {
            parts.append(current);
            current.clear();
        } else {
            current += c;
        }
    }
    parts.append(current);
    return parts;
}

QByteArray unquote(const QByteArray& value) {
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"')) return value.mid(1, value.size() - 2);
    return value;
}

bool hasControlCharacters(const QByteArray& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F;
    });
}

// A dotted IPv4 address or a bracketed IPv6 one: it has no parent
// domains, and its trailing labels ("0.0.1") name no one.
bool isAddress(const QString& host) {
    if (host.startsWith(QLatin1Char('[')) || host.contains(QLatin1Char(':'))) return true;
    const QStringList labels = host.split(QLatin1Char('.'));
    if (labels.size() != 4) return false;
    for (const QString& label : labels) {
        bool ok = false;
        const uint value = label.toUInt(&ok);
        if (!ok || value > 255 || label.isEmpty()) return false;
    }
    return true;
}

// The host itself, or a host below the cookie's domain; an address matches
// only itself.
bool domainMatches(const QString& host, const QString& domain) {
    const QString h = host.toLower();
    if (h == domain) return true;
    return !isAddress(h) && h.endsWith(QLatin1Char('.') + domain);
}

// Equal paths, or the cookie's path a prefix ending at a "/".
bool pathMatches(const QString& urlPath, const QString& cookiePath) {
    if (!urlPath.startsWith(cookiePath)) return false;
    return urlPath.size() == cookiePath.size() || cookiePath.endsWith(QLatin1Char('/')) ||
           urlPath.at(cookiePath.size()) == QLatin1Char('/');
}

QString defaultPath(const QString& urlPath) {
    const qsizetype slash = urlPath.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : urlPath.left(slash);
}

}  // namespace

std::optional<qint64> ParseCookieDate(const QByteArray& text) {
    static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    int day = -1, month = -1, year = -1, hour = -1, minute = 0, second = 0;
    QByteArray token;
    const QByteArray padded = text + ' ';
    for (const char c : padded) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ':') {
            token += c;
            continue;
        }
        if (token.isEmpty()) continue;
        bool ok = false;
        const int number = token.toInt(&ok);
        if (token.contains(':') && hour < 0) {
            const QList<QByteArray> hms = token.split(':');
            hour = hms.value(0).toInt();
            minute = hms.value(1).toInt();
            second = hms.value(2).toInt();
        } else if (ok && token.size() <= 2 && day < 0) {
            day = number;
        } else if (ok && year < 0) {
            year = token.size() <= 2 ? (number < 70 ? 2000 + number : 1900 + number) : number;
        } else if (!ok && month < 0 && token.size() >= 3) {
            const QByteArray m = token.left(3).toLower();
            for (int i = 0; i < 12; ++i)
                if (m == months[i]) month = i + 1;
        }
        token.clear();
    }
    const QDate date(year, month, day);
    const QTime time(hour < 0 ? 0 : hour, minute, second);
    if (!date.isValid() || !time.isValid()) return std::nullopt;
    return QDateTime(date, time, QTimeZone::utc()).toMSecsSinceEpoch();
}

qint64 CookieStore::NowUnixMs() const { return UnixMsFromTimestamp(clock_.now()); }

void CookieStore::Store(const QString& host, const QString& urlPath, const QList<QByteArray>& setCookie,
                        const QList<QByteArray>& setCookie2) {
    if (setCookie.isEmpty() && setCookie2.isEmpty()) return;
    const qint64 now = NowUnixMs();
    for (const QByteArray& value : setCookie) Add(host, urlPath, value, now);
    // Set-cookie2 may carry several cookies separated by commas.
    for (const QByteArray& value : setCookie2)
        for (const QByteArray& one : splitOutsideQuotes(value, ',')) Add(host, urlPath, one, now);
    RemoveExpired(now);
}

void CookieStore::Add(const QString& host, const QString& urlPath, const QByteArray& text, qint64 nowUnixMs) {
    const QList<QByteArray> items = splitOutsideQuotes(text, ';');
    const QByteArray pair = items.value(0).trimmed();
    const qsizetype eq = pair.indexOf('=');
    if (eq <= 0) return;
    Cookie cookie;
    cookie.name = pair.left(eq).trimmed();
    cookie.value = pair.mid(eq + 1).trimmed();
    // A value that could end the request's header line is not kept, nor
    // one larger than any service needs.
    if (hasControlCharacters(cookie.name) || hasControlCharacters(cookie.value)) return;
    if (cookie.name.size() + cookie.value.size() > MaxCookieBytes) return;
    cookie.domain = host.toLower();
    cookie.path = defaultPath(urlPath);
    std::optional<qint64> maxAgeExpiry;
    for (qsizetype i = 1; i < items.size(); ++i) {
        const QByteArray item = items.at(i).trimmed();
        const qsizetype ieq = item.indexOf('=');
        const QByteArray key = (ieq < 0 ? item : item.left(ieq)).trimmed().toLower();
        const QByteArray value = ieq < 0 ? QByteArray() : unquote(item.mid(ieq + 1).trimmed());
        if (key == "domain" && !value.isEmpty()) {
            QString domain = DecodeCp1252(value).toLower();
            while (domain.startsWith(QLatin1Char('.'))) domain.remove(0, 1);
            if (!domainMatches(host, domain)) return;  // a domain that does not fit the host
            // A single label ("com") would reach every host under it, and
            // an address has no domain to share: a cookie that names its own
            // host so stays with that host; any other is refused.
            if (!domain.contains(QLatin1Char('.')) || isAddress(domain)) {
                if (domain != host.toLower()) return;
                continue;
            }
            cookie.domain = domain;
            cookie.hostOnly = false;
        } else if (key == "path" && value.startsWith('/')) {
            cookie.path = DecodeCp1252(value);
        } else if (key == "secure") {
            cookie.secure = true;
        } else if (key == "max-age") {
            bool ok = false;
            const qint64 seconds = value.toLongLong(&ok);
            if (ok) maxAgeExpiry = seconds <= 0 ? nowUnixMs - 1 : nowUnixMs + std::min<qint64>(seconds, Q_INT64_C(1) << 40) * 1000;
        } else if (key == "expires" && !cookie.expiresUnixMs) {
            cookie.expiresUnixMs = ParseCookieDate(value);
        }
    }
    if (maxAgeExpiry) cookie.expiresUnixMs = maxAgeExpiry;

    const auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& c) {
        return c.name == cookie.name && c.domain == cookie.domain && c.path == cookie.path;
    });
    if (same != cookies_.end()) *same = cookie;
    else cookies_.push_back(cookie);
    Bound(cookie.domain);
}

void CookieStore::Bound(const QString& domain) {
    int count = 0;
    qint64 bytes = 0;
    for (const Cookie& c : cookies_) {
        if (c.domain != domain) continue;
        ++count;
        bytes += c.name.size() + c.value.size();
    }
    // Oldest first, within the domain, then in all.
    const auto over = [&] { return count > MaxCookiesPerDomain || bytes > MaxBytesPerDomain; };
    for (auto it = cookies_.begin(); it != cookies_.end() && over();) {
        if (it->domain != domain) {
            ++it;
            continue;
        }
        --count;
        bytes -= it->name.size() + it->value.size();
        it = cookies_.erase(it);
    }
    if (cookies_.size() > size_t(MaxCookies))
        cookies_.erase(cookies_.begin(), cookies_.begin() + qsizetype(cookies_.size() - size_t(MaxCookies)));
}

void CookieStore::RemoveExpired(qint64 nowUnixMs) {
    cookies_.erase(std::remove_if(cookies_.begin(), cookies_.end(),
                                  [&](const Cookie& c) { return c.expiresUnixMs && *c.expiresUnixMs <= nowUnixMs; }),
                   cookies_.end());
}

QByteArray CookieStore::HeaderFor(const QString& host, const QString& urlPath, bool secureChannel) {
    if (cookies_.empty()) return QByteArray();
    RemoveExpired(NowUnixMs());
    std::vector<const Cookie*> chosen;
    for (const Cookie& c : cookies_) {
        const bool hostFits = c.hostOnly ? host.toLower() == c.domain : domainMatches(host, c.domain);
        if (hostFits && pathMatches(urlPath, c.path) && (secureChannel || !c.secure)) chosen.push_back(&c);
    }
    std::stable_sort(chosen.begin(), chosen.end(), [](const Cookie* a, const Cookie* b) { return a->path > b->path; });
    QByteArray header;
    for (const Cookie* c : chosen) {
        if (!header.isEmpty()) header += "; ";
        header += c->name + '=' + c->value;
    }
    return header;
}

}  // namespace vz
