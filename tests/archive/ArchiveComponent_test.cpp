// The component as export and import use it: volume sets on drive C: of a
// prefix, every question and message through scripted dialogs.

#include "archive/ArchiveMessages.h"
#include "archive/LittleEndian.h"
#include "platform/Timestamp.h"
#include "tests/archive/ArchiveTestKit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

namespace {

constexpr qint64 kVolume = 65536;

// A staging tree like export's, with the awkward cases.
void makeStagingTree(ComponentBench& b)
{
    const QString root = b.c(QStringLiteral("Replicacao/C/Vireo"));
    writeFile(root + QStringLiteral("/Músicas/Canção de ninar.mp3"), randomBytes(200000, 1));  // spans volumes
    writeFile(root + QStringLiteral("/Músicas/exato.mp3"), randomBytes(kVolume, 2));           // exactly the limit
    writeFile(root + QStringLiteral("/Grades/Programação 01.txt"), textBytes(300000, 3));
    writeFile(root + QStringLiteral("/Grades/vazio.txt"), QByteArray());
    writeFile(root + QStringLiteral("/Vireo Cast/Vireodb/VireoAdm.fdb"), textBytes(90000, 4));
    writeFile(root + QStringLiteral("/Vireo Cast/.oculto"), QByteArrayLiteral("hidden"));
    setMTime(root + QStringLiteral("/Grades/vazio.txt"), 1600000003000);
}

QStringList volumeNames(const ComponentBench& b)
{
    QStringList names = QDir(b.c(QString())).entryList({QStringLiteral("1A2B.*")}, QDir::Files, QDir::Name);
    return names;
}

const DialogRecord& onlyMessage(const ScriptedDialogs& d)
{
    EXPECT_EQ(d.records().size(), 1u);
    return d.records().front();
}

}  // namespace

TEST(ArchiveComponent, RoundTripThroughManyFullVolumes)
{
    ComponentBench b;
    makeStagingTree(b);
    QDir().mkpath(b.c(QStringLiteral("tmp")));
    auto exporter = b.exporter(kVolume);
    exporter->TempDir = QStringLiteral("C:\\tmp\\");
    ASSERT_EQ(exporter->Add(), 0);
    EXPECT_TRUE(b.dialogs.records().empty()) << b.dialogs.messageTexts().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(listFiles(b.c(QStringLiteral("tmp"))).isEmpty());

    const QStringList names = volumeNames(b);
    ASSERT_GE(names.size(), 4) << names.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(names.first(), QStringLiteral("1A2B.z01"));
    EXPECT_EQ(names.last(), QStringLiteral("1A2B.zip"));
    EXPECT_EQ(exporter->VolumeCount(), names.size());
    EXPECT_EQ(exporter->Entries().size(), 5u);
    const QByteArray first = readFile(b.c(QStringLiteral("1A2B.z01")));
    EXPECT_TRUE(first.startsWith(QByteArrayLiteral("PK\x07\x08PK\x03\x04")));
    qint64 commonTime = -1;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QFileInfo info(b.c(names[i]));
        if (i + 1 < names.size()) {
            // Full, unless the next volume begins with a header that did not fit.
            const QByteArray next = readFile(b.c(names[i + 1])).left(4);
            if (info.size() != kVolume) {
                EXPECT_TRUE(next == "PK\x03\x04" || next == "PK\x01\x02" || next == "PK\x05\x06") << names[i].toStdString();
            }
            EXPECT_LE(info.size(), kVolume);
        }
        const qint64 ms = info.lastModified().toMSecsSinceEpoch();
        EXPECT_EQ(ms % 2000, 0) << "2-second steps";
        if (commonTime < 0)
            commonTime = ms;
        EXPECT_EQ(ms, commonTime) << names[i].toStdString();
    }

    auto importer = b.importer();
    importer->TempDir = QStringLiteral("C:\\tmp\\");
    importer->SetArchiveFileName(QStringLiteral("C:\\1A2B.zip"));
    importer->ExtractBaseDir = QStringLiteral("C:\\Restauro\\novo\\");  // missing: created with its parent
    ASSERT_EQ(importer->Extract(), 0);
    EXPECT_TRUE(b.dialogs.records().empty());
    EXPECT_TRUE(listFiles(b.c(QStringLiteral("tmp"))).isEmpty());
    const QString restored = b.c(QStringLiteral("Restauro/novo/Replicacao"));
    EXPECT_EQ(readTree(restored), readTree(b.c(QStringLiteral("Replicacao")), false));
    EXPECT_EQ(QFileInfo(restored + QStringLiteral("/C/Vireo/Grades/vazio.txt")).lastModified().toMSecsSinceEpoch(),
              1600000002000);
}

TEST(ArchiveComponent, SmallArchiveIsOneVolumeReadWithoutJoining)
{
    ComponentBench b;
    writeFile(b.c(QStringLiteral("Replicacao/C/a.txt")), textBytes(5000, 1));
    writeFile(b.c(QStringLiteral("Replicacao/C/b.mp3")), randomBytes(3000, 2));
    auto exporter = b.exporter(0);
    ASSERT_EQ(exporter->Add(), 0);
    EXPECT_EQ(volumeNames(b), QStringList{QStringLiteral("1A2B.zip")});
    EXPECT_TRUE(readFile(b.c(QStringLiteral("1A2B.zip"))).startsWith(QByteArrayLiteral("PK\x07\x08PK\x03\x04")));

    // A joined copy would show in the temporary folder while the engine works.
    class TempWatcher final : public EventPump {
    public:
        QString folder;
        bool sawFile = false;
        void ProcessPendingMessages() override { sawFile |= !listFiles(folder).filter(QStringLiteral(".~vz")).isEmpty(); }
    } watcher;
    watcher.folder = b.c(QStringLiteral("tmp"));
    QDir().mkpath(watcher.folder);
    ArchiveComponent importer(b.fs, b.dialogs, watcher, QStringLiteral("Vireo Zuvavivevo"));
    importer.ExtractOptions = ExtractDirNames | ExtractOverwrite | ExtractForceDirs;
    importer.TempDir = QStringLiteral("C:\\tmp\\");
    importer.SetArchiveFileName(QStringLiteral("C:\\1A2B.zip"));
    importer.ExtractBaseDir = QStringLiteral("C:\\R\\");
    ASSERT_EQ(importer.Extract(), 0);
    EXPECT_FALSE(watcher.sawFile);
    EXPECT_EQ(readTree(b.c(QStringLiteral("R/Replicacao"))), readTree(b.c(QStringLiteral("Replicacao"))));

    // A set of several volumes is joined there first, and the copy is gone afterwards.
    auto bigger = b.exporter(1024);
    bigger->MinFreeVolumeSize = 0;
    bigger->SetArchiveFileName(QStringLiteral("C:\\2B.zip"));
    ASSERT_EQ(bigger->Add(), 0);
    importer.SetArchiveFileName(QStringLiteral("C:\\2B.zip"));
    ASSERT_GT(importer.VolumeCount(), 1);
    ASSERT_EQ(importer.Extract(), 0);
    EXPECT_TRUE(watcher.sawFile);
    EXPECT_TRUE(listFiles(watcher.folder).isEmpty());
}

TEST(ArchiveComponent, StoreListHiddenFilesAndFolderEntries)
{
    ComponentBench b;
    writeFile(b.c(QStringLiteral("Replicacao/C/a.mp3")), textBytes(20000, 1));
    writeFile(b.c(QStringLiteral("Replicacao/C/foto.JPG")), textBytes(20000, 2));
    writeFile(b.c(QStringLiteral("Replicacao/C/b.wav")), textBytes(20000, 3));
    writeFile(b.c(QStringLiteral("Replicacao/C/c.fdb")), textBytes(20000, 4));
    writeFile(b.c(QStringLiteral("Replicacao/C/prog.exe")), textBytes(20000, 5));
    writeFile(b.c(QStringLiteral("Replicacao/C/.hidden.txt")), textBytes(20, 6));
    QDir().mkpath(b.c(QStringLiteral("Replicacao/C/empty folder")));
    auto exporter = b.exporter(0);
    ASSERT_EQ(exporter->Add(), 0);
    std::map<QString, quint32> methods;
    for (const auto& e : exporter->Entries())
        methods[e.name] = e.record.method;
    EXPECT_EQ(methods, (std::map<QString, quint32>{{QStringLiteral("Replicacao/C/a.mp3"), 0},
                                                   {QStringLiteral("Replicacao/C/b.wav"), 8},
                                                   {QStringLiteral("Replicacao/C/c.fdb"), 8},
                                                   {QStringLiteral("Replicacao/C/foto.JPG"), 0},
                                                   {QStringLiteral("Replicacao/C/prog.exe"), 8}}));
}

TEST(ArchiveComponent, LeftoverFirstVolumeIsAskedAboutBeforeAnythingIsWritten)
{
    ComponentBench b;
    writeFile(b.c(QStringLiteral("Replicacao/C/a.txt")), textBytes(5000, 1));
    writeFile(b.c(QStringLiteral("1A2B.z01")), QByteArrayLiteral("old volume"));
    auto exporter = b.exporter(kVolume);
    b.dialogs.answerMessage(QStringLiteral("There is already a file C:\\1A2B.z01\nDo you want to overwrite this file"),
                            ButtonNo);
    EXPECT_EQ(exporter->Add(), ArchiveMessage::UserCanceled);
    const DialogRecord& question = onlyMessage(b.dialogs);
    EXPECT_EQ(question.message.caption, QStringLiteral("Confirm"));
    EXPECT_EQ(question.message.buttons, quint32(ButtonYes | ButtonNo | ButtonCancel | ButtonYesToAll));
    EXPECT_EQ(question.message.icon, DialogIcon::Warning);
    EXPECT_EQ(question.message.style, DialogStyle::Component);
    EXPECT_EQ(readFile(b.c(QStringLiteral("1A2B.z01"))), QByteArrayLiteral("old volume"));
    EXPECT_FALSE(QFile::exists(b.c(QStringLiteral("1A2B.zip"))));
}

TEST(ArchiveComponent, YesAsksAgainForTheNextLeftoverYesToAllDoesNot)
{
    ComponentBench b;
    writeFile(b.c(QStringLiteral("Replicacao/C/a.mp3")), randomBytes(150000, 1));  // three volumes
    writeFile(b.c(QStringLiteral("1A2B.z01")), QByteArrayLiteral("old"));
    writeFile(b.c(QStringLiteral("1A2B.z02")), QByteArrayLiteral("old"));
    writeFile(b.c(QStringLiteral("1A2B.zip")), QByteArrayLiteral("old, not even an archive"));
    b.dialogs.setLenientMessages(false);
    // Assigning the name reads the leftover: it is no archive.
    b.dialogs.answerMessage(QStringLiteral("This archive is not a valid Zip archive"));
    auto exporter = b.exporter(kVolume);
    b.dialogs.answerMessage(QStringLiteral("C:\\1A2B.z01"), ButtonYes);
    b.dialogs.answerMessage(QStringLiteral("C:\\1A2B.z02"), ButtonYesToAll);
    ASSERT_EQ(exporter->Add(), 0);
    EXPECT_TRUE(b.dialogs.scriptDone());
    EXPECT_EQ(b.dialogs.records().size(), 3u);  // no question at the rename after YesToAll
    EXPECT_EQ(volumeNames(b), (QStringList{QStringLiteral("1A2B.z01"), QStringLiteral("1A2B.z02"),
                                           QStringLiteral("1A2B.zip")}));
    EXPECT_EQ(QFileInfo(b.c(QStringLiteral("1A2B.z01"))).size(), kVolume);
}

TEST(ArchiveComponent, LeftoverArchiveNameIsAskedAboutOnlyAtTheRename)
{
    ComponentBench b;
    writeFile(b.c(QStringLiteral("Replicacao/C/a.txt")), textBytes(5000, 1));
    ASSERT_EQ(b.exporter(kVolume)->Add(), 0);
    const QByteArray earlier = readFile(b.c(QStringLiteral("1A2B.zip")));
    writeFile(b.c(QStringLiteral("Replicacao/C/a.txt")), textBytes(7000, 2));

    // No: the earlier archive stays, the new last volume keeps its ".z" name.
    b.dialogs.answerMessage(QStringLiteral("There is already a file C:\\1A2B.zip\nDo you want to overwrite this file"),
                            ButtonNo);
    b.dialogs.answerMessage(QStringLiteral("Last part left as : C:\\1A2B.z01"));
    EXPECT_EQ(b.exporter(kVolume)->Add(), 0);
    ASSERT_TRUE(b.dialogs.scriptDone());
    EXPECT_EQ(b.dialogs.records()[0].message.buttons, quint32(ButtonYes | ButtonNo));
    EXPECT_EQ(b.dialogs.records()[1].message.caption, QStringLiteral("Vireo Zuvavivevo"));
    EXPECT_EQ(readFile(b.c(QStringLiteral("1A2B.zip"))), earlier);
    EXPECT_TRUE(readFile(b.c(QStringLiteral("1A2B.z01"))).startsWith(QByteArrayLiteral("PK\x07\x08")));

    // Yes (after agreeing to replace the leftover ".z01"): the new set replaces it.
    b.dialogs.answerMessage(QStringLiteral("C:\\1A2B.z01"), ButtonYes);
    b.dialogs.answerMessage(QStringLiteral("C:\\1A2B.zip"), ButtonYes);
    EXPECT_EQ(b.exporter(kVolume)->Add(), 0);
    ASSERT_TRUE(b.dialogs.scriptDone());
    EXPECT_EQ(volumeNames(b), QStringList{QStringLiteral("1A2B.zip")});
    auto importer = b.importer();
    importer->SetArchiveFileName(QStringLiteral("C:\\1A2B.zip"));
    ASSERT_EQ(importer->Entries().size(), 1u);
    EXPECT_EQ(importer->Entries()[0].record.uncompressedSize, 7000u);
}

TEST(ArchiveComponent, ChecksBeforeWritingShowTheirMessages)
{
    ComponentBench b;
    auto a = b.exporter(kVolume);
    a->SetArchiveFileName(QString());
    b.dialogs.answerMessage(QStringLiteral("Error - no zip file specified!"));
    EXPECT_EQ(a->Add(), ArchiveMessage::NoZipFile);
    b.dialogs.answerMessage(QStringLiteral("Error - no zip file specified!"));
    EXPECT_EQ(a->Extract(), ArchiveMessage::NoZipFile);

    a->SetArchiveFileName(QStringLiteral("C:\\nao existe\\1A2B.zip"));
    b.dialogs.answerMessage(QStringLiteral("Destination directory 'C:\\nao existe' must exist!"));
    EXPECT_EQ(a->Add(), ArchiveMessage::DestinationMustExist);

    a->SetArchiveFileName(QStringLiteral("C:\\1A2B.zip"));
    a->IncludeSpecs.clear();
    b.dialogs.answerMessage(QStringLiteral("Error - no files to zip!"));
    EXPECT_EQ(a->Add(), ArchiveMessage::NoFilesToZip);

    a->IncludeSpecs = QStringList{QStringLiteral("C:\\Replicacao\\")};
    QDir().mkpath(b.c(QStringLiteral("Replicacao")));
    b.dialogs.answerMessage(QStringLiteral("Nothing to do!"));
    EXPECT_EQ(a->Add(), ArchiveMessage::NothingToDo);
    EXPECT_FALSE(QFile::exists(b.c(QStringLiteral("1A2B.zip"))));

    // A read-only archive left from before cannot be replaced.
    writeFile(b.c(QStringLiteral("Replicacao/a.txt")), QByteArrayLiteral("a"));
    writeFile(b.c(QStringLiteral("1A2B.zip")), QByteArrayLiteral("x"));
    QFile::setPermissions(b.c(QStringLiteral("1A2B.zip")), QFile::ReadOwner | QFile::ReadGroup);
    b.dialogs.answerMessage(QStringLiteral("Cannot write to C:\\1A2B.zip"));
    EXPECT_EQ(a->Add(), ArchiveMessage::CannotWriteTo);

    ASSERT_TRUE(b.dialogs.scriptDone());
    for (const DialogRecord& r : b.dialogs.records()) {
        EXPECT_EQ(r.message.caption, QStringLiteral("Vireo Zuvavivevo"));
        EXPECT_EQ(r.message.icon, DialogIcon::Information);
        EXPECT_EQ(r.message.buttons, quint32(ButtonOk));
        EXPECT_EQ(r.message.style, DialogStyle::Component);
    }
}

TEST(ArchiveComponent, UnattendedShowsNothingAndOverwritesLeftovers)
{
    ComponentBench b;
    writeFile(b.c(QStringLiteral("Replicacao/C/a.mp3")), randomBytes(100000, 1));
    auto a = b.exporter(kVolume);
    a->Unattended = true;
    writeFile(b.c(QStringLiteral("1A2B.z01")), QByteArrayLiteral("old"));
    writeFile(b.c(QStringLiteral("1A2B.zip")), QByteArrayLiteral("old"));
    a->SetArchiveFileName(QStringLiteral("C:\\other.zip"));
    a->SetArchiveFileName(QStringLiteral("C:\\1A2B.zip"));  // not an archive: noted, not shown
    EXPECT_EQ(a->Add(), 0);
    EXPECT_TRUE(b.dialogs.records().empty());
    EXPECT_EQ(volumeNames(b), (QStringList{QStringLiteral("1A2B.z01"), QStringLiteral("1A2B.zip")}));
}

namespace {

// A set of three or more volumes from one incompressible file.
void makeSet(ComponentBench& b)
{
    writeFile(b.c(QStringLiteral("Replicacao/C/a.mp3")), randomBytes(150000, 7));
    writeFile(b.c(QStringLiteral("Replicacao/C/b.txt")), textBytes(1000, 8));
    ASSERT_EQ(b.exporter(kVolume)->Add(), 0);
    ASSERT_TRUE(QFile::exists(b.c(QStringLiteral("1A2B.z02"))));
}

}  // namespace

TEST(ArchiveComponent, AMissingMiddleVolumeStopsBeforeAnythingIsExtracted)
{
    ComponentBench b;
    makeSet(b);
    QFile::remove(b.c(QStringLiteral("1A2B.z02")));
    auto importer = b.importer();
    importer->SetArchiveFileName(QStringLiteral("C:\\1A2B.zip"));
    importer->ExtractBaseDir = QStringLiteral("C:\\R\\");
    b.dialogs.answerMessage(QStringLiteral("Input file does not exist"));
    EXPECT_EQ(importer->Extract(), ArchiveMessage::InputFileMissing);
    EXPECT_TRUE(b.dialogs.scriptDone());
    EXPECT_EQ(b.dialogs.records().size(), 1u);
    EXPECT_TRUE(listFiles(b.c(QStringLiteral("R"))).isEmpty());
}

TEST(ArchiveComponent, EmptyOrTruncatedArchiveIsNotAZipArchiveTwice)
{
    for (const QByteArray& content : {QByteArray(), QByteArrayLiteral("PK\x03\x04 truncated right after")}) {
        ComponentBench b;
        writeFile(b.c(QStringLiteral("1A2B.zip")), content);
        auto importer = b.importer();
        b.dialogs.answerMessage(QStringLiteral("This archive is not a valid Zip archive"));
        importer->SetArchiveFileName(QStringLiteral("C:\\1A2B.zip"));
        importer->ExtractBaseDir = QStringLiteral("C:\\R\\");
        b.dialogs.answerMessage(QStringLiteral("This archive is not a valid Zip archive"));
        EXPECT_EQ(importer->Extract(), ArchiveMessage::NotValidZip);
        EXPECT_TRUE(b.dialogs.scriptDone());
        EXPECT_EQ(b.dialogs.records().size(), 2u);
        EXPECT_FALSE(QFile::exists(b.c(QStringLiteral("R"))));
    }
    // A missing archive ends the extraction without a word.
    ComponentBench b;
    auto importer = b.importer();
    importer->SetArchiveFileName(QStringLiteral("C:\\1A2B.zip"));
    importer->ExtractBaseDir = QStringLiteral("C:\\R\\");
    EXPECT_NE(importer->Extract(), 0);
    EXPECT_TRUE(b.dialogs.records().empty());
}

TEST(ArchiveComponent, CommentAndTrailingBytesAreNoObstacle)
{
    ComponentBench b;
    const ToolResult made = runPython(QStringLiteral(
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
        "z.writestr('Replicacao/C/a.txt', b'conteudo ' * 500)\n"
        "z.comment = b'c' * 60000\n"
        "z.close()\n"
        "open(sys.argv[1], 'ab').write(b'trailing bytes' * 10)\n"), {b.c(QStringLiteral("1A2B.zip"))});
    ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();
    ASSERT_EQ(b.importer(QStringLiteral("C:\\1A2B.zip"), QStringLiteral("C:\\R\\"))->Extract(), 0);
    EXPECT_EQ(readFile(b.c(QStringLiteral("R/Replicacao/C/a.txt"))), QByteArray("conteudo ").repeated(500));
}

TEST(ArchiveComponent, AHeaderThatWouldStraddleStartsTheNextVolume)
{
    ComponentBench b;
    // Volume 1: signature, header of a.mp3 (30 + 16), its data; 20 bytes stay free,
    // too few for the 46-byte header of b.mp3.
    writeFile(b.c(QStringLiteral("Replicacao/a.mp3")), randomBytes(kVolume - 4 - 46 - 20, 1));
    writeFile(b.c(QStringLiteral("Replicacao/b.mp3")), randomBytes(1000, 2));
    auto exporter = b.exporter(kVolume);
    ASSERT_EQ(exporter->Add(), 0);
    EXPECT_EQ(QFileInfo(b.c(QStringLiteral("1A2B.z01"))).size(), kVolume - 20);
    EXPECT_TRUE(readFile(b.c(QStringLiteral("1A2B.zip"))).startsWith(QByteArrayLiteral("PK\x03\x04")));
    ASSERT_EQ(exporter->Entries().size(), 2u);
    EXPECT_EQ(exporter->Entries()[1].record.diskNumber, 1u);
    EXPECT_EQ(exporter->Entries()[1].record.localOffset, 0u);

    // The same header recorded at the very end of the first volume reads the same.
    QByteArray last = readFile(b.c(QStringLiteral("1A2B.zip")));
    const qsizetype record = last.lastIndexOf(QByteArrayLiteral("Replicacao/b.mp3")) - 46;
    ASSERT_EQ(last.mid(record, 4), QByteArrayLiteral("PK\x01\x02"));
    ASSERT_EQ(last.mid(record + 46, 16), QByteArrayLiteral("Replicacao/b.mp3"));
    QByteArray fields;
    LittleEndianWriter w(fields);
    w.u16(0);
    last.replace(record + 34, 2, fields);
    fields.clear();
    w.u32(kVolume - 20);
    last.replace(record + 42, 4, fields);
    writeFile(b.c(QStringLiteral("1A2B.zip")), last);
    auto importer = b.importer();
    importer->SetArchiveFileName(QStringLiteral("C:\\1A2B.zip"));
    ASSERT_EQ(importer->Entries()[1].record.localOffset, quint64(kVolume - 20));
    importer->ExtractBaseDir = QStringLiteral("C:\\R\\");
    ASSERT_EQ(importer->Extract(), 0);
    EXPECT_EQ(readTree(b.c(QStringLiteral("R/Replicacao"))), readTree(b.c(QStringLiteral("Replicacao"))));
}

TEST(ArchiveComponent, VolumeNumbersGoPastNinetyNine)
{
    ComponentBench b;
    writeFile(b.c(QStringLiteral("Replicacao/a.mp3")), randomBytes(105000, 3));
    auto exporter = b.exporter(1024);
    exporter->MinFreeVolumeSize = 1024;
    ASSERT_EQ(exporter->Add(), 0);
    EXPECT_TRUE(QFile::exists(b.c(QStringLiteral("1A2B.z10"))));
    EXPECT_TRUE(QFile::exists(b.c(QStringLiteral("1A2B.z99"))));
    EXPECT_TRUE(QFile::exists(b.c(QStringLiteral("1A2B.z100"))));
    EXPECT_EQ(QFileInfo(b.c(QStringLiteral("1A2B.z100"))).size(), 1024);
    auto importer = b.importer();
    importer->SetArchiveFileName(QStringLiteral("C:\\1A2B.zip"));
    importer->ExtractBaseDir = QStringLiteral("C:\\R\\");
    ASSERT_EQ(importer->Extract(), 0);
    EXPECT_EQ(readFile(b.c(QStringLiteral("R/Replicacao/a.mp3"))), randomBytes(105000, 3));
}

TEST(ArchiveComponent, TooLittleSpaceAsksRetryOrCancel)
{
    ComponentBench b;
    writeFile(b.c(QStringLiteral("Replicacao/a.txt")), QByteArrayLiteral("a"));
    auto exporter = b.exporter(kVolume);
    exporter->MinFreeVolumeSize = kVolume + 1;  // more than a volume can ever hold
    b.dialogs.answerMessage(QStringLiteral("This disk has not enough free space available"), ButtonRetry);
    b.dialogs.answerMessage(QStringLiteral("This disk has not enough free space available"), ButtonCancel);
    EXPECT_EQ(exporter->Add(), ArchiveMessage::UserCanceled);
    ASSERT_TRUE(b.dialogs.scriptDone());
    EXPECT_EQ(b.dialogs.records()[0].message.buttons, quint32(ButtonRetry | ButtonCancel));
    EXPECT_EQ(b.dialogs.records()[0].message.icon, DialogIcon::Error);
    EXPECT_TRUE(volumeNames(b).isEmpty());
}

TEST(ArchiveComponent, ExtractReplacesFilesKeepsOthersAndReportsBadEntries)
{
    ComponentBench b;
    const ToolResult made = runPython(QStringLiteral(
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
        "z.writestr('Replicacao/C/novo.txt', b'new content')\n"
        "z.writestr('../fora.txt', b'outside')\n"
        "z.writestr('Replicacao/C/estragado.txt', b'GOOD DATA')\n"
        "z.close()\n"
        "b = open(sys.argv[1], 'rb').read().replace(b'GOOD DATA', b'EVIL DATA')\n"
        "open(sys.argv[1], 'wb').write(b)\n"), {b.c(QStringLiteral("1A2B.zip"))});
    ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();
    writeFile(b.c(QStringLiteral("R/Replicacao/C/novo.txt")), QByteArrayLiteral("old"));
    writeFile(b.c(QStringLiteral("R/Replicacao/C/estragado.txt")), QByteArrayLiteral("kept"));
    writeFile(b.c(QStringLiteral("R/Replicacao/C/outro.txt")), QByteArrayLiteral("not in the archive"));
    auto importer = b.importer();
    importer->SetArchiveFileName(QStringLiteral("C:\\1A2B.zip"));
    importer->ExtractBaseDir = QStringLiteral("C:\\R\\");
    b.dialogs.answerMessage(QStringLiteral("Unsafe file name in archive: ../fora.txt"));
    b.dialogs.answerMessage(QStringLiteral("CRC error in Replicacao/C/estragado.txt"));
    EXPECT_EQ(importer->Extract(), ArchiveMessage::UnsafeName);
    EXPECT_TRUE(b.dialogs.scriptDone());
    EXPECT_EQ(readFile(b.c(QStringLiteral("R/Replicacao/C/novo.txt"))), QByteArrayLiteral("new content"));
    EXPECT_EQ(readFile(b.c(QStringLiteral("R/Replicacao/C/estragado.txt"))), QByteArrayLiteral("kept"));
    EXPECT_EQ(readFile(b.c(QStringLiteral("R/Replicacao/C/outro.txt"))), QByteArrayLiteral("not in the archive"));
    EXPECT_FALSE(QFile::exists(b.c(QStringLiteral("fora.txt"))));

    // Without ExtractForceDirs a missing base folder is an error.
    importer->ExtractOptions = ExtractDirNames | ExtractOverwrite;
    importer->ExtractBaseDir = QStringLiteral("C:\\missing\\");
    b.dialogs.answerMessage(QStringLiteral("Extract directory 'C:\\missing\\' must exist"));
    EXPECT_EQ(importer->Extract(), ArchiveMessage::ExtractDirMustExist);
}

TEST(ArchiveComponent, ASecondOperationWhileOneRunsIsRefused)
{
    ComponentBench b;
    writeFile(b.c(QStringLiteral("Replicacao/a.txt")), textBytes(50000, 1));
    class Reentering final : public EventPump {
    public:
        ArchiveComponent* archive = nullptr;
        std::vector<int> results;
        void ProcessPendingMessages() override
        {
            if (archive && results.empty())
                results.push_back(archive->Extract());
        }
    } pump;
    ArchiveComponent archive(b.fs, b.dialogs, pump, QStringLiteral("Vireo Zuvavivevo"));
    archive.WriteOptions = DiskSpan;
    archive.AddOptions = AddDirNames | AddRecurseDirs;
    archive.SetArchiveFileName(QStringLiteral("C:\\1A2B.zip"));
    archive.IncludeSpecs = QStringList{QStringLiteral("C:\\Replicacao\\")};
    pump.archive = &archive;
    EXPECT_EQ(archive.Add(), 0);
    EXPECT_EQ(pump.results, std::vector<int>{ArchiveMessage::Busy});
    EXPECT_FALSE(archive.Busy());
    EXPECT_TRUE(QFile::exists(b.c(QStringLiteral("1A2B.zip"))));
}

TEST(ArchiveComponent, AnEntryOutsideTheRequiredFolderRefusesTheWholeArchive)
{
    ComponentBench b;
    const QString archive = writeFile(b.c(QStringLiteral("1A2B.zip")), CraftedArchive()
                                                                            .add("Replicacao/C/a.txt", "staged")
                                                                            .add("Replicacao/C/b.txt", "staged")
                                                                            .add("vireo-zuvavivevo", "not staged")
                                                                            .add("Replicacao/C/c.txt", "staged")
                                                                            .archive());
    auto importer = b.importer(QStringLiteral("C:\\1A2B.zip"), QStringLiteral("C:\\R\\"));
    importer->ExtractOnlyBelow = QStringLiteral("Replicacao");
    b.dialogs.answerMessage(QStringLiteral("Unsafe file name in archive: vireo-zuvavivevo"));
    EXPECT_EQ(importer->Extract(), ArchiveMessage::UnsafeName);
    EXPECT_TRUE(b.dialogs.scriptDone());
    EXPECT_TRUE(listFiles(b.c(QStringLiteral("R"))).isEmpty());

    // A file named like the folder is outside it too; the folder's own entry is not.
    writeFile(archive, CraftedArchive().add("Replicacao/", "").add("Replicacao/C/a.txt", "staged").archive());
    importer = b.importer(QStringLiteral("C:\\1A2B.zip"), QStringLiteral("C:\\R\\"));
    importer->ExtractOnlyBelow = QStringLiteral("Replicacao");
    EXPECT_EQ(importer->Extract(), 0);
    EXPECT_EQ(listFiles(b.c(QStringLiteral("R"))), QStringList{QStringLiteral("Replicacao/C/a.txt")});
    writeFile(archive, CraftedArchive().add("Replicacao", "a file").add("Replicacao/C/a.txt", "staged").archive());
    importer = b.importer(QStringLiteral("C:\\1A2B.zip"), QStringLiteral("C:\\R2\\"));
    importer->ExtractOnlyBelow = QStringLiteral("Replicacao");
    b.dialogs.answerMessage(QStringLiteral("Unsafe file name in archive: Replicacao"));
    EXPECT_EQ(importer->Extract(), ArchiveMessage::UnsafeName);
    EXPECT_TRUE(b.dialogs.scriptDone());
    EXPECT_FALSE(QFile::exists(b.c(QStringLiteral("R2/Replicacao"))));
}
