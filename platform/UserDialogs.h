#pragma once
// Every modal interaction of the program goes through this interface: message
// boxes, questions, the archive component's own boxes, the text-input box and
// the open and save file dialogs. The window provides the Qt implementation;
// tests script the answers.

#include <QString>
#include <QtGlobal>
#include <optional>

namespace vz {

enum class DialogIcon { None, Information, Warning, Error, Question };

// Buttons, and the answer given. Program boxes use the toolkit's standard
// captions; the archive component's boxes use its own ("&Yes", "&No", ...,
// "YesToAll").
enum DialogButton : quint32 {
    ButtonNone = 0,
    ButtonOk = 0x001,
    ButtonCancel = 0x002,
    ButtonYes = 0x004,
    ButtonNo = 0x008,
    ButtonAbort = 0x010,
    ButtonRetry = 0x020,
    ButtonIgnore = 0x040,
    ButtonYesToAll = 0x080,
    ButtonNoToAll = 0x100,
    ButtonCancelAll = 0x200,
};

enum class DialogStyle {
    Program,    // a plain message box of the program (caption usually the title)
    Component,  // the archive component's own box, centred, with its button captions
};

struct MessageRequest {
    QString caption;
    QString text;
    DialogIcon icon = DialogIcon::None;
    quint32 buttons = ButtonOk;  // DialogButton bits
    DialogStyle style = DialogStyle::Program;
};

struct FileDialogRequest {
    QString filter;           // "Description|pattern", e.g. "Arquivo do Zuvavivevo|1A2B.zip"; may be empty
    QString initialFileName;  // file-name part preset in the dialog; may be empty
    QString initialFolder;    // Windows path of the folder to start in; may be empty
};

class UserDialogs {
public:
    virtual ~UserDialogs() = default;
    // Shows a modal box and returns the button pressed (ButtonOk for a plain message).
    virtual DialogButton showMessage(const MessageRequest& request) = 0;
    // The text-input box with OK and Cancel; Cancel gives back the initial text.
    virtual QString inputText(const QString& caption, const QString& prompt, const QString& initialText) = 0;
    // The open-file dialog (read-only, must exist). Returns the chosen file as a
    // Windows path, or nothing when cancelled.
    virtual std::optional<QString> openFile(const FileDialogRequest& request) = 0;
    // The save-file dialog. Returns the confirmed name as a Windows path, or
    // nothing when cancelled.
    virtual std::optional<QString> saveFile(const FileDialogRequest& request) = 0;
};

// A plain message box of the program: the text, the caption, an OK button.
inline void ShowMessage(UserDialogs& dialogs, const QString& caption, const QString& text)
{
    MessageRequest request;
    request.caption = caption;
    request.text = text;
    dialogs.showMessage(request);
}

}  // namespace vz
