#include "archive/ExtractionFolder.h"

#include "platform/FileSystem.h"

#include <QFileInfo>

namespace vz {

bool ExtractionFolder::isLink(const QString& hostPath)
{
    return QFileInfo(hostPath).isSymLink();
}

bool ExtractionFolder::occupied(const QString& hostPath)
{
    const QFileInfo info(hostPath);
    return info.isSymLink() || info.exists();
}

ExtractionFolder::Status ExtractionFolder::ensure(const QStringList& components, QString& hostPath)
{
    QString path = base_;
    for (const QString& component : components) {
        path += QLatin1Char('/') + component;
        if (known_.contains(path))
            continue;
        const QFileInfo info(path);
        if (info.isSymLink())
            return Status::Link;
        if (info.exists()) {
            if (!info.isDir())
                return Status::CreateFailed;
        } else if (!hostfs::createFolders(path)) {
            return Status::CreateFailed;
        }
        known_.insert(path);
    }
    hostPath = path;
    return Status::Ok;
}

}  // namespace vz
