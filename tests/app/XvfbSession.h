#pragma once
// An X server of the test's own: Xvfb on a free display number (it reports
// the number through -displayfd), optionally with trayer as the tray host.
// DISPLAY is set for this process and its children while it runs.

#include <QString>

#include <sys/types.h>

namespace vz::test {

class XvfbSession {
public:
    XvfbSession() = default;
    ~XvfbSession();
    XvfbSession(const XvfbSession&) = delete;
    XvfbSession& operator=(const XvfbSession&) = delete;

    // Starts Xvfb; false (with the reason in error()) when it does not come up.
    bool start();
    // Starts trayer at the bottom right as the notification area.
    bool startTrayHost();
    void stop();

    const QString& display() const { return display_; }  // ":N"
    const QString& error() const { return error_; }

private:
    pid_t xvfb_ = -1;
    pid_t trayer_ = -1;
    QString display_;
    QString error_;
};

}  // namespace vz::test
