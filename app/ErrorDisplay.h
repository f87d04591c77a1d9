#pragma once
// The standard error display: an error that leaves an event handler is shown
// in a modal box with the error's text, a full stop appended when the text's
// last character sorts after "." (as in "Não foi possível copiar."), the
// application title as caption and an error icon.

#include "platform/UserDialogs.h"

#include <QString>

#include <functional>

namespace vz {

QString WithFullStop(const QString& text);

void ShowStandardError(UserDialogs& dialogs, const QString& title, const QString& text);

// Runs an event handler: SilentAbort ends it without a message, any other
// error reaches the standard error display.
void RunEventHandler(UserDialogs& dialogs, const QString& title, const std::function<void()>& handler);

}  // namespace vz
