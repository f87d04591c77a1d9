#include "tests/support/ScriptedDialogs.h"

#include <gtest/gtest.h>

namespace vz::test {

namespace {
const char* kindName(DialogRecord::Kind kind)
{
    switch (kind) {
    case DialogRecord::Message: return "message box";
    case DialogRecord::Input: return "text input";
    case DialogRecord::Open: return "open dialog";
    case DialogRecord::Save: return "save dialog";
    }
    return "?";
}
}  // namespace

ScriptedDialogs& ScriptedDialogs::answerMessage(const QString& textPart, DialogButton answer)
{
    script_.push_back({DialogRecord::Message, textPart, answer, std::nullopt, false});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::answerInput(const QString& answer)
{
    script_.push_back({DialogRecord::Input, QString(), ButtonOk, answer, false});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::cancelInput()
{
    script_.push_back({DialogRecord::Input, QString(), ButtonCancel, std::nullopt, true});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::answerOpen(std::optional<QString> windowsPath)
{
    script_.push_back({DialogRecord::Open, QString(), ButtonOk, std::move(windowsPath), false});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::answerSave(std::optional<QString> windowsPath)
{
    script_.push_back({DialogRecord::Save, QString(), ButtonOk, std::move(windowsPath), false});
    return *this;
}

std::optional<ScriptedDialogs::Step> ScriptedDialogs::next(DialogRecord::Kind kind, const QString& shownText)
{
    if (script_.empty() || script_.front().kind != kind) {
        if (!(lenient_ && kind == DialogRecord::Message)) {
            ADD_FAILURE() << "unexpected " << kindName(kind) << ": " << shownText.toStdString()
                          << (script_.empty() ? std::string(" (script is empty)")
                                              : std::string(" (expected a ") + kindName(script_.front().kind) + ")");
        }
        return std::nullopt;
    }
    Step step = script_.front();
    if (!step.textPart.isEmpty() && !shownText.contains(step.textPart)) {
        if (lenient_ && kind == DialogRecord::Message)
            return std::nullopt;
        ADD_FAILURE() << "expected a " << kindName(kind) << " containing \"" << step.textPart.toStdString()
                      << "\", got \"" << shownText.toStdString() << "\"";
    }
    script_.pop_front();
    return step;
}

DialogButton ScriptedDialogs::showMessage(const MessageRequest& request)
{
    DialogRecord record{DialogRecord::Message, request, {}, {}, {}};
    records_.push_back(record);
    auto step = next(DialogRecord::Message, request.text);
    if (step)
        return step->button;
    // Unscripted: OK when offered, else the answer that changes least.
    for (DialogButton b : {ButtonOk, ButtonNo, ButtonCancel, ButtonYes})
        if (request.buttons & b)
            return b;
    return ButtonOk;
}

QString ScriptedDialogs::inputText(const QString& caption, const QString& prompt, const QString& initialText)
{
    records_.push_back(DialogRecord{DialogRecord::Input, {}, caption, prompt, {}});
    auto step = next(DialogRecord::Input, prompt);
    if (!step || step->cancel || !step->text)
        return initialText;
    return *step->text;
}

std::optional<QString> ScriptedDialogs::openFile(const FileDialogRequest& request)
{
    records_.push_back(DialogRecord{DialogRecord::Open, {}, {}, {}, request});
    auto step = next(DialogRecord::Open, request.initialFileName);
    return step ? step->text : std::nullopt;
}

std::optional<QString> ScriptedDialogs::saveFile(const FileDialogRequest& request)
{
    records_.push_back(DialogRecord{DialogRecord::Save, {}, {}, {}, request});
    auto step = next(DialogRecord::Save, request.initialFileName);
    return step ? step->text : std::nullopt;
}

QStringList ScriptedDialogs::messageTexts() const
{
    QStringList texts;
    for (const auto& r : records_)
        if (r.kind == DialogRecord::Message)
            texts << r.message.text;
    return texts;
}

}  // namespace vz::test
