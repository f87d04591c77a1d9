#pragma once
// Header lines of an HTTP message as bytes: names looked up without regard
// to letter case (first occurrence wins), lines that begin with a space or a
// tab continuing the header before them, values trimmed.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <vector>

namespace vz {

class HttpHeaders {
public:
    // Adds one received line (without its line end).
    void AddLine(const QByteArray& line);
    void Clear() { fields_.clear(); }

    bool Has(QByteArrayView name) const;
    QByteArray Value(QByteArrayView name) const;         // empty when absent
    QList<QByteArray> Values(QByteArrayView name) const;  // every occurrence, in order
    // The "Content-Length" value when it is a decimal number of at least 0, else -1.
    qint64 ContentLength() const;

    // Whether a value, trimmed, equals `word` without regard to letter case.
    static bool IsToken(const QByteArray& value, QByteArrayView word);

private:
    struct Field {
        QByteArray name;
        QByteArray value;
    };
    std::vector<Field> fields_;
};

// One request header line, folded when longer than maxLength: broken after a
// space, tab or comma outside double quotes, each continuation beginning with
// one space. The result carries CR LF after every piece.
QByteArray FoldHeaderLine(const QByteArray& line, int maxLength = 78);

}  // namespace vz
