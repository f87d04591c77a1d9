#pragma once
// The wineserver of a prefix as it runs now. Debian's Wine keeps a server's
// socket below $TMPDIR (in a folder that the prefix's "wineserver" file
// names), so a Wine program started with another TMPDIR than the running
// programs of the prefix does not reach their server: it starts a second
// server for the same prefix and sees none of the first one's windows. The
// running server is found by its working folder, which is its socket's
// folder "server-<device>-<inode>" (of the prefix folder, in hexadecimal).

#include <QString>

namespace vz {

class WineServer {
public:
    enum class State {
        Running,     // a wineserver of the prefix runs; tmpDir is the TMPDIR its clients need
        NotRunning,  // no program of the prefix runs
        Unknown,     // the processes could not be looked at
    };
    struct Lookup {
        State state = State::Unknown;
        QString tmpDir;
    };

    static Lookup Find(const QString& prefixHostPath);
    // "server-<device>-<inode>" of the prefix folder; empty when it cannot be read.
    static QString SocketFolderName(const QString& prefixHostPath);
};

}  // namespace vz
