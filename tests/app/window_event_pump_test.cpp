// ProcessPendingMessages handles what is waiting: the copy engine calls it
// after every entry, so an idle call must cost next to nothing, and no event,
// posted here or by another thread, and no timer may be passed over.

#include "app/WindowEventPump.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <thread>

namespace vz {
namespace {

// Calls the pump until `done` holds; false when it does not within a
// generous bound (a failure, not a measurement).
template <typename Done>
bool pumpUntil(WindowEventPump& pump, Done done)
{
    const QDeadlineTimer bound(10000);
    while (!done()) {
        if (bound.hasExpired())
            return false;
        pump.ProcessPendingMessages();
    }
    return true;
}

struct Application {
    int argc = 1;
    char name[32] = "window_event_pump_test";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
};

void expectEverythingHandled(QCoreApplication& app, WindowEventPump& pump)
{
    int delivered = 0;
    for (int i = 1; i <= 200; ++i) {
        QMetaObject::invokeMethod(&app, [&delivered] { ++delivered; }, Qt::QueuedConnection);
        ASSERT_TRUE(pumpUntil(pump, [&] { return delivered == i; })) << "posted event " << i;
    }
    std::thread poster([&app, &delivered] {
        QMetaObject::invokeMethod(&app, [&delivered] { ++delivered; }, Qt::QueuedConnection);
    });
    poster.join();
    EXPECT_TRUE(pumpUntil(pump, [&] { return delivered == 201; }));

    bool fired = false;
    QTimer::singleShot(2, &app, [&fired] { fired = true; });
    EXPECT_TRUE(pumpUntil(pump, [&] { return fired; }));
}

TEST(WindowEventPump, IdleCallsAreCheapAndNothingWaitingIsPassedOver)
{
    Application a;
    WindowEventPump pump;
    ASSERT_TRUE(pump.watched()) << "Qt's event loop runs on GLib here";
    expectEverythingHandled(a.app, pump);

    const qint64 roundsBefore = pump.roundsRun();
    constexpr int calls = 100000;
    for (int i = 0; i < calls; ++i)
        pump.ProcessPendingMessages();
    EXPECT_LT(pump.roundsRun() - roundsBefore, calls / 10);
    EXPECT_TRUE(pump.watched());
}

TEST(WindowEventPump, WithoutGlibEveryCallRunsARound)
{
    qputenv("QT_NO_GLIB", "1");
    Application a;
    qunsetenv("QT_NO_GLIB");
    WindowEventPump pump;
    EXPECT_FALSE(pump.watched());

    int delivered = 0;
    for (int i = 1; i <= 50; ++i) {
        QMetaObject::invokeMethod(&a.app, [&delivered] { ++delivered; }, Qt::QueuedConnection);
        pump.ProcessPendingMessages();
        ASSERT_EQ(delivered, i);
    }
    const qint64 roundsBefore = pump.roundsRun();
    for (int i = 0; i < 100; ++i)
        pump.ProcessPendingMessages();
    EXPECT_EQ(pump.roundsRun() - roundsBefore, 100);
    expectEverythingHandled(a.app, pump);
}

}  // namespace
}  // namespace vz
