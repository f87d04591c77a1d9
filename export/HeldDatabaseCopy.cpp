#include "export/HeldDatabaseCopy.h"

#include "db/ParameterBlocks.h"
#include "platform/CopyFailure.h"
#include "platform/FileSystem.h"
#include "platform/HostFile.h"
#include "platform/ProcessLauncher.h"
#include "platform/TemporaryFiles.h"

#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <climits>
#include <optional>

namespace vz {

namespace {

constexpr long LoginFailed = 335544472;  // isc_login
constexpr int KillWaitMs = 5000;

// The platform's lock test: another open file holds a lock that a file
// opened without sharing cannot take.
bool HeldByAnother(const QString& hostPath)
{
    const HostFile probe = HostFile::openRead(hostPath, ShareMode::None);
    return !probe.isOpen() && probe.errorNumber() == SharingViolation;
}

// An attachment made through the server on 127.0.0.1 and nothing else, so
// that what fails is the server's answer alone (the client's own fallback
// would report its in-process engine's lock error first).
class ServerSession {
public:
    ServerSession(const FirebirdClient& client, const QString& hostPath, const QStringList& params)
        : client_(client)
    {
        const QByteArray name = QByteArray("127.0.0.1:") + hostfs::encodeName(hostPath);
        const QByteArray dpb = BuildDatabaseParameterBlock(params);
        if (name.size() > SHRT_MAX)
            throw Error(QStringLiteral("Database file path too long: ") + hostPath);
        ISC_STATUS_ARRAY status;
        client_.isc_attach_database(status, static_cast<short>(name.size()), name.constData(), &handle_,
                                    static_cast<short>(dpb.size()), dpb.constData());
        if (FirebirdClient::failed(status)) {
            handle_ = 0;
            throw client_.errorFrom(status);
        }
    }
    ~ServerSession()
    {
        ISC_STATUS_ARRAY ignored;
        client_.isc_detach_database(ignored, &handle_);
    }
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

    // One statement in a transaction of its own, committed; rolled back when it fails.
    void run(const char* sql)
    {
        ISC_STATUS_ARRAY status;
        isc_tr_handle transaction = 0;
        TransactionExistenceBlock teb{&handle_, 0, nullptr};
        client_.isc_start_multiple(status, &transaction, 1, &teb);
        client_.check(status);
        client_.isc_dsql_execute_immediate(status, &handle_, &transaction, 0, sql, 1, nullptr);
        if (FirebirdClient::failed(status)) {
            const DatabaseError error = client_.errorFrom(status);
            client_.isc_rollback_transaction(status, &transaction);
            throw error;
        }
        client_.isc_commit_transaction(status, &transaction);
        if (FirebirdClient::failed(status)) {
            const DatabaseError error = client_.errorFrom(status);
            client_.isc_rollback_transaction(status, &transaction);
            throw error;
        }
    }

private:
    const FirebirdClient& client_;
    isc_db_handle handle_ = 0;
};

QString OneLine(const QString& text)
{
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" / "));
    line.replace(QLatin1Char('\n'), QStringLiteral(" / "));
    return line;
}

// Ends the backup state; once more on a fresh attachment when the first one
// is what failed. False with what the server said in *detail.
bool EndBackup(ServerSession& session, const FirebirdClient& client, const QString& hostPath,
               const QStringList& params, QString* detail)
{
    static const char* const sql = "ALTER DATABASE END BACKUP";
    try {
        session.run(sql);
        return true;
    } catch (const Error& e) {
        *detail = e.message();
    }
    try {
        ServerSession again(client, hostPath, params);
        again.run(sql);
        return true;
    } catch (const Error& e) {
        *detail += QStringLiteral(" / ") + e.message();
    }
    return false;
}

}  // namespace

HeldDatabaseCopy::HeldDatabaseCopy(const FirebirdClient& client, QStringList connectionParams, QString nbackupProgram,
                                   int toolTimeoutMs)
    : client_(client),
      connectionParams_(std::move(connectionParams)),
      nbackupProgram_(std::move(nbackupProgram)),
      toolTimeoutMs_(toolTimeoutMs)
{
}

HeldFileCopier::Outcome HeldDatabaseCopy::fail(const QString& sourceWindowsPath, int errorNumber,
                                               const QString& detail)
{
    if (!detail.isEmpty())
        details_ << sourceWindowsPath + QStringLiteral(": ") + OneLine(detail);
    errno = errorNumber;
    return Outcome::Failed;
}

HeldFileCopier::Outcome HeldDatabaseCopy::CopyHeld(const QString& sourceWindowsPath, const QString& fromHostPath,
                                                   const QString& toHostPath)
{
    if (!fromHostPath.endsWith(QLatin1String(".fdb"), Qt::CaseInsensitive) || !HeldByAnother(fromHostPath))
        return Outcome::NotHeld;

    // Held: through the server, or not at all. An embedded engine in another
    // program leaves nowhere to go (no server, or a server that cannot lock
    // the file either).
    std::optional<ServerSession> session;
    try {
        session.emplace(client_, fromHostPath, connectionParams_);
    } catch (const DatabaseError& e) {
        return fail(sourceWindowsPath, e.errorCode() == LoginFailed ? DatabaseServerRefused : DatabaseHeldWithoutServer,
                    e.message());
    } catch (const Error& e) {
        return fail(sourceWindowsPath, DatabaseHeldWithoutServer, e.message());
    }
    try {
        session->run("ALTER DATABASE BEGIN BACKUP");
    } catch (const Error& e) {
        return fail(sourceWindowsPath, DatabaseServerRefused, e.message());
    }

    // The main file is frozen from here until END BACKUP: read without the
    // share lock the server holds, into a temporary file beside the target.
    QString temporary;
    int copyError = 0;
    {
        HostFile made = hostfs::createTemporaryFile(QFileInfo(toHostPath).path(), &temporary);
        if (!made.isOpen()) {
            copyError = made.errorNumber();
            temporary.clear();
        }
    }
    if (!temporary.isEmpty()) {
        hostfs::CopyOptions options;
        options.sourceShare = ShareMode::All;
        options.newFile = hostfs::CopyOptions::NewFile::InPlace;
        errno = 0;
        if (!hostfs::copyFile(fromHostPath, temporary, options))
            copyError = errno != 0 ? errno : EIO;
    }
    QString endDetail;
    const bool ended = EndBackup(*session, client_, fromHostPath, connectionParams_, &endDetail);
    session.reset();
    const auto discard = [&temporary] {
        if (!temporary.isEmpty())
            hostfs::removeFile(temporary);
    };
    if (!ended) {
        discard();
        return fail(sourceWindowsPath, DatabaseLeftInBackup, endDetail);
    }
    if (copyError != 0) {
        discard();
        return fail(sourceWindowsPath, copyError, QString());
    }

    // The copy carries the frozen state's mark; cleared, it is an ordinary
    // database. The tool writes the header, so the source's time is set again.
    const auto copied = hostfs::stat(temporary);
    QString toolDetail;
    if (!copied || !clearBackupMark(temporary, &toolDetail)) {
        discard();
        return fail(sourceWindowsPath, DatabaseLockNotCleared, toolDetail);
    }
    HostFile timed = HostFile::openReadWrite(temporary, ShareMode::None);
    if (!timed.isOpen() || !timed.setModifiedTime(copied->modifiedUnixMs)) {
        const int error = timed.isOpen() ? errno : timed.errorNumber();
        timed.close();
        discard();
        return fail(sourceWindowsPath, error != 0 ? error : EIO, QString());
    }
    timed.close();
    if (!hostfs::rename(temporary, toHostPath)) {
        // A target already there (a leftover in the mirror) is replaced the
        // platform's way, never in place.
        const bool replaced = errno == EEXIST && hostfs::copyFile(temporary, toHostPath);
        const int error = errno != 0 ? errno : EIO;
        discard();
        if (!replaced)
            return fail(sourceWindowsPath, error, QString());
    }
    ++copied_;
    return Outcome::Copied;
}

bool HeldDatabaseCopy::clearBackupMark(const QString& hostPath, QString* detail) const
{
    QString program = nbackupProgram_;
    if (!program.contains(QLatin1Char('/'))) {
        const auto found = ProcessLauncher::findInPath(program);
        if (!found) {
            *detail = program + QStringLiteral(" not found in PATH");
            return false;
        }
        program = *found;
    }
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(program, {QStringLiteral("-F"), hostPath});
    if (!tool.waitForStarted(toolTimeoutMs_)) {
        *detail = program + QStringLiteral(": ") + tool.errorString();
        return false;
    }
    if (!tool.waitForFinished(toolTimeoutMs_)) {
        tool.kill();
        tool.waitForFinished(KillWaitMs);
        *detail = program + QStringLiteral(" -F did not finish within %1 ms").arg(toolTimeoutMs_);
        return false;
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        *detail = program + QStringLiteral(" -F failed (exit %1): ").arg(tool.exitCode()) +
                  QString::fromLocal8Bit(tool.readAll()).trimmed();
        return false;
    }
    return true;
}

}  // namespace vz
