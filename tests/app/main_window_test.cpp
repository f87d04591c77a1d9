// The main window on a temporary installation: its controls, the step marks,
// the controls a run disables, the check-box rules, the standard error
// display, the progress mirror, the tray and its menu, start-up and close.

#include "app/Pictures.h"
#include "platform/Errors.h"
#include "platform/TerminationRequests.h"
#include "tests/app/PaintCounter.h"
#include "tests/app/WindowFixture.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <ostream>

#include <poll.h>
#include <unistd.h>
#include <set>

QT_BEGIN_NAMESPACE
// Readable QString values in test failures.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

using namespace vz;
using namespace vz::test;

namespace {

QImage pictureOf(const QIcon& icon) { return icon.pixmap(QSize(16, 16), 1.0).toImage(); }


std::vector<StepState> statesOf(const StepList& list) { return list.states().all(); }

class MainWindowTest : public ::testing::Test {
protected:
    WindowFixture f;
    MainWindow& w = f.build();
    MainWindowControls& c = w.controls();

    // Names of the controls and menu items that are disabled in themselves.
    std::set<QString> explicitlyDisabled()
    {
        std::set<QString> names;
        static const QRegularExpression control(u"^(PageControl|tab|grp|chk|rbt|trv|lbl|pgb|btn)"_qs);
        for (QWidget* child : w.findChildren<QWidget*>(control))
            if (child->testAttribute(Qt::WA_ForceDisabled))
                names.insert(child->objectName());
        for (QAction* item : w.tray().PopupTrayIcon().actions())
            if (!item->isEnabled())
                names.insert(item->objectName());
        return names;
    }
};

TEST_F(MainWindowTest, ControlsStandWhereTheyBelongWithTheirCaptions)
{
    EXPECT_EQ(w.windowTitle(), u"Vireo Zuvavivevo"_qs);
    EXPECT_EQ(w.size(), QSize(445, 317));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);

    struct Expected {
        const char* name;
        QRect geometry;
        QString caption;
    };
    const Expected buttons[] = {
        {"btnIniciarExportacao", {4, 243, 150, 41}, u"Iniciar Exportação"_qs},
        {"btnOcultarExportacao", {157, 243, 136, 41}, u"Ocultar"_qs},
        {"btnFecharExportacao", {296, 243, 136, 41}, u"Fechar"_qs},
        {"btnIniciarImportacao", {4, 243, 150, 41}, u"Iniciar Importação"_qs},
        {"btnOcultarImportacao", {157, 243, 136, 41}, u"Ocultar"_qs},
        {"btnFecharImportacao", {296, 243, 136, 41}, u"Fechar"_qs},
        {"chkDados", {8, 16, 321, 17}, u"Dados (Arquivos do Sistema/Base de Dados/Programações)"_qs},
        {"chkAudios", {8, 32, 297, 17}, u"Áudios (Comerciais/Vinhetas/Trilhas/Efeitos/Locuções)"_qs},
        {"chkMusicas", {8, 48, 121, 17}, u"Músicas"_qs},
        {"chkGeral", {8, 64, 121, 17}, u"Geral"_qs},
        {"rbtRestaurarWeb", {8, 24, 160, 17}, u"Restaurar da web"_qs},
        {"rbtRestaurarArquivo", {8, 56, 160, 17}, u"Restaurar de um arquivo"_qs},
    };
    for (const auto& e : buttons) {
        auto* b = w.findChild<QAbstractButton*>(QLatin1String(e.name));
        ASSERT_NE(b, nullptr) << e.name;
        EXPECT_EQ(b->geometry(), e.geometry) << e.name;
        EXPECT_EQ(b->text(), e.caption) << e.name;
        if (qobject_cast<QPushButton*>(b)) {
            EXPECT_EQ(b->cursor().shape(), Qt::PointingHandCursor) << e.name;
            EXPECT_FALSE(b->icon().isNull()) << e.name;
        }
    }
    EXPECT_TRUE(c.chkDados->isChecked());
    EXPECT_FALSE(c.chkDados->isEnabled());
    EXPECT_TRUE(c.chkAudios->isChecked());
    EXPECT_FALSE(c.chkMusicas->isChecked());
    EXPECT_FALSE(c.chkGeral->isChecked());
    EXPECT_TRUE(c.rbtRestaurarWeb->isChecked());
    EXPECT_EQ(w.importMode(), ImportMode::Web);
    c.rbtRestaurarArquivo->click();
    EXPECT_EQ(w.importMode(), ImportMode::File);

    EXPECT_EQ(c.PageControl1->tabText(0), u"Exportar"_qs);
    EXPECT_EQ(c.PageControl1->tabText(1), u"Importar"_qs);
    EXPECT_EQ(c.PageControl1->currentWidget(), c.tabExportar);
    EXPECT_EQ(c.grpExportacao->title(), u"Exportar"_qs);
    EXPECT_EQ(c.grpImportacao->title(), u"Arquivo"_qs);
    EXPECT_EQ(c.trvExportacao->geometry(), QRect(4, 88, 429, 89));
    EXPECT_EQ(c.pgbImportacao->geometry().topLeft(), QPoint(4, 212));
    EXPECT_EQ(c.pgbImportacao->width(), 429);

    QStringList exportSteps, importSteps;
    for (int i = 0; i < c.trvExportacao->topLevelItemCount(); ++i)
        exportSteps << c.trvExportacao->topLevelItem(i)->text(0);
    for (int i = 0; i < c.trvImportacao->topLevelItemCount(); ++i)
        importSteps << c.trvImportacao->topLevelItem(i)->text(0);
    EXPECT_EQ(exportSteps, (QStringList{u"Dados (Arquivos do Sistema/Base de Dados/Programações)"_qs,
                                        u"Áudio (Comerciais/Vinhetas/Efeitos/Locuções)"_qs, u"Músicas"_qs,
                                        u"Compactando"_qs, u"Transferindo"_qs}));
    EXPECT_EQ(importSteps,
              (QStringList{u"Baixando alterações"_qs, u"Descompactando"_qs, u"Aplicando alterações"_qs}));
    EXPECT_EQ(c.trvExportacao->indentation(), 19);

    QStringList menu;
    for (QAction* a : w.tray().PopupTrayIcon().actions())
        menu << (a->isSeparator() ? u"-"_qs : a->objectName() + u"="_qs + a->text());
    EXPECT_EQ(menu, (QStringList{u"MenuIniciarExportacao=Iniciar Exportação"_qs,
                                 u"MenuIniciarImportacao=Iniciar Importação"_qs, u"-"_qs,
                                 u"MenuOcultar_Restaurar=Ocultar"_qs, u"-"_qs, u"menuFechar=Fechar"_qs}));
    EXPECT_EQ(pictureOf(w.tray().MenuIniciarExportacao->icon()), pictureOf(Pictures::trayMenu(3)));
    EXPECT_TRUE(w.tray().MenuIniciarImportacao->icon().isNull());
    EXPECT_EQ(pictureOf(w.tray().menuFechar->icon()), pictureOf(Pictures::trayMenu(0)));
    EXPECT_EQ(w.tray().toolTip(), u"Vireo Zuvavivevo"_qs);
    EXPECT_FALSE(w.tray().TimerPopup().isActive());
}

TEST_F(MainWindowTest, StartsWithEmptyLabelsIdleIconAndNothingPending)
{
    EXPECT_TRUE(c.lblProgressoExportacao->text().isEmpty());
    EXPECT_TRUE(c.lblDestinoImportacao->text().isEmpty());
    EXPECT_EQ(c.pgbExportacao->value(), 0);
    EXPECT_EQ(pictureOf(QApplication::windowIcon()), pictureOf(Pictures::idleIcon()));
    EXPECT_EQ(pictureOf(w.tray().icon()), pictureOf(Pictures::idleIcon()));
    EXPECT_EQ(statesOf(*c.trvExportacao), std::vector<StepState>(5, StepPending));
    EXPECT_EQ(statesOf(*c.trvImportacao), std::vector<StepState>(3, StepPending));
}

TEST_F(MainWindowTest, StepMarksFollowTheRunningAndDoneRule)
{
    for (int i = 0; i < 5; ++i) {
        w.MarkExportStep(i, false);
        EXPECT_EQ(c.trvExportacao->state(i), StepRunning);
    }
    w.MarkExportStep(5, false);
    EXPECT_EQ(statesOf(*c.trvExportacao), std::vector<StepState>(5, StepDone));

    // The picture each node shows is the one of its state.
    EXPECT_EQ(pictureOf(c.trvExportacao->topLevelItem(4)->icon(0)), pictureOf(Pictures::stepState(StepDone)));

    w.MarkImportStep(1, false);
    EXPECT_EQ(statesOf(*c.trvImportacao), (std::vector<StepState>{StepDone, StepRunning, StepPending}));
    EXPECT_THROW(w.MarkImportStep(1, true), SilentAbort);
    EXPECT_EQ(statesOf(*c.trvImportacao), (std::vector<StepState>{StepDone, StepFailed, StepFailed}));
    EXPECT_EQ(pictureOf(c.trvImportacao->topLevelItem(2)->icon(0)), pictureOf(Pictures::stepState(StepFailed)));

    w.ResetSteps();
    EXPECT_EQ(statesOf(*c.trvExportacao), std::vector<StepState>(5, StepPending));
    EXPECT_EQ(statesOf(*c.trvImportacao), std::vector<StepState>(3, StepPending));
}

TEST_F(MainWindowTest, AFailedFirstStepFailsEveryStepAndEnablesTheControls)
{
    w.SetControlsEnabled(false);
    EXPECT_THROW(w.MarkExportStep(0, true), SilentAbort);
    EXPECT_EQ(statesOf(*c.trvExportacao), std::vector<StepState>(5, StepFailed));
    EXPECT_TRUE(c.btnIniciarExportacao->isEnabled());
    EXPECT_TRUE(w.tray().menuFechar->isEnabled());
}

TEST_F(MainWindowTest, ARunningMarkIsPaintedAtOnce)
{
    w.showCentred();
    QCoreApplication::processEvents();
    PaintCounter paints(c.trvExportacao->viewport());
    w.MarkExportStep(0, false);
    EXPECT_GE(paints.count, 1);
}

TEST_F(MainWindowTest, SetControlsEnabledTouchesExactlyTheStartAndCloseControls)
{
    ASSERT_EQ(explicitlyDisabled(), (std::set<QString>{u"chkDados"_qs}));
    w.SetControlsEnabled(false);
    EXPECT_EQ(explicitlyDisabled(),
              (std::set<QString>{u"chkDados"_qs, u"grpExportacao"_qs, u"btnIniciarExportacao"_qs,
                                 u"btnFecharExportacao"_qs, u"btnIniciarImportacao"_qs, u"btnFecharImportacao"_qs,
                                 u"MenuIniciarExportacao"_qs, u"MenuIniciarImportacao"_qs, u"menuFechar"_qs}));
    // The boxes inside the group go with it; hiding, the import mode and the tabs stay usable.
    EXPECT_FALSE(c.chkAudios->isEnabled());
    EXPECT_TRUE(c.btnOcultarExportacao->isEnabled());
    EXPECT_TRUE(c.rbtRestaurarArquivo->isEnabled());
    EXPECT_TRUE(w.tray().MenuOcultar_Restaurar->isEnabled());
    EXPECT_TRUE(c.PageControl1->isEnabled());

    w.SetControlsEnabled(true);
    EXPECT_EQ(explicitlyDisabled(), (std::set<QString>{u"chkDados"_qs}));
    EXPECT_TRUE(c.chkAudios->isEnabled());
    EXPECT_FALSE(c.chkDados->isEnabled());
}

TEST_F(MainWindowTest, CheckingGeralWithOnlyAudiosLeavesGeralAlone)
{
    c.chkGeral->click();
    EXPECT_TRUE(c.chkGeral->isChecked());
    EXPECT_FALSE(c.chkDados->isChecked());
    EXPECT_FALSE(c.chkAudios->isChecked());
    EXPECT_FALSE(c.chkMusicas->isChecked());
    const ExportChoice choice = w.exportChoice();
    EXPECT_TRUE(choice.geral && !choice.dados && !choice.audios && !choice.musicas);

    // Unchecking "Geral" brings "Dados" back.
    c.chkGeral->click();
    EXPECT_FALSE(c.chkGeral->isChecked());
    EXPECT_TRUE(c.chkDados->isChecked());
    EXPECT_FALSE(c.chkAudios->isChecked());
}

TEST_F(MainWindowTest, CheckingGeralWithAudiosAndMusicasCascadesBackToDados)
{
    c.chkMusicas->click();
    ASSERT_TRUE(c.chkAudios->isChecked() && c.chkMusicas->isChecked());
    c.chkGeral->click();
    EXPECT_FALSE(c.chkGeral->isChecked());
    EXPECT_TRUE(c.chkDados->isChecked());
    EXPECT_FALSE(c.chkAudios->isChecked());
    EXPECT_FALSE(c.chkMusicas->isChecked());
}

TEST_F(MainWindowTest, CheckingACategoryUnchecksGeralAndChecksDadosAgain)
{
    for (QCheckBox* category : {c.chkAudios, c.chkMusicas}) {
        if (c.chkAudios->isChecked())
            c.chkAudios->click();
        c.chkGeral->click();
        ASSERT_TRUE(c.chkGeral->isChecked());
        ASSERT_FALSE(c.chkDados->isChecked());
        category->click();
        EXPECT_TRUE(category->isChecked());
        EXPECT_FALSE(c.chkGeral->isChecked());
        EXPECT_TRUE(c.chkDados->isChecked());
    }
}

TEST_F(MainWindowTest, ErrorsLeavingAHandlerShowTheTextWithAFullStopWhereItSortsAfterIt)
{
    const std::pair<QString, QString> cases[] = {
        {u"Não foi possível copiar"_qs, u"Não foi possível copiar."_qs},
        {u"Arquivo inválido."_qs, u"Arquivo inválido."_qs},
        {u"Falhou!"_qs, u"Falhou!"_qs},           // "!" sorts before "."
        {u"Erro (código 5)"_qs, u"Erro (código 5)"_qs},  // so does ")"
        {u"Erro 404"_qs, u"Erro 404."_qs},        // digits sort after it
        {u"Configuração"_qs, u"Configuração."_qs},  // and every accented letter
        {u"Ação -"_qs, u"Ação -"_qs},
    };
    for (const auto& [thrown, shown] : cases) {
        f.dialogs.answerMessage(QString());
        w.setRunHooks({[text = thrown] { throw Error(text); }, {}});
        c.btnIniciarExportacao->click();
        ASSERT_FALSE(f.dialogs.records().empty());
        const MessageRequest& box = f.dialogs.records().back().message;
        EXPECT_EQ(box.text, shown) << thrown.toStdString();
        EXPECT_EQ(box.caption, u"Vireo Zuvavivevo"_qs);
        EXPECT_EQ(box.icon, DialogIcon::Error);
        EXPECT_EQ(box.buttons, quint32(ButtonOk));
    }
    EXPECT_TRUE(f.dialogs.scriptDone());
}

TEST_F(MainWindowTest, RunsEndSilentlyOnSilentAbortAndNeverNest)
{
    int exports = 0, imports = 0;
    w.setRunHooks({[&] {
                       ++exports;
                       w.btnIniciarExportacaoClick();  // a second start inside the run is ignored
                       w.btnIniciarImportacaoClick();
                       w.MarkExportStep(2, true);
                   },
                   [&] { ++imports; }});
    w.tray().MenuIniciarExportacao->trigger();
    EXPECT_EQ(exports, 1);
    EXPECT_EQ(imports, 0);
    EXPECT_TRUE(f.dialogs.records().empty());
    c.btnIniciarImportacao->click();
    w.tray().MenuIniciarImportacao->trigger();
    EXPECT_EQ(imports, 2);
}

TEST_F(MainWindowTest, ProgressIsWrittenToTheExportPageAndMirrored)
{
    w.SetProgressText(u"Copiando: 12 MB de 340 MB"_qs);
    w.SetDestinationText(u"C:\\Replicacao\\C\\Vireo\\Vireo Cast\\Vireodb\\VireoAdm.fdb"_qs);
    w.SetProgressBar(340, 12);
    w.SetProgressBarNavy();
    for (ProgressLabel* label : {c.lblProgressoExportacao, c.lblProgressoImportacao})
        EXPECT_EQ(label->text(), u"Copiando: 12 MB de 340 MB"_qs);
    for (ProgressLabel* label : {c.lblDestinoExportacao, c.lblDestinoImportacao})
        EXPECT_EQ(label->text(), u"C:\\Replicacao\\C\\Vireo\\Vireo Cast\\Vireodb\\VireoAdm.fdb"_qs);
    for (ProgressBar* bar : {c.pgbExportacao, c.pgbImportacao}) {
        EXPECT_EQ(bar->maximum(), 340);
        EXPECT_EQ(bar->value(), 12);
        EXPECT_EQ(bar->fillColor(), QColor(0, 0, 128));
    }

    // The drivers' own texts reach one page only.
    w.SetPageProgressText(RunPage::Export, u"Compactando"_qs);
    w.SetPageDestinationText(RunPage::Import, u"Descompactando"_qs);
    EXPECT_EQ(c.lblProgressoExportacao->text(), u"Compactando"_qs);
    EXPECT_EQ(c.lblProgressoImportacao->text(), u"Copiando: 12 MB de 340 MB"_qs);
    EXPECT_EQ(c.lblDestinoImportacao->text(), u"Descompactando"_qs);
    EXPECT_EQ(c.lblDestinoExportacao->text(), u"C:\\Replicacao\\C\\Vireo\\Vireo Cast\\Vireodb\\VireoAdm.fdb"_qs);
}

TEST_F(MainWindowTest, BusyAndIdleSwitchTheCursorAndTheTrayPicture)
{
    w.ShowBusy();
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EXPECT_EQ(pictureOf(w.tray().icon()), pictureOf(Pictures::busyIcon()));
    EXPECT_EQ(pictureOf(QApplication::windowIcon()), pictureOf(Pictures::busyIcon()));
    w.ShowBusy();
    w.ShowIdle();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(pictureOf(w.tray().icon()), pictureOf(Pictures::idleIcon()));
}

TEST_F(MainWindowTest, TrayLeftClickTogglesTheWindowAndTheMenuItemFollowsIt)
{
    w.showCentred();
    TrayIcon& tray = w.tray();
    tray.PopupTrayIconPopup();
    EXPECT_EQ(tray.MenuOcultar_Restaurar->text(), u"Ocultar"_qs);
    EXPECT_EQ(tray.MenuOcultar_Restaurar->data().toInt(), 1);
    EXPECT_EQ(pictureOf(tray.MenuOcultar_Restaurar->icon()), pictureOf(Pictures::trayMenu(1)));

    tray.TrayNotify(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(w.isVisible());
    tray.PopupTrayIconPopup();
    EXPECT_EQ(tray.MenuOcultar_Restaurar->text(), u"Restaurar"_qs);
    EXPECT_EQ(tray.MenuOcultar_Restaurar->data().toInt(), 2);
    EXPECT_EQ(pictureOf(tray.MenuOcultar_Restaurar->icon()), pictureOf(Pictures::trayMenu(2)));

    // The item shows the window again; a double click does nothing more.
    tray.MenuOcultar_Restaurar->trigger();
    EXPECT_TRUE(w.isVisible());
    tray.TrayNotify(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(w.isVisible());
    c.btnOcultarImportacao->click();
    EXPECT_FALSE(w.isVisible());
}

TEST_F(MainWindowTest, TrayRightClickOpensTheMenuAtTheCursor200MsLater)
{
    w.showCentred();
    TrayIcon& tray = w.tray();
    QCursor::setPos(300, 200);
    tray.TrayNotify(QSystemTrayIcon::Context);
    EXPECT_TRUE(tray.TimerPopup().isActive());
    EXPECT_EQ(tray.TimerPopup().interval(), 200);
    EXPECT_TRUE(tray.TimerPopup().isSingleShot());
    EXPECT_FALSE(tray.PopupTrayIcon().isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray.PopupTrayIcon().isVisible(); }, 2000));
    EXPECT_FALSE(tray.TimerPopup().isActive());
    EXPECT_EQ(tray.PopupTrayIcon().pos(), QCursor::pos());
    EXPECT_EQ(tray.MenuOcultar_Restaurar->text(), u"Ocultar"_qs);
    tray.PopupTrayIcon().close();
}

TEST(MainWindowWithoutTray, HidingMinimisesSoTheWindowCanComeBack)
{
    WindowFixture f;
    MainWindow& w = f.build(false);
    w.showCentred();
    w.controls().btnOcultarExportacao->click();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.isMinimized());
    w.tray().TrayNotify(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());
}

TEST(MainWindowStartUp, TheArchiveNameOfTheInstallationFiltersBothDialogs)
{
    WindowFixture f;
    ASSERT_TRUE(f.createDatabases(u"1A2B"_qs));
    f.writeSettings(u"[CONFIG]\r\ndados=08/12/2026 10:45:32\r\n"_qs);
    MainWindow& w = f.build();
    EXPECT_TRUE(f.dialogs.records().empty());
    EXPECT_EQ(w.settings().ArchiveName, u"1A2B.zip"_qs);
    EXPECT_EQ(w.openDialogRequest().filter, u"Arquivo do Zuvavivevo|1A2B.zip"_qs);
    EXPECT_EQ(w.saveDialogRequest().filter, u"Arquivo do Zuvavivevo|1A2B.zip"_qs);
    EXPECT_TRUE(w.controls().btnIniciarExportacao->isEnabled());
    EXPECT_EQ(w.settings().SystemFolder, u"C:\\Vireo\\Vireo Cast\\"_qs);
}

TEST(MainWindowStartUp, WithoutASettingsFileTheDialogsHaveNoFilter)
{
    WindowFixture f;
    MainWindow& w = f.build();
    EXPECT_TRUE(w.openDialogRequest().filter.isEmpty());
    EXPECT_TRUE(w.saveDialogRequest().filter.isEmpty());
    EXPECT_TRUE(w.controls().btnIniciarImportacao->isEnabled());
    EXPECT_TRUE(f.dialogs.records().empty());
}

TEST(MainWindowStartUp, AnUnreadableDatabaseIsShownAndTheWindowOpensAllTheSame)
{
    WindowFixture f;
    f.writeSettings();
    f.dialogs.answerMessage(u"VireoAdm.fdb"_qs);
    MainWindow& w = f.build();
    EXPECT_TRUE(f.dialogs.scriptDone());
    ASSERT_EQ(f.dialogs.records().size(), 1u);
    EXPECT_EQ(f.dialogs.records()[0].message.icon, DialogIcon::Error);
    EXPECT_TRUE(w.settings().ClientGuid.isEmpty());
    EXPECT_TRUE(w.openDialogRequest().filter.isEmpty());
    EXPECT_TRUE(w.controls().btnIniciarExportacao->isEnabled());
}

TEST(MainWindowClose, SavesTheTimestampsAndEndsTheProgram)
{
    WindowFixture f;
    ASSERT_TRUE(QDir().mkpath(f.exeFolderFile(QString())));
    MainWindow& w = f.build();
    w.showCentred();
    QSignalSpy closed(&w, &MainWindow::closed);
    w.settings().LastBackupAudio = 46364.5;  // 8 December 2026, 12:00
    w.controls().btnFecharImportacao->click();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(closed.count(), 1);
    const QByteArray saved = readFile(f.exeFolderFile(u"VireoReplicador.ini"_qs));
    EXPECT_TRUE(saved.contains("dados=30/12/1899")) << saved.constData();
    EXPECT_TRUE(saved.contains("audio=08/12/2026 12:00:00")) << saved.constData();
}

TEST(MainWindowClose, AFailedSaveKeepsTheWindowOpenAndShowsTheError)
{
    WindowFixture f;
    // A read-only settings file: it is not replaced, also not for root.
    ASSERT_TRUE(f.createDatabases(u"1A2B"_qs));
    f.writeSettings();
    const QString ini = f.exeFolderFile(u"VireoReplicador.ini"_qs);
    ASSERT_TRUE(QFile::setPermissions(ini, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    MainWindow& w = f.build();
    w.showCentred();
    QSignalSpy closed(&w, &MainWindow::closed);
    f.dialogs.answerMessage(u"Unable to write to C:\\Vireo\\Zuvavivevo\\VireoReplicador.ini."_qs);
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(closed.count(), 0);
    EXPECT_TRUE(f.dialogs.scriptDone());
    ASSERT_EQ(f.dialogs.records().size(), 1u);
    EXPECT_EQ(f.dialogs.records()[0].message.caption, u"Vireo Zuvavivevo"_qs);

    // Once the file can be written, the close goes through.
    ASSERT_TRUE(QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    EXPECT_TRUE(w.close());
    EXPECT_EQ(closed.count(), 1);
}

TEST(MainWindowEndSession, ATerminationRequestReachesThePipeInsteadOfEndingTheProcess)
{
    const int fd = TerminationRequests::install();
    ASSERT_GE(fd, 0);
    pollfd readable{fd, POLLIN, 0};
    EXPECT_EQ(poll(&readable, 1, 0), 0);
    ASSERT_EQ(kill(getpid(), SIGTERM), 0);
    EXPECT_EQ(poll(&readable, 1, 5000), 1);
    TerminationRequests::acknowledge(fd);
    EXPECT_EQ(poll(&readable, 1, 0), 0);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        signal(s, SIG_DFL);
    close(fd);
}

TEST(MainWindowEndSession, TheWindowClosesAfterSavingAndAlsoWhenSavingFails)
{
    for (bool writable : {true, false}) {
        WindowFixture f;
        const QString ini = f.exeFolderFile(u"VireoReplicador.ini"_qs);
        QByteArray before;
        if (writable) {
            ASSERT_TRUE(QDir().mkpath(f.exeFolderFile(QString())));
        } else {
            // A read-only settings file: it is not replaced, also not for root.
            ASSERT_TRUE(f.createDatabases(u"1A2B"_qs));
            f.writeSettings();
            ASSERT_TRUE(QFile::setPermissions(ini, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
            before = readFile(ini);
        }
        MainWindow& w = f.build();
        w.showCentred();
        QSignalSpy closed(&w, &MainWindow::closed);
        w.EndSession();
        EXPECT_FALSE(w.isVisible());
        EXPECT_EQ(closed.count(), 1);
        EXPECT_TRUE(f.dialogs.records().empty());
        if (writable)
            EXPECT_TRUE(readFile(ini).contains("dados=30/12/1899"));
        else
            EXPECT_EQ(readFile(ini), before);
    }
}

}  // namespace
