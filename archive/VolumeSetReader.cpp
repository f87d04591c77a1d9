#include "archive/VolumeSetReader.h"

#include "archive/VolumeNaming.h"

namespace vz {

VolumeSetReader::VolumeSetReader(QString archiveHostPath, int volumeCount)
    : archive_(std::move(archiveHostPath)), count_(volumeCount)
{
}

QString VolumeSetReader::volumePath(int index)
{
    if (index < 0 || index >= count_)
        return {};
    if (index == count_ - 1)
        return hostfs::isFile(archive_) ? archive_ : QString();
    if (form_ != Form::Numbered) {
        const QString span = VolumeNaming::SpanName(archive_, index);
        if (hostfs::isFile(span)) {
            form_ = Form::Span;
            return span;
        }
        if (form_ == Form::Span)
            return {};
    }
    const QString numbered = VolumeNaming::NumberedName(archive_, index);
    if (hostfs::isFile(numbered)) {
        form_ = Form::Numbered;
        return numbered;
    }
    return {};
}

HostFile* VolumeSetReader::open(int index, Status& status)
{
    auto it = files_.find(index);
    if (it != files_.end()) {
        status = Status::Ok;
        return it->second.get();
    }
    const QString path = volumePath(index);
    if (path.isEmpty()) {
        status = Status::Missing;
        return nullptr;
    }
    // Keep few volumes open: a set of hundreds is read front to back.
    if (files_.size() >= 4)
        files_.erase(files_.begin());
    auto file = std::make_unique<HostFile>(HostFile::openRead(path, ShareMode::DenyWrite));
    if (!file->isOpen()) {
        status = Status::ReadFailed;
        return nullptr;
    }
    sizes_[index] = file->size();
    status = Status::Ok;
    return files_.emplace(index, std::move(file)).first->second.get();
}

qint64 VolumeSetReader::volumeSize(int index)
{
    Status status;
    if (!open(index, status))
        return -1;
    return sizes_[index];
}

VolumeSetReader::Status VolumeSetReader::normalize(VolumePosition& at)
{
    Status status;
    if (!open(at.volume, status))
        return status;
    if (at.offset == sizes_[at.volume] && at.volume + 1 < count_) {
        at.volume += 1;
        at.offset = 0;
        if (!open(at.volume, status))
            return status;
    }
    return Status::Ok;
}

VolumeSetReader::Status VolumeSetReader::readWhole(VolumePosition& at, char* buffer, qint64 bytes)
{
    Status status = normalize(at);
    if (status != Status::Ok)
        return status;
    HostFile* file = open(at.volume, status);
    if (!file)
        return status;
    // Compared without adding: a recorded offset may be anything up to 2^63.
    const qint64 size = sizes_[at.volume];
    if (at.offset < 0 || bytes < 0 || at.offset > size || bytes > size - at.offset)
        return Status::Short;
    const qint64 got = file->readAt(buffer, bytes, at.offset);
    if (got < 0)
        return Status::ReadFailed;
    if (got != bytes)
        return Status::Short;
    at.offset += bytes;
    return Status::Ok;
}

VolumeSetReader::Status VolumeSetReader::readSpanning(VolumePosition& at, char* buffer, qint64 bytes)
{
    while (bytes > 0) {
        Status status = normalize(at);
        if (status != Status::Ok)
            return status;
        HostFile* file = open(at.volume, status);
        if (!file)
            return status;
        if (at.offset < 0)
            return Status::Short;
        const qint64 available = sizes_[at.volume] - at.offset;
        if (available <= 0)
            return Status::Short;  // the last volume ended
        const qint64 chunk = std::min(available, bytes);
        const qint64 got = file->readAt(buffer, chunk, at.offset);
        if (got < 0)
            return Status::ReadFailed;
        if (got != chunk)
            return Status::Short;
        at.offset += chunk;
        buffer += chunk;
        bytes -= chunk;
    }
    return Status::Ok;
}

}  // namespace vz
