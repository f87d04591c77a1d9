// The client identifier read at start-up: LoadSettings over a real
// administration database in a Wine-style installation.

#include "app/Settings.h"
#include "db/AutomationDatabases.h"
#include "platform/Cp1252.h"
#include "platform/FileSystem.h"
#include "tests/support/FirebirdTestDatabases.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempPrefix.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace vz {
namespace {

// The window's side of LoadSettings, with the real databases behind it.
class RecordingHost final : public SettingsHost {
public:
    explicit RecordingHost(AutomationDatabases& dbs) : dbs_(dbs) {}
    void setDatabaseFileNames(const QString& vireoFile, const QString& admFile) override
    {
        dbs_.setFileNames(vireoFile, admFile);
    }
    QString readClientGuid() override { return dbs_.ReadClientGuid(); }
    void setDialogFilters(const QString& filter) override { filters.append(filter); }
    void SetControlsEnabled(bool on) override { enabled.push_back(on); }
    void showError(const QString& message) override { errors.append(message); }

    QStringList filters;
    std::vector<bool> enabled;
    QStringList errors;

private:
    AutomationDatabases& dbs_;
};

class ClientIdentityTest : public ::testing::Test {
protected:
    ClientIdentityTest()
    {
        test::writeFile(prefix.drive(QStringLiteral("c")) + QStringLiteral("/Vireo/Zuvavivevo/VireoReplicador.ini"),
                        "[SERVIDOR]\r\nPASTA_SISTEMA=C:\\Vireo\\Vireo Cast\r\n[CONFIG]\r\ndados=08/12/2026 10:45:32\r\n");
    }
    QString admHost() const
    {
        return prefix.drive(QStringLiteral("c")) + QStringLiteral("/Vireo/Vireo Cast/Vireodb/VireoAdm.fdb");
    }

    // Runs LoadSettings with CFG_GUID `guid` in the only configuration row.
    void loadWith(const std::optional<QString>& guid)
    {
        ASSERT_TRUE(test::CreateAdmDatabase(admHost(), {{1, guid}}));
        load();
    }
    void load() { settings.LoadSettings(host); }

    test::TempPrefix prefix{QStringLiteral("c")};
    FileSystem fs{prefix.driveMap()};
    AutomationDatabases dbs{fs};
    RecordingHost host{dbs};
    test::ManualClock clock;
    Settings settings{fs, clock, RegionalSettings::dayMonthYear(),
                      QStringLiteral("C:\\Vireo\\Zuvavivevo\\vireo-zuvavivevo.exe"), QStringLiteral("127.0.0.1:1")};

    void expectRefused(const QStringList& unsafe);

    // A fresh LoadSettings ends without identity, with the controls disabled
    // and exactly these error messages.
    void expectNoIdentity(const FileSystem& where, AutomationDatabases& with, const QStringList& errors)
    {
        RecordingHost caseHost(with);
        Settings caseSettings(where, clock, RegionalSettings::dayMonthYear(),
                              QStringLiteral("C:\\Vireo\\Zuvavivevo\\vireo-zuvavivevo.exe"), QStringLiteral("h"));
        caseSettings.LoadSettings(caseHost);
        EXPECT_TRUE(caseSettings.ClientGuid.isEmpty());
        EXPECT_TRUE(caseSettings.ArchiveName.isEmpty());
        EXPECT_TRUE(caseHost.filters.isEmpty());
        EXPECT_EQ(caseHost.errors, errors);
        EXPECT_EQ(caseHost.enabled, std::vector<bool>{false});
    }
};

TEST_F(ClientIdentityTest, TheIdentifierNamesTheArchiveAndTheDialogFilter)
{
    ASSERT_TRUE(test::CreateAdmDatabase(admHost(), {{20, QStringLiteral("{SECOND}")},
                                                    {10, QStringLiteral("{8F3A1C2E-5B7D-4E6F-9A0B-1C2D3E4F5A6B}")},
                                                    {30, QStringLiteral("{THIRD}")}}));
    load();
    EXPECT_EQ(dbs.DB_Adm.fileName(), QStringLiteral("C:\\Vireo\\Vireo Cast\\Vireodb\\VireoAdm.fdb"));
    EXPECT_EQ(dbs.DB_Vireo.fileName(), QStringLiteral("C:\\Vireo\\Vireo Cast\\Vireodb\\VireoAudio.fdb"));
    EXPECT_EQ(settings.ClientGuid, QStringLiteral("{8F3A1C2E-5B7D-4E6F-9A0B-1C2D3E4F5A6B}"));
    EXPECT_EQ(settings.ArchiveName, QStringLiteral("{8F3A1C2E-5B7D-4E6F-9A0B-1C2D3E4F5A6B}.zip"));
    EXPECT_EQ(host.filters,
              QStringList{QStringLiteral("Arquivo do Zuvavivevo|{8F3A1C2E-5B7D-4E6F-9A0B-1C2D3E4F5A6B}.zip")});
    EXPECT_TRUE(host.enabled.empty());
    EXPECT_TRUE(host.errors.isEmpty());
    EXPECT_FALSE(dbs.DB_Adm.connected());
}

TEST_F(ClientIdentityTest, PrintableIdentifiersAreUsedUnchanged)
{
    const QString guid = QStringLiteral("1A2B {x}-y.z ção");
    loadWith(guid);
    EXPECT_EQ(settings.ClientGuid, guid);
    EXPECT_EQ(settings.ArchiveName, guid + QStringLiteral(".zip"));
    EXPECT_EQ(host.filters, QStringList{QStringLiteral("Arquivo do Zuvavivevo|") + guid + QStringLiteral(".zip")});
    EXPECT_TRUE(host.errors.isEmpty());
}

TEST_F(ClientIdentityTest, NoIdentifierDisablesTheControlsSilently)
{
    for (const bool nullValue : {false, true}) {
        SCOPED_TRACE(nullValue ? "null CFG_GUID" : "no rows");
        test::TempPrefix local{QStringLiteral("c")};
        FileSystem localFs{local.driveMap()};
        test::writeFile(local.drive(QStringLiteral("c")) + QStringLiteral("/Vireo/Zuvavivevo/VireoReplicador.ini"),
                        "[SERVIDOR]\r\nPASTA_SISTEMA=C:\\Vireo\\Vireo Cast\\\r\n");
        const QString adm = local.drive(QStringLiteral("c")) + QStringLiteral("/Vireo/Vireo Cast/Vireodb/VireoAdm.fdb");
        QDir().mkpath(QFileInfo(adm).path());
        if (nullValue)
            ASSERT_TRUE(test::CreateAdmDatabase(adm, {{1, std::nullopt}, {2, QStringLiteral("{LATER}")}}));
        else
            ASSERT_TRUE(test::CreateAdmDatabase(adm, {}));
        AutomationDatabases localDbs(localFs);
        expectNoIdentity(localFs, localDbs, {});
        EXPECT_FALSE(localDbs.DB_Adm.connected());
    }
}

TEST_F(ClientIdentityTest, IdentifiersThatCouldLeaveTheirFolderCountAsMissing)
{
    expectRefused({QStringLiteral("..\\..\\Windows\\evil"), QStringLiteral("a/b"), QStringLiteral("C:guid"),
                   QStringLiteral("."), QStringLiteral(".."), QStringLiteral("ab\tc"), QStringLiteral("line\r\nbreak"),
                   QStringLiteral("del") + QChar(0x7F)});
}

// Windows-1252 has five unassigned bytes; they decode to C1 control characters.
TEST_F(ClientIdentityTest, UnassignedWindows1252BytesCountAsControlCharacters)
{
    expectRefused({QChar(0x81) + QStringLiteral("guid"), QStringLiteral("gu") + QChar(0x9D) + QStringLiteral("id")});
}

void ClientIdentityTest::expectRefused(const QStringList& unsafe)
{
    int code = 0;
    for (const QString& guid : unsafe) {
        SCOPED_TRACE(guid.toStdString());
        // One database, a fresh lowest row per case.
        if (code == 0) {
            ASSERT_TRUE(test::CreateAdmDatabase(admHost(), {}));
        }
        {
            DatabaseConnection other(dbs.client, fs, QStringLiteral("C:\\Vireo\\Vireo Cast\\Vireodb\\VireoAdm.fdb"));
            DatabaseTransaction transaction(other);
            other.setConnectionParams(AutomationDatabases::ConnectionParamLines());
            other.setDefaultTransaction(&transaction);
            QueryObject insert(other, transaction);
            other.Connect();
            // Built from code points, so control characters survive the SQL text.
            QStringList codes;
            for (const char c : EncodeCp1252(guid))
                codes.append(QStringLiteral("ASCII_CHAR(%1)").arg(static_cast<unsigned char>(c)));
            insert.setSql(QStringLiteral("INSERT INTO TB_CONFIGURACAO (CFG_CODIGO, CFG_GUID) VALUES (%1, %2)")
                              .arg(--code)
                              .arg(codes.join(QStringLiteral(" || "))));
            insert.execSql();
            other.Disconnect();
        }
        expectNoIdentity(fs, dbs, {QStringLiteral("Identificador do cliente inválido: ") + guid});
    }
}

TEST_F(ClientIdentityTest, AnUnreadableDatabaseIsReportedAndTheWindowStillOpens)
{
    load();  // no database file at all
    ASSERT_EQ(host.errors.size(), 1);
    EXPECT_TRUE(host.errors.first().contains(admHost())) << host.errors.first().toStdString();
    EXPECT_TRUE(settings.ClientGuid.isEmpty());
    EXPECT_TRUE(settings.ArchiveName.isEmpty());
    EXPECT_TRUE(host.filters.isEmpty());
    // The controls stay enabled; the values read before the error are kept.
    EXPECT_TRUE(host.enabled.empty());
    EXPECT_EQ(settings.SystemFolder, QStringLiteral("C:\\Vireo\\Vireo Cast\\"));
    EXPECT_EQ(settings.FormatTimestamp(settings.LastBackupDados), QStringLiteral("08/12/2026 10:45:32"));
    EXPECT_EQ(settings.LastBackupAudio, EarliestTimestamp);
    EXPECT_FALSE(dbs.DB_Adm.connected());
    EXPECT_EQ(dbs.DB_Adm.attachCount(), 0);
}

// The demo installation that scripts/make-demo-installation.sh builds gives
// the program its identity and its music folders; a second run resets it.
TEST(DemoInstallation, GivesTheProgramItsIdentityAndMusicFolders)
{
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString script = env.value(QStringLiteral("VZ_SOURCE_DIR")) + QStringLiteral("/scripts/make-demo-installation.sh");
    ASSERT_TRUE(QFileInfo::exists(script)) << "run through ctest";
    test::TempDir dir;
    const QString leftover = dir.file(QStringLiteral("prefix/drive_c/Vireo/Vireo Cast/Listas/Velha.lst"));
    for (int run = 0; run < 2; ++run) {
        QProcess process;
        QProcessEnvironment scriptEnv = env;
        scriptEnv.insert(QStringLiteral("VZ_DEMO_DIR"), dir.path());
        process.setProcessEnvironment(scriptEnv);
        process.start(QStringLiteral("bash"), {script, env.value(QStringLiteral("VZ_BINARY_DIR"))});
        ASSERT_TRUE(process.waitForFinished(120000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        if (run == 0)
            test::writeFile(leftover, "stale");
    }
    EXPECT_FALSE(QFileInfo::exists(leftover));

    const QString exe = dir.file(QStringLiteral("prefix/drive_c/Vireo/Zuvavivevo/vireo-zuvavivevo"));
    ASSERT_TRUE(QFileInfo(exe).isExecutable());
    const FileSystem fs(DriveMap::forExecutable(exe));
    const auto exeWindows = fs.driveMap().toWindows(exe);
    ASSERT_TRUE(exeWindows.has_value());
    EXPECT_EQ(*exeWindows, QStringLiteral("C:\\Vireo\\Zuvavivevo\\vireo-zuvavivevo"));

    AutomationDatabases dbs(fs);
    RecordingHost host(dbs);
    test::ManualClock clock;
    Settings settings(fs, clock, RegionalSettings::dayMonthYear(), *exeWindows, QStringLiteral("h"));
    settings.LoadSettings(host);
    EXPECT_TRUE(host.errors.isEmpty()) << host.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(settings.SystemFolder, QStringLiteral("C:\\Vireo\\Vireo Cast\\"));
    EXPECT_EQ(settings.ClientGuid, QStringLiteral("{8F3A1C2E-5B7D-4E6F-9A0B-1C2D3E4F5A6B}"));

    for (const char* name : {"Vireodb", "Plugins", "Relatorios", "Listas", "Textos Avulsos", "Comerciais", "Textos",
                             "Vinhetas", "Trilhas", "Efeitos", "Locucoes"}) {
        int files = 0;
        fs.listFolder(settings.SystemFolder + QLatin1String(name), [&](const DirEntry& e) {
            files += e.isFolder ? 0 : 1;
            return true;
        });
        EXPECT_GT(files, 0) << name;
    }
    dbs.ConnectVireo();
    QStringList folders;
    dbs.ForEachMusicFolder([&](const QString& path) { folders.append(path); });
    dbs.DisconnectVireo();
    EXPECT_EQ(folders, (QStringList{QStringLiteral("D:\\Musicas\\Rock\\"), QStringLiteral("D:\\Musicas\\MPB\\"),
                                    QStringLiteral("C:\\Vireo\\Vireo Cast\\Musicas\\")}));
    for (const QString& folder : folders)
        EXPECT_TRUE(fs.folderExists(folder)) << folder.toStdString();
}

}  // namespace
}  // namespace vz
