#pragma once
// The archive component's own boxes and the error state of one operation.
// Errors are shown at once (information icon, OK, the application's title as
// caption) unless the component runs unattended or the message is one that
// is never shown; the first error becomes the operation's result.

#include "archive/ArchiveMessages.h"
#include "platform/UserDialogs.h"

#include <QSet>
#include <QString>

namespace vz {

class ComponentDialogs {
public:
    ComponentDialogs(UserDialogs& dialogs, QString title) : dialogs_(dialogs), title_(std::move(title)) {}

    void begin(bool unattended);
    // Records the error and shows it.
    void Report(int id, const QString& argument = QString());
    void Report(const ArchiveMessage::Failure& failure) { Report(failure.id, failure.argument); }
    // Records the error and shows a text already made up (the engine's).
    void ReportText(int id, const QString& text);
    // Shows a message without making it the operation's error.
    void Inform(int id, const QString& argument = QString());
    // Records the error without showing it.
    void Note(int id);
    bool wasShown(int id) const { return shown_.contains(id); }

    // "There is already a file %s\nDo you want to overwrite this file" with
    // the given buttons; unattended: Yes.
    DialogButton AskOverwrite(const QString& windowsPath, quint32 buttons);
    // A box with Retry and Cancel; unattended: Cancel.
    DialogButton AskRetry(int id);

    int errorCode() const { return error_; }
    bool unattended() const { return unattended_; }

private:
    void show(int id, const QString& text);

    UserDialogs& dialogs_;
    QString title_;
    bool unattended_ = false;
    int error_ = 0;
    QSet<int> shown_;
};

}  // namespace vz
