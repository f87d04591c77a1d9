#include "app/WindowEventPump.h"

#include <QCoreApplication>

namespace vz {

WindowEventPump::WindowEventPump() { clock_.start(); }

void WindowEventPump::ProcessPendingMessages()
{
    if (clock_.elapsed() - lastMs_ < IntervalMs)
        return;
    processNow();
}

void WindowEventPump::processNow()
{
    QCoreApplication::processEvents();
    lastMs_ = clock_.elapsed();
}

}  // namespace vz
