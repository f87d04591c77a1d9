#include "platform/ProcessLauncher.h"

#include <QFile>
#include <QFileInfo>
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
    const QFileInfo info(hostPath);
    if (!info.exists())
        return FileKind::Missing;
    if (!info.isFile())
        return FileKind::Other;
    const QByteArray encoded = QFile::encodeName(hostPath);
    if (::access(encoded.constData(), X_OK) != 0)
        return FileKind::Other;
    QFile file(hostPath);
    if (!file.open(QIODevice::ReadOnly))
        return FileKind::Other;
    const QByteArray head = file.read(4);
    if (head.startsWith("\x7f" "ELF") || head.startsWith("#!"))
        return FileKind::NativeExecutable;
    return FileKind::Other;
}

}  // namespace vz
