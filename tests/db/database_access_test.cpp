// The two automation databases read through AutomationDatabases, on real
// Firebird files made in a temporary Wine-style prefix.

#include "db/AutomationDatabases.h"
#include "db/ParameterBlocks.h"
#include "platform/FileSystem.h"
#include "tests/support/FirebirdTestDatabases.h"
#include "tests/support/TempPrefix.h"

#include <QDir>
#include <gtest/gtest.h>

namespace vz {
namespace {

using test::ConfigurationRow;

const QString AdmWindows = QStringLiteral("C:\\Vireo\\Vireo Cast\\Vireodb\\VireoAdm.fdb");
const QString AudioWindows = QStringLiteral("C:\\Vireo\\Vireo Cast\\Vireodb\\VireoAudio.fdb");

class AutomationDatabasesTest : public ::testing::Test {
protected:
    AutomationDatabasesTest() { QDir().mkpath(vireodb()); }

    QString vireodb() const { return prefix.drive(QStringLiteral("c")) + QStringLiteral("/Vireo/Vireo Cast/Vireodb"); }
    QString admHost() const { return vireodb() + QStringLiteral("/VireoAdm.fdb"); }
    QString audioHost() const { return vireodb() + QStringLiteral("/VireoAudio.fdb"); }

    std::unique_ptr<AutomationDatabases> open()
    {
        auto dbs = std::make_unique<AutomationDatabases>(fs);
        dbs->setFileNames(AudioWindows, AdmWindows);
        return dbs;
    }

    QStringList walk(AutomationDatabases& dbs)
    {
        QStringList seen;
        dbs.ForEachMusicFolder([&](const QString& path) { seen.append(path); });
        return seen;
    }

    test::TempPrefix prefix{QStringLiteral("cd")};
    FileSystem fs{prefix.driveMap()};
};

// A second, independent attachment to a database file, as another program
// would hold it.
struct OtherAttachment {
    OtherAttachment(const FileSystem& fs, const QString& windowsPath)
        : connection(FirebirdClient::Load(), fs, windowsPath), transaction(connection, {}), query(connection, transaction)
    {
        connection.setConnectionParams(AutomationDatabases::ConnectionParamLines());
        connection.setDefaultTransaction(&transaction);
        connection.Connect();
    }
    void exec(const QString& sql)
    {
        query.setSql(sql);
        query.execSql();
        transaction.commit();
    }
    DatabaseConnection connection;
    DatabaseTransaction transaction;
    QueryObject query;
};

TEST_F(AutomationDatabasesTest, ClientGuidComesFromTheLowestCodigoAndLeavesNothingAttached)
{
    ASSERT_TRUE(test::CreateAdmDatabase(admHost(), {{7, QStringLiteral("{C0000000-0000-0000-0000-000000000007}")},
                                                    {3, QStringLiteral("{8F3A1C2E-5B7D-4E6F-9A0B-1C2D3E4F5A6B}")},
                                                    {5, QStringLiteral("{B0000000-0000-0000-0000-000000000005}")}}));
    auto dbs = open();
    EXPECT_EQ(dbs->ReadClientGuid(), QStringLiteral("{8F3A1C2E-5B7D-4E6F-9A0B-1C2D3E4F5A6B}"));

    EXPECT_EQ(dbs->Tb_Configuracao.primaryKeyColumns(), QStringList{QStringLiteral("CFG_CODIGO")});
    EXPECT_TRUE(dbs->Tb_Configuracao.selectSql().endsWith(QLatin1String(" ORDER BY CFG_CODIGO")))
        << dbs->Tb_Configuracao.selectSql().toStdString();
    EXPECT_FALSE(dbs->DB_Adm.connected());
    EXPECT_FALSE(dbs->Trans_Adm.active());
    EXPECT_FALSE(dbs->Tb_Configuracao.active());
    EXPECT_EQ(dbs->DB_Adm.attachCount(), 1);
    EXPECT_EQ(dbs->Trans_Adm.commitCount(), 1);
    EXPECT_EQ(dbs->DB_Adm.dialect(), 1);
    EXPECT_EQ(dbs->DB_Adm.hostFileName(), admHost());
    // The audio database is not touched by the identifier read.
    EXPECT_EQ(dbs->DB_Vireo.attachCount(), 0);

    // A later read attaches again and sees the table as it is then.
    OtherAttachment other(fs, AdmWindows);
    other.exec(QStringLiteral("INSERT INTO TB_CONFIGURACAO (CFG_CODIGO, CFG_GUID) VALUES (1, '1A2B')"));
    EXPECT_EQ(dbs->ReadClientGuid(), QStringLiteral("1A2B"));
    EXPECT_EQ(dbs->DB_Adm.attachCount(), 2);
}

TEST_F(AutomationDatabasesTest, NoRowsOrANullGuidReadAsEmptyText)
{
    ASSERT_TRUE(test::CreateAdmDatabase(admHost(), {}));
    auto dbs = open();
    EXPECT_EQ(dbs->ReadClientGuid(), QString());
    EXPECT_FALSE(dbs->DB_Adm.connected());

    // The lowest row's null wins over a later row's value.
    OtherAttachment other(fs, AdmWindows);
    other.exec(QStringLiteral("INSERT INTO TB_CONFIGURACAO (CFG_CODIGO, CFG_GUID) VALUES (2, '{SECOND}')"));
    other.exec(QStringLiteral("INSERT INTO TB_CONFIGURACAO (CFG_CODIGO, CFG_GUID) VALUES (1, NULL)"));
    EXPECT_EQ(dbs->ReadClientGuid(), QString());
    EXPECT_FALSE(dbs->DB_Adm.connected());
}

TEST_F(AutomationDatabasesTest, DatabaseErrorsCarryTheLibraryTextsAndLeaveNothingAttached)
{
    auto dbs = open();
    // A missing file.
    try {
        dbs->ReadClientGuid();
        FAIL() << "no error for a missing database";
    } catch (const DatabaseError& e) {
        const QString message = e.message();
        EXPECT_TRUE(message.contains(admHost())) << message.toStdString();
        const QStringList lines = message.split(QStringLiteral("\r\n"));
        EXPECT_GE(lines.size(), 2) << message.toStdString();
        for (const QString& line : lines)
            EXPECT_FALSE(line.isEmpty() || line.contains(QLatin1Char('\n')) || line.contains(QLatin1Char('\r')));
        EXPECT_FALSE(message.endsWith(QLatin1Char('.')));
        EXPECT_NE(e.errorCode(), 0);
        EXPECT_LT(e.sqlCode(), 0);
        // The library's own first line, not one of ours.
        EXPECT_FALSE(lines.first().startsWith(QLatin1String("Database")));
    }
    EXPECT_FALSE(dbs->DB_Adm.connected());
    EXPECT_EQ(dbs->DB_Adm.attachCount(), 0);

    // A file that is no database.
    test::writeFile(audioHost(), QByteArray(8192, 'x'));
    EXPECT_THROW(dbs->ConnectVireo(), DatabaseError);
    EXPECT_FALSE(dbs->DB_Vireo.connected());

    // Errors of the access layer itself.
    dbs->setFileNames(QString(), QStringLiteral("Q:\\Vireodb\\VireoAdm.fdb"));
    try {
        dbs->ConnectVireo();
        FAIL() << "no error for an empty name";
    } catch (const Error& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Database name is missing"));
    }
    try {
        dbs->ReadClientGuid();
        FAIL() << "no error for a drive that does not exist";
    } catch (const Error& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Database file not found: Q:\\Vireodb\\VireoAdm.fdb"));
    }
    // A host folder name holding ":" would be taken for a server name.
    test::writeFile(prefix.drive(QStringLiteral("d")) + QStringLiteral("/a:b/VireoAdm.fdb"), QByteArray(8192, 'x'));
    dbs->setFileNames(AudioWindows, QStringLiteral("D:\\a:b\\VireoAdm.fdb"));
    try {
        dbs->ReadClientGuid();
        FAIL() << "a host path with \":\" reached the library";
    } catch (const DatabaseError& e) {
        FAIL() << e.message().toStdString();
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().endsWith(QStringLiteral("/a:b/VireoAdm.fdb"))) << e.message().toStdString();
    }
    EXPECT_FALSE(dbs->DB_Adm.connected());
}

TEST_F(AutomationDatabasesTest, AFailedReadAfterTheAttachDetachesAgain)
{
    ASSERT_TRUE(test::CreateAdmDatabase(admHost(), {}, {QStringLiteral("--sql"), QStringLiteral("DROP TABLE TB_CONFIGURACAO")}));
    auto dbs = open();
    try {
        dbs->ReadClientGuid();
        FAIL() << "no error for a missing table";
    } catch (const DatabaseError& e) {
        EXPECT_TRUE(e.message().contains(QLatin1String("TB_CONFIGURACAO"))) << e.message().toStdString();
    }
    EXPECT_EQ(dbs->DB_Adm.attachCount(), 1);
    EXPECT_FALSE(dbs->DB_Adm.connected());
    EXPECT_FALSE(dbs->Trans_Adm.active());
}

TEST_F(AutomationDatabasesTest, ParameterBlocksAreBuiltOnceAndReused)
{
    ASSERT_TRUE(test::CreateAudioDatabase(audioHost(), {QStringLiteral("D:\\Musicas\\Rock\\")}));
    auto dbs = open();
    dbs->ConnectVireo();
    dbs->ConnectVireo();
    EXPECT_EQ(dbs->DB_Vireo.attachCount(), 1);
    EXPECT_EQ(walk(*dbs).size(), 1);
    dbs->DisconnectVireo();
    dbs->DisconnectVireo();
    dbs->ConnectVireo();
    EXPECT_EQ(walk(*dbs).size(), 1);
    dbs->DisconnectVireo();
    EXPECT_EQ(dbs->DB_Vireo.attachCount(), 2);

    const QByteArray dpb = QByteArray("\x01\x1c\x06SYSDBA\x1d\x09quartzite", 20);
    EXPECT_EQ(dbs->DB_Vireo.databaseParameterBlock(), dpb);
    EXPECT_EQ(dbs->DB_Vireo.parameterBlockBuildCount(), 1);
    EXPECT_EQ(dbs->Trans_Vireo.transactionParameterBlock(), QByteArray("\x03\x0f\x11\x07", 4));
    EXPECT_EQ(dbs->Trans_Vireo.parameterBlockBuildCount(), 1);
    EXPECT_EQ(dbs->Trans_Vireo.startCount(), 2);

    // Changed lines are built again on the next attach.
    dbs->DB_Vireo.setConnectionParams({QStringLiteral("isc_dpb_USER_NAME=SYSDBA"), QStringLiteral("Password=quartzite")});
    dbs->ConnectVireo();
    EXPECT_EQ(dbs->DB_Vireo.parameterBlockBuildCount(), 2);
    EXPECT_EQ(dbs->DB_Vireo.databaseParameterBlock(), dpb);
    dbs->DisconnectVireo();

    // Only "=" splits a line; unknown names are refused.
    EXPECT_EQ(BuildDatabaseParameterBlock({QStringLiteral("password=a=b")}), QByteArray("\x01\x1d\x03" "a=b", 6));
    EXPECT_THROW(BuildDatabaseParameterBlock({QStringLiteral("colour=blue")}), Error);
    EXPECT_THROW(BuildDatabaseParameterBlock({QStringLiteral("user_name")}), Error);
    EXPECT_THROW(BuildTransactionParameterBlock({QStringLiteral("read_commited")}), Error);
}

TEST_F(AutomationDatabasesTest, MusicFoldersComeInServerOrderInOneTransaction)
{
    ASSERT_TRUE(test::CreateAudioDatabase(
        audioHost(), {QStringLiteral("D:\\Musicas\\Rock\\"), QStringLiteral("D:\\Musicas\\MPB\\"), std::nullopt,
                      QStringLiteral("\\\\srv\\musica\\Rock\\"), QStringLiteral("C:\\Vireo\\Vireo Cast\\Musicas\\"),
                      QStringLiteral("D:\\Músicas\\")}));
    auto dbs = open();
    dbs->ConnectVireo();
    EXPECT_EQ(walk(*dbs), (QStringList{QStringLiteral("D:\\Musicas\\Rock\\"), QStringLiteral("D:\\Musicas\\MPB\\"),
                                       QString(), QStringLiteral("\\\\srv\\musica\\Rock\\"),
                                       QStringLiteral("C:\\Vireo\\Vireo Cast\\Musicas\\"),
                                       QStringLiteral("D:\\Músicas\\")}));
    EXPECT_EQ(dbs->QryBusca.sql(), QStringLiteral("SELECT Pas_Path FROM Tb_Pastas"));
    EXPECT_TRUE(dbs->QryBusca.active());
    EXPECT_TRUE(dbs->Trans_Vireo.active());

    // The accented value is stored as one Windows-1252 byte per character.
    dbs->QryBusca.setSql(QStringLiteral(
        "SELECT OCTET_LENGTH(Pas_Path) AS BYTES, ASCII_VAL(SUBSTRING(Pas_Path FROM 5 FOR 1)) AS U FROM Tb_Pastas "
        "WHERE Pas_Path STARTING WITH 'D:\\M' AND Pas_Path CONTAINING 'sicas\\' AND Pas_Path NOT CONTAINING 'Rock'"
        " AND Pas_Path NOT CONTAINING 'MPB'"));
    dbs->QryBusca.open();
    ASSERT_FALSE(dbs->QryBusca.eof());
    EXPECT_EQ(dbs->QryBusca.fieldAsString(QStringLiteral("bytes")), QStringLiteral("11"));
    EXPECT_EQ(dbs->QryBusca.fieldAsString(QStringLiteral("U")), QStringLiteral("250"));

    // The same transaction carried both queries; the disconnect commits it.
    EXPECT_EQ(dbs->Trans_Vireo.startCount(), 1);
    dbs->DisconnectVireo();
    EXPECT_FALSE(dbs->QryBusca.active());
    EXPECT_FALSE(dbs->Trans_Vireo.active());
    EXPECT_EQ(dbs->Trans_Vireo.commitCount(), 1);
    EXPECT_FALSE(dbs->DB_Vireo.connected());
}

TEST_F(AutomationDatabasesTest, WalkEdgeCases)
{
    ASSERT_TRUE(test::CreateAudioDatabase(audioHost(), {}));
    auto dbs = open();
    // The walk expects the export driver's connect.
    EXPECT_THROW(walk(*dbs), Error);
    EXPECT_EQ(dbs->DB_Vireo.attachCount(), 0);

    dbs->ConnectVireo();
    int calls = 0;
    dbs->ForEachMusicFolder([&](const QString&) { ++calls; });
    EXPECT_EQ(calls, 0);

    OtherAttachment other(fs, AudioWindows);
    other.exec(QStringLiteral("INSERT INTO Tb_Pastas (Pas_Codigo, Pas_Path) VALUES (1, 'D:\\A\\')"));
    other.exec(QStringLiteral("INSERT INTO Tb_Pastas (Pas_Codigo, Pas_Path) VALUES (2, 'D:\\B\\')"));
    other.exec(QStringLiteral("INSERT INTO Tb_Pastas (Pas_Codigo, Pas_Path) VALUES (3, 'D:\\C\\')"));
    // Read committed: rows committed by others since the last walk are seen.
    QStringList seen;
    struct Stop {};
    EXPECT_THROW(dbs->ForEachMusicFolder([&](const QString& path) {
        seen.append(path);
        if (seen.size() == 2)
            throw Stop{};
    }),
                 Stop);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("D:\\A\\"), QStringLiteral("D:\\B\\")}));
    EXPECT_TRUE(dbs->QryBusca.active());
    EXPECT_TRUE(dbs->Trans_Vireo.active());
    // A new walk starts from the first row again.
    EXPECT_EQ(walk(*dbs).size(), 3);
    dbs->DisconnectVireo();
    EXPECT_FALSE(dbs->DB_Vireo.connected());
}

TEST_F(AutomationDatabasesTest, DisconnectCommitsTheTransaction)
{
    ASSERT_TRUE(test::CreateAudioDatabase(audioHost(), {QStringLiteral("D:\\Musicas\\Rock\\")}));
    auto dbs = open();
    dbs->ConnectVireo();
    walk(*dbs);
    // A change made in Trans_Vireo survives the disconnect only if it commits.
    dbs->QryBusca.setSql(QStringLiteral("INSERT INTO Tb_Pastas (Pas_Codigo, Pas_Path) VALUES (99, 'E:\\Novo\\')"));
    dbs->QryBusca.execSql();
    dbs->DisconnectVireo();
    EXPECT_FALSE(dbs->Trans_Vireo.active());
    EXPECT_EQ(dbs->Trans_Vireo.rollbackCount(), 0);

    auto again = open();
    again->ConnectVireo();
    EXPECT_EQ(walk(*again), (QStringList{QStringLiteral("D:\\Musicas\\Rock\\"), QStringLiteral("E:\\Novo\\")}));
    again->DisconnectVireo();
}

TEST_F(AutomationDatabasesTest, DesignTimeUpperCaseNamesFindTheFiles)
{
    ASSERT_TRUE(test::CreateAdmDatabase(admHost(), {{1, QStringLiteral("{DESIGN}")}}));
    ASSERT_TRUE(test::CreateAudioDatabase(audioHost(), {QStringLiteral("D:\\Musicas\\MPB\\")}));
    AutomationDatabases dbs(fs);
    EXPECT_EQ(dbs.DB_Adm.fileName(), QStringLiteral("C:\\Vireo\\Vireo Cast\\Vireodb\\VIREOADM.FDB"));
    EXPECT_EQ(dbs.DB_Vireo.fileName(), QStringLiteral("C:\\Vireo\\Vireo Cast\\Vireodb\\VIREOAUDIO.FDB"));
    EXPECT_EQ(dbs.ReadClientGuid(), QStringLiteral("{DESIGN}"));
    EXPECT_EQ(dbs.DB_Adm.hostFileName(), admHost());
    dbs.ConnectVireo();
    EXPECT_EQ(walk(dbs), QStringList{QStringLiteral("D:\\Musicas\\MPB\\")});
    EXPECT_EQ(dbs.DB_Vireo.hostFileName(), audioHost());
    // The file name cannot change under an attached connection.
    EXPECT_THROW(dbs.setFileNames(AudioWindows, AdmWindows), Error);
    dbs.DisconnectVireo();
    dbs.setFileNames(AudioWindows, AdmWindows);
    EXPECT_EQ(dbs.DB_Vireo.fileName(), AudioWindows);
}

TEST_F(AutomationDatabasesTest, TheReReadFindsTheRememberedRowOrFallsBackToTheFirst)
{
    ASSERT_TRUE(test::CreateAdmDatabase(
        admHost(), {{3, QStringLiteral("C")}, {1, QStringLiteral("A")}, {2, QStringLiteral("B")}}));
    auto dbs = open();
    TableObject& table = dbs->Tb_Configuracao;
    table.open();
    ASSERT_TRUE(dbs->DB_Adm.connected());
    EXPECT_EQ(table.fieldAsString(QStringLiteral("CFG_GUID")), QStringLiteral("A"));
    ASSERT_TRUE(table.next());
    EXPECT_EQ(table.fieldAsString(QStringLiteral("cfg_guid")), QStringLiteral("B"));

    OtherAttachment other(fs, AdmWindows);
    other.exec(QStringLiteral("UPDATE TB_CONFIGURACAO SET CFG_GUID = 'B2' WHERE CFG_CODIGO = 2"));
    other.exec(QStringLiteral("INSERT INTO TB_CONFIGURACAO (CFG_CODIGO, CFG_GUID) VALUES (0, 'Z')"));
    // The second row stays current, with its committed new value.
    table.refresh();
    EXPECT_EQ(table.fieldAsString(QStringLiteral("CFG_GUID")), QStringLiteral("B2"));
    EXPECT_EQ(table.fieldAsString(QStringLiteral("CFG_EMISSORA")), QStringLiteral("Rádio Vireo"));
    EXPECT_FALSE(table.fieldIsNull(QStringLiteral("CFG_DATA_INSTALACAO")));
    EXPECT_THROW(table.fieldAsString(QStringLiteral("CFG_DATA_INSTALACAO")), Error);
    ASSERT_TRUE(table.next());
    EXPECT_EQ(table.fieldAsString(QStringLiteral("CFG_GUID")), QStringLiteral("C"));

    // Its row gone, the first row (now the new lowest code) becomes current.
    other.exec(QStringLiteral("DELETE FROM TB_CONFIGURACAO WHERE CFG_CODIGO = 3"));
    table.refresh();
    EXPECT_EQ(table.fieldAsString(QStringLiteral("CFG_GUID")), QStringLiteral("Z"));
    EXPECT_EQ(table.fieldAsString(QStringLiteral("CFG_CODIGO")), QStringLiteral("0"));
    EXPECT_THROW(table.fieldAsString(QStringLiteral("DB_KEY")), Error);
    EXPECT_THROW(table.fieldAsString(QStringLiteral("CFG_NOPE")), Error);
    EXPECT_TRUE(table.fieldIsNull(QStringLiteral("CFG_OBSERVACAO")));
    table.close();
    EXPECT_TRUE(dbs->Trans_Adm.active());
    dbs->DB_Adm.Disconnect();
    EXPECT_FALSE(dbs->Trans_Adm.active());
}

TEST_F(AutomationDatabasesTest, RowOrderFollowsANamedPrimaryKeyAndDialectThreeDatabases)
{
    // Declared with a constraint name, the key's index is named after it;
    // rows stored out of key order must still come in key order.
    ASSERT_TRUE(test::CreateAdmDatabase(
        admHost(), {},
        {QStringLiteral("--dialect"), QStringLiteral("3"), QStringLiteral("--sql"), QStringLiteral("DROP TABLE TB_CONFIGURACAO"),
         QStringLiteral("--sql"),
         QStringLiteral("CREATE TABLE TB_CONFIGURACAO (CFG_GUID VARCHAR(128), CFG_CODIGO INTEGER NOT NULL, "
                        "CONSTRAINT PK_CONFIGURACAO PRIMARY KEY (CFG_CODIGO))"),
         QStringLiteral("--sql"), QStringLiteral("INSERT INTO TB_CONFIGURACAO VALUES ('nine', 9)"),
         QStringLiteral("--sql"), QStringLiteral("INSERT INTO TB_CONFIGURACAO VALUES ('four', 4)")}));
    auto dbs = open();
    EXPECT_EQ(dbs->ReadClientGuid(), QStringLiteral("four"));
    EXPECT_EQ(dbs->Tb_Configuracao.primaryKeyColumns(), QStringList{QStringLiteral("CFG_CODIGO")});
    // Statements run in the requested dialect 1 on a dialect 3 database.
    EXPECT_EQ(dbs->DB_Adm.dialect(), 1);
}

}  // namespace
}  // namespace vz
