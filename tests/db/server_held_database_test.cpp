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
#include "tests/support/firebird-server/LocalFirebirdServer.h"

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

// Straight through the client library, with a server prefix the program
// itself never uses.
using ServerAttachment = test::DirectAttachment;

class ServerHeldDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const QString why = test::LocalFirebirdServer::unavailableReason(); !why.isEmpty())
            GTEST_SKIP() << "NOTICE: " << why.toStdString() << "; the server-held database is not tested";
        const passwd* firebird = getpwnam("firebird");
        ASSERT_NE(firebird, nullptr);

        // The server runs as "firebird": it needs its way into the folder and the file.
        ASSERT_TRUE(test::CreateAdmDatabase(adm(), {{2, QStringLiteral("{SERVER-2}")}, {1, QStringLiteral("{SERVER-1}")}}));
        ASSERT_TRUE(test::CreateAudioDatabase(audio(), {QStringLiteral("D:\\Musicas\\Rock\\")}));
        ASSERT_EQ(chmod(QFile::encodeName(folder.path()).constData(), 0755), 0);
        for (const QString& file : {adm(), audio()})
            ASSERT_EQ(chown(QFile::encodeName(file).constData(), firebird->pw_uid, firebird->pw_gid), 0);

        ASSERT_TRUE(server_.start());
        const QString passwordProblem = server_.ensureTestPassword(adm());
        ASSERT_TRUE(passwordProblem.isEmpty()) << passwordProblem.toStdString();
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
    test::LocalFirebirdServer server_;
};

TEST_F(ServerHeldDatabaseTest, AHeldFileIsReadThroughTheServerWithTheProgramsPassword)
{
    const FileSystem fs(DriveMap::rootOnly());
    AutomationDatabases dbs(fs);
    dbs.setFileNames(QString(), admWindows());
    {
        ServerAttachment held = ServerAttachment::server(adm());
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
    if (!server_.startedHere())
        GTEST_SKIP() << "NOTICE: the Firebird server was already running; it is not stopped to test a lost connection";
    const FileSystem fs(DriveMap::rootOnly());
    AutomationDatabases dbs(fs);
    dbs.setFileNames(windows(audio()), admWindows());
    QStringList folders;
    {
        ServerAttachment held = ServerAttachment::server(audio());
        dbs.ConnectVireo();
        dbs.ForEachMusicFolder([&](const QString& path) { folders.append(path); });
        EXPECT_EQ(folders, QStringList{QStringLiteral("D:\\Musicas\\Rock\\")});
        ASSERT_TRUE(dbs.Trans_Vireo.active());
        ASSERT_TRUE(server_.stop());
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
