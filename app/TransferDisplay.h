#pragma once
// The display of an HTTP transfer: the rate, the bytes moved out of the bytes
// expected, and the bar, written to the "Exportar" page and mirrored to the
// "Importar" page. The HTTP client's work events call the three handlers.

#include "app/ProgressMirror.h"
#include "platform/Clock.h"
#include "platform/EventPump.h"
#include "platform/RegionalSettings.h"
#include "platform/Timestamp.h"

#include <QString>

#include <functional>

namespace vz {

class TransferDisplay {
public:
    enum WorkMode { WorkRead = 0, WorkWrite = 1 };

    TransferDisplay(ProgressMirror& mirror, const Clock& clock, const RegionalSettings& regional, EventPump& pump);

    // Switches the HTTP client's anti-freeze on; called at each work-begin.
    void setAntiFreezeSwitch(std::function<void()> switchOn) { antiFreezeOn_ = std::move(switchOn); }

    void HttpClientWorkBegin(int mode, qint32 countMax);
    void HttpClientWork(int mode, qint32 count);
    void HttpClientWorkEnd(int mode);

    Timestamp TransferStart = 0;
    quint32 TransferTotal = 0;  // expected bytes of the current transfer; 0 between transfers
    double TransferRate = 0;    // KB per second

private:
    // "0,000.00 KB" with the locale's separators.
    QString kilobytes(double bytes) const;

    ProgressMirror& mirror_;
    const Clock& clock_;
    const RegionalSettings& regional_;
    EventPump& pump_;
    std::function<void()> antiFreezeOn_;
};

}  // namespace vz
