#include "web/HttpHeaders.h"

#include <algorithm>

namespace vz {

void HttpHeaders::AddLine(const QByteArray& line) {
    if ((line.startsWith(' ') || line.startsWith('\t')) && !fields_.empty()) {
        Field& last = fields_.back();
        const QByteArray more = line.trimmed();
        // Appended in place: copying the whole value for each line would make
        // a long run of continuation lines cost time quadratic in its length.
        if (!more.isEmpty()) {
            if (!last.value.isEmpty()) last.value.append(' ');
            last.value.append(more);
        }
        return;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon < 0) {
        fields_.push_back({line.trimmed(), QByteArray()});
        return;
    }
    fields_.push_back({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
}

bool HttpHeaders::Has(QByteArrayView name) const {
    for (const Field& f : fields_)
        if (f.name.compare(name, Qt::CaseInsensitive) == 0) return true;
    return false;
}

QByteArray HttpHeaders::Value(QByteArrayView name) const {
    for (const Field& f : fields_)
        if (f.name.compare(name, Qt::CaseInsensitive) == 0) return f.value;
    return QByteArray();
}

QList<QByteArray> HttpHeaders::Values(QByteArrayView name) const {
    QList<QByteArray> result;
    for (const Field& f : fields_)
        if (f.name.compare(name, Qt::CaseInsensitive) == 0) result.append(f.value);
    return result;
}

qint64 HttpHeaders::ContentLength() const {
    const QByteArray value = Value("Content-Length");
    if (value.isEmpty()) return -1;
    qint64 length = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') return -1;
        if (length > (Q_INT64_C(0x7FFFFFFFFFFFFFFF) - 9) / 10) return -1;
        length = length * 10 + (c - '0');
    }
    return length;
}

bool HttpHeaders::IsToken(const QByteArray& value, QByteArrayView word) {
    return value.trimmed().compare(word, Qt::CaseInsensitive) == 0;
}

QByteArray FoldHeaderLine(const QByteArray& line, int maxLength) {
    // The piece still to be written is the rest of the line from `start`,
    // preceded by one space once it is a continuation. It is looked at in
    // place: copying the remainder for every piece would cost time
    // quadratic in the line's length.
    QByteArray out;
    out.reserve(line.size() + 2 + 3 * (line.size() / std::max(maxLength, 1) + 1));
    qsizetype start = 0;
    bool continuation = false;
    const auto restSize = [&] { return (continuation ? 1 : 0) + line.size() - start; };
    const auto restAt = [&](qsizetype i) { return line.at(start + i - (continuation ? 1 : 0)); };
    while (restSize() > maxLength) {
        // Break after the last break character that keeps the piece within
        // the limit, or else after the first one there is.
        qsizetype lastFitting = -1, first = -1;
        bool quoted = false;
        // A continuation's own leading space is no break point.
        for (qsizetype i = continuation ? 1 : 0; i < restSize() - 1; ++i) {
            const char c = restAt(i);
            if (c == '"') quoted = !quoted;
            if (quoted || (c != ' ' && c != '\t' && c != ',')) continue;
            if (first < 0) first = i;
            if (i + 1 <= maxLength) lastFitting = i;
            else break;
        }
        const qsizetype breakAt = lastFitting >= 0 ? lastFitting : first;
        if (breakAt < 0) break;
        // The piece is the rest's first breakAt + 1 characters.
        const qsizetype fromLine = continuation ? breakAt : breakAt + 1;
        if (continuation) out += ' ';
        out.append(line.constData() + start, fromLine);
        out += "\r\n";
        start += fromLine;
        continuation = true;
    }
    if (continuation) out += ' ';
    out.append(line.constData() + start, line.size() - start);
    out += "\r\n";
    return out;
}

}  // namespace vz
