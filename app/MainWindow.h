#pragma once
// The program's one window: the "Exportar" and "Importar" pages, the
// notification-area icon, the settings, and the run frame that the export and
// import runs use (step lists, busy state, progress output rule).
//
// The runs themselves are wired in from outside through RunHooks: the start
// buttons and the tray's start items call them inside the standard error
// display, so a run ends silently on SilentAbort and shows any other error.
// The HTTP client's work events go to transferDisplay(), whose anti-freeze
// switch the wiring sets.

#include "app/CategoryCheckBoxes.h"
#include "app/MainWindowControls.h"
#include "app/ProgressMirror.h"
#include "app/Settings.h"
#include "app/TransferDisplay.h"
#include "app/TrayIcon.h"
#include "app/WindowEventPump.h"
#include "db/AutomationDatabases.h"
#include "platform/RunFrame.h"
#include "platform/UserDialogs.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace vz {

// What the window is built from; main() makes the real ones, tests their own.
struct MainWindowServices {
    const FileSystem& fileSystem;
    const Clock& clock;
    RegionalSettings regional;
    UserDialogs& dialogs;
    AutomationDatabases& databases;
    QString executableWindowsPath;
    QString serviceHost;  // the service's base URL, or host[:port] of its plain one (Settings)
    // Whether a notification area can show the icon now; without one, hiding
    // the window minimises it instead, so it can always be brought back.
    std::function<bool()> trayHostAvailable;
};

// The runs started from the window and its tray menu.
struct RunHooks {
    std::function<void()> exportRun;  // btnIniciarExportacaoClick, MenuIniciarExportacaoClick
    std::function<void()> importRun;  // btnIniciarImportacaoClick, MenuIniciarImportacaoClick
};

// The export categories as the check boxes stand.
struct ExportChoice {
    bool geral = false;
    bool dados = false;
    bool audios = false;
    bool musicas = false;
};

enum class ImportMode { Web, File };

class MainWindow final : public QWidget, public RunFrame, public SettingsHost {
    Q_OBJECT
public:
    static inline const QString Title = QStringLiteral("Vireo Zuvavivevo");

    // Builds the window and runs FormCreate (icon, tray, emptied labels, LoadSettings).
    explicit MainWindow(MainWindowServices services);
    ~MainWindow() override;

    // The window in the centre of the screen, then shown.
    void showCentred();

    // --- For the runs -----------------------------------------------------
    void setRunHooks(RunHooks hooks) { hooks_ = std::move(hooks); }
    Settings& settings() { return settings_; }
    UserDialogs& dialogs() { return services_.dialogs; }
    RunFrame& runFrame() { return *this; }
    AutomationDatabases& databases() { return services_.databases; }
    const FileSystem& fileSystem() const { return services_.fileSystem; }
    const Clock& clock() const { return services_.clock; }
    TransferDisplay& transferDisplay() { return *transfer_; }
    ExportChoice exportChoice() const;
    ImportMode importMode() const;
    // dlgAbrirImportacao and dlgSalvarExportacao: their filter is set by LoadSettings.
    FileDialogRequest openDialogRequest() const { return {openFilter_, {}, {}}; }
    FileDialogRequest saveDialogRequest() const { return {saveFilter_, {}, {}}; }
    // The standard error display around any handler.
    void HandleEvent(const std::function<void()>& handler);
    void showError(const QString& message) override;

    // --- Handlers -----------------------------------------------------------
    void btnIniciarExportacaoClick();
    void btnIniciarImportacaoClick();
    void btnOcultarExportacaoClick();  // both "Ocultar" buttons and MenuOcultar_Restaurar
    void btnFecharExportacaoClick();   // both "Fechar" buttons and menuFechar
    // The system asks the program to end (logout, shutdown, a kill): the
    // timestamps are saved as at any close and the window closes even when
    // that fails (the failure goes to the error output, as nobody is there
    // to answer a box). A run in progress is stopped first (see closeEvent).
    void EndSession();
    // True once the program has been asked to end while a run was going on.
    bool stopRequested() const { return stopRequested_; }

    // --- RunFrame -----------------------------------------------------------
    void ResetSteps() override;
    void MarkExportStep(int index, bool failed) override;
    void MarkImportStep(int index, bool failed) override;
    void SetControlsEnabled(bool on) override;
    void ShowBusy() override;
    void ShowIdle() override;
    void ProcessPendingMessages() override;
    void SetProgressText(const QString& text) override;
    void SetDestinationText(const QString& text) override;
    void SetProgressBar(qint64 maximum, qint64 position) override;
    void SetProgressBarNavy() override;
    void SetPageProgressText(RunPage page, const QString& text) override;
    void SetPageDestinationText(RunPage page, const QString& text) override;

    // --- SettingsHost ------------------------------------------------------
    void setDatabaseFileNames(const QString& vireoFile, const QString& admFile) override;
    QString readClientGuid() override;
    void setDialogFilters(const QString& filter) override;

    // --- Parts, for the tests and the screenshots ---------------------------
    MainWindowControls& controls() { return controls_; }
    TrayIcon& tray() { return *tray_; }
    ProgressMirror& progressMirror() { return *mirror_; }
    CategoryCheckBoxes& categories() { return *categories_; }
    bool isBusy() const { return busy_; }

Q_SIGNALS:
    // The close went through (the timestamps were saved): the program ends.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;  // FormClose

private:
    void FormCreate();
    void StartRun(const std::function<void()>& run);
    // Asks the run in progress to stop at its next safe point: the next
    // ProcessPendingMessages throws RunStopped, and open boxes are closed
    // (answered as by Escape) until it has.
    void RequestStop();
    void CloseOpenBoxes();
    void MarkStep(StepList& list, int index, bool failed);
    void setAppIcon(const QIcon& icon);

    MainWindowServices services_;
    Settings settings_;
    MainWindowControls controls_;
    WindowEventPump pump_;
    std::unique_ptr<ProgressMirror> mirror_;
    std::unique_ptr<TransferDisplay> transfer_;
    std::unique_ptr<CategoryCheckBoxes> categories_;
    std::unique_ptr<TrayIcon> tray_;
    QIcon idleIcon_, busyIcon_;
    QString openFilter_, saveFilter_;
    RunHooks hooks_;
    bool busy_ = false;
    bool running_ = false;
    bool endingSession_ = false;
    bool stopRequested_ = false;
    QTimer* stopTimer_ = nullptr;
};

}  // namespace vz
