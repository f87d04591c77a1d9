#pragma once
// URLs as the HTTP client reads them: "\" taken as "/", an optional user
// and password, host, port, and the rest split into path, document and
// query. A "#" and all after it are dropped; nothing is decoded.

#include <QByteArray>
#include <QString>

namespace vz {

struct ParsedUrl {
    QString scheme;    // text before "://"; empty when there is none
    QString user;
    QString password;
    QString host;
    QString port;      // as written; empty when the URL names none
    QString path;      // from "/" up to and including the last "/" before the query
    QString document;  // between path and query
    QString query;     // from the first "?" (or, without one, the first "=")

    QString requestPath() const { return path + document + query; }
};

ParsedUrl ParseUrl(const QString& url);

// Where a URL's requests go. The scheme decides the default port and
// whether the connection is secure (TLS).
struct UrlEndpoint {
    QString scheme;  // lower case; "http" when the URL names none
    QString host;
    quint16 port = 80;
    bool secure = false;  // "https"
};

// Raises vz::Error for a port that is not a number from 1 to 65535, and
// (with an empty message) for a scheme other than http and https that
// names no port.
UrlEndpoint EndpointOf(const ParsedUrl& url);

// The request path as it goes on the wire: Windows-1252 bytes, with spaces
// and control characters percent-encoded so that they can neither break the
// request line nor start a header line of their own.
QByteArray EncodeRequestPath(const QString& requestPath);

}  // namespace vz
