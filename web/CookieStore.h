#pragma once
// Cookies the web service sets, kept in memory for the life of the process
// and sent back with later requests to the same host and path.

#include "platform/Clock.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <vector>

namespace vz {

// The store is bounded, so that a server cannot make it (and with it the
// "Cookie" header of every later request) grow without end: a cookie whose
// name and value exceed MaxCookieBytes is not kept, and beyond
// MaxCookiesPerDomain cookies or MaxBytesPerDomain bytes of names and values
// under one domain, or MaxCookies in all, the oldest are dropped.
class CookieStore {
public:
    static constexpr int MaxCookieBytes = 4096;
    static constexpr int MaxCookiesPerDomain = 50;
    static constexpr int MaxBytesPerDomain = 16384;
    static constexpr int MaxCookies = 300;

    explicit CookieStore(const Clock& clock) : clock_(clock) {}

    // Takes the "Set-cookie" and "Set-cookie2" values of a response to a
    // request for host and urlPath (the URL's path and document).
    void Store(const QString& host, const QString& urlPath, const QList<QByteArray>& setCookie,
               const QList<QByteArray>& setCookie2);

    // The "Cookie" header value for a request, empty when no cookie fits.
    QByteArray HeaderFor(const QString& host, const QString& urlPath, bool secureChannel);

    int size() const { return int(cookies_.size()); }

private:
    struct Cookie {
        QByteArray name;
        QByteArray value;
        QString domain;  // lower case, no leading "."
        bool hostOnly = true;
        QString path;
        bool secure = false;
        std::optional<qint64> expiresUnixMs;
    };
    void Add(const QString& host, const QString& urlPath, const QByteArray& text, qint64 nowUnixMs);
    void RemoveExpired(qint64 nowUnixMs);
    // Drops the oldest cookies until the domain and the store are within bounds.
    void Bound(const QString& domain);
    qint64 NowUnixMs() const;

    const Clock& clock_;
    std::vector<Cookie> cookies_;  // oldest first
};

// The instant an "expires" attribute names (RFC 1123, RFC 850 or asctime
// form, always UTC), in ms since the Unix epoch.
std::optional<qint64> ParseCookieDate(const QByteArray& text);

}  // namespace vz
