// The values derived at start-up, the settings file, and the timestamps
// written back (only when they were read), on a temporary Wine-style prefix.

#include "app/Settings.h"
#include "platform/Errors.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempPrefix.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

using namespace vz;
using namespace vz::test;

namespace {

// The window's side of LoadSettings, recorded.
class RecordingHost final : public SettingsHost {
public:
    QString guid;
    bool guidThrows = false;
    QStringList calls;
    QString vireoFile, admFile, filter;
    QStringList errors;
    // Runs when the database names are set: between the settings file's
    // installation folder and its timestamps.
    std::function<void()> onDatabaseNames;

    void setDatabaseFileNames(const QString& vireo, const QString& adm) override
    {
        calls << u"setDatabaseFileNames"_qs;
        vireoFile = vireo;
        admFile = adm;
        if (onDatabaseNames)
            onDatabaseNames();
    }
    QString readClientGuid() override
    {
        calls << u"readClientGuid"_qs;
        if (guidThrows)
            throw Error(u"I/O error during \"open\" operation"_qs);
        return guid;
    }
    void setDialogFilters(const QString& f) override
    {
        calls << u"setDialogFilters"_qs;
        filter = f;
    }
    void SetControlsEnabled(bool on) override { calls << (on ? u"enable"_qs : u"disable"_qs); }
    void showError(const QString& message) override
    {
        calls << u"showError"_qs;
        errors << message;
    }
};

class SettingsTest : public ::testing::Test {
protected:
    TempPrefix prefix{u"c"_qs};
    FileSystem fs{prefix.driveMap()};
    ManualClock clock;
    RecordingHost host;

    QString exeHostFolder() const { return prefix.drive(u"c"_qs) + u"/Vireo/Zuvavivevo"_qs; }
    QString iniHostPath() const { return exeHostFolder() + u"/VireoReplicador.ini"_qs; }
    void writeIni(const QByteArray& text) { writeFile(iniHostPath(), text); }
    Settings make(const QString& exe = u"C:\\Vireo\\Zuvavivevo\\vireo-zuvavivevo"_qs)
    {
        return Settings(fs, clock, RegionalSettings::dayMonthYear(), exe, u"127.0.0.1:8077"_qs);
    }
};

Timestamp at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return EncodeTimestamp(DateTimeParts{y, mo, d, h, mi, s, 0});
}

const QString IniWindowsPath = u"C:\\Vireo\\Zuvavivevo\\VireoReplicador.ini"_qs;

QString unreadableMessage(int errorNumber)
{
    return u"Não foi possível ler o arquivo de configurações "_qs + IniWindowsPath + u": "_qs +
           hostfs::errorText(errorNumber);
}

QByteArray encoded(const QString& path) { return QFile::encodeName(path); }

// Everything in a folder, hidden entries and dangling links included.
QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Replaces whatever is at the path with a link to itself: opening it fails with ELOOP.
void makeLinkLoop(const QString& path)
{
    QFile::remove(path);
    EXPECT_EQ(::symlink("VireoReplicador.ini", encoded(path).constData()), 0);
}

QByteArray linkTarget(const QString& path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(encoded(path).constData(), buffer, sizeof buffer);
    return n < 0 ? QByteArray() : QByteArray(buffer, n);
}

}  // namespace

TEST_F(SettingsTest, ValuesFromTheExecutablesPlace)
{
    Settings s = make();
    s.LoadSettings(host);
    EXPECT_EQ(s.ExeFolder, u"C:\\Vireo\\Zuvavivevo\\"_qs);
    EXPECT_EQ(s.ExeDrive, u"C:"_qs);
    EXPECT_EQ(s.BaseUrl, u"http://127.0.0.1:8077/Zuvavivevo/"_qs);

    Settings network = make(u"\\\\srv\\apps\\Zuvavivevo\\vireo-zuvavivevo"_qs);
    network.LoadSettings(host);
    EXPECT_EQ(network.ExeFolder, u"\\\\srv\\apps\\Zuvavivevo\\"_qs);
    EXPECT_EQ(network.ExeDrive, u"\\\\srv\\apps"_qs);
}

TEST_F(SettingsTest, WithoutASettingsFileNothingElseHappens)
{
    QDir().mkpath(prefix.drive(u"c"_qs) + u"/Vireo/Zuvavivevo"_qs);  // the executable's folder
    Settings s = make();
    s.LoadSettings(host);
    EXPECT_TRUE(host.calls.isEmpty());
    EXPECT_EQ(s.SystemFolder, QString());
    EXPECT_EQ(s.LastBackupDados, 0.0);
    EXPECT_EQ(s.ClientGuid, QString());

    // Closing then creates the file with the three day-0 values only.
    s.SaveBackupTimestamps();
    EXPECT_EQ(readFile(iniHostPath()),
              QByteArray("[CONFIG]\r\ndados=30/12/1899\r\naudio=30/12/1899\r\nmusica=30/12/1899\r\n"));
}

TEST_F(SettingsTest, SystemFolderAndDatabaseNamesWithOrWithoutTheTrailingBackslash)
{
    for (const char* value : {"C:\\Vireo\\Vireo Cast", "C:\\Vireo\\Vireo Cast\\"}) {
        writeIni(QByteArray("[SERVIDOR]\r\nPASTA_SISTEMA=") + value + "\r\n");
        RecordingHost h;
        h.guid = u"1A2B"_qs;
        Settings s = make();
        s.LoadSettings(h);
        EXPECT_EQ(s.SystemFolder, u"C:\\Vireo\\Vireo Cast\\"_qs);
        EXPECT_EQ(h.vireoFile, u"C:\\Vireo\\Vireo Cast\\Vireodb\\VireoAudio.fdb"_qs);
        EXPECT_EQ(h.admFile, u"C:\\Vireo\\Vireo Cast\\Vireodb\\VireoAdm.fdb"_qs);
    }
}

TEST_F(SettingsTest, TimestampsAndIdentity)
{
    writeIni("[servidor]\r\nPasta_Sistema=C:\\Vireo\\Vireo Cast\r\n[config]\r\nDados=08/12/2026 10:45:32\r\n"
             "audio=31/02/2026\r\nMUSICA=01/01/0100\r\n");
    host.guid = u"1A2B"_qs;
    Settings s = make();
    s.LoadSettings(host);
    EXPECT_DOUBLE_EQ(s.LastBackupDados, at(2026, 12, 8, 10, 45, 32));
    EXPECT_EQ(s.LastBackupAudio, EarliestTimestamp);  // unreadable
    EXPECT_EQ(s.LastBackupMusica, EarliestTimestamp);
    EXPECT_EQ(s.ClientGuid, u"1A2B"_qs);
    EXPECT_EQ(s.ArchiveName, u"1A2B.zip"_qs);
    EXPECT_EQ(host.filter, u"Arquivo do Zuvavivevo|1A2B.zip"_qs);
    EXPECT_EQ(host.calls, (QStringList{u"setDatabaseFileNames"_qs, u"readClientGuid"_qs, u"setDialogFilters"_qs}));
}

TEST_F(SettingsTest, AnEmptyIdentifierDisablesTheControls)
{
    writeIni("[SERVIDOR]\r\nPASTA_SISTEMA=C:\\Vireo\\Vireo Cast\r\n");
    Settings s = make();
    s.LoadSettings(host);
    EXPECT_EQ(s.ClientGuid, QString());
    EXPECT_EQ(s.ArchiveName, QString());
    EXPECT_EQ(host.filter, QString());
    EXPECT_TRUE(host.calls.contains(u"disable"_qs));
    EXPECT_TRUE(host.errors.isEmpty());
}

TEST_F(SettingsTest, UnsafeIdentifiersCountAsMissingAndAreReported)
{
    writeIni("[SERVIDOR]\r\nPASTA_SISTEMA=C:\\Vireo\\Vireo Cast\r\n");
    for (const QString& bad : {u"..\\x"_qs, u"a/b"_qs, u"C:x"_qs, u"."_qs, u".."_qs, u"a\r\nHost: evil"_qs,
                               QString(u"tab\there"_qs)}) {
        RecordingHost h;
        h.guid = bad;
        Settings s = make();
        s.LoadSettings(h);
        EXPECT_EQ(s.ClientGuid, QString()) << bad.toStdString();
        EXPECT_EQ(s.ArchiveName, QString());
        EXPECT_TRUE(h.calls.contains(u"disable"_qs));
        EXPECT_EQ(h.errors, QStringList{u"Identificador do cliente inválido: "_qs + bad});
    }
    // Braces, hyphens and other printable characters are fine.
    RecordingHost ok;
    ok.guid = u"{8F3A1C2E-5B7D-4E6F-9A0B-1C2D3E4F5A6B}"_qs;
    Settings s = make();
    s.LoadSettings(ok);
    EXPECT_EQ(s.ArchiveName, u"{8F3A1C2E-5B7D-4E6F-9A0B-1C2D3E4F5A6B}.zip"_qs);
    EXPECT_TRUE(ok.errors.isEmpty());
}

TEST_F(SettingsTest, ADatabaseErrorIsShownAndTheValuesBeforeItStay)
{
    writeIni("[SERVIDOR]\r\nPASTA_SISTEMA=C:\\Vireo\\Vireo Cast\r\n[CONFIG]\r\ndados=08/12/2026\r\n");
    host.guidThrows = true;
    Settings s = make();
    s.LoadSettings(host);
    EXPECT_EQ(host.errors, QStringList{u"I/O error during \"open\" operation"_qs});
    EXPECT_EQ(s.LastBackupDados, at(2026, 12, 8));
    EXPECT_EQ(s.ClientGuid, QString());
    EXPECT_FALSE(host.calls.contains(u"disable"_qs));  // controls stay enabled

    // The timestamps were read before the error, so closing writes them.
    s.SaveBackupTimestamps();
    EXPECT_EQ(readFile(iniHostPath()), QByteArray("[SERVIDOR]\r\nPASTA_SISTEMA=C:\\Vireo\\Vireo Cast\r\n[CONFIG]\r\n"
                                                  "dados=08/12/2026\r\naudio=01/01/0100\r\nmusica=01/01/0100\r\n"));
}

TEST_F(SettingsTest, SavingRewritesTheTimestampsAndKeepsTheRest)
{
    writeIni("[SERVIDOR]\r\nPASTA_SISTEMA=C:\\Vireo\\Vireo Cast\r\n[CONFIG]\r\nDADOS=8/12/26\r\n");
    host.guid = u"1A2B"_qs;
    Settings s = make();
    s.LoadSettings(host);
    s.LastBackupAudio = at(2026, 12, 9, 7, 0, 1);
    s.SaveBackupTimestamps();
    EXPECT_EQ(readFile(iniHostPath()), QByteArray("[SERVIDOR]\r\nPASTA_SISTEMA=C:\\Vireo\\Vireo Cast\r\n[CONFIG]\r\n"
                                                  "dados=08/12/2026\r\naudio=09/12/2026 07:00:01\r\n"
                                                  "musica=01/01/0100\r\n"));
}

TEST_F(SettingsTest, AFailedSaveNamesTheSettingsFile)
{
    writeIni("[SERVIDOR]\r\nPASTA_SISTEMA=C:\\Vireo\\Vireo Cast\r\n");
    const QByteArray folder = QFile::encodeName(prefix.drive(u"c"_qs) + u"/Vireo/Zuvavivevo"_qs);
    ::chmod(QFile::encodeName(prefix.path()).constData(), 0755);
    ASSERT_EQ(::chmod(folder.constData(), 0555), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        Settings s = make();
        s.LoadSettings(host);
        try {
            s.SaveBackupTimestamps();
        } catch (const Error& e) {
            _exit(e.message() == u"Unable to write to C:\\Vireo\\Zuvavivevo\\VireoReplicador.ini"_qs ? 0 : 4);
        }
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ::chmod(folder.constData(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(SettingsTest, TimestampsThatWereNotReadAreNeverWritten)
{
    const QByteArray emptyFolder = "[SERVIDOR]\r\nPASTA_SISTEMA=\r\n[CONFIG]\r\ndados=01/01/0100\r\n"
                                   "audio=08/12/2026\r\nmusica=01/01/0100\r\n";
    const QByteArray noFolder = "[CONFIG]\r\ndados=01/01/0100\r\naudio=08/12/2026\r\nmusica=01/01/0100\r\n";
    for (const QByteArray& text : {emptyFolder, noFolder}) {
        writeIni(text);
        RecordingHost h;
        Settings s = make();
        s.LoadSettings(h);
        EXPECT_EQ(h.errors, QStringList{u"PASTA_SISTEMA não informada em "_qs + IniWindowsPath});
        EXPECT_EQ(h.calls, (QStringList{u"showError"_qs, u"disable"_qs}));
        EXPECT_NO_THROW(s.SaveBackupTimestamps());
        EXPECT_EQ(readFile(iniHostPath()), text) << "the never-exported marker must survive a close";
    }
    // Before LoadSettings nothing was read either.
    Settings unloaded = make();
    EXPECT_NO_THROW(unloaded.SaveBackupTimestamps());
    EXPECT_EQ(readFile(iniHostPath()), noFolder);
    EXPECT_EQ(entriesOf(exeHostFolder()), QStringList{u"VireoReplicador.ini"_qs});
}

TEST_F(SettingsTest, TheTimestampsComeFromTheSameReadAsTheInstallationFolder)
{
    writeIni("[SERVIDOR]\r\nPASTA_SISTEMA=C:\\Vireo\\Vireo Cast\r\n[CONFIG]\r\ndados=08/12/2026\r\n"
             "audio=09/12/2026\r\nmusica=10/12/2026\r\n");
    // The file becomes unreadable half-way through LoadSettings.
    host.onDatabaseNames = [this] { makeLinkLoop(iniHostPath()); };
    host.guid = u"1A2B"_qs;
    Settings s = make();
    s.LoadSettings(host);
    EXPECT_EQ(s.LastBackupDados, at(2026, 12, 8));
    EXPECT_EQ(s.LastBackupAudio, at(2026, 12, 9));
    EXPECT_EQ(s.LastBackupMusica, at(2026, 12, 10));
    EXPECT_TRUE(host.errors.isEmpty());

    // Closing then fails rather than putting a new file in the link's place.
    try {
        s.SaveBackupTimestamps();
        ADD_FAILURE() << "saving over an unreadable file succeeded";
    } catch (const Error& e) {
        EXPECT_EQ(e.message(), u"Unable to write to "_qs + IniWindowsPath);
    }
    EXPECT_EQ(linkTarget(iniHostPath()), QByteArray("VireoReplicador.ini"));
}

TEST_F(SettingsTest, ASettingsFileThatCannotBeReadIsReportedOnceAndNeverReplaced)
{
    QDir().mkpath(exeHostFolder());
    {
        SCOPED_TRACE("a link loop");
        makeLinkLoop(iniHostPath());
        Settings s = make();
        s.LoadSettings(host);
        EXPECT_EQ(host.errors, QStringList{unreadableMessage(ELOOP)});
        EXPECT_EQ(host.calls, (QStringList{u"showError"_qs, u"disable"_qs}));
        EXPECT_EQ(s.SystemFolder, QString());
        EXPECT_NO_THROW(s.SaveBackupTimestamps());
        EXPECT_EQ(linkTarget(iniHostPath()), QByteArray("VireoReplicador.ini"));
        EXPECT_EQ(entriesOf(exeHostFolder()), QStringList{u"VireoReplicador.ini"_qs});
        QFile::remove(iniHostPath());
    }
    {
        SCOPED_TRACE("a folder");
        writeFile(iniHostPath() + u"/inside"_qs, "kept");
        RecordingHost h;
        Settings s = make();
        s.LoadSettings(h);
        EXPECT_EQ(h.errors, QStringList{unreadableMessage(EISDIR)});
        EXPECT_EQ(h.calls, (QStringList{u"showError"_qs, u"disable"_qs}));
        EXPECT_NO_THROW(s.SaveBackupTimestamps());
        EXPECT_EQ(entriesOf(iniHostPath()), QStringList{u"inside"_qs});
        EXPECT_EQ(entriesOf(exeHostFolder()), QStringList{u"VireoReplicador.ini"_qs});
        ASSERT_TRUE(QDir(iniHostPath()).removeRecursively());
    }
    {
        SCOPED_TRACE("a file the user may not read, in a folder where he may write");
        const QByteArray original = "[SERVIDOR]\r\nPASTA_SISTEMA=C:\\Vireo\\Vireo Cast\r\n[CONFIG]\r\n"
                                    "dados=01/01/0100\r\n";
        writeIni(original);
        ASSERT_EQ(::chmod(encoded(prefix.path()).constData(), 0755), 0);
        ASSERT_EQ(::chmod(encoded(exeHostFolder()).constData(), 0777), 0);
        ASSERT_EQ(::chmod(encoded(iniHostPath()).constData(), 0600), 0);
        // Root reads anything: the program runs as nobody in a child.
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                _exit(100);
            RecordingHost h;
            Settings s = make();
            s.LoadSettings(h);
            // The close runs whatever was shown, as the window's would.
            int failures = 0;
            if (h.errors != QStringList{unreadableMessage(EACCES)})
                failures |= 1;
            if (h.calls != QStringList{u"showError"_qs, u"disable"_qs})
                failures |= 2;
            try {
                s.SaveBackupTimestamps();
            } catch (const Error&) {
                failures |= 4;
            }
            _exit(failures);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(readFile(iniHostPath()), original);
        EXPECT_EQ(entriesOf(exeHostFolder()), QStringList{u"VireoReplicador.ini"_qs});
    }
}

TEST_F(SettingsTest, AReadOnlySettingsFileIsNotReplaced)
{
    const QByteArray original = "[SERVIDOR]\r\nPASTA_SISTEMA=C:\\Vireo\\Vireo Cast\r\n[CONFIG]\r\n"
                                "dados=08/12/2026\r\naudio=01/01/0100\r\nmusica=01/01/0100\r\n";
    writeIni(original);
    ASSERT_EQ(::chmod(encoded(iniHostPath()).constData(), 0444), 0);
    host.guid = u"1A2B"_qs;
    Settings s = make();
    s.LoadSettings(host);
    EXPECT_TRUE(host.errors.isEmpty());
    s.LastBackupAudio = at(2026, 12, 9);
    try {
        s.SaveBackupTimestamps();
        ADD_FAILURE() << "a read-only settings file was replaced";
    } catch (const Error& e) {
        EXPECT_EQ(e.message(), u"Unable to write to "_qs + IniWindowsPath);
    }
    EXPECT_EQ(readFile(iniHostPath()), original);
    EXPECT_EQ(entriesOf(exeHostFolder()), QStringList{u"VireoReplicador.ini"_qs});
}
