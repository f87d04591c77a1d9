// The real program killed (SIGKILL) at seeded random moments of its runs, on
// an X server of the test's own and with the reference replication service
// on the address the program was built with, in a network namespace of the
// test's own (main() enters one). After every kill: no installation file
// truncated or missing, the settings file readable with each last-export
// moment either the old one or a new one that only a delivered archive may
// bring, the service's archive whole, the import's removal of the service's
// copy only after every file was back, and the temporary files a killed run
// left removed by the next run. Every round prints its seed, delay and
// findings; VZ_CRASH_SEED=N repeats a sequence of moments.

#include "platform/ProfileFile.h"
#include "platform/RegionalSettings.h"
#include "platform/TimestampText.h"
#include "tests/app/XvfbSession.h"
#include "tests/e2e/ProgramWindow.h"
#include "tests/e2e/RunTestKit.h"

#include <QDateTime>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QThread>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <random>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace vz;
using namespace vz::test;

namespace {

constexpr int KillRounds = 20;
const QString SettingsFile = Installation::ExeFolder + QStringLiteral("VireoReplicador.ini");
const QString LogFile = Installation::ExeFolder + QStringLiteral("VireoReplicador.log");
const QString ProgramFile = Installation::ExeFolder + QStringLiteral("vireo-zuvavivevo");
const QString Cast = Installation::SystemFolder;

// --- Small tools ---------------------------------------------------------------

struct Run {
    int exitCode = -1;
    QByteArray output;
};

Run RunTool(const QString& program, const QStringList& arguments, int timeoutMs = 60000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Run run;
    if (!process.waitForStarted(10000))
        return run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.output = process.readAll();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

void Print(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// With VZ_CRASH_SCREENSHOTS=FOLDER, the screen at every box answered and at
// every kill with a box up goes there as a PNG, to see what a box said.
void Screenshot(const QString& name)
{
    const QString folder = qEnvironmentVariable("VZ_CRASH_SCREENSHOTS");
    if (!folder.isEmpty())
        RunTool(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                           folder + QLatin1Char('/') + name + QStringLiteral(".png")});
}

quint64 SeedFromEnvironment()
{
    const QByteArray given = qgetenv("VZ_CRASH_SEED");
    if (!given.isEmpty())
        return given.toULongLong();
    std::random_device device;
    return (quint64(device()) << 32) | device();
}

// A file's identity, to tell a replaced file from the one seen before.
struct FileIdentity {
    bool exists = false;
    qint64 inode = 0, sizeBytes = 0, modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity IdentityOf(const QString& hostPath)
{
    struct stat st;
    if (::lstat(QFile::encodeName(hostPath).constData(), &st) != 0)
        return {};
    return {true, qint64(st.st_ino), qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// The program's temporary files: ".~vz" + 8 letters or digits + ".tmp".
bool IsProgramTemporary(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.~vz[A-Za-z0-9]{8}\\.tmp$"));
    return pattern.match(name).hasMatch();
}

// Every file below the folders, by host path.
QStringList FilesBelow(const QStringList& hostFolders)
{
    QStringList files;
    for (const QString& folder : hostFolders) {
        QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
    }
    files.sort();
    return files;
}

// Entry name ("Replicacao/C/Vireo/...") to bytes, read by Python's zipfile.
std::optional<QMap<QString, QByteArray>> EntriesOf(const QString& archive, const QString& scratchFolder)
{
    QDir(scratchFolder).removeRecursively();
    const Run unpacked =
        RunTool(QStringLiteral("python3"),
                {QStringLiteral("-c"),
                 QStringLiteral("import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])"), archive,
                 scratchFolder});
    if (unpacked.exitCode != 0)
        return std::nullopt;
    QMap<QString, QByteArray> entries;
    for (const QString& file : FilesBelow({scratchFolder}))
        entries.insert(file.mid(scratchFolder.size() + 1), readFile(file));
    QDir(scratchFolder).removeRecursively();
    return entries;
}

bool SevenZipTests(const QString& archive, QByteArray* said)
{
    const Run test = RunTool(QStringLiteral("7z"), {QStringLiteral("t"), archive});
    *said = test.output;
    return test.exitCode == 0 && test.output.contains("Everything is Ok");
}

// --- The last-export moments in the settings file --------------------------------

struct Moments {
    bool readable = false;
    QString problem;
    QString texts[3];       // DADOS, AUDIO, MUSICA as written
    Timestamp values[3]{};  // as the program reads them
    bool operator==(const Moments& o) const
    {
        return readable == o.readable && texts[0] == o.texts[0] && texts[1] == o.texts[1] && texts[2] == o.texts[2];
    }
    QString describe() const
    {
        return readable ? texts[0] + QStringLiteral(" | ") + texts[1] + QStringLiteral(" | ") + texts[2] : problem;
    }
};

// --- The fixture ----------------------------------------------------------------------

class CrashTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        seed_ = SeedFromEnvironment();
        rng_.seed(seed_);
        Print(QStringLiteral("[%1] VZ_CRASH_SEED=%2")
                  .arg(QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()))
                  .arg(seed_));

        // The address the program was built with, on the namespace's own loopback.
        const QString baseUrl = QStringLiteral(VZ_CRASH_SERVICE_BASE_URL);
        if (!baseUrl.startsWith(QStringLiteral("http://")) || baseUrl.section(QLatin1Char('/'), 3) != QStringLiteral("Zuvavivevo/"))
            GTEST_SKIP() << "the program was built for the service at " << baseUrl.toStdString()
                         << ", not a plain HTTP one at /Zuvavivevo/ this test can start";
        const QString serviceHost = baseUrl.section(QLatin1Char('/'), 2, 2);
        const qsizetype colon = serviceHost.lastIndexOf(QLatin1Char(':'));
        const QString address = colon < 0 ? serviceHost : serviceHost.left(colon);
        const QString port = colon < 0 ? QStringLiteral("80") : serviceHost.mid(colon + 1);
        if (!QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$")).match(address).hasMatch())
            GTEST_SKIP() << "the program was built for the service at " << serviceHost.toStdString()
                         << ", not an IPv4 address this test can take in its own network namespace";
        if (!address.startsWith(QStringLiteral("127.")))
            RunTool(QStringLiteral("ip"),
                    {QStringLiteral("addr"), QStringLiteral("add"), address + QStringLiteral("/32"),
                     QStringLiteral("dev"), QStringLiteral("lo")});
        service_ = std::make_unique<ServiceProcess>(
            QStringList{QStringLiteral("--address"), address, QStringLiteral("--port"), port});
        ASSERT_TRUE(service_->running()) << "no service on " << serviceHost.toStdString()
                                         << " (is this test in a network namespace of its own?)";
        ASSERT_EQ(service_->host().section(QLatin1Char(':'), -1), port);

        populate();
        // The program beside its settings file, as it is installed.
        exe_ = station_.host(ProgramFile);
        ASSERT_TRUE(QFile::copy(QStringLiteral(VZ_PROGRAM), exe_));
        ASSERT_TRUE(QFile::setPermissions(exe_, QFile::permissions(exe_) | QFileDevice::ExeOwner));

        // A home, a temporary folder and a working folder of the program's own.
        home_ = work_.file(QStringLiteral("home"));
        programTmp_ = work_.file(QStringLiteral("program-tmp"));
        programCwd_ = work_.file(QStringLiteral("program-cwd"));
        for (const QString& folder :
             QStringList{home_ + QStringLiteral("/.local/share"), home_ + QStringLiteral("/.config"),
                         home_ + QStringLiteral("/.cache"), work_.file(QStringLiteral("runtime")), programTmp_,
                         programCwd_, work_.file(QStringLiteral("archives"))})
            ASSERT_TRUE(QDir().mkpath(folder));
        QFile::setPermissions(work_.file(QStringLiteral("runtime")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env_.insert(QStringLiteral("HOME"), home_);
        env_.insert(QStringLiteral("XDG_DATA_HOME"), home_ + QStringLiteral("/.local/share"));
        env_.insert(QStringLiteral("XDG_CONFIG_HOME"), home_ + QStringLiteral("/.config"));
        env_.insert(QStringLiteral("XDG_CACHE_HOME"), home_ + QStringLiteral("/.cache"));
        env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), work_.file(QStringLiteral("runtime")));
        env_.insert(QStringLiteral("TMPDIR"), programTmp_);
        env_.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    }

    // --- The station -------------------------------------------------------------

    QString host(const QString& windowsPath) const { return station_.host(windowsPath); }
    QStringList stationFolders() const { return {host(Cast), host(QStringLiteral("D:\\Musicas")), station_.share}; }
    static bool IsDatabase(const QString& hostPath) { return hostPath.endsWith(QStringLiteral(".fdb")); }

    // The kit's installation with two large files, so that a run lasts long
    // enough to be killed while it copies, packs and transfers; every file
    // dated a month back, the settings' moments two months back.
    void populate()
    {
        station_.populate();
        QByteArray report;
        for (int line = 0; report.size() < 6 * 1024 * 1024; ++line)
            report += QByteArray("2026-01-01 08:00:") + QByteArray::number(line % 60) + " vinheta " +
                      QByteArray::number(line * 7919 % 100003) + " veiculada\r\n";
        station_.put(Cast + QStringLiteral("Relatorios\\Historico.txt"), report);
        station_.put(Cast + QStringLiteral("Trilhas\\longa.mp3"), Noise(5 * 1024 * 1024, 77));
        const qint64 monthAgoMs = QDateTime::currentMSecsSinceEpoch() - 30LL * 24 * 3600 * 1000;
        for (const QString& file : FilesBelow(stationFolders()))
            setMTime(file, monthAgoMs);
        setMoments(TimestampFromUnixMs(monthAgoMs - 30LL * 24 * 3600 * 1000));
        for (const QString& file : FilesBelow(stationFolders()))
            if (!IsDatabase(file))
                written_.insert(file, readFile(file));
    }

    // The settings file with every moment at `moment`.
    void setMoments(Timestamp moment)
    {
        station_.put(SettingsFile, QStringLiteral("[SERVIDOR]\r\nPASTA_SISTEMA=C:\\Vireo\\Vireo Cast\r\n"
                                                  "[CONFIG]\r\nDADOS=%1\r\nAUDIO=%1\r\nMUSICA=%1\r\n")
                                       .arg(FormatTimestamp(moment, regional_))
                                       .toLatin1());
    }

    Moments moments() const
    {
        Moments m;
        ProfileFile file(host(SettingsFile));
        if (file.load() != ProfileFile::LoadStatus::Loaded) {
            m.problem = QStringLiteral("the settings file cannot be read (errno %1)").arg(file.errorNumber());
            return m;
        }
        if (file.readString(QStringLiteral("SERVIDOR"), QStringLiteral("PASTA_SISTEMA")) !=
            QStringLiteral("C:\\Vireo\\Vireo Cast")) {
            m.problem = QStringLiteral("PASTA_SISTEMA is gone from the settings file");
            return m;
        }
        const QString keys[3] = {QStringLiteral("DADOS"), QStringLiteral("AUDIO"), QStringLiteral("MUSICA")};
        const int year = QDate::currentDate().year();
        for (int i = 0; i < 3; ++i) {
            m.texts[i] = file.readString(QStringLiteral("CONFIG"), keys[i]);
            m.values[i] = ParseTimestamp(m.texts[i], EarliestTimestamp, regional_, year);
            if (m.values[i] == EarliestTimestamp) {
                m.problem = keys[i] + QStringLiteral(" is not a moment: \"") + m.texts[i] + QLatin1Char('"');
                return m;
            }
        }
        m.readable = true;
        return m;
    }

    // The installation path an archive entry ("Replicacao/C/Vireo/...",
    // "Replicacao/musica/Jazz/..." for \\srv\musica\Jazz\) came from; a
    // share's entries only withShares (a restore leaves shares alone).
    QString hostOfEntry(const QString& entry, bool withShares = false) const
    {
        const QStringList parts = entry.split(QLatin1Char('/'));
        if (parts.size() < 3 || parts.first() != QStringLiteral("Replicacao"))
            return QString();
        if (parts.at(1).size() != 1)
            return withShares && parts.at(1) == QStringLiteral("musica")
                       ? station_.share + QLatin1Char('/') + parts.mid(2).join(QLatin1Char('/'))
                       : QString();
        return host(parts.at(1) + QStringLiteral(":\\") + parts.mid(2).join(QLatin1Char('\\')));
    }

    // The program's temporary files in every folder it writes to, and the
    // archives its packing leaves in its temporary folder.
    QStringList leftovers() const
    {
        QStringList found;
        for (const QString& file : FilesBelow({station_.prefix.drive(QStringLiteral("c")),
                                               station_.prefix.drive(QStringLiteral("d")), station_.share})) {
            if (IsProgramTemporary(QFileInfo(file).fileName()))
                found << file;
        }
        for (const QString& file : FilesBelow({programTmp_}))
            found << file;
        return found;
    }
    QString shortName(const QString& hostPath) const
    {
        return QString(hostPath)
            .replace(station_.prefix.path() + QLatin1Char('/'), QString())
            .replace(programTmp_, QStringLiteral("$TMPDIR"));
    }
    QString shortNames(const QStringList& hostPaths) const
    {
        QStringList names;
        for (const QString& path : hostPaths)
            names << shortName(path);
        return names.join(QStringLiteral(", "));
    }

    // --- Marks that tell whether a killed run got past its sweep -----------------

    // What a run changes only after its sweep of leftover files: the
    // staging mirror (C:\Replicacao) and the restore folder beside the
    // program go to the recycle bin right after it and come back new later
    // (a mark left in them is gone, or one that was not there shows up); the
    // service's archive is replaced or removed, the downloaded archive
    // written, the settings saved late in a run.
    struct RoundMarks {
        std::vector<bool> folders;
        FileIdentity service, downloaded;
        Moments moments;
    };
    QStringList runFolders() const
    {
        return {host(QStringLiteral("C:\\Replicacao")), host(Installation::ExeFolder + QStringLiteral("Replicacao"))};
    }
    QString downloadedArchive() const { return host(Installation::ExeFolder) + QLatin1Char('/') + ArchiveFile; }
    RoundMarks markRound() const
    {
        RoundMarks marks;
        for (const QString& folder : runFolders()) {
            marks.folders.push_back(QFileInfo(folder).isDir());
            if (marks.folders.back())
                writeFile(folder + QStringLiteral("/.crash-test-mark"), "mark");
        }
        marks.service = IdentityOf(serviceArchive());
        marks.downloaded = IdentityOf(downloadedArchive());
        marks.moments = moments();
        return marks;
    }
    bool pastTheSweep(const RoundMarks& marks) const
    {
        const QStringList folders = runFolders();
        for (size_t i = 0; i < marks.folders.size(); ++i) {
            const QString folder = folders.at(qsizetype(i));
            if (marks.folders[i] ? !QFile::exists(folder + QStringLiteral("/.crash-test-mark"))
                                 : QFileInfo(folder).isDir())
                return true;
        }
        return !(IdentityOf(serviceArchive()) == marks.service) ||
               !(IdentityOf(downloadedArchive()) == marks.downloaded) || !(moments() == marks.moments);
    }
    void removeMarks() const
    {
        for (const QString& folder : runFolders())
            QFile::remove(folder + QStringLiteral("/.crash-test-mark"));
    }

    // Leftovers from earlier kills that a run got past its sweep must be gone.
    void checkSweep(bool swept, const QString& round)
    {
        if (swept) {
            QStringList survived;
            for (const QString& file : carried_)
                if (QFile::exists(file))
                    survived << file;
            EXPECT_TRUE(survived.isEmpty())
                << round.toStdString() << ": temporary files of an earlier killed run survived the next run: "
                << shortNames(survived).toStdString();
            carried_.clear();
        }
        for (const QString& file : leftovers())
            if (!carried_.contains(file))
                carried_ << file;
    }

    // --- Driving the program -----------------------------------------------------

    std::unique_ptr<ProgramWindow> startProgram()
    {
        auto program = std::make_unique<ProgramWindow>(exe_, env_, programCwd_);
        if (!program->start())
            ADD_FAILURE() << "the program did not come up: " << program->error().toStdString() << "\n"
                          << program->output().toStdString();
        return program;
    }

    enum class Kind { Export, Import };
    static QString finishedLine(Kind kind)
    {
        return kind == Kind::Export ? QStringLiteral("Exportação finalizada") : QStringLiteral("Importação finalizada");
    }
    int logCount(const QString& text) const { return QString::fromUtf8(readFile(host(LogFile))).count(text); }
    // Clicks the run's start button (Dados, Áudios and Músicas checked, or Geral).
    static void startRun(ProgramWindow& program, Kind kind, bool geral)
    {
        if (kind == Kind::Export) {
            program.click(geral ? ProgramWindow::GeralBox : ProgramWindow::MusicasBox);
        } else {
            program.click(ProgramWindow::ImportTab);
            QThread::msleep(100);
        }
        program.click(ProgramWindow::StartButton);
    }

    // One run to its final message, answered; the time from the start
    // button to that message in ms, or -1 (with a failure) when the run did
    // not finish. Any other box on the way (a question about what a killed
    // run left, say) is answered with Return and fails the test: a station
    // runs its exports from the tray, with nobody to answer.
    qint64 runToTheEnd(Kind kind, const QString& when)
    {
        const int finishedBefore = logCount(finishedLine(kind));
        const bool archiveAtRoot = QDir(station_.prefix.drive(QStringLiteral("c"))).exists(ArchiveFile);
        auto program = startProgram();
        if (!program->running())
            return -1;
        QElapsedTimer clock;
        clock.start();
        startRun(*program, kind, false);
        qint64 lastBoxMs = -1;
        for (int boxes = 0; boxes < 5; ++boxes) {
            const QString box = program->waitForBox(180000);
            if (box.isEmpty())
                break;
            lastBoxMs = clock.elapsed();
            Screenshot(QStringLiteral("run-%1-box-%2").arg(++screens_).arg(boxes + 1));
            if (!program->answer(box)) {
                ADD_FAILURE() << when.toStdString() << ": a box of the program does not close";
                break;
            }
            // The run writes its log line once its last message is answered.
            for (int i = 0; i < 50 && logCount(finishedLine(kind)) == finishedBefore; ++i)
                QThread::msleep(100);
            if (logCount(finishedLine(kind)) > finishedBefore) {
                EXPECT_EQ(boxes, 0) << when.toStdString() << ": " << boxes
                                    << " other box(es) came before the final message (answered with Return; "
                                       "VZ_CRASH_SCREENSHOTS=FOLDER shows them)"
                                    << (kind == Kind::Export && archiveAtRoot
                                            ? "; a killed export left C:\\" + ArchiveFile.toStdString() +
                                                  " at the drive root, and the export asks whether to overwrite it"
                                            : std::string());
                program->terminate();
                return lastBoxMs;
            }
        }
        ADD_FAILURE() << when.toStdString() << ": the run did not end with \"" << finishedLine(kind).toStdString()
                      << "\"; its log:\n"
                      << readFile(host(LogFile)).toStdString() << "\nits output:\n"
                      << program->output().toStdString();
        program->kill();
        return -1;
    }

    // When a round kills the program: delayMs after the start button, or as
    // soon as `reached` sees the run get to a given point (the targeted rounds,
    // which hit the narrow windows of a run every time).
    struct KillMoment {
        qint64 delayMs = 0;
        QString what;  // the point a targeted round waits for
        std::function<bool()> reached;
    };

    // Starts the program and the run, and kills it at the moment; whether a
    // box was up at the kill.
    bool killedRun(Kind kind, bool geral, const KillMoment& moment, QString* problem, bool* reached)
    {
        *reached = false;
        auto program = startProgram();
        if (!program->running()) {
            *problem = QStringLiteral("the program did not come up");
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        startRun(*program, kind, geral);
        while (clock.elapsed() < moment.delayMs) {
            if (moment.reached && moment.reached()) {
                *reached = true;
                break;
            }
            QThread::msleep(moment.reached ? 2 : 1);
        }
        const bool boxUp = !program->boxes().isEmpty();
        // Only with a box up: the run waits for it, a screenshot does not move the kill.
        if (boxUp)
            Screenshot(QStringLiteral("kill-%1").arg(++screens_));
        program->kill();
        // An upload the kernel still held for the service is stored by now.
        QThread::msleep(150);
        return boxUp;
    }
    // What the export left at the drive root ("{GUID}.zip", "{GUID}.z01").
    QStringList archivesAtRoot() const
    {
        return QDir(station_.prefix.drive(QStringLiteral("c"))).entryList({Guid + QStringLiteral(".*")}, QDir::Files);
    }
    // A box up when the run was killed, its moments not saved: the run was
    // not at its final message (saved first, then shown) but stopped on
    // another box, which nobody at a station running from the tray answers.
    void checkNoBoxStopped(bool boxUp, bool momentsSaved, const QStringList& atRootBefore, const QString& round)
    {
        EXPECT_FALSE(boxUp && !momentsSaved)
            << round.toStdString() << ": the run stopped on a box other than its final message"
            << (atRootBefore.isEmpty()
                    ? std::string()
                    : " (an earlier killed export left " + atRootBefore.join(QStringLiteral(", ")).toStdString() +
                          " at C:\\, and the export asks whether to overwrite it)")
            << "; VZ_CRASH_SCREENSHOTS=FOLDER shows the box";
    }
    // "delay 123 of 900 ms", or what a targeted round waited for.
    static QString describe(const KillMoment& moment, qint64 fullRunMs, bool reached)
    {
        if (!moment.reached)
            return QStringLiteral("delay %1 of %2 ms").arg(moment.delayMs).arg(fullRunMs);
        return QStringLiteral("killed %1 %2")
            .arg(reached ? QStringLiteral("when") : QStringLiteral("(never reached)"), moment.what);
    }

    // --- The service's archive -------------------------------------------------------

    QString serviceArchive() const { return service_->archivePath(); }
    QString keepCopy(const QString& name)
    {
        const QString copy = work_.file(QStringLiteral("archives/") + name);
        QFile::remove(copy);
        EXPECT_TRUE(QFile::copy(serviceArchive(), copy));
        return copy;
    }
    // Puts an archive into the service's folder as the service stores one: whole, then renamed.
    void putIntoService(const QString& archive) const
    {
        const QString temp = QFileInfo(serviceArchive()).path() + QStringLiteral("/put-back.partial");
        QFile::remove(temp);
        ASSERT_TRUE(QFile::copy(archive, temp));
        ASSERT_EQ(::rename(QFile::encodeName(temp).constData(), QFile::encodeName(serviceArchive()).constData()), 0);
    }
    QMap<QString, QByteArray> entries(const QString& archive)
    {
        const auto read = EntriesOf(archive, work_.file(QStringLiteral("unpacked")));
        EXPECT_TRUE(read.has_value()) << "Python's zipfile cannot read " << archive.toStdString();
        return read.value_or(QMap<QString, QByteArray>());
    }

    quint64 seed_ = 0;
    std::mt19937_64 rng_;
    RegionalSettings regional_ = RegionalSettings::fromProcessLocale();
    TempDir work_;
    Installation station_;
    std::unique_ptr<ServiceProcess> service_;
    QString exe_, home_, programTmp_, programCwd_;
    QProcessEnvironment env_;
    QMap<QString, QByteArray> written_;  // every installation file but the databases, by host path, as written
    QStringList carried_;                // leftovers of killed runs no run has been seen to sweep since
    int screens_ = 0;
};

// --- Exports --------------------------------------------------------------------------

TEST_F(CrashTest, ExportsKilledAtAnyMomentLoseNoFileNoMomentAndNoArchive)
{
    // One complete export: everything, timed from the start button to its final message.
    const qint64 fullRunMs = runToTheEnd(Kind::Export, QStringLiteral("the first export"));
    ASSERT_GT(fullRunMs, 0);
    const Moments first = moments();
    ASSERT_TRUE(first.readable) << first.problem.toStdString();
    ASSERT_TRUE(QFile::exists(serviceArchive()));
    const QMap<QString, QByteArray> full = entries(keepCopy(QStringLiteral("full.zip")));
    // "Músicas" was checked: the music folders came along.
    ASSERT_TRUE(full.contains(QStringLiteral("Replicacao/D/Musicas/Rock/01 - Estrada.mp3")))
        << QStringList(full.keys()).join(u'\n').toStdString();
    Print(QStringLiteral("full export: %1 ms, %2 files, moments %3")
              .arg(fullRunMs)
              .arg(full.size())
              .arg(first.describe()));

    // A few files change: new bytes, later times. Once an export has
    // delivered them and moved the moments, they change again, so that every
    // round has changes to carry.
    const QStringList changing{host(Cast + QStringLiteral("Vireo.ini")),
                               host(Cast + QStringLiteral("Listas\\Segunda.lst")),
                               host(Cast + QStringLiteral("Trilhas\\longa.mp3")),
                               host(Cast + QStringLiteral("Relatorios\\Historico.txt")),
                               host(QStringLiteral("D:\\Musicas\\Rock\\02 - Motor.mp3")),
                               station_.share + QStringLiteral("/Jazz/Noite.mp3")};
    QMap<QString, QList<QByteArray>> versions;  // every content a file ever had
    for (auto it = written_.cbegin(); it != written_.cend(); ++it)
        versions[it.key()] << it.value();
    int generation = 0;
    QMap<QString, QByteArray> changed;  // the current change
    QStringList deliveredSinceChange;   // copies of the archives the service received since it
    const auto change = [&] {
        ++generation;
        const quint32 seed = quint32(1000 * generation);
        changed.clear();
        changed.insert(changing[0],
                       "[GERAL]\r\nEmissora=R\xe1"
                       "dio Vireo FM " +
                           QByteArray::number(generation) + "\r\n");
        changed.insert(changing[1], "Vinhetas\\abertura.mp3\r\n" + QByteArray::number(generation) + "\r\n");
        changed.insert(changing[2], Noise(5 * 1024 * 1024, seed + 1));
        changed.insert(changing[3], readFile(changing[3]).left(5 * 1024 * 1024) + "geracao " +
                                        QByteArray::number(generation) + "\r\n");
        changed.insert(changing[4], Noise(37000, seed + 4));
        changed.insert(changing[5], Noise(15000, seed + 5));
        // Later than the moments, which a run takes from the clock when it starts staging.
        const qint64 timeMs = QDateTime::currentMSecsSinceEpoch() + 2000;
        for (auto it = changed.cbegin(); it != changed.cend(); ++it) {
            writeFile(it.key(), it.value());
            setMTime(it.key(), timeMs);
            written_[it.key()] = it.value();
            versions[it.key()] << it.value();
        }
        deliveredSinceChange.clear();
    };
    // Every changed file reached the service with its new bytes.
    const auto checkChangeArrived = [&](const QString& when) {
        QSet<QString> arrived;
        for (const QString& archive : deliveredSinceChange) {
            const QMap<QString, QByteArray> got = entries(archive);
            for (auto it = got.cbegin(); it != got.cend(); ++it)
                if (changed.contains(hostOfEntry(it.key(), true)) &&
                    changed.value(hostOfEntry(it.key(), true)) == it.value())
                    arrived << hostOfEntry(it.key(), true);
        }
        for (auto it = changed.cbegin(); it != changed.cend(); ++it)
            EXPECT_TRUE(arrived.contains(it.key()))
                << when.toStdString() << ": " << shortName(it.key()).toStdString() << " of change " << generation
                << " never reached the service with its new bytes";
    };
    change();

    std::uniform_int_distribution<qint64> delays(0, fullRunMs);
    FileIdentity archiveSeen = IdentityOf(serviceArchive());
    int deliveries = 0, movedRounds = 0, boxRounds = 0, sweptRounds = 0;
    // After the seeded moments, one kill the moment the packed archive is at
    // the drive root, before its delivery (printed as never reached when an
    // export does not put it there).
    const QString atRootArchive = station_.prefix.drive(QStringLiteral("c")) + QLatin1Char('/') + ArchiveFile;
    const int rounds = KillRounds + 1;
    for (int round = 1; round <= rounds; ++round) {
        KillMoment moment;
        bool geral = false;
        if (round <= KillRounds) {
            moment.delayMs = delays(rng_);
            geral = rng_() % 4 == 0;
        } else {
            moment.delayMs = 3 * fullRunMs;
            moment.what = QStringLiteral("the archive is at C:\\, not yet delivered");
            moment.reached = [&, before = IdentityOf(atRootArchive)] {
                const FileIdentity now = IdentityOf(atRootArchive);
                return now.exists && !(now == before);
            };
        }
        const QString name = QStringLiteral("export round %1/%2 (seed %3)").arg(round).arg(rounds).arg(seed_);
        const Moments before = moments();
        const FileIdentity settingsBefore = IdentityOf(host(SettingsFile));
        const QStringList atRootBefore = archivesAtRoot();
        const RoundMarks marked = markRound();

        QString problem;
        bool reached = false;
        const bool boxUp = killedRun(Kind::Export, geral, moment, &problem, &reached);
        ASSERT_TRUE(problem.isEmpty()) << name.toStdString() << ": " << problem.toStdString();
        QStringList found;

        // The installation: every file whole, as written.
        QStringList damaged;
        for (auto it = written_.cbegin(); it != written_.cend(); ++it)
            if (!QFile::exists(it.key()) || readFile(it.key()) != it.value())
                damaged << it.key();
        for (const QString& database : QStringList{Cast + QStringLiteral("Vireodb\\VireoAdm.fdb"),
                                                   Cast + QStringLiteral("Vireodb\\VireoAudio.fdb")})
            if (QFileInfo(host(database)).size() <= 0)
                damaged << host(database);
        EXPECT_TRUE(damaged.isEmpty()) << name.toStdString() << ": installation files changed or missing: "
                                       << shortNames(damaged).toStdString();

        // The service's archive: whole; a new one is kept and must hold whole files only.
        const FileIdentity archiveNow = IdentityOf(serviceArchive());
        EXPECT_TRUE(archiveNow.exists) << name.toStdString() << ": the service's archive is gone";
        const bool newDelivery = archiveNow.exists && !(archiveNow == archiveSeen);
        if (archiveNow.exists) {
            QByteArray said;
            EXPECT_TRUE(SevenZipTests(serviceArchive(), &said))
                << name.toStdString() << ": 7z t fails on the service's archive:\n"
                << said.toStdString();
        }
        QMap<QString, QByteArray> got;
        if (newDelivery) {
            ++deliveries;
            archiveSeen = archiveNow;
            deliveredSinceChange << keepCopy(QStringLiteral("delivery-%1.zip").arg(round));
            got = entries(deliveredSinceChange.last());
            QStringList foreign;
            for (auto it = got.cbegin(); it != got.cend(); ++it) {
                const QString file = hostOfEntry(it.key(), true);
                if (IsDatabase(file))
                    continue;
                if (file.isEmpty() || !versions.value(file).contains(it.value()))
                    foreign << it.key() + QStringLiteral(" (%1 bytes)").arg(it.value().size());
            }
            EXPECT_TRUE(foreign.isEmpty())
                << name.toStdString() << ": the delivered archive holds bytes its files never had: "
                << foreign.join(QStringLiteral(", ")).toStdString();
            found << QStringLiteral("new archive delivered (%1 files)").arg(got.size());
        }

        // The settings: readable; a moment moves only with a delivered
        // archive that holds every file changed since the old moment.
        const Moments after = moments();
        EXPECT_TRUE(after.readable) << name.toStdString() << ": " << after.problem.toStdString();
        bool moved = false;
        if (after.readable && before.readable) {
            const Timestamp now = TimestampFromUnixMs(QDateTime::currentMSecsSinceEpoch());
            for (int i = 0; i < 3; ++i) {
                if (after.texts[i] == before.texts[i])
                    continue;
                moved = true;
                EXPECT_TRUE(newDelivery && after.values[i] > before.values[i] && after.values[i] <= now)
                    << name.toStdString() << ": a moment moved from " << before.texts[i].toStdString() << " to "
                    << after.texts[i].toStdString() << (newDelivery ? "" : " without a delivered archive");
            }
            if (moved) {
                ++movedRounds;
                found << QStringLiteral("moments now ") + after.describe();
            }
        }
        if (moved && newDelivery) {
            QStringList missing;
            for (auto it = changed.cbegin(); it != changed.cend(); ++it) {
                bool carried = false;
                for (auto entry = got.cbegin(); entry != got.cend() && !carried; ++entry)
                    carried = hostOfEntry(entry.key(), true) == it.key() && entry.value() == it.value();
                if (!carried)
                    missing << it.key();
            }
            EXPECT_TRUE(missing.isEmpty())
                << name.toStdString() << ": the moments moved past changes the delivered archive lacks: "
                << shortNames(missing).toStdString();
        }

        const bool swept = pastTheSweep(marked);
        sweptRounds += swept ? 1 : 0;
        removeMarks();
        checkSweep(swept, name);
        if (boxUp) {
            ++boxRounds;
            found << QStringLiteral("a box was up");
        }
        // Saved moments may read as before: two exports in the same two seconds
        // start from the same moment. The settings file is replaced on every save.
        checkNoBoxStopped(boxUp, moved || !(IdentityOf(host(SettingsFile)) == settingsBefore), atRootBefore, name);
        const QStringList left = leftovers();
        if (!left.isEmpty())
            found << QStringLiteral("left: ") + shortNames(left);
        const QStringList atRoot = archivesAtRoot();
        if (!atRoot.isEmpty())
            found << QStringLiteral("at C:\\: ") + atRoot.join(QStringLiteral(", "));
        if (found.isEmpty())
            found << QStringLiteral("nothing changed");
        Print(QStringLiteral("%1: change %2, %3, %4%5: %6")
                  .arg(name)
                  .arg(generation)
                  .arg(geral ? QStringLiteral("Geral") : QStringLiteral("Dados+Áudios+Músicas"))
                  .arg(describe(moment, fullRunMs, reached))
                  .arg(swept ? QStringLiteral(", got past its sweep") : QString())
                  .arg(found.join(QStringLiteral("; "))));
        if (HasFailure())
            return;
        // Delivered and recorded: the next round gets new changes.
        if (moved) {
            checkChangeArrived(name);
            change();
        }
    }

    // One export to its final message; the change reached the service, and
    // nothing a killed run left is still there.
    ASSERT_GT(runToTheEnd(Kind::Export, QStringLiteral("the export after the kills")), 0);
    const FileIdentity last = IdentityOf(serviceArchive());
    ASSERT_TRUE(last.exists);
    if (!(last == archiveSeen))
        deliveredSinceChange << keepCopy(QStringLiteral("delivery-final.zip"));
    checkChangeArrived(QStringLiteral("the export after the kills"));
    checkSweep(true, QStringLiteral("the export after the kills"));
    EXPECT_TRUE(carried_.isEmpty()) << "left after a complete export: " << shortNames(carried_).toStdString();
    Print(QStringLiteral("exports: %1 kills over %2 changes, %3 past their sweep, %4 archives delivered, moments "
                         "moved in %5, a box up in %6")
              .arg(rounds)
              .arg(generation)
              .arg(sweptRounds)
              .arg(deliveries)
              .arg(movedRounds)
              .arg(boxRounds));
}

// --- Imports --------------------------------------------------------------------------

TEST_F(CrashTest, ImportsKilledAtAnyMomentRestoreWholeFilesAndRemoveTheServiceCopyLast)
{
    // The archive to restore: one complete export of everything.
    ASSERT_GT(runToTheEnd(Kind::Export, QStringLiteral("the export of the archive to restore")), 0);
    const QString full = keepCopy(QStringLiteral("full.zip"));
    QMap<QString, QByteArray> archived;  // drive files of the archive, by host path
    {
        const QMap<QString, QByteArray> got = entries(full);
        for (auto it = got.cbegin(); it != got.cend(); ++it)
            if (!hostOfEntry(it.key()).isEmpty())
                archived.insert(hostOfEntry(it.key()), it.value());
    }
    ASSERT_TRUE(archived.contains(host(Cast + QStringLiteral("Trilhas\\longa.mp3"))));

    // Damage: two files deleted, three altered.
    QMap<QString, std::optional<QByteArray>> damage;
    damage.insert(host(Cast + QStringLiteral("Comerciais\\padaria.mp3")), std::nullopt);
    damage.insert(host(Cast + QStringLiteral("Listas\\Segunda.lst")), std::nullopt);
    damage.insert(host(Cast + QStringLiteral("Vireo.ini")),
                  archived.value(host(Cast + QStringLiteral("Vireo.ini"))) + "alterado\r\n");
    damage.insert(host(QStringLiteral("D:\\Musicas\\Rock\\02 - Motor.mp3")), Noise(1000, 90));
    damage.insert(host(Cast + QStringLiteral("Trilhas\\longa.mp3")),
                  archived.value(host(Cast + QStringLiteral("Trilhas\\longa.mp3"))).left(1700000));
    const auto applyDamage = [&] {
        for (auto it = damage.cbegin(); it != damage.cend(); ++it) {
            if (it.value())
                writeFile(it.key(), *it.value());
            else
                QFile::remove(it.key());
        }
    };
    // Whether every archived file holds its archived bytes; the ones that do not.
    const auto notRestored = [&] {
        QStringList files;
        for (auto it = archived.cbegin(); it != archived.cend(); ++it)
            if (!QFile::exists(it.key()) || readFile(it.key()) != it.value())
                files << it.key();
        return files;
    };
    const QMap<QString, QByteArray> outside = [&] {
        QMap<QString, QByteArray> files;
        for (auto it = written_.cbegin(); it != written_.cend(); ++it)
            if (!archived.contains(it.key()))
                files.insert(it.key(), it.value());
        return files;
    }();

    // One complete import, timed.
    applyDamage();
    const qint64 fullRunMs = runToTheEnd(Kind::Import, QStringLiteral("the first import"));
    ASSERT_GT(fullRunMs, 0);
    ASSERT_EQ(notRestored(), QStringList());
    ASSERT_FALSE(QFile::exists(serviceArchive())) << "a complete import leaves the service's copy";
    Print(QStringLiteral("full import: %1 ms, %2 files restored").arg(fullRunMs).arg(archived.size()));

    putIntoService(full);
    applyDamage();
    std::uniform_int_distribution<qint64> delays(0, fullRunMs);
    int removals = 0, completeRounds = 0;
    // After the seeded moments, kills at the points where a run is most
    // easily caught half-way: the download just written, the first file
    // restored, the service's copy just removed.
    const QString damagedFile = host(Cast + QStringLiteral("Vireo.ini"));
    struct Target {
        QString what;
        bool everyImport;                              // every import gets there; a round that does not fails
        std::function<std::function<bool()>()> watch;  // made when the round starts
    };
    const std::vector<Target> targeted{
        {QStringLiteral("the downloaded archive is beside the program"), false,
         [&] {
             return [&, before = IdentityOf(downloadedArchive())] {
                 const FileIdentity now = IdentityOf(downloadedArchive());
                 return now.exists && !(now == before);
             };
         }},
        {QStringLiteral("the restore has replaced a file"), true,
         [&] { return [&, before = IdentityOf(damagedFile)] { return !(IdentityOf(damagedFile) == before); }; }},
        {QStringLiteral("the service's copy is gone"), true,
         [&] { return [&] { return !QFile::exists(serviceArchive()); }; }},
    };
    const int rounds = KillRounds + int(targeted.size());
    for (int round = 1; round <= rounds; ++round) {
        KillMoment moment;
        bool mustReach = false;
        if (round <= KillRounds) {
            moment.delayMs = delays(rng_);
        } else {
            const Target& target = targeted[size_t(round - KillRounds - 1)];
            moment.delayMs = 3 * fullRunMs;
            moment.what = target.what;
            moment.reached = target.watch();
            mustReach = target.everyImport;
        }
        const QString name = QStringLiteral("import round %1/%2 (seed %3)").arg(round).arg(rounds).arg(seed_);
        // Moments a day back: an import that saves its moments within the
        // second of the round before still shows as a move.
        setMoments(TimestampFromUnixMs(QDateTime::currentMSecsSinceEpoch() - 24LL * 3600 * 1000));
        const Moments before = moments();
        const FileIdentity settingsBefore = IdentityOf(host(SettingsFile));
        QMap<QString, qint64> databaseSizes;
        for (auto it = archived.cbegin(); it != archived.cend(); ++it)
            if (IsDatabase(it.key()))
                databaseSizes.insert(it.key(), QFileInfo(it.key()).size());
        const RoundMarks marked = markRound();

        QString problem;
        bool reached = false;
        const bool boxUp = killedRun(Kind::Import, false, moment, &problem, &reached);
        ASSERT_TRUE(problem.isEmpty()) << name.toStdString() << ": " << problem.toStdString();
        EXPECT_TRUE(reached || !mustReach)
            << name.toStdString() << ": the run never got to where " << moment.what.toStdString();
        QStringList found;

        // Every archived file: its damaged bytes or its archived ones, never a part.
        QStringList broken;
        int restored = 0;
        for (auto it = archived.cbegin(); it != archived.cend(); ++it) {
            const bool exists = QFile::exists(it.key());
            if (IsDatabase(it.key())) {
                // The engine writes into a database it attaches: its size tells a whole one.
                const qint64 size = QFileInfo(it.key()).size();
                if (!exists || (size != it.value().size() && size != databaseSizes.value(it.key())))
                    broken << it.key() + QStringLiteral(" (%1 bytes)").arg(size);
                continue;
            }
            const QByteArray bytes = exists ? readFile(it.key()) : QByteArray();
            if (exists && bytes == it.value()) {
                ++restored;
                continue;
            }
            const bool isDamaged = damage.contains(it.key());
            const bool asDamaged =
                isDamaged ? (damage.value(it.key()) ? exists && bytes == *damage.value(it.key()) : !exists) : false;
            if (!asDamaged)
                broken << it.key() +
                              (exists ? QStringLiteral(" (%1 bytes)").arg(bytes.size()) : QStringLiteral(" (missing)"));
        }
        for (auto it = outside.cbegin(); it != outside.cend(); ++it)
            if (readFile(it.key()) != it.value())
                broken << it.key() + QStringLiteral(" (not in the archive, changed)");
        EXPECT_TRUE(broken.isEmpty()) << name.toStdString() << ": files neither as they were nor as archived: "
                                      << shortNames(broken).toStdString();

        // The service's copy goes only after every file is back (and is never
        // replaced: an import reads it).
        const bool removed = !QFile::exists(serviceArchive());
        EXPECT_TRUE(removed || IdentityOf(serviceArchive()) == marked.service)
            << name.toStdString() << ": the service's archive changed during an import";
        const QStringList missing = notRestored();
        if (removed) {
            ++removals;
            EXPECT_TRUE(missing.isEmpty())
                << name.toStdString()
                << ": the service's copy was removed before these were restored: " << shortNames(missing).toStdString();
            found << QStringLiteral("service's copy removed");
        } else {
            QByteArray said;
            EXPECT_TRUE(SevenZipTests(serviceArchive(), &said))
                << name.toStdString() << ": 7z t fails on the service's archive:\n"
                << said.toStdString();
        }
        if (missing.isEmpty())
            ++completeRounds;
        found
            << QStringLiteral("%1 of %2 files as archived").arg(archived.size() - missing.size()).arg(archived.size());

        // The settings: readable; the moments move only after the removal.
        const Moments after = moments();
        EXPECT_TRUE(after.readable) << name.toStdString() << ": " << after.problem.toStdString();
        if (after.readable && before.readable && !(after == before)) {
            EXPECT_TRUE(removed) << name.toStdString() << ": the moments moved to " << after.describe().toStdString()
                                 << " while the service still holds the archive";
            found << QStringLiteral("moments now ") + after.describe();
        }

        const bool swept = pastTheSweep(marked);
        removeMarks();
        checkSweep(swept, name);
        if (boxUp)
            found << QStringLiteral("a box was up");
        checkNoBoxStopped(boxUp, !(after == before) || !(IdentityOf(host(SettingsFile)) == settingsBefore), {}, name);
        const QStringList left = leftovers();
        if (!left.isEmpty())
            found << QStringLiteral("left: ") + shortNames(left);
        Print(QStringLiteral("%1: %2%3: %4")
                  .arg(name)
                  .arg(describe(moment, fullRunMs, reached))
                  .arg(swept ? QStringLiteral(", got past its sweep") : QString())
                  .arg(found.join(QStringLiteral("; "))));
        if (HasFailure())
            return;
        // The next round finds the archive on the service and files to restore.
        if (removed) {
            putIntoService(full);
            applyDamage();
        }
    }

    // One import to its final message: every file back byte for byte, the
    // service's copy gone, nothing left behind.
    ASSERT_GT(runToTheEnd(Kind::Import, QStringLiteral("the import after the kills")), 0);
    EXPECT_EQ(notRestored(), QStringList());
    EXPECT_FALSE(QFile::exists(serviceArchive()));
    EXPECT_FALSE(QFile::exists(host(Installation::ExeFolder) + QLatin1Char('/') + ArchiveFile));
    checkSweep(true, QStringLiteral("the import after the kills"));
    EXPECT_TRUE(carried_.isEmpty()) << "left after a complete import: " << shortNames(carried_).toStdString();
    Print(QStringLiteral("imports: %1 kills, the service's copy removed in %2, every file as archived after %3")
              .arg(rounds)
              .arg(removals)
              .arg(completeRounds));
}

// Whether this process has a network namespace of its own, entered through
// unshare(1) by main() below.
bool InOwnNetworkNamespace()
{
    return qEnvironmentVariableIsSet("VZ_CRASH_NETNS");
}

}  // namespace

// The service must listen on the address built into the program, a fixed
// port: the test runs in a network namespace of its own, where that port is
// free and nothing else on the machine is reached. Without one yet, main
// starts itself again through unshare(1) (-n as root, -rn otherwise).
int main(int argc, char** argv)
{
    if (!InOwnNetworkNamespace()) {
        char self[4096];
        const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
        if (length <= 0) {
            std::perror("readlink /proc/self/exe");
            return 1;
        }
        self[length] = '\0';
        ::setenv("VZ_CRASH_NETNS", "1", 1);
        std::vector<char*> arguments{const_cast<char*>("unshare"), const_cast<char*>(::geteuid() == 0 ? "-n" : "-rn"),
                                     const_cast<char*>("--"), self};
        for (int i = 1; i < argc; ++i)
            arguments.push_back(argv[i]);
        arguments.push_back(nullptr);
        ::execvp("unshare", arguments.data());
        std::perror("unshare");
        return 1;
    }
    if (std::system("ip link set lo up") != 0) {
        std::fprintf(stderr, "cannot bring up lo in the test's network namespace (iproute2?)\n");
        return 1;
    }
    // The same regional settings as the program's (LC_ALL=C.UTF-8 there too).
    std::setlocale(LC_ALL, "C.UTF-8");
    ::testing::InitGoogleTest(&argc, argv);

    // The embedded Firebird engine needs a lock folder it can write.
    vz::test::TempDir lockFolder;
    if (::access("/tmp/firebird", F_OK) == 0 && ::access("/tmp/firebird", W_OK) != 0)
        ::setenv("FIREBIRD_LOCK", QFile::encodeName(lockFolder.path()).constData(), 1);

    XvfbSession xvfb;
    if (!xvfb.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(xvfb.error()));
        return 1;
    }
    xvfb.startTrayHost();
    const int result = RUN_ALL_TESTS();
    xvfb.stop();
    return result;
}
