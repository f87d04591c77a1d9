#pragma once
// The notification-area icon and its menu PopupTrayIcon. A left click shows
// or hides the window; a right click arms TimerPopup, which opens the menu at
// the mouse cursor 200 ms later. Just before the menu opens, the hide/show
// item follows the window's visibility.

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>

namespace vz {

class TrayIcon : public QObject {
public:
    static constexpr int PopupDelayMs = 200;

    struct Reactions {
        std::function<bool()> windowVisible;
        std::function<void()> toggleWindow;         // TrayNotify left button, MenuOcultar_Restaurar
        std::function<void()> startExport;          // MenuIniciarExportacaoClick
        std::function<void()> startImport;          // MenuIniciarImportacaoClick
        std::function<void()> closeWindow;          // menuFecharClick
    };

    TrayIcon(const QString& tip, Reactions reactions, QObject* parent = nullptr);

    // Adds the icon to the notification area (shown as soon as a tray host exists).
    void add(const QIcon& icon);
    void setIcon(const QIcon& icon);
    QIcon icon() const { return tray_.icon(); }
    QString toolTip() const { return tray_.toolTip(); }
    // Where the icon is on screen (empty when no tray host shows it).
    QRect geometry() const { return tray_.geometry(); }

    // The tray callback: left button toggles the window, right button arms the timer.
    void TrayNotify(QSystemTrayIcon::ActivationReason reason);
    void TimerPopupTimer();
    void PopupTrayIconPopup();

    QMenu& PopupTrayIcon() { return menu_; }
    QTimer& TimerPopup() { return timer_; }
    QAction* MenuIniciarExportacao = nullptr;
    QAction* MenuIniciarImportacao = nullptr;
    QAction* MenuOcultar_Restaurar = nullptr;
    QAction* menuFechar = nullptr;

private:
    Reactions reactions_;
    QSystemTrayIcon tray_;
    QMenu menu_;
    QTimer timer_;
    QIcon hidePicture_, showPicture_;
};

}  // namespace vz
