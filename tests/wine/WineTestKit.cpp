#include "tests/wine/WineTestKit.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <chrono>
#include <thread>

namespace vz::test {

namespace {

// A fresh prefix takes about 7 s; a slow machine gets room.
constexpr int WinebootLimitMs = 180000;

QString Wineserver()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("wineserver"));
    return found.isEmpty() ? QStringLiteral("/usr/lib/wine/wineserver") : found;
}

}  // namespace

WinePrefixSession::WinePrefixSession(QString prefixHostPath) : prefix_(std::move(prefixHostPath)) {}

WinePrefixSession::~WinePrefixSession() { stop(); }

QProcessEnvironment WinePrefixSession::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WINEPREFIX"), prefix_);
    env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    return env;
}

bool WinePrefixSession::start()
{
    wine_ = QStandardPaths::findExecutable(QStringLiteral("wine"));
    if (wine_.isEmpty()) {
        error_ = QStringLiteral("wine is not on the PATH (scripts/setup.sh installs it)");
        return false;
    }
    QProcess boot;
    boot.setProcessEnvironment(environment());
    boot.setProcessChannelMode(QProcess::MergedChannels);
    boot.setStandardInputFile(QProcess::nullDevice());
    // wineboot's own output is wanted for the reason, but the wineserver it
    // starts lives on and would keep a pipe open: a file instead.
    const QString log = prefix_ + QStringLiteral("/wineboot.log");
    boot.setStandardOutputFile(log);
    boot.start(wine_, {QStringLiteral("wineboot"), QStringLiteral("-i")});
    if (!boot.waitForStarted(10000)) {
        error_ = QStringLiteral("wine did not start: ") + boot.errorString();
        return false;
    }
    if (!boot.waitForFinished(WinebootLimitMs)) {
        boot.kill();
        boot.waitForFinished(5000);
        error_ = QStringLiteral("wineboot -i did not finish");
        return false;
    }
    // wineserver writes the registry (system.reg) when it ends, a few
    // seconds after wineboot's processes.
    waitForWineserver(QStringLiteral("-w"));
    QFile logFile(log);
    const QString output = logFile.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(logFile.readAll()) : QString();
    logFile.close();
    QFile::remove(log);
    if (boot.exitStatus() != QProcess::NormalExit || boot.exitCode() != 0 ||
        !QFile::exists(prefix_ + QStringLiteral("/system.reg"))) {
        error_ = QStringLiteral("wineboot -i failed (exit status %1): ").arg(boot.exitCode()) + output.trimmed();
        return false;
    }
    ready_ = true;
    return true;
}

void WinePrefixSession::endPrograms(const QString& tmpDir) const
{
    // -k ends every process of the prefix; -w returns once its wineserver is gone.
    waitForWineserver(QStringLiteral("-k"), tmpDir);
    waitForWineserver(QStringLiteral("-w"), tmpDir);
}

void WinePrefixSession::stop()
{
    if (wine_.isEmpty())
        return;
    endPrograms();
    // Debian's Wine keeps the server's socket in $TMPDIR/NAME, NAME being
    // what the prefix's "wineserver" file holds.
    QFile nameFile(prefix_ + QStringLiteral("/wineserver"));
    if (nameFile.open(QIODevice::ReadOnly)) {
        const QString name = QString::fromLocal8Bit(nameFile.readAll()).trimmed();
        if (name.startsWith(QStringLiteral("wine-")) && !name.contains(QLatin1Char('/'))) {
            const QString tmp = qEnvironmentVariable("TMPDIR", QStringLiteral("/tmp"));
            QDir(tmp + QLatin1Char('/') + name).removeRecursively();
        }
    }
    wine_.clear();
    ready_ = false;
}

void WinePrefixSession::waitForWineserver(const QString& option, const QString& tmpDir) const
{
    QProcess server;
    QProcessEnvironment env = environment();
    if (!tmpDir.isEmpty())
        env.insert(QStringLiteral("TMPDIR"), tmpDir);
    server.setProcessEnvironment(env);
    server.setStandardInputFile(QProcess::nullDevice());
    server.setStandardOutputFile(QProcess::nullDevice());
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start(Wineserver(), {option});
    if (server.waitForStarted(10000) && !server.waitForFinished(60000)) {
        server.kill();
        server.waitForFinished(5000);
    }
}

WineProgram::WineProgram(const WinePrefixSession& session, const QString& exeHostPath, const QStringList& arguments,
                         const QString& tmpDir)
{
    QProcessEnvironment env = session.environment();
    if (!tmpDir.isEmpty())
        env.insert(QStringLiteral("TMPDIR"), tmpDir);
    process_.setProcessEnvironment(env);
    process_.setStandardInputFile(QProcess::nullDevice());
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setStandardErrorFile(QProcess::nullDevice());
    process_.start(session.wine(), QStringList{exeHostPath} + arguments);
    started_ = process_.waitForStarted(10000);
}

WineProgram::~WineProgram()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

bool WineProgram::running() { return process_.state() != QProcess::NotRunning && !process_.waitForFinished(0); }

int WineProgram::exitStatus(int timeoutMs)
{
    if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(timeoutMs))
        return -1;
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace vz::test
