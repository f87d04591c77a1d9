#pragma once
// Reads a "multipart/form-data" body as it streams in: parts are reported
// with their header lines and their data in pieces, never held whole.

#include "web/HttpHeaders.h"

#include <QByteArray>
#include <functional>
#include <memory>

namespace vz {

class MultipartReader {
public:
    explicit MultipartReader(const QByteArray& boundary);
    ~MultipartReader();

    // A part begins: its headers.
    std::function<void(const HttpHeaders& headers)> OnPartBegin;
    // Some of the current part's data.
    std::function<void(const char* data, qint64 size)> OnPartData;
    // The current part's data is complete.
    std::function<void()> OnPartEnd;

    // Takes the next bytes of the body; false once the body is malformed,
    // which includes a part head of more than 16 KiB or 64 lines.
    bool Feed(const char* data, qint64 size);
    // The closing delimiter has been read.
    bool Finished() const;

    // The "boundary" parameter of a Content-Type value, empty when none.
    static QByteArray BoundaryOf(const QByteArray& contentType);
    // A parameter of a Content-Disposition value ("name", "filename"): the
    // text between the double quotes, taken up to the quote that ends the
    // parameter, so that a file name may itself hold quotes.
    static QByteArray DispositionParameter(const QByteArray& disposition, const QByteArray& name);

private:
    struct State;
    std::unique_ptr<State> d_;
};

}  // namespace vz
