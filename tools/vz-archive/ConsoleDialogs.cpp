#include "tools/vz-archive/ConsoleDialogs.h"

#include <cstdio>

namespace vz {

DialogButton ConsoleDialogs::showMessage(const MessageRequest& request)
{
    DialogButton answer = ButtonOk;
    if (request.buttons & ButtonYes)
        answer = ButtonYes;
    else if (request.buttons & ButtonCancel)
        answer = ButtonCancel;
    QString line = request.caption + QStringLiteral(": ") + QString(request.text).replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (answer == ButtonYes)
        line += QStringLiteral(" [Yes]");
    else if (answer == ButtonCancel)
        line += QStringLiteral(" [Cancel]");
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    return answer;
}

QString ConsoleDialogs::inputText(const QString&, const QString&, const QString& initialText)
{
    return initialText;
}

std::optional<QString> ConsoleDialogs::openFile(const FileDialogRequest&)
{
    return std::nullopt;
}

std::optional<QString> ConsoleDialogs::saveFile(const FileDialogRequest&)
{
    return std::nullopt;
}

}  // namespace vz
