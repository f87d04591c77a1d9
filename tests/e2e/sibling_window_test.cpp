// The sibling program's real X11 mapping through both runs, on an X server of
// the test's own: a window of class "VcmMainwin" (tools/test-sibling-window)
// warned about, asked to close at the run's moment and gone, and the
// installation's "Servidor.exe" (a script here) started afterwards. The
// recording sibling in front of the real one keeps the order of the calls
// among the staged and restored files.

#include "platform/X11SiblingProgram.h"
#include "tests/app/XvfbSession.h"
#include "tests/e2e/RunTestKit.h"

#include <QFile>
#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

using namespace vz;
using namespace vz::test;

namespace {

const QString Staging = QStringLiteral("C:\\Replicacao\\C\\Vireo\\Vireo Cast\\");

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// tools/test-sibling-window: exits with 0 when it gets WM_DELETE_WINDOW.
class SiblingWindow {
public:
    SiblingWindow()
    {
        const QString ready = dir_.file(QStringLiteral("ready"));
        const QStringList arguments{QStringLiteral("--ready"), ready, QStringLiteral("--timeout"), QStringLiteral("60")};
        process_.start(QStringLiteral(VZ_TEST_SIBLING_WINDOW), arguments);
        started_ = process_.waitForStarted(5000) && WaitFor([&] { return QFile::exists(ready); });
    }
    ~SiblingWindow()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    bool started() const { return started_; }
    bool running() { return process_.state() != QProcess::NotRunning && !process_.waitForFinished(0); }
    // Gone because it was asked to close (exit code 0), not by its own time limit.
    bool closedOnRequest(int timeoutMs)
    {
        return (process_.state() == QProcess::NotRunning || process_.waitForFinished(timeoutMs)) &&
               process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
    }

private:
    TempDir dir_;
    QProcess process_;
    bool started_ = false;
};

class SiblingWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kit.service.running());
        kit.prepare(FileTime - 1);
        // The server: a script that notes the folder it was started in.
        const QString server = kit.station.host(Installation::SystemFolder + X11SiblingProgram::ServerFileName);
        writeFile(server, "#!/bin/sh\npwd >> '" + QFile::encodeName(marker) + "'\n");
        setMTime(server, MsOf(FileTime));
        ASSERT_TRUE(QFile::setPermissions(server, QFile::permissions(server) | QFileDevice::ExeOwner));
        kit.sibling.real = &x11;
    }
    qsizetype at(const QString& text) const { return FirstContaining(kit.events, text); }
    // The server script ran, in the installation folder.
    bool serverStarted() const
    {
        // The shell makes the file before pwd writes its line: wait for the line.
        if (!WaitFor([&] { return QFile::exists(marker) && readFile(marker).endsWith('\n'); }))
            return false;
        const QString folder = QFileInfo(kit.station.host(Installation::SystemFolder)).canonicalFilePath();
        return readFile(marker).trimmed() == QFile::encodeName(folder);
    }

    DriverKit kit;
    X11SiblingProgram x11{kit.station.fs};
    TempDir markerDir;
    QString marker = markerDir.file(QStringLiteral("servidor-iniciado"));
};

TEST_F(SiblingWindowTest, ExportWarnsClosesTheWindowAfterTheInstallationFilesAndStartsTheServerAfterItsDatabases)
{
    SiblingWindow window;
    ASSERT_TRUE(window.started());
    // What the X server shows at the run's moments.
    int rootFilePumps = 0;
    bool presentWhileRootFilesStaged = true;
    bool databasesSeen = false;
    bool goneWhenDatabasesStaged = false;
    bool serverStartedBeforeDatabases = false;
    kit.frame.onPump = [&] {
        const QString& destination = kit.frame.exportDestination;
        if (!destination.startsWith(Staging))
            return;
        const QString rest = destination.mid(Staging.size());
        // Until the close request the window must stay: the installation's own files come first.
        if (!rest.contains(QLatin1Char('\\')) && at(QStringLiteral("sibling: close")) < 0) {
            ++rootFilePumps;
            presentWhileRootFilesStaged = presentWhileRootFilesStaged && x11.SiblingIsRunning();
        } else if (rest.startsWith(QStringLiteral("Vireodb\\")) && !databasesSeen) {
            databasesSeen = true;
            serverStartedBeforeDatabases = QFile::exists(marker);
            // Asked before the databases are copied; it goes in its own time.
            goneWhenDatabasesStaged = WaitFor([&] { return !x11.SiblingIsRunning(); });
        }
    };
    kit.dialogs.answerMessage(ExportDriver::SiblingWarning).answerMessage(ExportDriver::FinishedText);
    kit.runExport(ExportCategories{false, true, false, false});

    EXPECT_TRUE(kit.errors.isEmpty()) << kit.errors.join(u'\n').toStdString();
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.dialogs.messageTexts().first(), ExportDriver::SiblingWarning);
    EXPECT_GE(rootFilePumps, 2);  // Vireo.ini and Servidor.exe
    EXPECT_TRUE(presentWhileRootFilesStaged);
    EXPECT_TRUE(databasesSeen);
    EXPECT_TRUE(goneWhenDatabasesStaged);
    EXPECT_FALSE(serverStartedBeforeDatabases);
    EXPECT_TRUE(window.closedOnRequest(10000));
    // The real calls in their order among the staged files.
    const qsizetype close = at(QStringLiteral("sibling: close"));
    const qsizetype start = at(QStringLiteral("sibling: start"));
    ASSERT_GE(close, 0);
    EXPECT_LT(at(Staging + QStringLiteral("Vireo.ini")), close);
    EXPECT_LT(close, at(Staging + QStringLiteral("Vireodb\\")));
    const qsizetype lastDatabaseFile = LastStartingWith(kit.events, Staging + QStringLiteral("Vireodb\\"));
    ASSERT_GT(lastDatabaseFile, close);
    EXPECT_GT(start, lastDatabaseFile);
    EXPECT_LT(start, at(Staging + QStringLiteral("Plugins\\")));
    EXPECT_TRUE(serverStarted());
    EXPECT_EQ(kit.events.count(QStringLiteral("sibling: close")), 1);
    EXPECT_TRUE(QFile::exists(kit.service.archivePath()));
}

TEST_F(SiblingWindowTest, ImportWarnsClosesTheWindowBeforeTheRestoreAndStartsTheServerAfterIt)
{
    // An archive on the service, made with no sibling window open. It holds
    // the audio folders only: the restore leaves the server script alone
    // (restored files carry no run bit).
    kit.dialogs.answerMessage(ExportDriver::FinishedText);
    kit.runExport(ExportCategories{false, false, true, false});
    ASSERT_TRUE(kit.dialogs.scriptDone());
    ASSERT_TRUE(QFile::exists(kit.service.archivePath()));
    ASSERT_FALSE(QFile::exists(marker));  // nothing to start without the window
    kit.events.clear();

    SiblingWindow window;
    ASSERT_TRUE(window.started());
    bool extractionSeen = false;
    bool presentWhileExtracting = true;
    bool restoreSeen = false;
    bool goneWhenRestoring = false;
    kit.frame.onPump = [&] {
        if (kit.frame.importSteps.at(1) == StepRunning) {
            extractionSeen = true;
            presentWhileExtracting = presentWhileExtracting && x11.SiblingIsRunning();
        }
        // The restore's copies show their destinations.
        if (kit.frame.importSteps.at(2) == StepRunning && !kit.frame.importDestination.isEmpty() && !restoreSeen) {
            restoreSeen = true;
            goneWhenRestoring = WaitFor([&] { return !x11.SiblingIsRunning(); });
        }
    };
    kit.dialogs.answerMessage(ImportDriver::SiblingWarning).answerMessage(ImportDriver::FinishedText);
    kit.runImport(ImportSource::Web);

    EXPECT_TRUE(kit.errors.isEmpty()) << kit.errors.join(u'\n').toStdString();
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.frame.importSteps.all(), (std::vector<StepState>{StepDone, StepDone, StepDone}));
    // After the export's final message: the warning, then the import's.
    EXPECT_EQ(kit.dialogs.messageTexts().mid(1), (QStringList{ImportDriver::SiblingWarning, kit.frame.importProgress}));
    EXPECT_TRUE(extractionSeen);
    EXPECT_TRUE(presentWhileExtracting);
    EXPECT_TRUE(restoreSeen);
    EXPECT_TRUE(goneWhenRestoring);
    EXPECT_TRUE(window.closedOnRequest(10000));
    const qsizetype close = at(QStringLiteral("sibling: close"));
    const qsizetype start = at(QStringLiteral("sibling: start"));
    ASSERT_GE(close, 0);
    EXPECT_LT(close, at(QStringLiteral("C:\\Vireo\\")));
    const qsizetype lastRestored = LastStartingWith(kit.events, QStringLiteral("C:\\Vireo\\"));
    ASSERT_GT(lastRestored, close);
    EXPECT_GT(start, lastRestored);
    EXPECT_TRUE(serverStarted());
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    XvfbSession xvfb;
    if (!xvfb.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(xvfb.error()));
        return 1;
    }
    const int result = RUN_ALL_TESTS();
    xvfb.stop();
    return result;
}
