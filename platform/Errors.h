#pragma once
// The program's error kinds. Errors are raised as exceptions and carry the
// message the user sees; SilentAbort ends a run without any message.

#include <QByteArray>
#include <QString>
#include <exception>

namespace vz {

class Error : public std::exception {
public:
    explicit Error(QString message) : message_(std::move(message)), utf8_(message_.toUtf8()) {}
    const QString& message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};

// Raised by a failed step mark (and by drivers) to end a run silently.
class SilentAbort : public std::exception {
public:
    const char* what() const noexcept override { return "SilentAbort"; }
};

}  // namespace vz
