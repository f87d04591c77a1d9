#include "tests/e2e/RunTestKit.h"

#include "import/ExtractionAndRestore.h"
#include "platform/Errors.h"
#include "platform/TimestampText.h"
#include "tests/support/FirebirdTestDatabases.h"

#include <QDirIterator>
#include <QProcess>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace vz::test {

Timestamp LocalTime(int year, int month, int day, int hour, int minute, int second)
{
    return EncodeTimestamp({year, month, day, hour, minute, second, 0});
}

// --- ServiceProcess ------------------------------------------------------------

ServiceProcess::ServiceProcess(const QStringList& extraArguments)
{
    process_.setProgram(QStringLiteral(VZ_REPLICATION_SERVICE));
    process_.setArguments(QStringList{QStringLiteral("--address"), QStringLiteral("127.0.0.1"),
                                      QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--root"),
                                      root_.path()} +
                          extraArguments);
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start();
    if (!process_.waitForStarted(10000)) {
        ADD_FAILURE() << "vz-replication-service did not start";
        return;
    }
    // First line: "listening on 127.0.0.1:PORT".
    while (!process_.canReadLine() && process_.waitForReadyRead(10000)) {
    }
    const QByteArray line = process_.readLine().trimmed();
    const qsizetype colon = line.lastIndexOf(':');
    port_ = colon > 0 ? quint16(line.mid(colon + 1).toUInt()) : 0;
    if (port_ == 0)
        ADD_FAILURE() << "vz-replication-service said: " << line.toStdString();
}

ServiceProcess::~ServiceProcess() { stop(); }

void ServiceProcess::stop()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
}

// --- Installation ----------------------------------------------------------------

Installation::Installation() = default;

QString Installation::host(const QString& windowsPath) const
{
    const auto host = fs.toHost(windowsPath);
    EXPECT_TRUE(host.has_value()) << windowsPath.toStdString();
    return host.value_or(QString());
}

void Installation::put(const QString& windowsPath, const QByteArray& bytes, Timestamp time) const
{
    const QString path = writeFile(host(windowsPath), bytes);
    setMTime(path, MsOf(time));
}

bool Installation::exists(const QString& windowsPath) const { return fs.fileExists(windowsPath); }

QByteArray Installation::read(const QString& windowsPath) const { return readFile(host(windowsPath)); }

QByteArray Noise(int bytes, quint32 seed)
{
    QByteArray data(bytes, Qt::Uninitialized);
    quint32 x = seed * 2654435761u + 1;
    for (char& c : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x);
    }
    return data;
}

namespace {

void WriteDatabasesAndSettings(Installation& station)
{
    const QString vireodb = station.host(Installation::SystemFolder + QStringLiteral("Vireodb"));
    ASSERT_TRUE(CreateInstallationDatabases(
        vireodb, Guid,
        {QStringLiteral("D:\\Musicas\\Rock\\"), QStringLiteral("\\\\srv\\musica\\Jazz\\"),
         Installation::SystemFolder + QStringLiteral("Musicas\\")}));
    for (const QString& name : {QStringLiteral("VireoAdm.fdb"), QStringLiteral("VireoAudio.fdb")})
        setMTime(vireodb + QLatin1Char('/') + name, MsOf(FileTime));
    station.put(Installation::ExeFolder + QStringLiteral("VireoReplicador.ini"),
                "[SERVIDOR]\r\nPASTA_SISTEMA=C:\\Vireo\\Vireo Cast\r\n");
}

}  // namespace

void Installation::populate()
{
    const QString s = SystemFolder;
    put(s + QStringLiteral("Vireo.ini"), "[GERAL]\r\nEmissora=R\xe1" "dio Vireo FM\r\n");
    put(s + QStringLiteral("Servidor.exe"), "MZ" + Noise(3000, 1));
    put(s + QStringLiteral("Plugins\\RDS\\rds.cfg"), "porta=COM1\r\n");
    put(s + QStringLiteral("Relatorios\\Veiculacoes.txt"), QByteArray(20000, 'v'));
    put(s + QStringLiteral("Listas\\Segunda.lst"), "Vinhetas\\abertura.mp3\r\n");
    put(s + QStringLiteral("Textos Avulsos\\Aviso.txt"), "Aviso aos ouvintes\r\n");
    put(s + QStringLiteral("Comerciais\\padaria.mp3"), Noise(24000, 2));
    put(s + QStringLiteral("Textos\\tempo.mp3"), Noise(9000, 3));
    put(s + QStringLiteral("Vinhetas\\Hora certa\\hora.mp3"), Noise(6000, 4));
    put(s + QStringLiteral("Trilhas\\manha.mp3"), Noise(30000, 5));
    put(s + QStringLiteral("Efeitos\\aplausos.wav"), Noise(10000, 6));
    put(s + QStringLiteral("Locucoes\\bom dia.mp3"), Noise(14000, 7));
    put(s + QStringLiteral("Musicas\\vinheta musical.mp3"), Noise(8000, 8));
    put(QStringLiteral("D:\\Musicas\\Rock\\01 - Estrada.mp3"), Noise(40000, 9));
    put(QStringLiteral("D:\\Musicas\\Rock\\02 - Motor.mp3"), Noise(36000, 10));
    put(QStringLiteral("D:\\Musicas\\Rock\\Ao vivo\\03 - Palco.mp3"), Noise(20000, 11));
    put(QStringLiteral("\\\\srv\\musica\\Jazz\\Noite.mp3"), Noise(15000, 12));
    WriteDatabasesAndSettings(*this);
}

void Installation::populateEmpty() { WriteDatabasesAndSettings(*this); }

QStringList Installation::filesBelow(const QString& hostFolder)
{
    QStringList files;
    QDirIterator it(hostFolder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(hostFolder.size() + 1);
    files.sort();
    return files;
}

QMap<QString, FileState> Installation::exportedFiles() const
{
    QMap<QString, FileState> files;
    const auto add = [&](const QString& windowsFolder, bool recursive) {
        const QString root = host(windowsFolder);
        for (const QString& relative : filesBelow(root)) {
            if (!recursive && relative.contains(QLatin1Char('/')))
                continue;
            const QString hostPath = root + QLatin1Char('/') + relative;
            QString windowsPath = windowsFolder + relative;
            windowsPath.replace(QLatin1Char('/'), QLatin1Char('\\'));
            files.insert(windowsPath, FileState{readFile(hostPath), QFileInfo(hostPath).lastModified().toMSecsSinceEpoch()});
        }
    };
    add(SystemFolder, true);
    add(QStringLiteral("D:\\Musicas\\Rock\\"), false);
    add(QStringLiteral("\\\\srv\\musica\\Jazz\\"), false);
    return files;
}

// --- Settings, sibling, frame ------------------------------------------------------

QString TestRunSettings::FormatTimestamp(Timestamp value) const
{
    return vz::FormatTimestamp(value, RegionalSettings::dayMonthYear());
}

Timestamp TestRunSettings::ParseTimestamp(const QString& text, Timestamp defaultValue) const
{
    return vz::ParseTimestamp(text, defaultValue, RegionalSettings::dayMonthYear(),
                              DecodeTimestamp(clock->now()).year);
}

void TestRunSettings::SaveBackupTimestamps() { ++saves; }

bool RecordingSibling::SiblingIsRunning()
{
    events_ << QStringLiteral("sibling: running?");
    if (real)
        running = real->SiblingIsRunning();
    return running;
}

void RecordingSibling::AskSiblingToClose()
{
    events_ << QStringLiteral("sibling: close");
    if (real)
        real->AskSiblingToClose();
    else
        running = false;  // a stand-in closes at once
}

void RecordingSibling::StartSiblingServer(const QString& systemFolderWindowsPath)
{
    events_ << QStringLiteral("sibling: start ") + systemFolderWindowsPath + QStringLiteral("Servidor.exe");
    if (real)
        real->StartSiblingServer(systemFolderWindowsPath);
}

void EventFrame::SetDestinationText(const QString& text)
{
    events_ << text;
    RecordingRunFrame::SetDestinationText(text);
}

qsizetype FirstContaining(const QStringList& events, const QString& text, qsizetype from)
{
    for (qsizetype i = from; i < events.size(); ++i)
        if (events.at(i).contains(text))
            return i;
    return -1;
}

qsizetype LastContaining(const QStringList& events, const QString& text)
{
    for (qsizetype i = events.size() - 1; i >= 0; --i)
        if (events.at(i).contains(text))
            return i;
    return -1;
}

qsizetype LastStartingWith(const QStringList& events, const QString& prefix)
{
    for (qsizetype i = events.size() - 1; i >= 0; --i)
        if (events.at(i).startsWith(prefix))
            return i;
    return -1;
}

QMap<QString, QByteArray> ArchivedFiles(const QString& hostArchive)
{
    TempDir out;
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-m"), QStringLiteral("zipfile"), QStringLiteral("-e"),
                                             hostArchive, out.path()});
    EXPECT_TRUE(python.waitForFinished(60000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    QMap<QString, QByteArray> files;
    const QString root = out.path() + QStringLiteral("/Replicacao/");
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = path.mid(root.size());
        const qsizetype slash = relative.indexOf(QLatin1Char('/'));
        const QString drive = relative.left(slash);
        if (drive.size() != 1)
            continue;
        QString windows = drive + QStringLiteral(":\\") + relative.mid(slash + 1);
        windows.replace(QLatin1Char('/'), QLatin1Char('\\'));
        files.insert(windows, readFile(path));
    }
    return files;
}


// --- DriverKit ---------------------------------------------------------------------

namespace {

ExportServices ExportServicesOf(DriverKit& kit)
{
    return ExportServices{kit.station.fs, kit.frame,      kit.dialogs,    kit.sibling,
                          kit.clock,      kit.settings,   *kit.databases, kit.http,
                          kit.antiFreeze, kit.recycleBin, kit.runLog,     Title};
}

}  // namespace

DriverKit::DriverKit(PackagingOptions packagingOptions)
    : databases(std::make_unique<AutomationDatabases>(station.fs)),
      importArchive(station.fs, dialogs, frame, Title),
      packaging(ExportServicesOf(*this), packagingOptions),
      exportDriver(ExportServicesOf(*this), packaging),
      importDriver(ImportServices{station.fs, frame, dialogs, sibling, clock, settings, http, antiFreeze, recycleBin,
                                  runLog, importArchive, Title})
{
    settings.clock = &clock;
    ExtractionAndRestore::SetUpImportArchive(importArchive);
    // The transfer display switches the anti-freeze on at each transfer.
    http.OnWorkBegin = [this](int, qint32) { antiFreeze.Active = true; };
}

void DriverKit::loadSettings()
{
    settings.ExeFolder = Installation::ExeFolder;
    settings.ExeDrive = QStringLiteral("C:");
    settings.SystemFolder = Installation::SystemFolder;
    settings.BaseUrl = service.baseUrl();
    databases->setFileNames(Installation::SystemFolder + QStringLiteral("Vireodb\\VireoAudio.fdb"),
                            Installation::SystemFolder + QStringLiteral("Vireodb\\VireoAdm.fdb"));
    settings.ClientGuid = databases->ReadClientGuid();
    settings.ArchiveName = settings.ClientGuid + QStringLiteral(".zip");
    setTimestamps(EarliestTimestamp);
}

void DriverKit::prepare(Timestamp lastExport)
{
    station.populate();
    loadSettings();
    setTimestamps(lastExport);
}

void DriverKit::setTimestamps(Timestamp value)
{
    settings.LastBackupDados = value;
    settings.LastBackupAudio = value;
    settings.LastBackupMusica = value;
}

void DriverKit::runExport(const ExportCategories& categories)
{
    try {
        exportDriver.Run(categories, FileDialogRequest{QStringLiteral("Arquivo do Zuvavivevo|") + ArchiveFile, {}, {}});
    } catch (const SilentAbort&) {
    } catch (const Error& e) {
        errors << e.message();
    }
}

void DriverKit::runImport(ImportSource source)
{
    try {
        importDriver.Run(source, FileDialogRequest{QStringLiteral("Arquivo do Zuvavivevo|") + ArchiveFile, {}, {}});
    } catch (const SilentAbort&) {
    } catch (const Error& e) {
        errors << e.message();
    }
}

}  // namespace vz::test
