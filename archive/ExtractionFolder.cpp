#include "archive/ExtractionFolder.h"

#include "platform/FileSystem.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace vz {

bool ExtractionFolder::occupied(const QString& hostPath)
{
    return hostfs::pathKind(hostPath) != hostfs::PathKind::Missing;
}

bool ExtractionFolder::isNameError(int errorNumber)
{
    switch (errorNumber) {
    case ENAMETOOLONG:
    case ENOTDIR:
    case EISDIR:
    case EEXIST:
    case ENOTEMPTY:
    case ELOOP:
    case EINVAL:
    case EILSEQ:
        return true;
    default:
        return false;
    }
}

ExtractionFolder::Status ExtractionFolder::ensure(const QStringList& components, QString& hostPath,
                                                  const QString& fileName)
{
    // First look: where the path leaves what exists, and nothing in the way.
    QString path = base_;
    std::vector<qsizetype> ends;  // the length of the path up to each component
    ends.reserve(static_cast<size_t>(components.size()));
    qsizetype firstMissing = components.size();
    for (qsizetype i = 0; i < components.size(); ++i) {
        path += QLatin1Char('/') + components.at(i);
        ends.push_back(path.size());
        if (firstMissing < components.size() || known_.contains(path))
            continue;
        switch (hostfs::pathKind(path)) {
        case hostfs::PathKind::Link:
            return Status::Link;
        case hostfs::PathKind::File:
            return Status::Clash;
        case hostfs::PathKind::Missing:
            firstMissing = i;
            break;
        case hostfs::PathKind::Folder:
            known_.insert(path);
            break;
        }
    }
    if (!fileName.isEmpty() && firstMissing == components.size() &&
        hostfs::pathKind(path + QLatin1Char('/') + fileName) == hostfs::PathKind::Folder)
        return Status::Clash;

    // Then make what is missing, one level at a time; on a failure the
    // levels made for this entry go again.
    for (qsizetype i = firstMissing; i < components.size(); ++i) {
        const QString folder = path.left(ends[static_cast<size_t>(i)]);
        if (!hostfs::createFolders(folder)) {
            const int error = errno;
            for (qsizetype j = i - 1; j >= firstMissing; --j) {
                const QString made = path.left(ends[static_cast<size_t>(j)]);
                known_.remove(made);
                ::rmdir(hostfs::encodeName(made).constData());
            }
            return isNameError(error) ? Status::Clash : Status::CreateFailed;
        }
        known_.insert(folder);
    }
    hostPath = path;
    return Status::Ok;
}

}  // namespace vz
