#include "platform/WineServer.h"

#include "platform/FileSystem.h"

#include <QByteArray>

#include <cstdio>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vz {

namespace {

QByteArray ReadLink(const QByteArray& path)
{
    QByteArray target(4096, '\0');
    const ssize_t length = ::readlink(path.constData(), target.data(), static_cast<size_t>(target.size()));
    if (length <= 0 || length >= target.size())
        return {};
    target.truncate(length);
    return target;
}

QByteArray Command(const QByteArray& processFolder)
{
    QByteArray name(64, '\0');
    const QByteArray path = processFolder + "/comm";
    FILE* file = std::fopen(path.constData(), "re");
    if (file == nullptr)
        return {};
    const size_t length = std::fread(name.data(), 1, static_cast<size_t>(name.size()), file);
    std::fclose(file);
    name.truncate(static_cast<qsizetype>(length));
    return name.trimmed();
}

// The folder two levels up: $TMPDIR/wine-XXXXXX/server-... gives $TMPDIR
// (and /tmp/.wine-UID/server-... of Wine's own layout gives /tmp).
QByteArray TmpDirOf(const QByteArray& socketFolder)
{
    QByteArray folder = socketFolder;
    for (int up = 0; up < 2; ++up) {
        const qsizetype cut = folder.lastIndexOf('/');
        folder.truncate(cut > 0 ? cut : 1);
    }
    return folder;
}

}  // namespace

QString WineServer::SocketFolderName(const QString& prefixHostPath)
{
    struct stat st;
    if (::stat(hostfs::encodeName(prefixHostPath).constData(), &st) != 0)
        return {};
    // Wine prints both as unsigned long in hexadecimal.
    return QStringLiteral("server-%1-%2")
        .arg(static_cast<qulonglong>(st.st_dev), 0, 16)
        .arg(static_cast<qulonglong>(st.st_ino), 0, 16);
}

WineServer::Lookup WineServer::Find(const QString& prefixHostPath)
{
    const QString socketFolderName = SocketFolderName(prefixHostPath);
    if (socketFolderName.isEmpty())
        return {};
    const QByteArray suffix = '/' + socketFolderName.toLatin1();
    DIR* processes = ::opendir("/proc");
    if (processes == nullptr)
        return {};
    Lookup lookup{State::NotRunning, {}};
    while (const dirent* entry = ::readdir(processes)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        const QByteArray folder = QByteArray("/proc/") + entry->d_name;
        // A wineserver works in its socket's folder; the processes of other
        // users cannot be looked at, and their servers serve them alone.
        const QByteArray cwd = ReadLink(folder + "/cwd");
        if (!cwd.endsWith(suffix) || !Command(folder).startsWith("wineserver"))
            continue;
        lookup = Lookup{State::Running, hostfs::decodeName(TmpDirOf(cwd))};
        break;
    }
    ::closedir(processes);
    return lookup;
}

}  // namespace vz
