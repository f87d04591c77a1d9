#include "tests/e2e/ProgramWindow.h"

#include "app/MainWindowControls.h"

#include <QFile>
#include <QMap>
#include <QThread>

#include <algorithm>
#include <csignal>

namespace vz::test {

namespace {

// WINDOW, X, Y, WIDTH and HEIGHT of a window (xdotool getwindowgeometry --shell).
QMap<QString, int> GeometryOf(const QString& window)
{
    QMap<QString, int> values;
    const QByteArray text = Xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
    for (const QByteArray& line : text.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            values.insert(QString::fromLatin1(line.left(equals)), line.mid(equals + 1).toInt());
    }
    return values;
}

bool IsMainWindow(const QMap<QString, int>& geometry)
{
    return geometry.value(QStringLiteral("WIDTH")) == MainWindowControls::ClientWidth &&
           geometry.value(QStringLiteral("HEIGHT")) == MainWindowControls::ClientHeight;
}

// The tray icon's own window is small; boxes and the main window are not.
bool IsLarge(const QMap<QString, int>& geometry)
{
    return geometry.value(QStringLiteral("WIDTH")) > 60 && geometry.value(QStringLiteral("HEIGHT")) > 40;
}

}  // namespace

QByteArray Xdotool(const QStringList& arguments)
{
    QProcess xdotool;
    xdotool.setProcessChannelMode(QProcess::SeparateChannels);
    xdotool.start(QStringLiteral("xdotool"), arguments);
    if (!xdotool.waitForFinished(10000)) {
        xdotool.kill();
        xdotool.waitForFinished(2000);
        return {};
    }
    return xdotool.readAllStandardOutput();
}

ProgramWindow::ProgramWindow(QString executable, QProcessEnvironment environment, QString workingFolder)
    : executable_(std::move(executable)), environment_(std::move(environment)), workingFolder_(std::move(workingFolder))
{
    // In a file: a pipe nobody drains while the test waits would stall the program.
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.setStandardOutputFile(workingFolder_ + QStringLiteral("/program.log"), QIODevice::Append);
}

ProgramWindow::~ProgramWindow()
{
    if (process_.state() != QProcess::NotRunning)
        kill();
}

bool ProgramWindow::start(int timeoutMs)
{
    window_.clear();
    error_.clear();
    process_.setProcessEnvironment(environment_);
    process_.setWorkingDirectory(workingFolder_);
    process_.start(executable_, {});
    if (!process_.waitForStarted(10000)) {
        error_ = QStringLiteral("the program did not start: ") + process_.errorString();
        return false;
    }
    const QString pid = QString::number(process_.processId());
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (process_.state() == QProcess::NotRunning || process_.waitForFinished(0)) {
            error_ = QStringLiteral("the program ended before its window showed: ") + output();
            return false;
        }
        const QByteArray found =
            Xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), pid});
        for (const QByteArray& id : found.split('\n')) {
            if (id.trimmed().isEmpty())
                continue;
            const QString window = QString::fromLatin1(id.trimmed());
            const QMap<QString, int> geometry = GeometryOf(window);
            if (IsMainWindow(geometry)) {
                window_ = window;
                windowX_ = geometry.value(QStringLiteral("X"));
                windowY_ = geometry.value(QStringLiteral("Y"));
            } else if (IsLarge(geometry)) {
                error_ = QStringLiteral("a message box showed instead of the window");
                return false;
            }
        }
        if (!window_.isEmpty()) {
            // Mapped; let the first paint and the focus settle before clicks.
            QThread::msleep(150);
            return true;
        }
        QThread::msleep(50);
    }
    error_ = QStringLiteral("the window did not show within %1 ms").arg(timeoutMs);
    return false;
}

void ProgramWindow::click(Point at)
{
    Xdotool({QStringLiteral("mousemove"), QString::number(windowX_ + at.x), QString::number(windowY_ + at.y),
             QStringLiteral("click"), QStringLiteral("1")});
}

QStringList ProgramWindow::boxes()
{
    QStringList found;
    if (process_.state() == QProcess::NotRunning)
        return found;
    const QByteArray ids = Xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                    QString::number(process_.processId())});
    for (const QByteArray& id : ids.split('\n')) {
        const QString window = QString::fromLatin1(id.trimmed());
        if (window.isEmpty() || window == window_)
            continue;
        if (IsLarge(GeometryOf(window)))
            found << window;
    }
    return found;
}

QString ProgramWindow::waitForBox(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs && running()) {
        const QStringList found = boxes();
        if (!found.isEmpty())
            return found.first();
        QThread::msleep(100);
    }
    return QString();
}

bool ProgramWindow::answer(const QString& box)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        Xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), box});
        // Through XTEST to the focused box, never with --window: the release
        // would go to a box the press has already closed, the server would
        // keep Return held, and its auto-repeat would answer every later box.
        Xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        for (int i = 0; i < 30; ++i) {
            if (!boxes().contains(box))
                return true;
            QThread::msleep(100);
        }
    }
    return false;
}

bool ProgramWindow::running()
{
    return process_.state() != QProcess::NotRunning && !process_.waitForFinished(0);
}

void ProgramWindow::kill()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(process_.processId()), SIGKILL);
    process_.waitForFinished(20000);
}

bool ProgramWindow::terminate(int timeoutMs)
{
    if (process_.state() == QProcess::NotRunning)
        return true;
    process_.terminate();
    if (process_.waitForFinished(timeoutMs))
        return true;
    kill();
    return false;
}

QString ProgramWindow::output()
{
    QFile log(workingFolder_ + QStringLiteral("/program.log"));
    if (!log.open(QIODevice::ReadOnly))
        return QString();
    const qint64 size = log.size();
    log.seek(std::max<qint64>(0, size - 4000));
    return QString::fromLocal8Bit(log.readAll());
}

}  // namespace vz::test
