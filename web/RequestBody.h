#pragma once
// A request body the HTTP client sends straight from its source in blocks.

#include <QString>
#include <QtGlobal>

namespace vz {

class RequestBody {
public:
    virtual ~RequestBody() = default;
    virtual qint64 Length() const = 0;         // sent as "Content-Length"
    virtual QString ContentType() const = 0;   // sent as "Content-Type"
    virtual void Rewind() = 0;                 // the next Read starts at the first byte
    // Fills buffer with the next bytes; fewer than count only at the end, 0 after it.
    virtual qint64 Read(char* buffer, qint64 count) = 0;
};

}  // namespace vz
