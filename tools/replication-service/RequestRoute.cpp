#include "tools/replication-service/RequestRoute.h"

#include <QByteArrayList>
#include <QByteArrayView>

namespace vz {

namespace {

// The value of one query parameter, percent-decoded.
QByteArray queryValue(const QByteArray& query, const QByteArray& key) {
    for (const QByteArray& pair : query.split('&')) {
        const qsizetype eq = pair.indexOf('=');
        if (eq >= 0 && pair.left(eq) == key) return QByteArray::fromPercentEncoding(pair.mid(eq + 1));
    }
    return QByteArray();
}

}  // namespace

RequestRoute RequestRoute::Of(const QByteArray& method, const QByteArray& target) {
    const qsizetype question = target.indexOf('?');
    const QByteArray path = question >= 0 ? target.left(question) : target;
    const QByteArray query = question >= 0 ? target.mid(question + 1) : QByteArray();
    const QByteArray prefix = "/Zuvavivevo/";
    const QByteArray downloadPrefix = prefix + "Replicacao/";

    RequestRoute route;
    if (path == prefix + "Upload.aspx") {
        route.page = Page::Upload;
        route.clientId = queryValue(query, "guid");
    } else if (path == prefix + "Remover.aspx") {
        route.page = Page::Removal;
        route.clientId = queryValue(query, "guid");
    } else if (path.startsWith(downloadPrefix) && path.endsWith(".zip")) {
        route.page = Page::Download;
        route.clientId = QByteArray::fromPercentEncoding(
            path.mid(downloadPrefix.size(), path.size() - downloadPrefix.size() - 4));
    }

    if (route.page == Page::None)
        route.refusal = 404;
    else if ((route.page == Page::Upload) != (method == "POST") || (route.page != Page::Upload && method != "GET"))
        route.refusal = 405;
    else if (!IsSafeClientId(route.clientId))
        route.refusal = 400;
    return route;
}

bool RequestRoute::IsSafeClientId(const QByteArray& id) {
    if (id.isEmpty() || id.size() > 200 || id.startsWith('.') || id.startsWith(' ') || id.endsWith(' ')) return false;
    for (const char c : id) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F) return false;
        if (QByteArrayView("/\\:*?\"<>|%").contains(c)) return false;
    }
    return true;
}

}  // namespace vz
