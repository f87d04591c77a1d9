#include "app/WindowEventPump.h"

#include <QCoreApplication>

namespace vz {

void WindowEventPump::ProcessPendingMessages() { QCoreApplication::processEvents(); }

}  // namespace vz
