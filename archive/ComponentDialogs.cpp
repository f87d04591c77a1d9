#include "archive/ComponentDialogs.h"

namespace vz {

using namespace ArchiveMessage;

void ComponentDialogs::begin(bool unattended)
{
    unattended_ = unattended;
    error_ = 0;
    shown_.clear();
}

void ComponentDialogs::Note(int id)
{
    if (error_ == 0 && id != 0)
        error_ = id;
}

void ComponentDialogs::Report(int id, const QString& argument)
{
    Note(id);
    if (!NeverShown(id))
        show(id, Text(id, argument));
}

void ComponentDialogs::ReportText(int id, const QString& text)
{
    Note(id);
    if (!NeverShown(id))
        show(id, text);
}

void ComponentDialogs::Inform(int id, const QString& argument)
{
    show(id, Text(id, argument));
}

void ComponentDialogs::show(int id, const QString& text)
{
    shown_.insert(id);
    if (unattended_)
        return;
    MessageRequest request;
    request.caption = title_;
    request.text = text;
    request.icon = DialogIcon::Information;
    request.buttons = ButtonOk;
    request.style = DialogStyle::Component;
    dialogs_.showMessage(request);
}

DialogButton ComponentDialogs::AskOverwrite(const QString& windowsPath, quint32 buttons)
{
    if (unattended_)
        return ButtonYes;
    MessageRequest request;
    request.caption = QStringLiteral("Confirm");
    request.text = Text(ConfirmOverwrite, windowsPath);
    request.icon = DialogIcon::Warning;
    request.buttons = buttons;
    request.style = DialogStyle::Component;
    return dialogs_.showMessage(request);
}

DialogButton ComponentDialogs::AskRetry(int id)
{
    if (unattended_)
        return ButtonCancel;
    MessageRequest request;
    request.caption = title_;
    request.text = Text(id);
    request.icon = DialogIcon::Error;
    request.buttons = ButtonRetry | ButtonCancel;
    request.style = DialogStyle::Component;
    return dialogs_.showMessage(request);
}

}  // namespace vz
