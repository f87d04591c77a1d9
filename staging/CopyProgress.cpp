#include "staging/CopyProgress.h"

#include <cmath>

namespace vz {

void CopyProgress::begin()
{
    navySent_ = false;
    textSent_ = false;
    barSent_ = false;
}

void CopyProgress::show(double copiedMB, double totalMB, const QString& destinationFolder, const QString& name)
{
    const qint64 copied = RoundHalfEven(copiedMB);
    const qint64 total = RoundHalfEven(totalMB);
    if (!textSent_ || copied != shownCopied_ || total != shownTotal_) {
        frame_.SetProgressText(ProgressText(copiedMB, totalMB));
        textSent_ = true;
        shownCopied_ = copied;
        shownTotal_ = total;
    }

    // Nothing sets the colour back, so once per copy is enough.
    if (!navySent_) {
        frame_.SetProgressBarNavy();
        navySent_ = true;
    }
    const qint64 maximum = BarUnits(totalMB);
    const qint64 position = BarUnits(copiedMB);
    if (!barSent_ || maximum != barMaximum_ || position != barPosition_) {
        frame_.SetProgressBar(maximum, position);
        barSent_ = true;
        barMaximum_ = maximum;
        barPosition_ = position;
    }

    frame_.SetDestinationText(DestinationText(destinationFolder + name));
}

qint64 CopyProgress::RoundHalfEven(double value)
{
    // Written out rather than left to the floating-point rounding mode.
    const double whole = std::floor(value);
    const double fraction = value - whole;
    double result = whole;
    if (fraction > 0.5)
        result = whole + 1.0;
    else if (fraction == 0.5)
        result = std::fmod(whole, 2.0) == 0.0 ? whole : whole + 1.0;
    return static_cast<qint64>(result);
}

QString CopyProgress::ProgressText(double copiedMB, double totalMB)
{
    return QStringLiteral("Copiando: ") + QString::number(RoundHalfEven(copiedMB)) + QStringLiteral(" MB de ") +
           QString::number(RoundHalfEven(totalMB)) + QStringLiteral(" MB");
}

QString CopyProgress::DestinationText(const QString& path)
{
    if (path.size() <= ShownWholeUpTo)
        return path;
    qsizetype start = path.size() - ShownTailLength;
    // Never start inside a character made of two UTF-16 units.
    if (path.at(start).isLowSurrogate())
        ++start;
    return QStringLiteral("...") + path.mid(start);
}

qint64 CopyProgress::BarUnits(double megabytes) { return std::llround(megabytes * 1024.0 * 1024.0); }

}  // namespace vz
