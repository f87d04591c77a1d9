// A database file that a running Firebird server holds: the in-process
// engine cannot lock it, and the client library reaches it through the
// server on 127.0.0.1, where SYSDBA's password counts. Needs the
// firebird3.0-server package; the test starts the server itself and stops it
// again when it was not running.

#include "db/AutomationDatabases.h"
#include "db/ParameterBlocks.h"
#include "platform/FileSystem.h"
#include "tests/support/FirebirdTestDatabases.h"
#include "tests/support/TempPrefix.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <pwd.h>
#include <unistd.h>

namespace vz {
namespace {

const QString InitScript = QStringLiteral("/etc/init.d/firebird3.0");
const QString PasswordFile = QStringLiteral("/etc/firebird/3.0/SYSDBA.password");
const QString ProgramPassword = QStringLiteral("quartzite");
constexpr long LoginFailed = 335544472;      // isc_login
constexpr long NetworkFailed = 335544721;    // isc_network_error

// An attachment made straight through the client library, with a server
// prefix the program itself never uses.
class ServerAttachment {
public:
    ServerAttachment(const FirebirdClient& client, const QString& hostPath, const QString& password)
        : client_(client)
    {
        const QByteArray name = QByteArray("127.0.0.1:") + QFile::encodeName(hostPath);
        const QByteArray dpb = BuildDatabaseParameterBlock(
            {QStringLiteral("user_name=SYSDBA"), QStringLiteral("password=") + password});
        ISC_STATUS_ARRAY status;
        client_.isc_attach_database(status, static_cast<short>(name.size()), name.constData(), &handle_,
                                    static_cast<short>(dpb.size()), dpb.constData());
        if (FirebirdClient::failed(status)) {
            handle_ = 0;
            throw client_.errorFrom(status);
        }
    }
    ~ServerAttachment()
    {
        ISC_STATUS_ARRAY status;
        client_.isc_detach_database(status, &handle_);
    }
    void exec(const QByteArray& sql)
    {
        ISC_STATUS_ARRAY status;
        isc_tr_handle transaction = 0;
        TransactionExistenceBlock teb{&handle_, 0, nullptr};
        client_.isc_start_multiple(status, &transaction, 1, &teb);
        client_.check(status);
        client_.isc_dsql_execute_immediate(status, &handle_, &transaction, 0, sql.constData(), 1, nullptr);
        if (FirebirdClient::failed(status)) {
            const DatabaseError error = client_.errorFrom(status);
            client_.isc_rollback_transaction(status, &transaction);
            throw error;
        }
        client_.isc_commit_transaction(status, &transaction);
        client_.check(status);
    }

private:
    const FirebirdClient& client_;
    isc_db_handle handle_ = 0;
};

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

class ServerHeldDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QFileInfo(InitScript).isExecutable() || !QFileInfo::exists(QStringLiteral("/usr/sbin/firebird")))
            GTEST_SKIP() << "NOTICE: firebird3.0-server is not installed; the server-held database is not tested";
        if (geteuid() != 0)
            GTEST_SKIP() << "NOTICE: starting the Firebird server needs root; the server-held database is not tested";
        const passwd* firebird = getpwnam("firebird");
        ASSERT_NE(firebird, nullptr);

        // The server runs as "firebird": it needs its way into the folder and the file.
        ASSERT_TRUE(test::CreateAdmDatabase(adm(), {{2, QStringLiteral("{SERVER-2}")}, {1, QStringLiteral("{SERVER-1}")}}));
        ASSERT_TRUE(test::CreateAudioDatabase(audio(), {QStringLiteral("D:\\Musicas\\Rock\\")}));
        ASSERT_EQ(chmod(QFile::encodeName(folder.path()).constData(), 0755), 0);
        for (const QString& file : {adm(), audio()})
            ASSERT_EQ(chown(QFile::encodeName(file).constData(), firebird->pw_uid, firebird->pw_gid), 0);

        startedServer_ = runInitScript(QStringLiteral("status")) != 0;
        if (startedServer_) {
            ASSERT_EQ(runInitScript(QStringLiteral("start")), 0);
        }
        ensureProgramPassword();
    }

    void TearDown() override
    {
        if (startedServer_)
            runInitScript(QStringLiteral("stop"));
    }

    // The server accepts SYSDBA with the program's password (set when needed).
    void ensureProgramPassword()
    {
        const FirebirdClient& client = FirebirdClient::Load();
        for (int attempt = 0;; ++attempt) {
            try {
                ServerAttachment probe(client, adm(), ProgramPassword);
                return;
            } catch (const DatabaseError& e) {
                if (e.errorCode() == NetworkFailed && attempt < 50) {
                    QThread::msleep(200);  // the server is still starting
                    continue;
                }
                ASSERT_EQ(e.errorCode(), LoginFailed) << e.message().toStdString();
                break;
            }
        }
        const QString current = installedPassword();
        ASSERT_FALSE(current.isEmpty()) << "no SYSDBA password in " << PasswordFile.toStdString();
        ServerAttachment admin(client, adm(), current);
        admin.exec("ALTER USER SYSDBA PASSWORD '" + ProgramPassword.toUtf8() + "'");
        recordPassword(ProgramPassword);
    }

    QString adm() const { return folder.path() + QStringLiteral("/VireoAdm.fdb"); }
    QString audio() const { return folder.path() + QStringLiteral("/VireoAudio.fdb"); }
    // A file as the program names it: Z: is the host root.
    static QString windows(const QString& hostPath)
    {
        return QStringLiteral("Z:") + QString(hostPath).replace(QLatin1Char('/'), QLatin1Char('\\'));
    }
    QString admWindows() const { return windows(adm()); }

    // How the connection reached the file: "TCPv4"/"TCPv6" through the
    // server, empty in-process.
    QString protocolOf(const FileSystem& fs)
    {
        DatabaseConnection connection(FirebirdClient::Load(), fs, admWindows());
        DatabaseTransaction transaction(connection);
        connection.setDefaultTransaction(&transaction);
        connection.setConnectionParams(AutomationDatabases::ConnectionParamLines());
        QueryObject query(connection, transaction);
        connection.Connect();
        query.setSql(QStringLiteral(
            "SELECT MON$REMOTE_PROTOCOL AS P FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION"));
        query.open();
        const QString protocol = query.fieldAsString(QStringLiteral("P"));
        connection.Disconnect();
        return protocol;
    }

    test::TempDir folder;
    bool startedServer_ = false;
};

TEST_F(ServerHeldDatabaseTest, AHeldFileIsReadThroughTheServerWithTheProgramsPassword)
{
    const FileSystem fs(DriveMap::rootOnly());
    AutomationDatabases dbs(fs);
    dbs.setFileNames(QString(), admWindows());
    {
        ServerAttachment held(dbs.client, adm(), ProgramPassword);
        EXPECT_EQ(dbs.ReadClientGuid(), QStringLiteral("{SERVER-1}"));
        EXPECT_FALSE(dbs.DB_Adm.connected());
        EXPECT_TRUE(protocolOf(fs).startsWith(QLatin1String("TCP")));

        // Through the server the password counts.
        DatabaseConnection wrong(dbs.client, fs, admWindows());
        wrong.setConnectionParams({QStringLiteral("user_name=SYSDBA"), QStringLiteral("password=not-it")});
        try {
            wrong.Connect();
            FAIL() << "attached through the server with a wrong password";
        } catch (const DatabaseError& e) {
            EXPECT_FALSE(e.message().isEmpty());
            EXPECT_FALSE(e.message().endsWith(QLatin1Char('.')));
        }
        EXPECT_FALSE(wrong.connected());
    }
    // Released by the server, the file opens in-process again.
    bool inProcess = false;
    for (int attempt = 0; attempt < 50 && !inProcess; ++attempt) {
        inProcess = protocolOf(fs).isEmpty();
        if (!inProcess)
            QThread::msleep(100);
    }
    EXPECT_TRUE(inProcess);
    EXPECT_EQ(dbs.ReadClientGuid(), QStringLiteral("{SERVER-1}"));
}

TEST_F(ServerHeldDatabaseTest, ALostServerConnectionStillEndsTheTransaction)
{
    if (!startedServer_)
        GTEST_SKIP() << "NOTICE: the Firebird server was already running; it is not stopped to test a lost connection";
    const FileSystem fs(DriveMap::rootOnly());
    AutomationDatabases dbs(fs);
    dbs.setFileNames(windows(audio()), admWindows());
    QStringList folders;
    {
        ServerAttachment held(dbs.client, audio(), ProgramPassword);
        dbs.ConnectVireo();
        dbs.ForEachMusicFolder([&](const QString& path) { folders.append(path); });
        EXPECT_EQ(folders, QStringList{QStringLiteral("D:\\Musicas\\Rock\\")});
        ASSERT_TRUE(dbs.Trans_Vireo.active());
        ASSERT_EQ(runInitScript(QStringLiteral("stop")), 0);
        startedServer_ = false;
    }
    // Neither commit nor rollback can reach the server; the transaction ends
    // all the same and the detach is still tried.
    try {
        dbs.DisconnectVireo();
    } catch (const DatabaseError& e) {
        ADD_FAILURE() << "detaching a lost connection failed: " << e.message().toStdString();
    }
    EXPECT_FALSE(dbs.Trans_Vireo.active());
    EXPECT_EQ(dbs.Trans_Vireo.commitCount(), 0);
    EXPECT_FALSE(dbs.QryBusca.active());
    // A lost connection does not count as attached: the next run attaches anew.
    EXPECT_FALSE(dbs.DB_Vireo.connected());
    dbs.ConnectVireo();
    EXPECT_EQ(dbs.DB_Vireo.attachCount(), 2);
    dbs.DisconnectVireo();
}

}  // namespace
}  // namespace vz
