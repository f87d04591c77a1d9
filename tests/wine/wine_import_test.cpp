// The import with the automation program running under Wine in the station's
// own prefix: the stand-in (a window of class "VcmMainwin" holding Vireo.ini,
// which it saves on its way out, some seconds after the close request) is
// warned about, asked to close, and waited for: the restore begins only once
// its window is gone, so the file it saved on closing is restored over, and
// its server "Servidor.exe" (a stand-in too) is started again through Wine.
// Without it: no warning and no server. The sibling is the one the program
// builds for a Wine installation (X11 and the helper), behind the recording
// sibling that keeps the order of the calls among the restored files.

#include "platform/SiblingCloseWait.h"
#include "platform/SiblingPrograms.h"
#include "tests/app/XvfbSession.h"
#include "tests/e2e/RunTestKit.h"
#include "tests/wine/WineTestKit.h"

#include <QFile>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>

using namespace vz;
using namespace vz::test;

namespace {

const QString Vireo = QStringLiteral("C:\\Vireo\\");
const QString HeldFile = Installation::SystemFolder + QStringLiteral("Vireo.ini");
const QString Marks = QStringLiteral("C:\\standin\\");
const ExportCategories Dados{false, true, false, false};

class WineImportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kit.service.running());
        wine.start();
        VZ_REQUIRE_WINE(wine);
        kit.prepare(FileTime - 1);
        kit.station.put(Installation::SystemFolder + QStringLiteral("Servidor.exe"), readFile(ServidorStandinExe));
        ASSERT_TRUE(QDir().mkpath(kit.station.host(Marks)));
        siblings = SiblingPrograms::ForInstallation(kit.station.fs, SiblingHelperExe);
        ASSERT_TRUE(siblings->UsesWine());

        // The archive: the installation's own files and databases, exported
        // with nothing running.
        kit.dialogs.answerMessage(ExportDriver::FinishedText);
        kit.runExport(Dados);
        ASSERT_TRUE(kit.errors.isEmpty()) << kit.errors.join(u'\n').toStdString();
        ASSERT_TRUE(kit.dialogs.scriptDone());
        ASSERT_TRUE(QFile::exists(kit.service.archivePath()));
        ASSERT_TRUE(ArchivedFiles(kit.service.archivePath()).contains(HeldFile));
        kit.events.clear();
        kit.sibling.real = siblings.get();
    }

    QString mark(const QString& name) const { return kit.station.host(Marks + name); }
    QString server(const QString& name) const { return kit.station.host(Installation::SystemFolder + name); }
    qsizetype at(const QString& text) const { return FirstContaining(kit.events, text); }

    DriverKit kit;
    WinePrefixSession wine{kit.station.prefix.path()};
    std::unique_ptr<SiblingPrograms> siblings;
};

TEST_F(WineImportTest, WarnsClosesTheProgramWaitsForItToGoRestoresAndStartsItsServer)
{
    const QByteArray archived = kit.station.read(HeldFile);
    WineProgram standin(wine, VireoCastStandinExe,
                        {QStringLiteral("--hold"), HeldFile, QStringLiteral("--ready"), Marks + QStringLiteral("ready"),
                         QStringLiteral("--asked"), Marks + QStringLiteral("asked"), QStringLiteral("--closed"),
                         Marks + QStringLiteral("closed"), QStringLiteral("--close-delay-ms"), QStringLiteral("3000")});
    ASSERT_TRUE(standin.started());
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(mark(QStringLiteral("ready"))); }));

    bool waitingShown = false;
    bool restoreSeen = false;
    bool closedWhenRestoreBegan = false;
    kit.frame.onPump = [&] {
        if (kit.frame.importProgress == SiblingCloseWait::WaitingText) {
            waitingShown = true;
            // The run's clock stands still otherwise: the wait's limit is
            // reached in about a minute of pumps should the program not go.
            kit.clock.advanceMs(SiblingCloseWait::SliceMs);
        }
        // The restore's copies show their destinations.
        if (kit.frame.importSteps.at(2) == StepRunning && kit.frame.importDestination.startsWith(Vireo) &&
            !restoreSeen) {
            restoreSeen = true;
            closedWhenRestoreBegan = QFile::exists(mark(QStringLiteral("closed")));
        }
    };
    kit.dialogs.answerMessage(ImportDriver::SiblingWarning).answerMessage(ImportDriver::FinishedText);
    kit.runImport(ImportSource::Web);

    EXPECT_TRUE(kit.errors.isEmpty()) << kit.errors.join(u'\n').toStdString();
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.frame.importSteps.all(), (std::vector<StepState>{StepDone, StepDone, StepDone}));
    // After the export's final message: the warning, then the import's.
    EXPECT_EQ(kit.dialogs.messageTexts().mid(1), (QStringList{ImportDriver::SiblingWarning, kit.frame.importProgress}));

    // Asked to close before the restore, waited for, gone when it began.
    EXPECT_TRUE(QFile::exists(mark(QStringLiteral("asked"))));
    EXPECT_TRUE(waitingShown);
    EXPECT_TRUE(restoreSeen);
    EXPECT_TRUE(closedWhenRestoreBegan);
    EXPECT_EQ(standin.exitStatus(20000), 0);  // closed on request
    const qsizetype close = at(QStringLiteral("sibling: close"));
    ASSERT_GE(close, 0);
    EXPECT_LT(close, at(Vireo));
    // What it saved on closing did not land on the restored file.
    EXPECT_EQ(kit.station.read(HeldFile).toStdString(), archived.toStdString());

    // Its server started again after the restore, through Wine, in its folder.
    const qsizetype start = at(QStringLiteral("sibling: start"));
    EXPECT_GT(start, LastStartingWith(kit.events, Vireo));
    const QString started = server(QStringLiteral("servidor-iniciado.txt"));
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(started); }));
    EXPECT_EQ(readFile(started), "C:\\Vireo\\Vireo Cast\r\nshow=5\r\n");
    writeFile(server(QStringLiteral("servidor-parar.txt")), "1");
    EXPECT_TRUE(WaitUntil([&] { return QFile::exists(server(QStringLiteral("servidor-encerrado.txt"))); }));
}

TEST_F(WineImportTest, WithoutTheProgramNeitherWarnsNorStartsTheServer)
{
    bool waitingShown = false;
    kit.frame.onPump = [&] { waitingShown = waitingShown || kit.frame.importProgress == SiblingCloseWait::WaitingText; };
    kit.dialogs.answerMessage(ImportDriver::FinishedText);
    kit.runImport(ImportSource::Web);

    EXPECT_TRUE(kit.errors.isEmpty()) << kit.errors.join(u'\n').toStdString();
    EXPECT_TRUE(kit.dialogs.scriptDone());
    EXPECT_EQ(kit.frame.importSteps.all(), (std::vector<StepState>{StepDone, StepDone, StepDone}));
    EXPECT_EQ(kit.dialogs.messageTexts().mid(1), QStringList{kit.frame.importProgress});
    EXPECT_GE(at(QStringLiteral("sibling: running?")), 0);  // it was looked for
    EXPECT_FALSE(waitingShown);
    EXPECT_LT(at(QStringLiteral("sibling: start")), 0);
    EXPECT_FALSE(QFile::exists(server(QStringLiteral("servidor-iniciado.txt"))));
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
