#include "app/MainWindow.h"

#include "app/ErrorDisplay.h"
#include "app/Pictures.h"
#include "platform/Errors.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>

namespace vz {

MainWindow::MainWindow(MainWindowServices services)
    : services_(std::move(services)),
      settings_(services_.fileSystem, services_.clock, services_.regional, services_.executableWindowsPath,
                services_.serviceHost),
      controls_(this)
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(Title);
    // A fixed border with a system menu and a minimise button, no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(MainWindowControls::ClientWidth, MainWindowControls::ClientHeight);
    if (!services_.trayHostAvailable)
        services_.trayHostAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

    MainWindowControls& c = controls_;
    mirror_ = std::make_unique<ProgressMirror>(
        ProgressMirror::Page{c.lblProgressoExportacao, c.lblDestinoExportacao, c.pgbExportacao},
        ProgressMirror::Page{c.lblProgressoImportacao, c.lblDestinoImportacao, c.pgbImportacao});
    transfer_ = std::make_unique<TransferDisplay>(*mirror_, services_.clock, settings_.regional(), pump_);
    categories_ = std::make_unique<CategoryCheckBoxes>(c.chkDados, c.chkAudios, c.chkMusicas, c.chkGeral);
    tray_ = std::make_unique<TrayIcon>(Title, TrayIcon::Reactions{
                                                  [this] { return isVisible(); },
                                                  [this] { btnOcultarExportacaoClick(); },
                                                  [this] { btnIniciarExportacaoClick(); },
                                                  [this] { btnIniciarImportacaoClick(); },
                                                  [this] { btnFecharExportacaoClick(); },
                                              });
    idleIcon_ = Pictures::idleIcon();
    busyIcon_ = Pictures::busyIcon();

    connect(c.btnIniciarExportacao, &QPushButton::clicked, this, &MainWindow::btnIniciarExportacaoClick);
    connect(c.btnIniciarImportacao, &QPushButton::clicked, this, &MainWindow::btnIniciarImportacaoClick);
    connect(c.btnOcultarExportacao, &QPushButton::clicked, this, &MainWindow::btnOcultarExportacaoClick);
    connect(c.btnOcultarImportacao, &QPushButton::clicked, this, &MainWindow::btnOcultarExportacaoClick);
    connect(c.btnFecharExportacao, &QPushButton::clicked, this, &MainWindow::btnFecharExportacaoClick);
    connect(c.btnFecharImportacao, &QPushButton::clicked, this, &MainWindow::btnFecharExportacaoClick);

    FormCreate();
}

MainWindow::~MainWindow()
{
    if (busy_)
        QApplication::restoreOverrideCursor();
}

void MainWindow::FormCreate()
{
    // 1. The program's own icon for the window; 2. the notification icon.
    setWindowIcon(Pictures::mainIcon());
    tray_->add(windowIcon());
    // 3. From here on the application and the tray show the idle picture.
    setAppIcon(idleIcon_);
    // 4.
    controls_.lblProgressoExportacao->clear();
    controls_.lblProgressoImportacao->clear();
    controls_.lblDestinoExportacao->clear();
    controls_.lblDestinoImportacao->clear();
    // 5.
    settings_.LoadSettings(*this);
}

void MainWindow::showCentred()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
}

void MainWindow::setAppIcon(const QIcon& icon)
{
    QApplication::setWindowIcon(icon);
    tray_->setIcon(icon);
}

ExportChoice MainWindow::exportChoice() const
{
    return {controls_.chkGeral->isChecked(), controls_.chkDados->isChecked(), controls_.chkAudios->isChecked(),
            controls_.chkMusicas->isChecked()};
}

ImportMode MainWindow::importMode() const
{
    return controls_.rbtRestaurarArquivo->isChecked() ? ImportMode::File : ImportMode::Web;
}

void MainWindow::HandleEvent(const std::function<void()>& handler)
{
    RunEventHandler(services_.dialogs, Title, handler);
}

void MainWindow::showError(const QString& message) { ShowStandardError(services_.dialogs, Title, message); }

// --- Handlers -----------------------------------------------------------------

void MainWindow::StartRun(const std::function<void()>& run)
{
    // The start controls are disabled during a run; this also keeps a second
    // run from starting inside the first through any other path.
    if (!run || running_)
        return;
    running_ = true;
    {
        struct Done {
            bool& flag;
            ~Done() { flag = false; }
        } done{running_};
        HandleEvent(run);
    }
    if (stopRequested_) {
        // The run has stopped (or ended) for a close, a logout or SIGTERM:
        // now the window closes as it was asked to.
        stopTimer_->stop();
        if (endingSession_) {
            EndSession();
            return;
        }
        close();
    }
}

void MainWindow::RequestStop()
{
    if (!running_ || stopRequested_)
        return;
    stopRequested_ = true;
    hide();
    if (stopTimer_ == nullptr) {
        stopTimer_ = new QTimer(this);
        stopTimer_->setInterval(100);
        connect(stopTimer_, &QTimer::timeout, this, &MainWindow::CloseOpenBoxes);
    }
    stopTimer_->start();
    CloseOpenBoxes();
}

void MainWindow::CloseOpenBoxes()
{
    // A box the run is waiting on would wait for nobody; closed, it answers
    // as Escape does and the run reaches its next safe point.
    if (QWidget* box = QApplication::activeModalWidget())
        box->close();
}

void MainWindow::btnIniciarExportacaoClick() { StartRun(hooks_.exportRun); }

void MainWindow::btnIniciarImportacaoClick() { StartRun(hooks_.importRun); }

void MainWindow::btnOcultarExportacaoClick()
{
    const bool trayHost = services_.trayHostAvailable();
    // Without a notification area a hidden window could not be brought back,
    // so it is minimised instead.
    const bool shown = isVisible() && (trayHost || !isMinimized());
    if (shown) {
        if (trayHost)
            hide();
        else
            showMinimized();
    } else {
        showNormal();
        raise();
        activateWindow();
    }
}

void MainWindow::btnFecharExportacaoClick() { close(); }

void MainWindow::EndSession()
{
    // During a run the settings still hold the moments of the last delivered
    // export (a run changes them only once it has delivered): they are saved
    // now, in case the system does not wait for the run to stop.
    try {
        settings_.SaveBackupTimestamps();
    } catch (const Error& e) {
        qWarning("%s", qUtf8Printable(e.message()));
    }
    endingSession_ = true;
    if (running_) {
        RequestStop();
        return;
    }
    close();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (endingSession_ && !running_) {
        event->accept();
        Q_EMIT closed();
        return;
    }
    // FormClose: the timestamps reach the settings file, or the window stays.
    bool saved = false;
    HandleEvent([&] {
        settings_.SaveBackupTimestamps();
        saved = true;
    });
    if (!saved) {
        event->ignore();
        return;
    }
    if (running_) {
        // The run stops at its next safe point and the window closes after it.
        event->ignore();
        RequestStop();
        return;
    }
    event->accept();
    Q_EMIT closed();
}

// --- Run frame -----------------------------------------------------------------

void MainWindow::ResetSteps()
{
    controls_.trvExportacao->reset();
    controls_.trvImportacao->reset();
    SetControlsEnabled(true);
}

void MainWindow::MarkStep(StepList& list, int index, bool failed)
{
    if (!failed) {
        list.markRunning(index);
        // Painted, but no stop here: the runs also mark steps while they close.
        pump_.ProcessPendingMessages();
        return;
    }
    SetControlsEnabled(true);
    list.markFailedFrom(index);
    throw SilentAbort();
}

void MainWindow::MarkExportStep(int index, bool failed) { MarkStep(*controls_.trvExportacao, index, failed); }

void MainWindow::MarkImportStep(int index, bool failed) { MarkStep(*controls_.trvImportacao, index, failed); }

void MainWindow::SetControlsEnabled(bool on)
{
    // Only these: hiding and showing, the import mode and the tabs stay usable during a run.
    controls_.grpExportacao->setEnabled(on);
    controls_.btnIniciarExportacao->setEnabled(on);
    tray_->MenuIniciarExportacao->setEnabled(on);
    controls_.btnFecharExportacao->setEnabled(on);
    controls_.btnIniciarImportacao->setEnabled(on);
    controls_.btnFecharImportacao->setEnabled(on);
    tray_->MenuIniciarImportacao->setEnabled(on);
    tray_->menuFechar->setEnabled(on);
}

void MainWindow::ShowBusy()
{
    if (!busy_)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    busy_ = true;
    setAppIcon(busyIcon_);
}

void MainWindow::ShowIdle()
{
    if (busy_)
        QApplication::restoreOverrideCursor();
    busy_ = false;
    setAppIcon(idleIcon_);
}

void MainWindow::ProcessPendingMessages()
{
    pump_.ProcessPendingMessages();
    if (stopRequested_ && running_)
        throw RunStopped();
}

void MainWindow::SetProgressText(const QString& text) { mirror_->setProgressText(text); }

void MainWindow::SetDestinationText(const QString& text) { mirror_->setDestinationText(text); }

void MainWindow::SetProgressBar(qint64 maximum, qint64 position) { mirror_->setBar(maximum, position); }

void MainWindow::SetProgressBarNavy() { mirror_->setBarColor(ProgressBar::Navy); }

void MainWindow::SetPageProgressText(RunPage page, const QString& text) { mirror_->setPageProgressText(page, text); }

void MainWindow::SetPageDestinationText(RunPage page, const QString& text)
{
    mirror_->setPageDestinationText(page, text);
}

// --- Settings host -----------------------------------------------------------------

void MainWindow::setDatabaseFileNames(const QString& vireoFile, const QString& admFile)
{
    services_.databases.setFileNames(vireoFile, admFile);
}

QString MainWindow::readClientGuid() { return services_.databases.ReadClientGuid(); }

void MainWindow::setDialogFilters(const QString& filter)
{
    openFilter_ = filter;
    saveFilter_ = filter;
}

}  // namespace vz
