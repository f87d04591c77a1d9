// End to end through the real window (offscreen) and its wiring: exports
// started with the window's start button, the archive on the reference
// service or in a chosen folder, imports into a second installation, every
// file compared byte for byte.

#include "app/MainWindow.h"
#include "app/RunWiring.h"
#include "tests/e2e/RunTestKit.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

namespace {

// One installation with its window and the runs attached as main() attaches them.
struct Station {
    Station(const ServiceProcess& service, bool full, PackagingOptions packaging = {})
    {
        if (full)
            installation.populate();
        else
            installation.populateEmpty();
        databases = std::make_unique<AutomationDatabases>(installation.fs);
        window = std::make_unique<MainWindow>(MainWindowServices{
            installation.fs, clock, RegionalSettings::dayMonthYear(), dialogs, *databases,
            Installation::ExeFolder + QStringLiteral("vireo-zuvavivevo"), service.host(), [] { return true; }});
        runs = std::make_unique<RunWiring>(*window, sibling, packaging);
    }
    ~Station()
    {
        runs.reset();
        window.reset();
    }
    QString settingsText() const
    {
        return QString::fromLatin1(installation.read(Installation::ExeFolder + QStringLiteral("VireoReplicador.ini")));
    }

    Installation installation;
    ManualClock clock{FirstNow};
    ScriptedDialogs dialogs;
    QStringList events;
    RecordingSibling sibling{events};
    std::unique_ptr<AutomationDatabases> databases;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<RunWiring> runs;
};

// Entry names of a one-volume archive, read by the standard tool.
QStringList EntriesOf(const QString& hostArchive)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), hostArchive});
    EXPECT_TRUE(unzip.waitForFinished(30000));
    QStringList names = QString::fromUtf8(unzip.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    names.sort();
    return names;
}

void ExpectRestored(const QMap<QString, FileState>& exported, const Installation& target)
{
    int compared = 0;
    for (auto it = exported.begin(); it != exported.end(); ++it) {
        if (it.key().startsWith(QStringLiteral("\\\\")))
            continue;  // a share is not restored
        ASSERT_TRUE(target.exists(it.key())) << it.key().toStdString();
        EXPECT_EQ(target.read(it.key()), it.value().bytes) << it.key().toStdString();
        const qint64 restoredMs = QFileInfo(target.host(it.key())).lastModified().toMSecsSinceEpoch();
        EXPECT_LE(qAbs(restoredMs - it.value().modifiedMs), 2000) << it.key().toStdString();
        ++compared;
    }
    EXPECT_EQ(compared, 17);  // 13 installation files, 2 databases, 2 music files on D:
}

// A first export with "Geral" and the first-run prompt left empty: everything.
void ExportEverything(Station& station)
{
    station.window->controls().chkGeral->click();
    station.dialogs.cancelInput().answerMessage(ExportDriver::FinishedText);
    station.window->btnIniciarExportacaoClick();
    ASSERT_TRUE(station.dialogs.scriptDone());
}

class RoundTripTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(service.running()); }
    ServiceProcess service;
};

TEST_F(RoundTripTest, AFullExportImportedIntoAnotherStationRestoresEveryFile)
{
    Station a(service, true);
    // A native build of the automation's server must stay startable after a restore.
    const QString server = Installation::SystemFolder + QStringLiteral("Servidor.exe");
    ASSERT_TRUE(QFile::setPermissions(a.installation.host(server), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                      QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                                                      QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                                      QFileDevice::ExeOther));
    const QMap<QString, FileState> exported = a.installation.exportedFiles();
    a.window->controls().chkGeral->click();
    ASSERT_TRUE(a.window->exportChoice().geral);
    a.dialogs.cancelInput().answerMessage(ExportDriver::FinishedText);  // first run: everything
    a.window->btnIniciarExportacaoClick();
    ASSERT_TRUE(a.dialogs.scriptDone());
    ASSERT_TRUE(QFile::exists(service.archivePath()));
    // The moment the walk began, just below the run's start, written to the second.
    EXPECT_TRUE(a.settingsText().contains(QStringLiteral("dados=01/06/2090 09:59:59")));
    EXPECT_EQ(a.window->controls().lblProgressoExportacao->text(),
              QStringLiteral("Exportação finalizada as 01/06/2090 10:00:00"));

    Station b(service, false);
    b.clock.set(LocalTime(2090, 6, 1, 12));
    b.dialogs.answerMessage(ImportDriver::FinishedText);
    b.window->btnIniciarImportacaoClick();
    ASSERT_TRUE(b.dialogs.scriptDone()) << b.dialogs.messageTexts().join(u'\n').toStdString();
    ExpectRestored(exported, b.installation);
    EXPECT_TRUE(QFileInfo(b.installation.host(server)).permissions() & QFileDevice::ExeOther);
    EXPECT_FALSE(b.installation.exists(QStringLiteral("\\\\srv\\musica\\Jazz\\Noite.mp3")));
    EXPECT_FALSE(QFile::exists(service.archivePath()));
    EXPECT_TRUE(b.settingsText().contains(QStringLiteral("musica=01/06/2090 12:00:00")));
    EXPECT_TRUE(b.window->controls().btnIniciarImportacao->isEnabled());
}

TEST_F(RoundTripTest, AnIncrementalExportCarriesExactlyTheTouchedFiles)
{
    Station a(service, true);
    ExportEverything(a);

    const Timestamp touched = LocalTime(2090, 6, 1, 11);
    a.installation.put(Installation::SystemFolder + QStringLiteral("Listas\\Segunda.lst"), "nova lista", touched);
    a.installation.put(Installation::SystemFolder + QStringLiteral("Comerciais\\padaria.mp3"), "novo", touched);
    a.installation.put(QStringLiteral("D:\\Musicas\\Rock\\02 - Motor.mp3"), "remix", touched);
    a.clock.set(LocalTime(2090, 6, 1, 12));
    // "Áudios" and "Músicas" checked uncheck "Geral" and check "Dados" again.
    a.window->controls().chkAudios->click();
    a.window->controls().chkMusicas->click();
    const ExportChoice choice = a.window->exportChoice();
    ASSERT_TRUE(choice.dados && choice.audios && choice.musicas && !choice.geral);
    a.dialogs.answerMessage(ExportDriver::FinishedText);
    a.window->btnIniciarExportacaoClick();
    ASSERT_TRUE(a.dialogs.scriptDone());
    EXPECT_EQ(EntriesOf(service.archivePath()),
              (QStringList{QStringLiteral("Replicacao/C/Vireo/Vireo Cast/Comerciais/padaria.mp3"),
                           QStringLiteral("Replicacao/C/Vireo/Vireo Cast/Listas/Segunda.lst"),
                           QStringLiteral("Replicacao/D/Musicas/Rock/02 - Motor.mp3")}));
}

TEST_F(RoundTripTest, AVolumeSetSavedIntoAFolderIsImportedFromThatFolder)
{
    Station a(service, true, PackagingOptions{64 * 1024});
    const QMap<QString, FileState> exported = a.installation.exportedFiles();
    QDir().mkpath(a.installation.host(QStringLiteral("D:\\Copias")));
    a.window->controls().chkGeral->click();
    a.dialogs.cancelInput().answerSave(QStringLiteral("D:\\Copias\\") + ArchiveFile)
        .answerMessage(ExportDriver::FinishedText);
    a.window->btnIniciarExportacaoClick();
    ASSERT_TRUE(a.dialogs.scriptDone());
    const QString savedHost = a.installation.host(QStringLiteral("D:\\Copias"));
    const QStringList volumes = Installation::filesBelow(savedHost);
    ASSERT_GE(volumes.size(), 4);
    EXPECT_FALSE(QFile::exists(service.archivePath()));

    Station b(service, false);
    const QString folder = b.installation.host(QStringLiteral("D:\\Copias"));
    QDir().mkpath(folder);
    for (const QString& name : volumes)
        ASSERT_TRUE(QFile::copy(savedHost + QLatin1Char('/') + name, folder + QLatin1Char('/') + name));
    b.window->controls().rbtRestaurarArquivo->setChecked(true);
    b.dialogs.answerOpen(QStringLiteral("D:\\Copias\\") + ArchiveFile).answerMessage(ImportDriver::FinishedText);
    b.window->btnIniciarImportacaoClick();
    ASSERT_TRUE(b.dialogs.scriptDone()) << b.dialogs.messageTexts().join(u'\n').toStdString();
    ExpectRestored(exported, b.installation);
    EXPECT_EQ(Installation::filesBelow(folder), volumes);  // the chosen folder keeps the set
}

// Calls `act` from the window's event loop as soon as `when` holds, as a
// close box or a logout would arrive in the middle of a run.
class WhenDuringRun {
public:
    WhenDuringRun(QObject* context, std::function<bool()> when, std::function<void()> act)
    {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, context, [this, when = std::move(when), act = std::move(act)] {
            if (done_ || !when())
                return;
            done_ = true;
            timer_.stop();
            act();
        });
        timer_.start();
    }
    bool done() const { return done_; }

private:
    QTimer timer_;
    bool done_ = false;
};

TEST_F(RoundTripTest, ClosingTheWindowDuringAnExportStopsItAndSavesOnlyTheDeliveredMoments)
{
    Station a(service, true);
    ExportEverything(a);
    const QString delivered = a.settingsText();
    ASSERT_TRUE(delivered.contains(QStringLiteral("dados=01/06/2090 09:59:59")));
    QFile::remove(service.archivePath());

    // The next export, with the categories: closed at the first chance once
    // "Dados" is staged (its moment would have moved in memory by then).
    a.clock.set(LocalTime(2090, 6, 1, 12));
    a.installation.put(Installation::SystemFolder + QStringLiteral("Vireo.ini"), "novo", LocalTime(2090, 6, 1, 11));
    a.window->controls().chkAudios->click();
    a.window->controls().chkMusicas->click();
    QSignalSpy closed(a.window.get(), &MainWindow::closed);
    QString settingsAtClose;
    WhenDuringRun closeBox(
        a.window.get(),
        [&] { return a.window->controls().trvExportacao->state(ExportDriver::DadosStep) == StepDone; },
        [&] {
            a.window->close();
            settingsAtClose = a.settingsText();
        });
    const qsizetype messages = a.dialogs.records().size();
    a.window->btnIniciarExportacaoClick();
    ASSERT_TRUE(closeBox.done());
    // The file never held the moment of the export that was not delivered,
    // the run stopped where it was, silently, and the window closed after it.
    EXPECT_EQ(settingsAtClose, delivered);
    EXPECT_EQ(a.settingsText(), delivered);
    EXPECT_FALSE(QFile::exists(service.archivePath()));
    EXPECT_EQ(a.dialogs.records().size(), messages);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(a.window->isVisible());
    const QString log = QString::fromUtf8(a.installation.read(Installation::ExeFolder + RunLog::FileName));
    EXPECT_TRUE(log.contains(QStringLiteral("Exportação interrompida: o programa foi fechado"))) << log.toStdString();
}

TEST_F(RoundTripTest, ALogoutDuringAnImportStopsItAndTheServiceKeepsItsCopy)
{
    Station a(service, true);
    ExportEverything(a);
    ASSERT_TRUE(QFile::exists(service.archivePath()));

    Station b(service, false);
    const QString before = b.settingsText();
    QSignalSpy closed(b.window.get(), &MainWindow::closed);
    WhenDuringRun logout(
        b.window.get(),
        [&] { return b.window->controls().trvImportacao->state(ExtractionAndRestore::RestoreStep) == StepRunning; },
        [&] { b.window->EndSession(); });
    b.window->btnIniciarImportacaoClick();
    ASSERT_TRUE(logout.done());
    EXPECT_EQ(closed.count(), 1);
    EXPECT_TRUE(QFile::exists(service.archivePath()));  // no removal for a restore that did not end
    EXPECT_FALSE(b.settingsText().contains(QStringLiteral("2090"))) << b.settingsText().toStdString();
    EXPECT_TRUE(b.dialogs.records().empty());
    const QString log = QString::fromUtf8(b.installation.read(Installation::ExeFolder + RunLog::FileName));
    EXPECT_TRUE(log.contains(QStringLiteral("Importação interrompida: o programa foi fechado"))) << log.toStdString();
}

}  // namespace
