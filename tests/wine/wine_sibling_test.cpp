// The sibling program under real Wine, on an X server of the test's own and a
// prefix made for this test: the helper finds the stand-in's window of class
// "VcmMainwin" (which X11 cannot see by class), also from a Wine session with
// another TMPDIR, asks it to close without waiting, starts the server in its
// folder with show command 5, and no Wine is started to look for a program
// when none of the prefix runs; the wait for
// the close ends when the window goes and gives up at its limit; the
// combined sibling uses Wine only in a Wine prefix with wine at hand, sees
// either program and closes both.

#include "platform/SiblingCloseWait.h"
#include "platform/SiblingPrograms.h"
#include "platform/WineServer.h"
#include "platform/WineSiblingProgram.h"
#include "platform/X11SiblingProgram.h"
#include "tests/app/XvfbSession.h"
#include "tests/support/ManualClock.h"
#include "tests/support/RecordingRunFrame.h"
#include "tests/support/TempPrefix.h"
#include "tests/wine/WineTestKit.h"

#include <QFile>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>

using namespace vz;
using namespace vz::test;

namespace {

const QByteArray HeldBytes = "[GERAL]\r\nEmissora=Radio Vireo FM\r\n";
const QByteArray SavedOnClose = "estado salvo pelo Vireo Cast ao fechar\r\n";

// The native stand-in (tools/test-sibling-window): exits with 0 on WM_DELETE_WINDOW.
class NativeWindow {
public:
    explicit NativeWindow(const QString& readyFile)
    {
        process_.start(QStringLiteral(VZ_TEST_SIBLING_WINDOW),
                       {QStringLiteral("--ready"), readyFile, QStringLiteral("--timeout"), QStringLiteral("60")});
        started_ = process_.waitForStarted(5000) && WaitUntil([&] { return QFile::exists(readyFile); });
    }
    ~NativeWindow()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    bool started() const { return started_; }
    int exitStatus(int timeoutMs)
    {
        if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(timeoutMs))
            return -1;
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

private:
    QProcess process_;
    bool started_ = false;
};

class WineSiblingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        prefix_ = new TempPrefix(QStringLiteral("c"));
        session_ = new WinePrefixSession(prefix_->path());
        session_->start();
    }
    static void TearDownTestSuite()
    {
        delete session_;
        session_ = nullptr;
        delete prefix_;
        prefix_ = nullptr;
    }

    void SetUp() override
    {
        VZ_REQUIRE_WINE(*session_);
        // Each case works in a folder of its own on C:.
        caseFolder = QStringLiteral("C:\\") + QString::fromLatin1(
                                                  ::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                     QLatin1Char('\\');
        ASSERT_TRUE(QDir().mkpath(host(caseFolder)));
        writeFile(host(caseFolder + QStringLiteral("Vireo.ini")), HeldBytes);
    }

    QString host(const QString& windowsPath) const { return fs.toHost(windowsPath).value_or(QString()); }
    bool exists(const QString& name) const { return QFile::exists(host(caseFolder + name)); }
    void create(const QString& name) const { writeFile(host(caseFolder + name), "1"); }

    // The stand-in of the automation program, holding Vireo.ini; started and ready.
    std::unique_ptr<WineProgram> startStandin(const QStringList& closing, const QString& tmpDir = {})
    {
        const QString f = caseFolder;
        auto program = std::make_unique<WineProgram>(
            *session_, VireoCastStandinExe,
            QStringList{QStringLiteral("--hold"), f + QStringLiteral("Vireo.ini"), QStringLiteral("--ready"),
                        f + QStringLiteral("ready"), QStringLiteral("--asked"), f + QStringLiteral("asked"),
                        QStringLiteral("--closed"), f + QStringLiteral("closed")} +
                closing,
            tmpDir);
        EXPECT_TRUE(program->started());
        EXPECT_TRUE(WaitUntil([&] { return exists(QStringLiteral("ready")); }));
        return program;
    }
    // Closes only once the case's "let-go" file exists.
    QStringList closesWhenLetGo() const
    {
        return {QStringLiteral("--close-when"), caseFolder + QStringLiteral("let-go")};
    }

    static inline TempPrefix* prefix_ = nullptr;
    static inline WinePrefixSession* session_ = nullptr;
    FileSystem fs{prefix_->driveMap()};
    WineSiblingProgram wine{session_->wine(), prefix_->path(), SiblingHelperExe};
    QString caseFolder;
};

TEST_F(WineSiblingTest, FindsTheWindowOfItsClassWhichX11CannotAndNoOtherProgramsWindow)
{
    // Another program of the prefix keeps its Wine running: the helper answers.
    ASSERT_TRUE(QFile::copy(ServidorStandinExe, host(caseFolder) + QStringLiteral("/Outro.exe")));
    WineProgram other(*session_, host(caseFolder) + QStringLiteral("/Outro.exe"), {});
    ASSERT_TRUE(WaitUntil([&] { return exists(QStringLiteral("servidor-iniciado.txt")); }));
    ASSERT_EQ(WineServer::Find(prefix_->path()).state, WineServer::State::Running);
    EXPECT_FALSE(wine.SiblingIsRunning());
    EXPECT_EQ(wine.lastError(), QString());

    auto standin = startStandin(closesWhenLetGo());
    EXPECT_TRUE(wine.SiblingIsRunning());
    EXPECT_EQ(wine.lastError(), QString());
    // Wine names the X11 window after the process, not after its Win32 class.
    X11SiblingProgram x11(fs);
    EXPECT_FALSE(x11.SiblingIsRunning());

    // Gone without a close request (killed): not found any more, by the helper.
    ASSERT_TRUE(standin->running());
    standin.reset();
    EXPECT_TRUE(WaitUntil([&] { return !wine.SiblingIsRunning(); }));
    EXPECT_EQ(wine.lastError(), QString());
    EXPECT_EQ(WineServer::Find(prefix_->path()).state, WineServer::State::Running);
    create(QStringLiteral("servidor-parar.txt"));
    EXPECT_EQ(other.exitStatus(20000), 0);
}

TEST_F(WineSiblingTest, FindsTheProgramOfAWineSessionWithAnotherTmpdir)
{
    // Debian's Wine keeps a server's socket below TMPDIR, and the station's
    // desktop session need not share this program's.
    session_->endPrograms();
    TempDir otherTmp;
    {
        auto standin = startStandin(closesWhenLetGo(), otherTmp.path());
        const WineServer::Lookup server = WineServer::Find(prefix_->path());
        EXPECT_EQ(server.state, WineServer::State::Running);
        EXPECT_EQ(server.tmpDir, otherTmp.path());
        EXPECT_TRUE(wine.SiblingIsRunning());
        wine.AskSiblingToClose();
        EXPECT_TRUE(WaitUntil([&] { return exists(QStringLiteral("asked")); }));
        create(QStringLiteral("let-go"));
        EXPECT_EQ(standin->exitStatus(20000), 0);
        EXPECT_EQ(wine.lastError(), QString());
    }
    session_->endPrograms(otherTmp.path());
}

TEST_F(WineSiblingTest, WithoutARunningWineserverNoWineIsStartedToLookOrToClose)
{
    session_->endPrograms();
    ASSERT_EQ(WineServer::Find(prefix_->path()).state, WineServer::State::NotRunning);
    EXPECT_FALSE(wine.SiblingIsRunning());
    wine.AskSiblingToClose();
    EXPECT_EQ(wine.lastError(), QString());
    EXPECT_EQ(WineServer::Find(prefix_->path()).state, WineServer::State::NotRunning);
}

TEST_F(WineSiblingTest, CloseRequestReachesTheWindowAndDoesNotWaitForIt)
{
    // No window: nothing to ask, and that is no failure.
    wine.AskSiblingToClose();
    EXPECT_EQ(wine.lastError(), QString());

    auto standin = startStandin(closesWhenLetGo());
    wine.AskSiblingToClose();
    EXPECT_EQ(wine.lastError(), QString());
    EXPECT_TRUE(WaitUntil([&] { return exists(QStringLiteral("asked")); }));
    // Returned while the program is still closing: it goes only when let go.
    EXPECT_TRUE(wine.SiblingIsRunning());
    EXPECT_TRUE(standin->running());
    EXPECT_EQ(readFile(host(caseFolder + QStringLiteral("Vireo.ini"))), HeldBytes);

    create(QStringLiteral("let-go"));
    EXPECT_EQ(standin->exitStatus(20000), 0);  // closed on request, not by its time limit
    EXPECT_FALSE(wine.SiblingIsRunning());
    EXPECT_EQ(readFile(host(caseFolder + QStringLiteral("Vireo.ini"))), SavedOnClose);
}

TEST_F(WineSiblingTest, StartsTheServerInItsFolderWithShowCommandFiveAndReturnsAtOnce)
{
    // A folder name with a blank, as the installation's has.
    const QString systemFolder = caseFolder + QStringLiteral("Vireo Cast\\");
    ASSERT_TRUE(QDir().mkpath(host(caseFolder) + QStringLiteral("/Vireo Cast")));
    ASSERT_TRUE(QFile::copy(ServidorStandinExe, host(caseFolder) + QStringLiteral("/Vireo Cast/Servidor.exe")));
    const QString started = host(systemFolder + QStringLiteral("servidor-iniciado.txt"));
    const QString ended = host(systemFolder + QStringLiteral("servidor-encerrado.txt"));

    wine.StartSiblingServer(systemFolder);
    EXPECT_EQ(wine.lastError(), QString());
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(started); }));
    EXPECT_EQ(readFile(started), "C:\\StartsTheServerInItsFolderWithShowCommandFiveAndReturnsAtOnce\\Vireo Cast\r\n"
                                 "show=5\r\n");
    // The server runs until it is told to stop: the start did not wait for it.
    EXPECT_FALSE(QFile::exists(ended));
    writeFile(host(systemFolder + QStringLiteral("servidor-parar.txt")), "1");
    EXPECT_TRUE(WaitUntil([&] { return QFile::exists(ended); }));

    // A server that is not there: the helper's failure is reported, not hidden.
    wine.StartSiblingServer(caseFolder + QStringLiteral("Nada\\"));
    EXPECT_TRUE(wine.lastError().contains(QStringLiteral("exit status 2"))) << wine.lastError().toStdString();
}

TEST_F(WineSiblingTest, WaitForTheCloseEndsWhenTheWindowGoes)
{
    auto standin = startStandin({QStringLiteral("--close-delay-ms"), QStringLiteral("1500")});
    RecordingRunFrame frame;
    const SystemClock clock;

    wine.AskSiblingToClose();
    EXPECT_TRUE(SiblingCloseWait(wine, frame, clock, RunPage::Import).Wait());

    // It returned because the window went, after the program had saved and closed.
    EXPECT_TRUE(exists(QStringLiteral("closed")));
    EXPECT_EQ(readFile(host(caseFolder + QStringLiteral("Vireo.ini"))), SavedOnClose);
    EXPECT_EQ(standin->exitStatus(20000), 0);
    EXPECT_FALSE(wine.SiblingIsRunning());
    EXPECT_EQ(frame.importProgress, SiblingCloseWait::WaitingText);
    EXPECT_EQ(frame.exportProgress, QString());
    EXPECT_GT(frame.pumps, 0);
}

TEST_F(WineSiblingTest, WaitForTheCloseGivesUpAtItsLimitOnItsClock)
{
    auto standin = startStandin(closesWhenLetGo());
    RecordingRunFrame frame;
    ManualClock clock;
    const Timestamp start = clock.now();
    // Each pause is a second on the test's clock: the limit comes after a
    // few looks, without a minute of real time.
    const auto pause = [&](int) { clock.advanceMs(1000); };

    wine.AskSiblingToClose();
    EXPECT_FALSE(SiblingCloseWait(wine, frame, clock, RunPage::Export, pause).Wait());

    const double waitedMs = (clock.now() - start) * 86400000.0;
    EXPECT_GE(waitedMs, SiblingCloseWait::LimitMs - 1);
    EXPECT_LE(waitedMs, SiblingCloseWait::LimitMs + 1001);
    EXPECT_EQ(frame.exportProgress, SiblingCloseWait::WaitingText);
    EXPECT_EQ(wine.lastError(), QString());
    // Still there, still closing.
    EXPECT_TRUE(standin->running());
    EXPECT_TRUE(wine.SiblingIsRunning());
    create(QStringLiteral("let-go"));
    EXPECT_EQ(standin->exitStatus(20000), 0);
}

TEST_F(WineSiblingTest, CombinedSiblingUsesWineOnlyInAWinePrefixWithWineOnThePath)
{
    EXPECT_TRUE(SiblingPrograms::ForInstallation(fs, SiblingHelperExe)->UsesWine());

    // Drive links alone, no system.reg: a native installation.
    TempPrefix plain(QStringLiteral("c"));
    const FileSystem plainFs(plain.driveMap());
    EXPECT_FALSE(SiblingPrograms::ForInstallation(plainFs, SiblingHelperExe)->UsesWine());

    // No wine to run the helper with.
    const QByteArray path = qgetenv("PATH");
    TempDir emptyBin;
    qputenv("PATH", QFile::encodeName(emptyBin.path()));
    const bool usesWineWithoutWine = SiblingPrograms::ForInstallation(fs, SiblingHelperExe)->UsesWine();
    qputenv("PATH", path);
    EXPECT_FALSE(usesWineWithoutWine);
}

TEST_F(WineSiblingTest, CombinedSiblingSeesEitherProgramClosesBothAndStartsTheServerThroughWine)
{
    auto siblings = SiblingPrograms::ForInstallation(fs, SiblingHelperExe);
    ASSERT_TRUE(siblings->UsesWine());
    EXPECT_FALSE(siblings->SiblingIsRunning());

    {
        NativeWindow native(host(caseFolder) + QStringLiteral("/native-ready"));
        ASSERT_TRUE(native.started());
        EXPECT_TRUE(siblings->SiblingIsRunning());  // the native one alone
    }
    EXPECT_TRUE(WaitUntil([&] { return !siblings->SiblingIsRunning(); }));

    auto standin = startStandin({});
    EXPECT_TRUE(siblings->SiblingIsRunning());  // the Wine one alone
    NativeWindow native(host(caseFolder) + QStringLiteral("/native-ready-2"));
    ASSERT_TRUE(native.started());

    siblings->AskSiblingToClose();
    EXPECT_EQ(native.exitStatus(20000), 0);
    EXPECT_EQ(standin->exitStatus(20000), 0);
    EXPECT_FALSE(siblings->SiblingIsRunning());

    // Through the helper: the show command 5 reaches the server.
    ASSERT_TRUE(QFile::copy(ServidorStandinExe, host(caseFolder) + QStringLiteral("/Servidor.exe")));
    siblings->StartSiblingServer(caseFolder);
    const QString started = host(caseFolder + QStringLiteral("servidor-iniciado.txt"));
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(started); }));
    EXPECT_TRUE(readFile(started).endsWith("\r\nshow=5\r\n")) << readFile(started).toStdString();
    create(QStringLiteral("servidor-parar.txt"));
    EXPECT_TRUE(WaitUntil([&] { return exists(QStringLiteral("servidor-encerrado.txt")); }));
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
