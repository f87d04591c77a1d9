#pragma once
// What the copy engine shows after each entry it visits: the "Copiando" text,
// the destination text and both progress bars, through the window's progress
// output rule (written to the export page, mirrored to the import page).
//
// A value equal to the one this object last sent is not sent again, since the
// label or bar already holds it; begin() forgets what was sent, so the first
// entry of every copy writes everything.
//
// The bars take integers: their maximum and position are TotalMB and CopiedMB
// in bytes (MB x 1024 x 1024). The sums of whole-byte sizes over 2^20 are
// exact in a double, so a finished copy fills the bar exactly.

#include "platform/RunFrame.h"

#include <QString>
#include <QtGlobal>

namespace vz {

class CopyProgress {
public:
    // Paths longer than this are shown by their tail.
    static constexpr qsizetype ShownWholeUpTo = 55;
    static constexpr qsizetype ShownTailLength = 56;

    explicit CopyProgress(RunFrame& frame) : frame_(frame) {}

    void begin();
    // One visited entry: progress text, bars (navy), destination text, in this order.
    void show(double copiedMB, double totalMB, const QString& destinationFolder, const QString& name);

    // Nearest whole number; a half goes to the even neighbour (2.5 -> 2, 3.5 -> 4).
    static qint64 RoundHalfEven(double value);
    // "Copiando: " + R(copied) + " MB de " + R(total) + " MB".
    static QString ProgressText(double copiedMB, double totalMB);
    // The path itself up to 55 characters, else "..." and its last 56 characters.
    static QString DestinationText(const QString& path);
    // Megabytes as the bars count them (bytes).
    static qint64 BarUnits(double megabytes);

private:
    RunFrame& frame_;
    bool navySent_ = false;
    bool textSent_ = false;
    qint64 shownCopied_ = 0;
    qint64 shownTotal_ = 0;
    bool barSent_ = false;
    qint64 barMaximum_ = 0;
    qint64 barPosition_ = 0;
};

}  // namespace vz
