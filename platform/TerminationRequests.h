#pragma once
// Requests to end the process (SIGTERM, SIGINT, SIGHUP: a logout, a shutdown,
// a kill) as something the window can read. Without this the Firebird
// client's own handler, installed at the first attach, takes these signals
// and the process would no longer end on them.

namespace vz {

class TerminationRequests {
public:
    // Routes the three signals into a pipe and returns its read end, which
    // becomes readable once a request arrived; -1 when that fails. Handlers
    // installed later by a library that chains to earlier ones (the Firebird
    // client does) keep this one working.
    static int install();
    // Empties the pipe after a request was seen.
    static void acknowledge(int readFd);
};

}  // namespace vz
