#pragma once
// Where a request to the service goes, from its method and target alone:
// the page the target names, the client identifier it carries, and the
// status that refuses it when the method or the identifier does not fit.
// Worked out before any body is read, and nothing of it touches the disk.

#include <QByteArray>

namespace vz {

struct RequestRoute {
    enum class Page { None, Upload, Download, Removal };

    Page page = Page::None;
    QByteArray clientId;  // percent-decoded
    int refusal = 0;      // 404, 405 or 400; 0 when the request may go on

    static RequestRoute Of(const QByteArray& method, const QByteArray& target);

    // An identifier that can name a file: printable ASCII without path,
    // drive, wildcard or quote characters, not starting with "." or a blank.
    static bool IsSafeClientId(const QByteArray& id);
};

}  // namespace vz
