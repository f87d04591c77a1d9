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

// Raised from the window's event pump when the program must end during a run
// (the window closed, a logout, SIGTERM): the run stops at that safe point,
// as silently as a failed step, and everything that catches errors lets it
// through.
class RunStopped : public SilentAbort {
public:
    const char* what() const noexcept override { return "RunStopped"; }
};

}  // namespace vz
