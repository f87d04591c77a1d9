#pragma once
// The real program (build/app/vireo-zuvavivevo) started as a user starts it,
// on the X server DISPLAY names, and driven with xdotool the way
// scripts/demo.sh drives it: its window found by its process, clicks at the
// controls' places, message boxes answered with Return through XTEST.

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace vz::test {

class ProgramWindow {
public:
    // Controls at their places in the window (the page of a tab lies below the tab bar).
    static constexpr int PageX = 2;
    static constexpr int PageY = 23;
    struct Point {
        int x, y;
    };
    static constexpr Point MusicasBox{PageX + 4 + 8 + 10, PageY + 48 + 8};  // chkMusicas in grpExportacao
    static constexpr Point GeralBox{PageX + 4 + 8 + 10, PageY + 64 + 8};    // chkGeral
    static constexpr Point StartButton{PageX + 4 + 75, PageY + 243 + 20};   // btnIniciar* on either page
    static constexpr Point ImportTab{95, 12};

    // The program's output goes to workingFolder/program.log.
    ProgramWindow(QString executable, QProcessEnvironment environment, QString workingFolder);
    ~ProgramWindow();
    ProgramWindow(const ProgramWindow&) = delete;
    ProgramWindow& operator=(const ProgramWindow&) = delete;

    // Starts the program and waits until its main window shows; false with
    // the reason in error() (a message box instead of the window included).
    bool start(int timeoutMs = 30000);
    const QString& error() const { return error_; }

    // A left click at window coordinates.
    void click(Point at);
    // Ids of the program's visible top-level windows other than the main one
    // and the tray icon: its message boxes.
    QStringList boxes();
    // Waits for a box; its id, or empty text after timeoutMs.
    QString waitForBox(int timeoutMs);
    // Presses Return in the box and waits until it has closed.
    bool answer(const QString& box);

    bool running();
    // SIGKILL, then waits for the end.
    void kill();
    // SIGTERM (the program closes as at a logout), then waits for the end.
    bool terminate(int timeoutMs = 20000);
    // The end of what the program wrote to its standard output and error.
    QString output();

private:
    QString executable_;
    QProcessEnvironment environment_;
    QString workingFolder_;
    QProcess process_;
    QString window_;
    int windowX_ = 0;
    int windowY_ = 0;
    QString error_;
};

// Runs xdotool with the arguments and returns what it printed.
QByteArray Xdotool(const QStringList& arguments);

}  // namespace vz::test
