#include "app/QtUserDialogs.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

namespace vz {

namespace {

// In the order the buttons stand in a box, as on the original platform.
const DialogButton ButtonOrder[] = {ButtonYes,   ButtonYesToAll, ButtonNo,     ButtonNoToAll, ButtonOk,
                                    ButtonAbort, ButtonRetry,    ButtonIgnore, ButtonCancel,  ButtonCancelAll};

QMessageBox::Icon qtIcon(DialogIcon icon)
{
    switch (icon) {
    case DialogIcon::Information:
        return QMessageBox::Information;
    case DialogIcon::Warning:
        return QMessageBox::Warning;
    case DialogIcon::Error:
        return QMessageBox::Critical;
    case DialogIcon::Question:
        return QMessageBox::Question;
    case DialogIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

DialogButton firstPresent(quint32 buttons, std::initializer_list<DialogButton> preference)
{
    for (DialogButton b : preference)
        if (buttons & b)
            return b;
    return ButtonNone;
}

// A box placed in the centre of the screen once its size is known.
class CentredMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override
    {
        QMessageBox::showEvent(event);
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
};

}  // namespace

QtUserDialogs::QtUserDialogs(const DriveMap& driveMap, QString title) : map_(driveMap), title_(std::move(title)) {}

QString QtUserDialogs::buttonCaption(DialogButton button, DialogStyle style)
{
    if (style == DialogStyle::Component) {
        switch (button) {
        case ButtonYes: return QStringLiteral("&Yes");
        case ButtonNo: return QStringLiteral("&No");
        case ButtonOk: return QStringLiteral("&OK");
        case ButtonCancel: return QStringLiteral("&Cancel");
        case ButtonAbort: return QStringLiteral("&Abort");
        case ButtonRetry: return QStringLiteral("&Retry");
        case ButtonIgnore: return QStringLiteral("&Ignore");
        case ButtonCancelAll: return QStringLiteral("CancelAll");
        case ButtonNoToAll: return QStringLiteral("NoToAll");
        case ButtonYesToAll: return QStringLiteral("YesToAll");
        default: return {};
        }
    }
    // The program's own boxes speak the user's language, as the system's boxes do.
    switch (button) {
    case ButtonYes: return QStringLiteral("&Sim");
    case ButtonNo: return QStringLiteral("&Não");
    case ButtonOk: return QStringLiteral("OK");
    case ButtonCancel: return QStringLiteral("Cancelar");
    case ButtonAbort: return QStringLiteral("&Anular");
    case ButtonRetry: return QStringLiteral("&Repetir");
    case ButtonIgnore: return QStringLiteral("&Ignorar");
    case ButtonCancelAll: return QStringLiteral("Cancelar todos");
    case ButtonNoToAll: return QStringLiteral("Não para todos");
    case ButtonYesToAll: return QStringLiteral("Sim para todos");
    default: return {};
    }
}

DialogButton QtUserDialogs::componentDefaultButton(quint32 buttons)
{
    return firstPresent(buttons, {ButtonOk, ButtonYes, ButtonRetry});
}

DialogButton QtUserDialogs::componentEscapeButton(quint32 buttons)
{
    return firstPresent(buttons, {ButtonCancel, ButtonNo, ButtonOk});
}

QString QtUserDialogs::promptLines(const QString& prompt)
{
    QString lines = prompt;
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return lines;
}

QString QtUserDialogs::qtNameFilter(const QString& filter)
{
    if (filter.isEmpty())
        return {};
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts.at(i + 1);
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        entries << parts.at(i) + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

DialogButton QtUserDialogs::programDefaultButton(quint32 buttons)
{
    for (DialogButton b : ButtonOrder)
        if (buttons & b)
            return b;
    return ButtonNone;
}

DialogButton QtUserDialogs::programEscapeButton(quint32 buttons)
{
    return firstPresent(buttons, {ButtonCancel, buttons == ButtonOk ? ButtonOk : ButtonNone});
}

DialogButton QtUserDialogs::showMessage(const MessageRequest& request)
{
    const bool component = request.style == DialogStyle::Component;
    std::unique_ptr<QMessageBox> box = component ? std::make_unique<CentredMessageBox>()
                                                 : std::make_unique<QMessageBox>(parent_.data());
    box->setWindowTitle(request.caption);
    box->setText(request.text);
    box->setTextFormat(Qt::PlainText);
    box->setIcon(qtIcon(request.icon));

    const quint32 wanted = request.buttons == ButtonNone ? quint32(ButtonOk) : request.buttons;
    std::vector<std::pair<QPushButton*, DialogButton>> shown;
    for (DialogButton b : ButtonOrder) {
        // One role for all keeps the buttons in this order, and leaves the
        // Escape key to the rule below: without an escape button, neither
        // Escape nor the close box answers the box.
        if (wanted & b)
            shown.emplace_back(box->addButton(buttonCaption(b, request.style), QMessageBox::ActionRole), b);
    }
    const auto find = [&](DialogButton b) -> QPushButton* {
        for (const auto& [widget, which] : shown)
            if (which == b)
                return widget;
        return nullptr;
    };
    const DialogButton defaultButton =
        component ? componentDefaultButton(wanted) : programDefaultButton(wanted);
    const DialogButton escapeButton = component ? componentEscapeButton(wanted) : programEscapeButton(wanted);
    if (QPushButton* def = find(defaultButton))
        box->setDefaultButton(def);
    if (QPushButton* esc = find(escapeButton))
        box->setEscapeButton(esc);
    box->exec();
    for (const auto& [widget, which] : shown)
        if (widget == box->clickedButton())
            return which;
    return escapeButton;
}

QString QtUserDialogs::inputText(const QString& caption, const QString& prompt, const QString& initialText)
{
    QInputDialog dialog(parent_.data());
    dialog.setWindowTitle(caption);
    dialog.setLabelText(promptLines(prompt));
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setTextValue(initialText);
    dialog.setOkButtonText(buttonCaption(ButtonOk, DialogStyle::Program));
    dialog.setCancelButtonText(buttonCaption(ButtonCancel, DialogStyle::Program));
    if (dialog.exec() != QDialog::Accepted)
        return initialText;
    return dialog.textValue();
}

std::optional<QString> QtUserDialogs::openFile(const FileDialogRequest& request)
{
    return runFileDialog(request, false);
}

std::optional<QString> QtUserDialogs::saveFile(const FileDialogRequest& request)
{
    return runFileDialog(request, true);
}

std::optional<QString> QtUserDialogs::runFileDialog(const FileDialogRequest& request, bool save)
{
    QFileDialog dialog(parent_.data(), save ? QStringLiteral("Salvar como") : QStringLiteral("Abrir"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        // The save dialog asks nothing about an existing file; the caller decides.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setOption(QFileDialog::ReadOnly);
    }
    const QString nameFilter = qtNameFilter(request.filter);
    if (!nameFilter.isEmpty())
        dialog.setNameFilter(nameFilter);
    if (!request.initialFolder.isEmpty()) {
        if (const auto folder = map_.toHost(request.initialFolder))
            dialog.setDirectory(*folder);
    }
    if (!request.initialFileName.isEmpty())
        dialog.selectFile(request.initialFileName);

    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        const QString hostPath = QDir::cleanPath(dialog.selectedFiles().constFirst());
        if (const auto windowsPath = map_.toWindows(hostPath))
            return windowsPath;
        // A place outside every drive has no Windows path: ask again.
        MessageRequest notice;
        notice.caption = title_;
        notice.text = QStringLiteral("O local escolhido não pertence a nenhuma unidade: ") + hostPath;
        notice.icon = DialogIcon::Warning;
        showMessage(notice);
    }
}

}  // namespace vz
