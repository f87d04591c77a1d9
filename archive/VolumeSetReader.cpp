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
    if (const auto known = sizes_.find(index); known != sizes_.end())
        return known->second;
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

std::optional<qint64> VolumeSetReader::linearOffset(VolumePosition at)
{
    if (at.volume < 0 || at.volume >= count_ || at.offset < 0)
        return std::nullopt;
    // Where each volume starts, worked out once as far as needed.
    while (static_cast<int>(starts_.size()) <= at.volume) {
        const int previous = static_cast<int>(starts_.size()) - 1;
        if (previous < 0) {
            starts_.push_back(0);
            continue;
        }
        const qint64 size = volumeSize(previous);
        if (size < 0)
            return std::nullopt;
        starts_.push_back(starts_.back() + size);
    }
    const qint64 size = volumeSize(at.volume);
    if (size < 0 || at.offset > size)
        return std::nullopt;
    return starts_[static_cast<size_t>(at.volume)] + at.offset;
}

std::optional<qint64> VolumeSetReader::totalSize()
{
    if (count_ < 1)
        return std::nullopt;
    const qint64 last = volumeSize(count_ - 1);
    const auto start = linearOffset(VolumePosition{count_ - 1, 0});
    if (last < 0 || !start)
        return std::nullopt;
    return *start + last;
}

}  // namespace vz
