// ProcessPendingMessages handles what is waiting on every call, however
// soon after the previous one: the copy engine calls it after every entry,
// and no call may pass over waiting events.

#include "app/WindowEventPump.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <thread>

namespace vz {
namespace {

TEST(WindowEventPump, EveryCallHandlesWhatIsWaiting)
{
    int argc = 1;
    char name[] = "window_event_pump_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    WindowEventPump pump;

    // Events posted between calls in quick succession.
    int delivered = 0;
    for (int i = 0; i < 200; ++i) {
        QMetaObject::invokeMethod(&app, [&delivered] { ++delivered; }, Qt::QueuedConnection);
        pump.ProcessPendingMessages();
        ASSERT_EQ(delivered, i + 1);
    }

    // A timer that fell due since the last call.
    int fired = 0;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&fired] { ++fired; });
    pump.ProcessPendingMessages();
    timer.start(1);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 5)
        std::this_thread::yield();
    pump.ProcessPendingMessages();
    EXPECT_EQ(fired, 1);

    // An event posted from another thread.
    std::thread poster([&app, &delivered] {
        QMetaObject::invokeMethod(&app, [&delivered] { ++delivered; }, Qt::QueuedConnection);
    });
    poster.join();
    pump.ProcessPendingMessages();
    EXPECT_EQ(delivered, 201);
}

}  // namespace
}  // namespace vz
