// Whole export and import runs with faults injected under the platform's
// file calls (tests/support/faultfs): a full disk after N bytes, read errors,
// refused creates, failing renames, each where a run writes or reads. After
// every faulted run the invariants of a backup that loses nothing hold:
//   - every installation file holds its old bytes or its complete new bytes;
//   - a category's timestamp moves only when its data was delivered, so a
//     clean run afterwards carries everything the faulted one did not;
//   - the service's copy is removed only after a complete restore;
//   - a run that did not end cleanly showed the user something.

#include "tests/e2e/RunTestKit.h"
#include "tests/support/faultfs/FaultInjection.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <iostream>

using namespace vz;
using namespace vz::test;
using faults::Fault;
using faults::Rule;

namespace {

const Timestamp ImportNow = LocalTime(2090, 6, 2, 9, 30, 0);
const QString Padaria = Installation::SystemFolder + QStringLiteral("Comerciais\\padaria.mp3");
const QString Trilha = Installation::SystemFolder + QStringLiteral("Trilhas\\manha.mp3");
const QString Rock = QStringLiteral("D:\\Musicas\\Rock\\01 - Estrada.mp3");
const QString Database = Installation::SystemFolder + QStringLiteral("Vireodb\\VireoAudio.fdb");

// Every file below the installation's drives, by Windows path.
QMap<QString, QByteArray> InstallationFiles(const Installation& station)
{
    QMap<QString, QByteArray> files;
    for (const QString& letter : {QStringLiteral("c"), QStringLiteral("d")}) {
        const QString root = station.prefix.drive(letter);
        QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QString windows = letter.toUpper() + QStringLiteral(":\\") + path.mid(root.size() + 1);
            windows.replace(QLatin1Char('/'), QLatin1Char('\\'));
            // The program's own folder (downloads, the restore folder, the log),
            // the drive root (archives being delivered) and the staging mirror
            // are not the installation.
            if (windows.startsWith(Installation::ExeFolder) || windows.count(QLatin1Char('\\')) == 1 ||
                windows.startsWith(QStringLiteral("C:\\Replicacao\\")))
                continue;
            files.insert(windows, readFile(path));
        }
    }
    return files;
}

std::string Folder(const QString& hostFolder) { return QFile::encodeName(hostFolder).toStdString() + "/"; }

// Where a fault applies, as a host path prefix made from the station.
struct FaultCase {
    const char* name;
    Fault fault;
    // The host path prefix; `stage` tells when the rule is armed.
    std::function<std::string(const Installation&)> where;
    long long afterCalls;
    long long afterBytes;
};

// A test name made of the case's name.
std::string CaseName(const ::testing::TestParamInfo<FaultCase>& p)
{
    std::string name;
    for (const char* c = p.param.name; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

bool ShowedSomething(const DriverKit& kit, qsizetype messagesBefore)
{
    return kit.dialogs.messageTexts().size() > messagesBefore || !kit.errors.isEmpty() ||
           kit.frame.exportProgress.contains(ExportDriver::DatabaseFailedText);
}

// --- Export ---------------------------------------------------------------------------

class ExportFaultTest : public ::testing::TestWithParam<FaultCase> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kit.service.running());
        kit.prepare(FileTime - 1);  // everything counts as changed
        kit.dialogs.setLenientMessages(true);
        installationBefore = InstallationFiles(kit.station);
        expected = kit.station.exportedFiles();
    }
    // Copies of every archive the service received, in order.
    void keepDelivered()
    {
        if (QFile::exists(kit.service.archivePath()))
            delivered << ArchivedFiles(kit.service.archivePath());
    }

    DriverKit kit;
    QMap<QString, QByteArray> installationBefore;
    QMap<QString, FileState> expected;
    QList<QMap<QString, QByteArray>> delivered;
};

TEST_P(ExportFaultTest, NothingIsLostAndTheNextExportCarriesWhatThisOneDidNot)
{
    const FaultCase& c = GetParam();
    const Timestamp before = kit.settings.LastBackupDados;
    {
        faults::ScopedFault fault(Rule{c.fault, c.where(kit.station), {}, c.afterCalls, c.afterBytes, false});
        kit.runExport(AllCategories);
    }
    const bool completed = kit.frame.exportSteps.at(4) == StepDone;
    std::cout << c.name << ": " << (completed ? "completed" : "not completed") << ", messages "
              << kit.dialogs.messageTexts().join(QStringLiteral(" | ")).toStdString()
              << (kit.errors.isEmpty() ? "" : ", error " + kit.errors.join(u'|').toStdString()) << std::endl;

    // An export reads the installation and never writes it.
    EXPECT_EQ(InstallationFiles(kit.station).keys().join(u'\n').toStdString(),
              installationBefore.keys().join(u'\n').toStdString());
    for (auto it = installationBefore.begin(); it != installationBefore.end(); ++it) {
        if (!it.key().startsWith(QStringLiteral("C:\\Vireo\\Vireo Cast\\Vireodb\\"))) {  // databases it attached
            EXPECT_EQ(kit.station.read(it.key()), it.value()) << it.key().toStdString();
        }
    }
    // Timestamps move only with a delivered archive.
    if (!completed) {
        EXPECT_EQ(kit.settings.LastBackupDados, before);
        EXPECT_EQ(kit.settings.LastBackupAudio, before);
        EXPECT_EQ(kit.settings.LastBackupMusica, before);
        EXPECT_EQ(kit.settings.saves, 0);
    }
    EXPECT_TRUE(ShowedSomething(kit, 0)) << "a faulted run said nothing";
    keepDelivered();

    // A clean export afterwards carries whatever the faulted one did not (an
    // archive the faulted run left at the drive root is replaced, as asked).
    kit.dialogs.answerMessage(QStringLiteral("overwrite"), ButtonYes).answerMessage(QStringLiteral("overwrite"), ButtonYes);
    kit.clock.advanceMs(3600 * 1000);
    QFile::remove(kit.service.archivePath());
    kit.runExport(AllCategories);
    EXPECT_EQ(kit.frame.exportSteps.at(4), StepDone) << kit.dialogs.messageTexts().join(u'\n').toStdString();
    keepDelivered();
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        if (it.key().startsWith(QStringLiteral("\\\\")) || it.key().contains(QStringLiteral("\\Vireodb\\")))
            continue;  // shares are not restored; the databases changed when attached
        bool carried = false;
        for (const auto& archive : delivered)
            carried = carried || archive.value(it.key()) == it.value().bytes;
        EXPECT_TRUE(carried) << "never delivered: " << it.key().toStdString();
    }
}

const FaultCase ExportCases[] = {
    {"staging disk full at once", Fault::NoSpace,
     [](const Installation& s) { return Folder(s.prefix.drive(QStringLiteral("c")) + QStringLiteral("/Replicacao")); },
     0, 0},
    {"staging disk full after 20000 bytes", Fault::NoSpace,
     [](const Installation& s) { return Folder(s.prefix.drive(QStringLiteral("c")) + QStringLiteral("/Replicacao")); },
     0, 20000},
    {"staging disk full after 90000 bytes", Fault::NoSpace,
     [](const Installation& s) { return Folder(s.prefix.drive(QStringLiteral("c")) + QStringLiteral("/Replicacao")); },
     0, 90000},
    {"staging create refused after 4", Fault::CreateDenied,
     [](const Installation& s) { return Folder(s.prefix.drive(QStringLiteral("c")) + QStringLiteral("/Replicacao")); },
     4, -1},
    {"reading the audio files fails", Fault::ReadError,
     [](const Installation& s) { return Folder(s.host(Installation::SystemFolder + QStringLiteral("Comerciais"))); },
     0, -1},
    {"reading the music fails after 1", Fault::ReadError,
     [](const Installation& s) { return Folder(s.host(QStringLiteral("D:\\Musicas"))); }, 1, -1},
    {"archive disk full", Fault::NoSpace,
     [](const Installation& s) { return QFile::encodeName(s.prefix.drive(QStringLiteral("c"))).toStdString() + "/{"; },
     0, 30000},
    {"temporary archive disk full", Fault::NoSpace,
     [](const Installation&) { return QFile::encodeName(hostfs::tempFolder()).toStdString() + "/.~vz"; }, 0, 30000},
    {"reading the archive for the upload fails", Fault::ReadError,
     [](const Installation& s) { return QFile::encodeName(s.prefix.drive(QStringLiteral("c"))).toStdString() + "/{"; },
     0, -1},
};

INSTANTIATE_TEST_SUITE_P(Faults, ExportFaultTest, ::testing::ValuesIn(ExportCases),
                         CaseName);

// --- Import ---------------------------------------------------------------------------

class ImportFaultTest : public ::testing::TestWithParam<FaultCase> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kit.service.running());
        kit.prepare(FileTime - 1);
        kit.dialogs.answerMessage(ExportDriver::FinishedText);
        kit.runExport(Geral);
        ASSERT_TRUE(kit.dialogs.scriptDone());
        ASSERT_TRUE(QFile::exists(kit.service.archivePath()));
        archived = ArchivedFiles(kit.service.archivePath());
        ASSERT_TRUE(archived.contains(Padaria) && archived.contains(Database));
        // The station damaged: files deleted and altered.
        QFile::remove(kit.station.host(Padaria));
        kit.station.put(Trilha, "alterada", LocalTime(2090, 6, 1, 11));
        kit.station.put(Rock, "alterada", LocalTime(2090, 6, 1, 11));
        damaged = InstallationFiles(kit.station);
        kit.clock.set(ImportNow);
        kit.setTimestamps(FileTime - 1);
        kit.settings.saves = 0;
        kit.dialogs.setLenientMessages(true);
        messagesBefore = kit.dialogs.messageTexts().size();
    }
    // Every installation file holds its damaged bytes or the archived ones,
    // and every file that was there still is.
    void expectOldOrNewBytes()
    {
        const QMap<QString, QByteArray> now = InstallationFiles(kit.station);
        for (auto it = damaged.begin(); it != damaged.end(); ++it) {
            ASSERT_TRUE(now.contains(it.key())) << "gone: " << it.key().toStdString();
            const QByteArray& bytes = now.value(it.key());
            EXPECT_TRUE(bytes == it.value() || bytes == archived.value(it.key()))
                << "neither old nor new: " << it.key().toStdString() << " (" << bytes.size() << " bytes)";
        }
        for (auto it = archived.begin(); it != archived.end(); ++it) {
            if (now.contains(it.key()) && !damaged.contains(it.key())) {
                EXPECT_EQ(now.value(it.key()), it.value()) << "a restored file is not whole: " << it.key().toStdString();
            }
        }
        // No temporary file stays beside the installation's files.
        QDirIterator files(kit.station.prefix.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            EXPECT_FALSE(path.contains(QStringLiteral("/.~vz")) && !path.contains(QStringLiteral("/Zuvavivevo/")))
                << "left: " << path.toStdString();
        }
    }

    DriverKit kit;
    QMap<QString, QByteArray> archived, damaged;
    qsizetype messagesBefore = 0;
};

TEST_P(ImportFaultTest, EveryFileIsOldOrNewAndTheServiceCopyGoesOnlyAfterACompleteRestore)
{
    const FaultCase& c = GetParam();
    // Armed as the step named by the case begins: the download and extraction
    // write into the program's folder, the restore into the installation.
    const Rule rule{c.fault, c.where(kit.station), {}, c.afterCalls, c.afterBytes, false};
    const bool atRestore = std::string(c.name).find("restore") != std::string::npos;
    bool armed = false;
    kit.frame.onPump = [&] {
        if (!armed && (!atRestore || kit.frame.importSteps.at(2) == StepRunning)) {
            faults::arm(rule);
            armed = true;
        }
    };
    kit.runImport(ImportSource::Web);
    faults::disarm();
    kit.frame.onPump = nullptr;
    ASSERT_TRUE(armed);
    const bool completed = kit.frame.importSteps.at(2) == StepDone;
    std::cout << c.name << ": " << (completed ? "completed" : "not completed") << ", "
              << faults::failuresInjected() << " fault(s), messages "
              << kit.dialogs.messageTexts().mid(messagesBefore).join(QStringLiteral(" | ")).toStdString()
              << (kit.errors.isEmpty() ? "" : ", error " + kit.errors.join(u'|').toStdString()) << std::endl;

    expectOldOrNewBytes();
    EXPECT_EQ(QFile::exists(kit.service.archivePath()), !completed);
    if (completed) {
        for (auto it = archived.begin(); it != archived.end(); ++it)
            EXPECT_EQ(kit.station.read(it.key()), it.value()) << it.key().toStdString();
        EXPECT_EQ(kit.settings.LastBackupDados, ImportNow);
    } else {
        EXPECT_EQ(kit.settings.LastBackupDados, FileTime - 1);
        EXPECT_EQ(kit.settings.saves, 0);
        EXPECT_TRUE(ShowedSomething(kit, messagesBefore)) << "a faulted import said nothing";
        // Imported again without the fault, everything comes back.
        kit.runImport(ImportSource::Web);
        EXPECT_EQ(kit.frame.importSteps.at(2), StepDone) << kit.dialogs.messageTexts().join(u'\n').toStdString();
        for (auto it = archived.begin(); it != archived.end(); ++it)
            EXPECT_EQ(kit.station.read(it.key()), it.value()) << it.key().toStdString();
        EXPECT_FALSE(QFile::exists(kit.service.archivePath()));
        expectOldOrNewBytes();
    }
}

std::string InstallationFolder(const Installation& s) { return Folder(s.host(QStringLiteral("C:\\Vireo\\Vireo Cast"))); }
std::string RestoreFolder(const Installation& s)
{
    return Folder(s.host(Installation::ExeFolder + QStringLiteral("Replicacao")));
}

const FaultCase ImportCases[] = {
    // The restore with a disk that fills after N bytes, as with a file size limit.
    {"restore disk full at once", Fault::NoSpace, InstallationFolder, 0, 0},
    {"restore disk full after 10000 bytes", Fault::NoSpace, InstallationFolder, 0, 10000},
    {"restore disk full after 60000 bytes", Fault::NoSpace, InstallationFolder, 0, 60000},
    {"restore disk full on D", Fault::NoSpace,
     [](const Installation& s) { return Folder(s.prefix.drive(QStringLiteral("d"))); }, 0, 100},
    {"restore create refused after 3", Fault::CreateDenied, InstallationFolder, 3, -1},
    {"restore rename fails after 2", Fault::RenameFails, InstallationFolder, 2, -1},
    {"restore reading the unpacked files fails after 5", Fault::ReadError, RestoreFolder, 5, -1},
    {"extraction disk full after 30000 bytes", Fault::NoSpace, RestoreFolder, 0, 30000},
    {"extraction rename fails", Fault::RenameFails, RestoreFolder, 0, -1},
    {"download disk full", Fault::NoSpace,
     [](const Installation& s) { return Folder(s.host(QStringLiteral("C:\\Vireo\\Zuvavivevo"))) + ".~vz"; }, 0, 1000},
};

INSTANTIATE_TEST_SUITE_P(Faults, ImportFaultTest, ::testing::ValuesIn(ImportCases),
                         CaseName);

}  // namespace
