#include "tests/support/FirebirdTestDatabases.h"

#include "platform/FileSystem.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace vz::test {

QString MakeVireoDbTool()
{
    const QString relative = QStringLiteral("/tools/make-vireo-db/make-vireo-db");
    const QString binaryDir = QProcessEnvironment::systemEnvironment().value(QStringLiteral("VZ_BINARY_DIR"));
    if (!binaryDir.isEmpty())
        return binaryDir + relative;
    // Started by hand: the build folder is one of the test's parent folders.
    for (QDir dir = QFileInfo(hostfs::executablePath()).dir(); !dir.isRoot(); dir.cdUp()) {
        if (QFileInfo(dir.path() + relative).isExecutable())
            return dir.path() + relative;
    }
    return relative.mid(1);
}

bool RunMakeVireoDb(const QStringList& arguments)
{
    // The database file's folder is made first.
    if (arguments.size() >= 2)
        QDir().mkpath(QFileInfo(arguments.at(1)).absolutePath());
    const QString tool = MakeVireoDbTool();
    if (!QFileInfo(tool).isExecutable()) {
        ADD_FAILURE() << "make-vireo-db not found at " << tool.toStdString()
                      << " (run the test through ctest, after building the make-vireo-db target)";
        return false;
    }
    QProcess process;
    process.setProgram(tool);
    process.setArguments(arguments);
    process.start();
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "make-vireo-db did not finish: " << arguments.join(QLatin1Char(' ')).toStdString();
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << "make-vireo-db " << arguments.join(QLatin1Char(' ')).toStdString() << " failed: "
                      << QString::fromLocal8Bit(process.readAllStandardError()).toStdString();
        return false;
    }
    return true;
}

bool CreateAdmDatabase(const QString& hostPath, const std::vector<ConfigurationRow>& rows,
                       const QStringList& extraArguments)
{
    QStringList arguments{QStringLiteral("adm"), hostPath};
    arguments += extraArguments;
    for (const ConfigurationRow& row : rows) {
        if (row.guid)
            arguments << QStringLiteral("--config") << QString::number(row.codigo) << *row.guid;
        else
            arguments << QStringLiteral("--config-null") << QString::number(row.codigo);
    }
    return RunMakeVireoDb(arguments);
}

bool CreateAudioDatabase(const QString& hostPath, const std::vector<std::optional<QString>>& musicFolders,
                         const QStringList& extraArguments)
{
    QStringList arguments{QStringLiteral("audio"), hostPath};
    arguments += extraArguments;
    for (const auto& folder : musicFolders) {
        if (folder)
            arguments << QStringLiteral("--folder") << *folder;
        else
            arguments << QStringLiteral("--folder-null");
    }
    return RunMakeVireoDb(arguments);
}

bool CreateInstallationDatabases(const QString& hostVireodbFolder, const QString& clientGuid,
                                 const QStringList& musicFolders)
{
    if (!QDir().mkpath(hostVireodbFolder)) {
        ADD_FAILURE() << "cannot create " << hostVireodbFolder.toStdString();
        return false;
    }
    std::vector<std::optional<QString>> folders(musicFolders.begin(), musicFolders.end());
    return CreateAdmDatabase(hostVireodbFolder + QStringLiteral("/VireoAdm.fdb"), {{1, clientGuid}}) &&
           CreateAudioDatabase(hostVireodbFolder + QStringLiteral("/VireoAudio.fdb"), folders);
}

}  // namespace vz::test
