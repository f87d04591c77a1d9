#include "app/TrayIcon.h"

#include "app/Pictures.h"

#include <QCursor>

namespace vz {

TrayIcon::TrayIcon(const QString& tip, Reactions reactions, QObject* parent)
    : QObject(parent), reactions_(std::move(reactions)), hidePicture_(Pictures::trayMenu(1)),
      showPicture_(Pictures::trayMenu(2))
{
    tray_.setToolTip(tip);
    menu_.setObjectName(QStringLiteral("PopupTrayIcon"));

    const auto addItem = [this](const char* name, const QString& caption, const QIcon& picture,
                                const std::function<void()>& reaction) {
        QAction* action = menu_.addAction(picture, caption);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, [reaction] {
            if (reaction)
                reaction();
        });
        return action;
    };
    MenuIniciarExportacao = addItem("MenuIniciarExportacao", QStringLiteral("Iniciar Exportação"),
                                    Pictures::trayMenu(3), reactions_.startExport);
    MenuIniciarImportacao =
        addItem("MenuIniciarImportacao", QStringLiteral("Iniciar Importação"), QIcon(), reactions_.startImport);
    menu_.addSeparator()->setObjectName(QStringLiteral("N2"));
    MenuOcultar_Restaurar = addItem("MenuOcultar_Restaurar", QStringLiteral("Ocultar"), hidePicture_,
                                    reactions_.toggleWindow);
    MenuOcultar_Restaurar->setData(1);
    menu_.addSeparator()->setObjectName(QStringLiteral("N1"));
    menuFechar = addItem("menuFechar", QStringLiteral("Fechar"), Pictures::trayMenu(0), reactions_.closeWindow);
    connect(&menu_, &QMenu::aboutToShow, this, &TrayIcon::PopupTrayIconPopup);

    timer_.setObjectName(QStringLiteral("TimerPopup"));
    timer_.setInterval(PopupDelayMs);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &TrayIcon::TimerPopupTimer);

    // No context menu is given to the tray itself: the right click goes
    // through the timer, as the menu must open where the cursor is then.
    connect(&tray_, &QSystemTrayIcon::activated, this, &TrayIcon::TrayNotify);
}

void TrayIcon::add(const QIcon& icon)
{
    tray_.setIcon(icon);
    tray_.show();
}

void TrayIcon::setIcon(const QIcon& icon) { tray_.setIcon(icon); }

void TrayIcon::TrayNotify(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger) {
        if (reactions_.toggleWindow)
            reactions_.toggleWindow();
    } else if (reason == QSystemTrayIcon::Context) {
        timer_.start();
    }
}

void TrayIcon::TimerPopupTimer()
{
    timer_.stop();
    menu_.popup(QCursor::pos());
}

void TrayIcon::PopupTrayIconPopup()
{
    const bool visible = reactions_.windowVisible && reactions_.windowVisible();
    MenuOcultar_Restaurar->setText(visible ? QStringLiteral("Ocultar") : QStringLiteral("Restaurar"));
    MenuOcultar_Restaurar->setIcon(visible ? hidePicture_ : showPicture_);
    MenuOcultar_Restaurar->setData(visible ? 1 : 2);  // index of the picture shown
}

}  // namespace vz
