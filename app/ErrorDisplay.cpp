#include "app/ErrorDisplay.h"

#include "platform/Errors.h"

#include <exception>

namespace vz {

QString WithFullStop(const QString& text)
{
    // Every character outside ASCII sorts after "." in the single-byte code
    // page too, so comparing code points gives the same answer.
    if (!text.isEmpty() && text.back() > QLatin1Char('.'))
        return text + QLatin1Char('.');
    return text;
}

void ShowStandardError(UserDialogs& dialogs, const QString& title, const QString& text)
{
    MessageRequest request;
    request.caption = title;
    request.text = WithFullStop(text);
    request.icon = DialogIcon::Error;
    request.buttons = ButtonOk;
    dialogs.showMessage(request);
}

void RunEventHandler(UserDialogs& dialogs, const QString& title, const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const SilentAbort&) {
        // The run was ended on purpose; its steps already show why.
    } catch (const Error& e) {
        ShowStandardError(dialogs, title, e.message());
    } catch (const std::exception& e) {
        ShowStandardError(dialogs, title, QString::fromUtf8(e.what()));
    }
}

}  // namespace vz
