#pragma once
// The program's modal interactions with Qt Widgets: message boxes (the
// program's own, and the archive component's with its English captions), the
// text-input box, and the open and save dialogs, which take and give Windows
// paths through the drive map.

#include "platform/DriveMap.h"
#include "platform/UserDialogs.h"

#include <QPointer>
#include <QWidget>

namespace vz {

class QtUserDialogs final : public UserDialogs {
public:
    // title: caption of the program's own notices (a choice outside any drive).
    QtUserDialogs(const DriveMap& driveMap, QString title);

    // Program boxes and file dialogs are modal to this window once it exists.
    void setParentWindow(QWidget* window) { parent_ = window; }

    DialogButton showMessage(const MessageRequest& request) override;
    QString inputText(const QString& caption, const QString& prompt, const QString& initialText) override;
    std::optional<QString> openFile(const FileDialogRequest& request) override;
    std::optional<QString> saveFile(const FileDialogRequest& request) override;

    // "Description|pattern|..." as a Qt name filter ("Description (pattern);;...").
    static QString qtNameFilter(const QString& filter);
    // The archive component's rules for its boxes: OK, else Yes, else Retry
    // is the default; Escape answers Cancel, else No, else OK.
    static DialogButton componentDefaultButton(quint32 buttons);
    static DialogButton componentEscapeButton(quint32 buttons);
    // The program's boxes: the first button is the default; Escape answers
    // Cancel, or OK in a box with OK alone, and does nothing otherwise.
    static DialogButton programDefaultButton(quint32 buttons);
    static DialogButton programEscapeButton(quint32 buttons);
    static QString buttonCaption(DialogButton button, DialogStyle style);
    // Prompt lines may be separated by a carriage return alone.
    static QString promptLines(const QString& prompt);

private:
    std::optional<QString> runFileDialog(const FileDialogRequest& request, bool save);

    const DriveMap& map_;
    QString title_;
    QPointer<QWidget> parent_;
};

}  // namespace vz
