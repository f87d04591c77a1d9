#include "archive/ExtractionFolder.h"

#include "platform/FileSystem.h"

namespace vz {

bool ExtractionFolder::occupied(const QString& hostPath)
{
    return hostfs::pathKind(hostPath) != hostfs::PathKind::Missing;
}

ExtractionFolder::Status ExtractionFolder::ensure(const QStringList& components, QString& hostPath)
{
    QString path = base_;
    for (const QString& component : components) {
        path += QLatin1Char('/') + component;
        if (known_.contains(path))
            continue;
        switch (hostfs::pathKind(path)) {
        case hostfs::PathKind::Link:
            return Status::Link;
        case hostfs::PathKind::File:
            return Status::CreateFailed;
        case hostfs::PathKind::Missing:
            if (!hostfs::createFolders(path))
                return Status::CreateFailed;
            break;
        case hostfs::PathKind::Folder:
            break;
        }
        known_.insert(path);
    }
    hostPath = path;
    return Status::Ok;
}

}  // namespace vz
