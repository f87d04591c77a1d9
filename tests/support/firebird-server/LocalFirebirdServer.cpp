#include "tests/support/firebird-server/LocalFirebirdServer.h"

#include "db/DatabaseError.h"
#include "db/ParameterBlocks.h"
#include "db/SqlStatement.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QThread>

#include <unistd.h>

namespace vz::test {

namespace {

const QString InitScript = QStringLiteral("/etc/init.d/firebird3.0");
const QString PasswordFile = QStringLiteral("/etc/firebird/3.0/SYSDBA.password");

int runInitScript(const QString& action)
{
    QProcess process;
    process.start(InitScript, {action});
    if (!process.waitForFinished(60000))
        return -1;
    return process.exitCode();
}

// The password Debian's package wrote for SYSDBA.
QString installedPassword()
{
    QFile file(PasswordFile);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    for (QByteArray line : file.readAll().split('\n')) {
        line = line.trimmed();
        if (line.startsWith("ISC_PASSWORD=")) {
            QByteArray value = line.mid(13);
            if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
                value = value.mid(1, value.size() - 2);
            return QString::fromUtf8(value);
        }
    }
    return QString();
}

// Keeps the package's password file true after the change, as it asks.
void recordPassword(const QString& password)
{
    QFile file(PasswordFile);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    for (QByteArray& line : lines) {
        if (line.trimmed().startsWith("ISC_PASSWORD="))
            line = "ISC_PASSWORD=\"" + password.toUtf8() + '"';
    }
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(lines.join('\n'));
}

}  // namespace

const QString DirectAttachment::TestPassword = QStringLiteral("quartzite");

DirectAttachment::DirectAttachment(const QByteArray& name, const QString& password) : client_(FirebirdClient::Load())
{
    const QByteArray dpb =
        BuildDatabaseParameterBlock({QStringLiteral("user_name=SYSDBA"), QStringLiteral("password=") + password});
    ISC_STATUS_ARRAY status;
    client_.isc_attach_database(status, static_cast<short>(name.size()), name.constData(), &handle_,
                                static_cast<short>(dpb.size()), dpb.constData());
    if (FirebirdClient::failed(status)) {
        handle_ = 0;
        throw client_.errorFrom(status);
    }
}

DirectAttachment DirectAttachment::server(const QString& hostPath, const QString& password)
{
    return DirectAttachment(QByteArray("127.0.0.1:") + QFile::encodeName(hostPath), password);
}

DirectAttachment DirectAttachment::inProcess(const QString& hostPath)
{
    return DirectAttachment(QFile::encodeName(hostPath));
}

DirectAttachment::DirectAttachment(DirectAttachment&& other) noexcept : client_(other.client_), handle_(other.handle_)
{
    other.handle_ = 0;
}

DirectAttachment::~DirectAttachment()
{
    if (handle_ != 0) {
        ISC_STATUS_ARRAY status;
        client_.isc_detach_database(status, &handle_);
    }
}

isc_tr_handle DirectAttachment::start()
{
    ISC_STATUS_ARRAY status;
    isc_tr_handle transaction = 0;
    TransactionExistenceBlock teb{&handle_, 0, nullptr};
    client_.isc_start_multiple(status, &transaction, 1, &teb);
    client_.check(status);
    return transaction;
}

void DirectAttachment::exec(const QByteArray& sql)
{
    ISC_STATUS_ARRAY status;
    isc_tr_handle transaction = start();
    client_.isc_dsql_execute_immediate(status, &handle_, &transaction, 0, sql.constData(), 1, nullptr);
    if (FirebirdClient::failed(status)) {
        const DatabaseError error = client_.errorFrom(status);
        client_.isc_rollback_transaction(status, &transaction);
        throw error;
    }
    client_.isc_commit_transaction(status, &transaction);
    client_.check(status);
}

QString DirectAttachment::value(const QString& sql)
{
    isc_tr_handle transaction = start();
    QString result;
    {
        SqlStatement statement(client_, &handle_);
        statement.prepare(&transaction, sql, 1);
        statement.execute(&transaction);
        if (statement.fetch())
            result = statement.asString(0);
    }
    ISC_STATUS_ARRAY status;
    client_.isc_commit_transaction(status, &transaction);
    client_.check(status);
    return result;
}

LocalFirebirdServer::~LocalFirebirdServer() { stopIfStarted(); }

QString LocalFirebirdServer::unavailableReason()
{
    if (!QFileInfo(InitScript).isExecutable() || !QFileInfo::exists(QStringLiteral("/usr/sbin/firebird")))
        return QStringLiteral("firebird3.0-server is not installed");
    if (::geteuid() != 0)
        return QStringLiteral("starting the Firebird server needs root");
    return QString();
}

bool LocalFirebirdServer::start()
{
    if (runInitScript(QStringLiteral("status")) == 0)
        return true;
    startedHere_ = true;
    return runInitScript(QStringLiteral("start")) == 0;
}

bool LocalFirebirdServer::stop()
{
    startedHere_ = false;
    return runInitScript(QStringLiteral("stop")) == 0;
}

void LocalFirebirdServer::stopIfStarted()
{
    if (startedHere_)
        runInitScript(QStringLiteral("stop"));
    startedHere_ = false;
}

QString LocalFirebirdServer::ensureTestPassword(const QString& database)
{
    for (int attempt = 0;; ++attempt) {
        try {
            DirectAttachment::server(database);
            return QString();
        } catch (const DatabaseError& e) {
            if (e.errorCode() == DirectAttachment::NetworkFailed && attempt < 50) {
                QThread::msleep(200);  // the server is still starting
                continue;
            }
            if (e.errorCode() != DirectAttachment::LoginFailed)
                return e.message();
            break;
        }
    }
    const QString current = installedPassword();
    if (current.isEmpty())
        return QStringLiteral("no SYSDBA password in ") + PasswordFile;
    try {
        DirectAttachment admin = DirectAttachment::server(database, current);
        admin.exec("ALTER USER SYSDBA PASSWORD '" + DirectAttachment::TestPassword.toUtf8() + "'");
    } catch (const DatabaseError& e) {
        return e.message();
    }
    recordPassword(DirectAttachment::TestPassword);
    return QString();
}

}  // namespace vz::test
