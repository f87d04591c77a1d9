#include "staging/DestinationFolder.h"

#include "platform/FileSystem.h"

namespace vz {

namespace {

bool isDotOrDotDot(const QString& name) { return name == QLatin1String(".") || name == QLatin1String(".."); }

QString joinHost(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

}  // namespace

DestinationFolder::DestinationFolder(std::optional<QString> hostPath) : host_(std::move(hostPath))
{
    if (host_ && !hostfs::isFolder(*host_)) {
        emptyAtStart_ = hostfs::createFolders(*host_);
        probed_ = true;
    }
}

std::optional<QString> DestinationFolder::child(const QString& name)
{
    if (!host_)
        return std::nullopt;
    QString exact = joinHost(*host_, name);
    if (emptyAtStart_)
        return exact;
    // The exact name first: where the copy replaces what is there (a staging
    // run with nothing or little changed) the folder is never listed.
    if (hostfs::exists(exact))
        return exact;
    if (!probed_) {
        // Every name asked for so far was there already, so whatever the
        // folder holds now was there before the copy began.
        probed_ = true;
        emptyAtStart_ = isEmpty();
        if (emptyAtStart_)
            return exact;
    }
    if (!indexed_)
        buildIndex();
    const auto match = byFoldedName_.constFind(name.toCaseFolded());
    if (match == byFoldedName_.constEnd())
        return exact;
    return joinHost(*host_, *match);
}

DestinationFolder DestinationFolder::subfolder(const QString& name)
{
    if (host_ && !emptyAtStart_) {
        QString exact = joinHost(*host_, name);
        if (hostfs::isFolder(exact))
            return DestinationFolder(std::move(exact), ExistingFolder{});
    }
    return DestinationFolder(child(name));
}

bool DestinationFolder::isEmpty() const
{
    bool empty = true;
    // Stops at the first entry: a large folder is not read through.
    const bool listed = hostfs::listFolder(
        *host_,
        [&empty](const DirEntry& entry) {
            empty = isDotOrDotDot(entry.name);
            return empty;
        },
        nullptr, hostfs::FolderAttributesOnly);
    return empty && listed;
}

void DestinationFolder::buildIndex()
{
    indexed_ = true;
    hostfs::listFolder(
        *host_,
        [this](const DirEntry& entry) {
            if (!isDotOrDotDot(entry.name)) {
                const QString folded = entry.name.toCaseFolded();
                if (!byFoldedName_.contains(folded))
                    byFoldedName_.insert(folded, entry.name);
            }
            return true;
        },
        nullptr, hostfs::FolderAttributesOnly);
}

}  // namespace vz
