#include "archive/VolumeSetWriter.h"

namespace vz {

VolumeSetWriter::Result VolumeSetWriter::nextVolume()
{
    if (index_ >= 0) {
        if (!provider_.CloseVolume(index_, file_))
            return Result::Stopped;
    }
    ++index_;
    offset_ = 0;
    space_ = 0;
    file_ = HostFile();
    if (!provider_.OpenVolume(index_, file_, space_))
        return Result::Stopped;
    return space_ > 0 ? Result::Ok : Result::TooLarge;
}

VolumeSetWriter::Result VolumeSetWriter::reserveWhole(qint64 bytes, VolumePosition& at)
{
    if (index_ < 0 || offset_ + bytes > space_) {
        const bool fresh = index_ < 0 || offset_ == 0;
        if (!(index_ >= 0 && fresh)) {
            Result r = nextVolume();
            if (r != Result::Ok)
                return r;
        }
        // Not even an empty volume holds it.
        if (bytes > space_)
            return Result::TooLarge;
    }
    at.volume = index_;
    at.offset = offset_;
    return Result::Ok;
}

VolumeSetWriter::Result VolumeSetWriter::writeWhole(const QByteArray& block, VolumePosition& at)
{
    Result r = reserveWhole(block.size(), at);
    if (r != Result::Ok)
        return r;
    return writeSpanning(block.constData(), block.size());
}

VolumeSetWriter::Result VolumeSetWriter::writeSpanning(const char* data, qint64 bytes)
{
    while (bytes > 0) {
        if (index_ < 0 || offset_ >= space_) {
            Result r = nextVolume();
            if (r != Result::Ok)
                return r;
        }
        const qint64 chunk = std::min(bytes, space_ - offset_);
        if (!file_.writeAll(data, chunk))
            return Result::WriteFailed;
        offset_ += chunk;
        data += chunk;
        bytes -= chunk;
        provider_.AfterWrite();
    }
    return Result::Ok;
}

VolumeSetWriter::Result VolumeSetWriter::finish()
{
    if (index_ < 0)
        return Result::Ok;
    return provider_.CloseVolume(index_, file_) ? Result::Ok : Result::Stopped;
}

}  // namespace vz
