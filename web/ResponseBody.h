#pragma once
// Where the HTTP client puts a response body as it arrives. The receiver
// offers room and the client receives straight into it, so that no block
// is copied on the way: into memory, or into a file's write buffer.

#include <QtGlobal>

namespace vz {

class ResponseBody {
public:
    virtual ~ResponseBody() = default;
    // The length the response announces, told once before its first byte;
    // a hint only: the bytes that actually come are what counts.
    virtual void Expect(qint64 bytes) = 0;
    // Room for the next bytes: at least one and at most maxBytes (> 0);
    // roomBytes receives how many.
    virtual char* Room(qint64 maxBytes, qint64& roomBytes) = 0;
    // The first `count` bytes of the last room now hold the body's next
    // bytes. Told also when a transfer breaks off, for what arrived before.
    virtual void Filled(qint64 count) = 0;
};

}  // namespace vz
