#pragma once
// Starting another program detached: the caller does not wait for it and the
// child is not left as a zombie of this process.

#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

namespace vz {

struct LaunchRequest {
    QString program;           // host path, or a name looked up in PATH
    QStringList arguments;
    QString workingFolder;     // host path; empty: this process's current folder
    // Variables set (or replaced) in the child's environment.
    std::vector<std::pair<QString, QString>> environment;
};

class ProcessLauncher {
public:
    // True when the program was started (not whether it then succeeded).
    static bool startDetached(const LaunchRequest& request);
    // Host path of a program found in PATH, or nothing.
    static std::optional<QString> findInPath(const QString& name);
    // What a host file is to the launcher.
    enum class FileKind { Missing, NativeExecutable, Other };
    // A native executable is a regular file with a run bit for this user that
    // starts with an ELF header or with "#!".
    static FileKind classify(const QString& hostPath);
};

}  // namespace vz
