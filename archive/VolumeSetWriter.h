#pragma once
// Writes one logical archive into a set of volumes. Volumes are created on
// demand through a provider (which names them, asks the user and checks the
// space); each is filled to its space. A block that must lie whole in one
// volume (a header, a record) moves to the next volume when it does not fit
// in what is left of the current one; data runs on across volume ends.

#include "archive/VolumeSetReader.h"
#include "platform/FileSystem.h"

#include <QByteArray>

namespace vz {

class VolumeProvider {
public:
    virtual ~VolumeProvider() = default;
    // Creates volume `index`; sets its space in bytes. False ends the writing
    // (the provider has reported why).
    virtual bool OpenVolume(int index, HostFile& file, qint64& spaceBytes) = 0;
    // Closes a finished volume (the provider may set its time). False ends the writing.
    virtual bool CloseVolume(int index, HostFile& file) = 0;
    // Called after each write, so the window can handle its events.
    virtual void AfterWrite() = 0;
};

class VolumeSetWriter {
public:
    enum class Result { Ok, Stopped, WriteFailed, TooLarge };

    explicit VolumeSetWriter(VolumeProvider& provider) : provider_(provider) {}

    // Makes sure `bytes` fit whole in the current volume, opening the next one
    // when they do not; `at` gets where they will land.
    Result reserveWhole(qint64 bytes, VolumePosition& at);
    // A block whole in one volume: reserveWhole, then write.
    Result writeWhole(const QByteArray& block, VolumePosition& at);
    // Data that may run on across volume ends.
    Result writeSpanning(const char* data, qint64 bytes);
    // Closes the last volume.
    Result finish();

    // Volumes opened so far.
    int volumeCount() const { return index_ + 1; }

private:
    Result nextVolume();

    VolumeProvider& provider_;
    HostFile file_;
    int index_ = -1;
    qint64 space_ = 0;
    qint64 offset_ = 0;
};

}  // namespace vz
