#include "app/WindowEventPump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>

namespace vz {

namespace {

void runRound() { QCoreApplication::processEvents(); }

}  // namespace

WindowEventPump::WindowEventPump()
{
    const QCoreApplication* application = QCoreApplication::instance();
    const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (application && application->thread() == QThread::currentThread() && dispatcher &&
        dispatcher->inherits("QEventDispatcherGlib"))
        watch_ = WaitingEventsWatch::Start();
}

WindowEventPump::~WindowEventPump() = default;

void WindowEventPump::ProcessPendingMessages()
{
    if (!watch_) {
        ++rounds_;
        runRound();
        return;
    }
    if (!watch_->EventsMayBeWaiting())
        return;
    ++rounds_;
    watch_->RunRound(runRound);
}

}  // namespace vz
