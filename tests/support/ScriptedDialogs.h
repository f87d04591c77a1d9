#pragma once
// UserDialogs for tests: every interaction is recorded, and answers come from
// a script of expectations given in order. An interaction that the script does
// not expect fails the test (and answers the safest way: Cancel/No/OK).

#include "platform/UserDialogs.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <vector>

namespace vz::test {

struct DialogRecord {
    enum Kind { Message, Input, Open, Save } kind;
    MessageRequest message;      // Message
    QString caption, prompt;     // Input
    FileDialogRequest file;      // Open, Save
};

class ScriptedDialogs final : public UserDialogs {
public:
    // Expect a box whose text contains `textPart` (empty: any) and answer it.
    ScriptedDialogs& answerMessage(const QString& textPart, DialogButton answer = ButtonOk);
    ScriptedDialogs& answerInput(const QString& answer);
    ScriptedDialogs& cancelInput();
    ScriptedDialogs& answerOpen(std::optional<QString> windowsPath);
    ScriptedDialogs& answerSave(std::optional<QString> windowsPath);
    // Answer every message box with OK (or the first of Yes/OK) without expectations.
    void setLenientMessages(bool on) { lenient_ = on; }

    DialogButton showMessage(const MessageRequest& request) override;
    QString inputText(const QString& caption, const QString& prompt, const QString& initialText) override;
    std::optional<QString> openFile(const FileDialogRequest& request) override;
    std::optional<QString> saveFile(const FileDialogRequest& request) override;

    const std::vector<DialogRecord>& records() const { return records_; }
    // The texts of every message box shown, in order.
    QStringList messageTexts() const;
    // True when every scripted answer was used.
    bool scriptDone() const { return script_.empty(); }

private:
    struct Step {
        DialogRecord::Kind kind;
        QString textPart;
        DialogButton button = ButtonOk;
        std::optional<QString> text;
        bool cancel = false;
    };
    std::optional<Step> next(DialogRecord::Kind kind, const QString& shownText);

    std::deque<Step> script_;
    std::vector<DialogRecord> records_;
    bool lenient_ = false;
};

}  // namespace vz::test
