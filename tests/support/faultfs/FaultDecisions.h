#pragma once
// What the interposed libc functions ask before and after the real call.
// Every function here leaves errno as it found it, and is called only while
// a rule is armed (armed() is the one check on the disarmed path).

#include <atomic>
#include <cstddef>

namespace vz::faults::detail {

extern std::atomic<bool> armedFlag;

inline bool armed() { return armedFlag.load(std::memory_order_relaxed); }

// The verdict on one write-type call: fail it, or let `allowed` bytes through.
struct WriteGate {
    bool fail = false;
    long long allowed = 0;
    unsigned generation = 0;  // the arming the bytes were counted under
    bool counted = false;     // bytes were taken from a budget
};
WriteGate beginWrite(int fd, long long requestedBytes);
// Gives back the budget a call did not use (it wrote `doneBytes`, or -1).
void endWrite(const WriteGate& gate, long long doneBytes);
// fallocate and ftruncate: true when the call is to fail with ENOSPC.
// newSizeBytes < 0: the call reserves space whatever the size.
bool failGrowth(int fd, long long newSizeBytes);
// read-type calls: true when the call is to fail with EIO.
bool failRead(int fd);
// true when an open of `path` (relative to dirfd) is to fail with EACCES.
bool failCreate(int dirfd, const char* path, bool tmpFile);
// true when a rename or link onto `path` (relative to dirfd) is to fail with EIO.
bool failRenameTo(int dirfd, const char* path);

// Descriptor bookkeeping.
void opened(int fd, int dirfd, const char* path);
void forget(int fd);
void forgetRange(unsigned first, unsigned last);

}  // namespace vz::faults::detail
