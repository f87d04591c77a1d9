#pragma once
// The second pass of an add: copies the temporary archive entry by entry
// into the volume set "NAME.z01", "NAME.z02", ..., the last renamed to the
// archive name. The first volume starts with the split signature; headers
// and records lie whole in one volume; data run on across volume ends;
// every volume but the last is filled to the limit unless a header moved on.

#include "archive/ArchiveMessages.h"
#include "archive/ComponentDialogs.h"
#include "archive/VolumeSetWriter.h"
#include "platform/EventPump.h"

#include <QString>

namespace vz {

struct SpanSettings {
    QString archiveHostPath;
    QString archiveWindowsPath;       // for the questions and messages
    qint64 volumeLimitBytes = 0;      // 0: no limit but the disk's
    qint64 keepFreeOnDisk1 = 0;
    qint64 keepFreeOnAllDisks = 0;
    qint64 minFreeVolumeSize = 65536;
};

class VolumeSpanner final : private VolumeProvider {
public:
    VolumeSpanner(SpanSettings settings, ComponentDialogs& dialogs, EventPump& pump)
        : settings_(std::move(settings)), dialogs_(dialogs), pump_(pump) {}

    // Writes the set from the temporary archive. False when the operation
    // ended; the reason has been reported (or noted, for a cancel).
    bool Span(const QString& tempArchiveHostPath);

    int volumeCount() const { return volumes_; }

private:
    bool OpenVolume(int index, HostFile& file, qint64& spaceBytes) override;
    bool CloseVolume(int index, HostFile& file) override;
    void AfterWrite() override { pump_.ProcessPendingMessages(); }

    bool copy(const QString& tempArchiveHostPath);
    bool renameLast();
    QString volumeHostPath(int index) const;
    QString volumeWindowsPath(int index) const;

    SpanSettings settings_;
    ComponentDialogs& dialogs_;
    EventPump& pump_;
    bool yesToAll_ = false;
    bool finishing_ = false;     // closing the last volume
    int volumes_ = 0;
    qint64 commonTimeMs_ = -1;   // the time every volume of a larger set gets
};

}  // namespace vz
