#pragma once
// Faults injected below the platform's file calls, for tests: a full disk, a
// read error, a refused create, a failing rename. The shared library
// vz_faultfs interposes libc's file functions (open, write, read, rename ...),
// so the program's own code runs unchanged and meets the fault where the
// kernel would report it. A test links vz_faultfs and arms one rule at a time;
// a child program gets the same through LD_PRELOAD and VZ_FAULTS (see below).
//
// Which calls a rule meets:
//   NoSpace      write, pwrite(64), writev, pwritev(64)(v2), copy_file_range and
//                sendfile by their destination, fallocate(64),
//                posix_fallocate(64), and ftruncate(64) that grows the file:
//                ENOSPC (posix_fallocate returns it).
//   ReadError    read, pread(64), readv, preadv(64)(v2), their _chk forms, and
//                copy_file_range and sendfile by their source: EIO.
//   CreateDenied open, open64, openat(64), __open(64)_2, __openat(64)_2,
//                creat(64) with O_CREAT or O_TMPFILE, fopen(64) for writing or
//                appending, and the mkstemp family, when the call would create
//                a new file (an existing file still opens): EACCES.
//   RenameFails  rename, renameat, renameat2, link and linkat whose target
//                matches: EIO.
//
// Which files: a path matches when it begins with pathPrefix (plain text
// comparison: end the prefix with "/" to mean that folder only) and contains
// pathContains. Paths are compared in two forms, each against the prefix as
// given and as resolved through symbolic links: as the program named them
// (relative paths taken against the current folder or the dirfd) and as the
// kernel resolves them. For reads and writes a descriptor is judged by the
// path it was opened on, or, when it was not opened through a call seen here
// while armed (opened before arming, or by glibc itself), by the path
// /proc/self/fd reports for it the first time it is used while armed.
//
// Counting: matchingCalls() counts the calls that met the armed rule on a
// matching path (for NoSpace the write-type calls on matching descriptors,
// for ReadError the read-type ones, for CreateDenied the opens that would
// create a file, for RenameFails the renames and links onto a matching
// target). The first afterCalls of them pass. A NoSpace rule with
// afterBytes >= 0 lets that many bytes through in all, counted over every
// matching write since arming: the call that crosses the budget writes the
// part that fits and returns that short count, as a full disk does, and the
// calls after it fail (fallocate and a growing ftruncate fail once the budget
// is spent). failuresInjected() counts the calls that were made to fail (a
// short write is not one). With `once` the rule fails one call, then lets
// every call pass again.
//
// Known holes (calls not seen, so no fault there):
//   - calls glibc makes inside its own functions: stdio's reads and writes
//     (fread, fwrite, fflush, fclose's flush), freopen, tmpfile, opendir,
//     realpath, and the like; fopen and mkstemp themselves are interposed,
//     so their descriptors are tracked and CreateDenied applies to them;
//   - direct system calls (syscall(), io_uring) and memory-mapped files;
//   - splice, vmsplice, truncate() by path, fsync/close errors;
//   - descriptors made by fcntl(F_DUPFD) keep no state of their own: they are
//     judged afresh through /proc/self/fd (so they still match correctly
//     unless their number held a tracked descriptor closed by glibc itself,
//     e.g. through closedir);
//   - descriptors numbered 65536 and above are judged through /proc/self/fd
//     on every call instead of once;
//   - a child between fork and exec: close and dup2 there are safe, but an
//     open while armed takes the rule's lock, which a thread of the parent
//     may have held at the fork (QProcess's child only closes and dups).
// Thread-safe: rules and counters sit behind one mutex, taken only while a
// rule is armed; disarmed, each interposed call costs one relaxed atomic load
// besides the real call.
//
// A child program: LD_PRELOAD=<path of libvz_faultfs.so> and VZ_FAULTS set to
//   kind[:prefix=PATH][:contains=TEXT][:calls=N][:bytes=N][:once]
// with kind one of nospace, readerror, createdenied, renamefails, e.g.
//   VZ_FAULTS="nospace:prefix=/tmp/x:bytes=10000"
// (a PATH may itself hold ':'; only ":prefix=", ":contains=", ":calls=",
// ":bytes=" and ":once" start a new field). An invalid VZ_FAULTS stops the
// program at load with a message. A program built with AddressSanitizer needs
// its runtime first: LD_PRELOAD="<libasan.so> <libvz_faultfs.so>".

#include <string>

#define VZ_FAULTS_EXPORT __attribute__((visibility("default")))

namespace vz::faults {

enum class Fault {
    NoSpace,       // writes on matching descriptors: ENOSPC
    ReadError,     // reads on matching descriptors: EIO
    CreateDenied,  // creating a new file at a matching path: EACCES
    RenameFails,   // renaming or linking onto a matching path: EIO
};

struct Rule {
    Fault fault = Fault::NoSpace;
    std::string pathPrefix;    // absolute (a relative one is taken against the current folder); empty: any path
    std::string pathContains;  // optional extra filter on the same path
    long long afterCalls = 0;  // matching calls that still succeed before the first failure
    long long afterBytes = -1; // NoSpace: bytes that may still be written in all; -1: no budget
    bool once = false;         // fail one call only, then pass again
};

// Arms the rule, replacing any armed one, and resets the counters.
VZ_FAULTS_EXPORT void arm(const Rule& rule);
// Lets every call pass again; the counters keep their values until the next arm.
VZ_FAULTS_EXPORT void disarm();
VZ_FAULTS_EXPORT bool isArmed();
VZ_FAULTS_EXPORT long long failuresInjected();
VZ_FAULTS_EXPORT long long matchingCalls();
// Arms the rule described in VZ_FAULTS form; false (with the reason in
// *error) and nothing armed when the text is not valid.
VZ_FAULTS_EXPORT bool armFromText(const std::string& text, std::string* error = nullptr);

// Arms a rule for a scope (inline: it calls the exported functions).
class [[nodiscard]] ScopedFault {
public:
    explicit ScopedFault(const Rule& rule) { arm(rule); }
    ~ScopedFault() { disarm(); }
    ScopedFault(const ScopedFault&) = delete;
    ScopedFault& operator=(const ScopedFault&) = delete;
};

}  // namespace vz::faults
