#include "platform/WineSiblingProgram.h"

#include "platform/FileSystem.h"
#include "platform/WineServer.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <cstdio>

namespace vz {

WineSiblingProgram::WineSiblingProgram(QString wineHostPath, QString prefixHostPath, QString helperHostPath,
                                       int runLimitMs)
    : wine_(std::move(wineHostPath)), prefix_(std::move(prefixHostPath)), helper_(std::move(helperHostPath)),
      runLimitMs_(runLimitMs)
{
}

bool WineSiblingProgram::SiblingIsRunning()
{
    // Without a wineserver no program of the prefix runs; asking wine would
    // only start the prefix's whole Wine session.
    lastError_.clear();
    const WineServer::Lookup server = WineServer::Find(prefix_);
    if (server.state == WineServer::State::NotRunning)
        return false;
    return runHelper({QStringLiteral("running")}, server) == Answer::Yes;
}

void WineSiblingProgram::AskSiblingToClose()
{
    lastError_.clear();
    const WineServer::Lookup server = WineServer::Find(prefix_);
    if (server.state != WineServer::State::NotRunning)
        runHelper({QStringLiteral("close")}, server);
}

void WineSiblingProgram::StartSiblingServer(const QString& systemFolderWindowsPath)
{
    lastError_.clear();
    runHelper({QStringLiteral("start"), systemFolderWindowsPath + ServerFileName}, WineServer::Find(prefix_));
}

WineSiblingProgram::Answer WineSiblingProgram::runHelper(const QStringList& arguments, const WineServer::Lookup& server)
{
    const QString what = QStringLiteral("vz-sibling.exe ") + arguments.join(QLatin1Char(' '));
    const auto fail = [&](const QString& reason) {
        lastError_ = what + QStringLiteral(": ") + reason;
        std::fprintf(stderr, "%s\n", lastError_.toLocal8Bit().constData());
        return Answer::Failed;
    };
    // wine answers 1 for some failures of its own too: a helper that is not
    // there must not pass for "no window".
    if (!hostfs::isFile(helper_))
        return fail(QStringLiteral("the helper is missing (") + helper_ + QLatin1Char(')'));

    QProcess process;
    process.setProgram(wine_);
    process.setArguments(QStringList{helper_} + arguments);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WINEPREFIX"), prefix_);
    environment.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    // The running programs' server, not a second one of our own.
    if (server.state == WineServer::State::Running)
        environment.insert(QStringLiteral("TMPDIR"), server.tmpDir);
    process.setProcessEnvironment(environment);
    // No pipes: a wineserver or a server that the helper starts lives on and
    // would hold them open; the answer is the exit status alone.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();

    if (!process.waitForStarted(runLimitMs_))
        return fail(QStringLiteral("wine could not be started (") + process.errorString() + QLatin1Char(')'));
    if (!process.waitForFinished(runLimitMs_)) {
        process.kill();
        process.waitForFinished(2000);
        return fail(QStringLiteral("no answer within %1 ms").arg(runLimitMs_));
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return fail(QStringLiteral("ended by a signal"));
    if (process.exitCode() == 0)
        return Answer::Yes;
    if (process.exitCode() == 1)
        return Answer::No;
    return fail(QStringLiteral("exit status %1").arg(process.exitCode()));
}

}  // namespace vz
