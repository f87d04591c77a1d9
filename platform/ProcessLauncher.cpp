#include "platform/ProcessLauncher.h"

#include "platform/FileSystem.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <unistd.h>

namespace vz {

bool ProcessLauncher::startDetached(const LaunchRequest& request)
{
    QProcess process;
    process.setProgram(request.program);
    process.setArguments(request.arguments);
    if (!request.workingFolder.isEmpty())
        process.setWorkingDirectory(request.workingFolder);
    if (!request.environment.empty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : request.environment)
            env.insert(name, value);
        process.setProcessEnvironment(env);
    }
    // QProcess detaches through a double fork: the child is reparented away
    // from us, so nothing here waits for it or has to reap it.
    return process.startDetached();
}

std::optional<QString> ProcessLauncher::findInPath(const QString& name)
{
    const QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty())
        return std::nullopt;
    return found;
}

ProcessLauncher::FileKind ProcessLauncher::classify(const QString& hostPath)
{
    const auto entry = hostfs::stat(hostPath);
    if (!entry)
        return FileKind::Missing;
    if (entry->isFolder)
        return FileKind::Other;
    const QByteArray encoded = hostfs::encodeName(hostPath);
    if (::access(encoded.constData(), X_OK) != 0)
        return FileKind::Other;
    HostFile file = HostFile::openRead(hostPath, ShareMode::All);
    char head[4] = {};
    if (!file.isOpen() || file.read(head, sizeof head) < 2)
        return FileKind::Other;
    const QByteArray start(head, sizeof head);
    if (start.startsWith("\x7f" "ELF") || start.startsWith("#!"))
        return FileKind::NativeExecutable;
    return FileKind::Other;
}

}  // namespace vz
