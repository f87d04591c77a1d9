// On a real X server of the test's own (Xvfb, with trayer as the tray host):
// the sibling's window found, asked to close and gone; its server started;
// and the window's tray icon clicked with the mouse.

#include "app/MainWindow.h"
#include "platform/X11SiblingProgram.h"
#include "tests/app/WindowFixture.h"
#include "tests/app/XvfbSession.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

namespace {

bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

// A stand-in sibling window, stopped at the end of the test if still there.
class SiblingWindow {
public:
    explicit SiblingWindow(const QStringList& extra = {})
    {
        const QString ready = dir_.file(u"ready"_qs);
        process_.start(QStringLiteral(VZ_TEST_SIBLING_WINDOW),
                       QStringList{u"--ready"_qs, ready, u"--timeout"_qs, u"60"_qs} + extra);
        started_ = process_.waitForStarted(5000) && waitFor([&] { return QFile::exists(ready); });
    }
    ~SiblingWindow()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    bool started() const { return started_; }
    bool exitedCleanly(int timeoutMs)
    {
        return process_.waitForFinished(timeoutMs) && process_.exitStatus() == QProcess::NormalExit &&
               process_.exitCode() == 0;
    }

private:
    TempDir dir_;
    QProcess process_;
    bool started_ = false;
};

class DesktopTest : public ::testing::Test {
protected:
    TempPrefix prefix{u"c"_qs};
    FileSystem fs{prefix.driveMap()};
    X11SiblingProgram sibling{fs};
};

TEST_F(DesktopTest, TheSiblingWindowIsFoundAskedToCloseAndGone)
{
    EXPECT_FALSE(sibling.SiblingIsRunning());
    sibling.AskSiblingToClose();  // no such window: nothing happens

    SiblingWindow window;
    ASSERT_TRUE(window.started());
    EXPECT_TRUE(sibling.SiblingIsRunning());
    sibling.AskSiblingToClose();
    EXPECT_TRUE(window.exitedCleanly(10000));
    EXPECT_TRUE(waitFor([&] { return !sibling.SiblingIsRunning(); }));
}

TEST_F(DesktopTest, OnlyTheSiblingsWindowClassCounts)
{
    SiblingWindow other({u"--instance"_qs, u"xterm"_qs, u"--class"_qs, u"XTerm"_qs});
    ASSERT_TRUE(other.started());
    EXPECT_FALSE(sibling.SiblingIsRunning());
    sibling.AskSiblingToClose();
    EXPECT_FALSE(other.exitedCleanly(300));

    // The class name compares without regard to case, as window classes do.
    SiblingWindow lower({u"--instance"_qs, u"vcm"_qs, u"--class"_qs, u"vcmmainwin"_qs});
    ASSERT_TRUE(lower.started());
    EXPECT_TRUE(sibling.SiblingIsRunning());
}

TEST_F(DesktopTest, WithoutADisplayNoSiblingIsThere)
{
    X11SiblingProgram nowhere(fs, u":999"_qs);
    EXPECT_FALSE(nowhere.SiblingIsRunning());
    nowhere.AskSiblingToClose();
}

TEST_F(DesktopTest, TheServerIsStartedFromTheSystemFolderWithoutWaiting)
{
    const QString folder = prefix.drive(u"c"_qs) + u"/Vireo/Vireo Cast"_qs;
    const QString marker = folder + u"/started"_qs;
    // The name's case differs, as it may on Windows.
    const QString server = writeFile(folder + u"/SERVIDOR.EXE"_qs,
                                      "#!/bin/sh\nsleep 1\npwd > started.tmp\nmv started.tmp started\n");
    ASSERT_TRUE(QFile::setPermissions(server, QFile::permissions(server) | QFileDevice::ExeOwner));

    QElapsedTimer timer;
    timer.start();
    sibling.StartSiblingServer(u"C:\\Vireo\\Vireo Cast\\"_qs);
    EXPECT_LT(timer.elapsed(), 900);  // the script sleeps a second; nothing waited for it
    ASSERT_TRUE(waitFor([&] { return QFile::exists(marker); }));
    EXPECT_EQ(readFile(marker).trimmed(), QFileInfo(folder).canonicalFilePath().toUtf8());
}

TEST_F(DesktopTest, AServerThatCannotRunHereIsLeftAlone)
{
    if (QStandardPaths::findExecutable(u"wine"_qs).isEmpty()) {
        const QString folder = prefix.drive(u"c"_qs) + u"/Vireo/Vireo Cast"_qs;
        // A script without its run bit is neither a native program nor started through wine here.
        writeFile(folder + u"/Servidor.exe"_qs, "#!/bin/sh\ntouch started\n");
        sibling.StartSiblingServer(u"C:\\Vireo\\Vireo Cast\\"_qs);
        QTest::qWait(500);
        EXPECT_FALSE(QFile::exists(folder + u"/started"_qs));
    }
    // A missing server and a folder outside every drive do nothing either.
    sibling.StartSiblingServer(u"C:\\Nada\\"_qs);
    sibling.StartSiblingServer(u"Q:\\Vireo\\"_qs);
}

int xdotool(const QStringList& arguments) { return QProcess::execute(u"xdotool"_qs, arguments); }

TEST(DesktopTray, ClicksOnTheTrayIconHideTheWindowAndOpenTheMenuAtTheCursor)
{
    ASSERT_TRUE(waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
    WindowFixture f;
    MainWindow& w = f.build(true);
    w.showCentred();
    TrayIcon& tray = w.tray();
    // The icon's place is known once the tray host has taken it in.
    ASSERT_TRUE(waitFor([&] { return w.isVisible() && tray.geometry().isValid() && tray.geometry().x() > 0; }));
    const QPoint icon = tray.geometry().center();

    ASSERT_EQ(xdotool({u"mousemove"_qs, QString::number(icon.x()), QString::number(icon.y()), u"click"_qs, u"1"_qs}), 0);
    EXPECT_TRUE(waitFor([&] { return !w.isVisible(); }));

    QElapsedTimer sinceClick;
    sinceClick.start();
    ASSERT_EQ(xdotool({u"click"_qs, u"3"_qs}), 0);
    ASSERT_TRUE(waitFor([&] { return tray.PopupTrayIcon().isVisible(); }));
    EXPECT_GE(sinceClick.elapsed(), 150);
    EXPECT_EQ(tray.MenuOcultar_Restaurar->text(), u"Restaurar"_qs);
    // The menu has a corner at the cursor (it opens upwards and to the left
    // where the screen ends).
    EXPECT_TRUE(tray.PopupTrayIcon().geometry().adjusted(-2, -2, 2, 2).contains(icon))
        << tray.PopupTrayIcon().geometry().x() << "," << tray.PopupTrayIcon().geometry().y();

    tray.MenuOcultar_Restaurar->trigger();
    tray.PopupTrayIcon().close();
    EXPECT_TRUE(waitFor([&] { return w.isVisible(); }));
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    XvfbSession xvfb;
    if (!xvfb.start()) {
        fprintf(stderr, "%s\n", qPrintable(xvfb.error()));
        return 1;
    }
    xvfb.startTrayHost();
    qputenv("QT_QPA_PLATFORM", "xcb");
    int result = 0;
    {
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        result = RUN_ALL_TESTS();
    }
    xvfb.stop();
    return result;
}
