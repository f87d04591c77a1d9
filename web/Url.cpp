#include "web/Url.h"

#include "platform/Cp1252.h"
#include "platform/Errors.h"

namespace vz {

ParsedUrl ParseUrl(const QString& url) {
    ParsedUrl result;
    QString rest = url;
    rest.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const qsizetype hash = rest.indexOf(QLatin1Char('#'));
    if (hash >= 0) rest.truncate(hash);

    const qsizetype schemeEnd = rest.indexOf(QLatin1String("://"));
    if (schemeEnd >= 0) {
        result.scheme = rest.left(schemeEnd);
        rest.remove(0, schemeEnd + 3);
    }

    // Authority: [user[:password]@]host[:port], up to the next "/".
    qsizetype slash = rest.indexOf(QLatin1Char('/'));
    QString authority = slash >= 0 ? rest.left(slash) : rest;
    rest = slash >= 0 ? rest.mid(slash) : QString();
    const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString credentials = authority.left(at);
        authority.remove(0, at + 1);
        const qsizetype colon = credentials.indexOf(QLatin1Char(':'));
        result.user = colon >= 0 ? credentials.left(colon) : credentials;
        result.password = colon >= 0 ? credentials.mid(colon + 1) : QString();
    }
    const qsizetype colon = authority.indexOf(QLatin1Char(':'));
    result.host = colon >= 0 ? authority.left(colon) : authority;
    result.port = colon >= 0 ? authority.mid(colon + 1) : QString();

    if (rest.isEmpty()) {
        result.path = QStringLiteral("/");
        return result;
    }
    qsizetype queryStart = rest.indexOf(QLatin1Char('?'));
    if (queryStart < 0) queryStart = rest.indexOf(QLatin1Char('='));
    const QString beforeQuery = queryStart >= 0 ? rest.left(queryStart) : rest;
    result.query = queryStart >= 0 ? rest.mid(queryStart) : QString();
    const qsizetype lastSlash = beforeQuery.lastIndexOf(QLatin1Char('/'));
    result.path = beforeQuery.left(lastSlash + 1);
    result.document = beforeQuery.mid(lastSlash + 1);
    return result;
}

UrlEndpoint EndpointOf(const ParsedUrl& url) {
    UrlEndpoint endpoint;
    endpoint.scheme = url.scheme.isEmpty() ? QStringLiteral("http") : url.scheme.toLower();
    endpoint.host = url.host;
    endpoint.secure = endpoint.scheme == QLatin1String("https");
    if (url.port.isEmpty()) {
        if (endpoint.scheme == QLatin1String("http")) endpoint.port = 80;
        else if (endpoint.secure) endpoint.port = 443;
        else throw Error(QString());
    } else {
        bool ok = false;
        const uint port = url.port.toUInt(&ok);
        if (!ok || port == 0 || port > 65535) throw Error(QStringLiteral("Invalid port: ") + url.port);
        endpoint.port = quint16(port);
    }
    return endpoint;
}

QByteArray EncodeRequestPath(const QString& requestPath) {
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray bytes = EncodeCp1252(requestPath);
    QByteArray out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b == 0x7F) {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace vz
