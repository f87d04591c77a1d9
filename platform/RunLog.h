#pragma once
// VireoReplicador.log beside the settings file: one line per run (how it
// ended and how many files it could not copy) and one per such file, with
// the reason the platform gave. Appended; when it would pass RotateAtBytes
// it becomes VireoReplicador.log.1 (replacing the older one) and a new log
// begins, so neither file grows past that size.

#include "platform/Clock.h"
#include "platform/CopyFailure.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace vz {

class RunLog {
public:
    static constexpr qint64 RotateAtBytes = 1 << 20;
    static inline const QString FileName = QStringLiteral("VireoReplicador.log");

    // hostPath: the log file; empty for a run without a log.
    RunLog(QString hostPath, const Clock& clock);

    // Appends one run's lines, each with the time. Never throws; false when
    // the log could not be written (the run goes on: the user saw the count).
    bool Write(const QString& runLine, const QStringList& detailLines = {});

    // The detail line of a file that could not be copied: the station's path
    // (the source on export, the destination on import) and the reason.
    static QString FailureLine(const CopyFailure& failure, bool nameDestination);
    static QStringList FailureLines(const std::vector<CopyFailure>& failures, bool nameDestination);
    // The lines of old trashed folders of the program that could not be deleted.
    static QStringList TrashLines(const QStringList& notDeleted);

    const QString& hostPath() const { return hostPath_; }

private:
    QString hostPath_;
    const Clock& clock_;
};

}  // namespace vz
