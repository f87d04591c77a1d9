#pragma once
// The component's boxes on a terminal: every message goes to standard error,
// questions about existing files are answered Yes, Retry/Cancel boxes Cancel.

#include "platform/UserDialogs.h"

namespace vz {

class ConsoleDialogs final : public UserDialogs {
public:
    DialogButton showMessage(const MessageRequest& request) override;
    QString inputText(const QString& caption, const QString& prompt, const QString& initialText) override;
    std::optional<QString> openFile(const FileDialogRequest& request) override;
    std::optional<QString> saveFile(const FileDialogRequest& request) override;
};

}  // namespace vz
