#include "app/TransferDisplay.h"

#include "platform/TimestampText.h"

#include <cmath>

namespace vz {

namespace {
constexpr double MsPerDay = 86400000.0;
}

TransferDisplay::TransferDisplay(ProgressMirror& mirror, const Clock& clock, const RegionalSettings& regional,
                                 EventPump& pump)
    : mirror_(mirror), clock_(clock), regional_(regional), pump_(pump)
{
}

QString TransferDisplay::kilobytes(double bytes) const
{
    return FormatNumber(bytes / 1024.0, 4, true, 2, regional_) + QStringLiteral(" KB");
}

void TransferDisplay::HttpClientWorkBegin(int /*mode*/, qint32 countMax)
{
    TransferStart = clock_.now();
    TransferRate = 0;
    TransferTotal = static_cast<quint32>(countMax);
    // An unknown size (-1) reads as 4 GiB - 1 bytes; shown in KB until the first work event.
    mirror_.setBarMaximumQuietly(countMax > 0 ? countMax : TransferTotal / 1024);
    if (antiFreezeOn_)
        antiFreezeOn_();
}

void TransferDisplay::HttpClientWork(int mode, qint32 count)
{
    // Elapsed time to the millisecond, over the whole transfer however long.
    const double elapsedSeconds = std::round((clock_.now() - TransferStart) * MsPerDay) / 1000.0;
    // The running total is a 32-bit count; read as unsigned it stays right
    // for transfers between 2 and 4 GiB.
    const double bytes = static_cast<quint32>(count);
    if (elapsedSeconds > 0)
        TransferRate = bytes / 1024.0 / elapsedSeconds;
    const ProgressMirror::Batch paintOnce(mirror_);
    const QString rate = FormatNumber(TransferRate, 1, false, 2, regional_) + QStringLiteral(" KB/s");
    if (mode == WorkRead)
        mirror_.setPageProgressText(RunPage::Export, QStringLiteral("Taxa de Transferência: ") + rate);
    else if (mode == WorkWrite)
        mirror_.setPageProgressText(RunPage::Export, QStringLiteral("Taxa de Transferência ") + rate);
    // The "Importar" page gets the same text, whatever the mode left on the first.
    mirror_.setPageProgressText(RunPage::Import, mirror_.exportProgressText());
    mirror_.setDestinationText(kilobytes(bytes) + QStringLiteral(" de ") + kilobytes(TransferTotal));
    mirror_.setBar(TransferTotal, static_cast<quint32>(count));
}

void TransferDisplay::HttpClientWorkEnd(int /*mode*/)
{
    {
        const ProgressMirror::Batch paintOnce(mirror_);
        mirror_.setProgressText(QStringLiteral("Transferência Completa"));
        mirror_.setDestinationText(QString());
        mirror_.setBarPosition(0);
    }
    TransferTotal = 0;
    TransferRate = 0;
    pump_.ProcessPendingMessages();
}

}  // namespace vz
