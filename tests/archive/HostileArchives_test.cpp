// Archives made to do harm, as anyone answering in the service's place could
// send them: entries that share their bytes, sizes and offsets near 2^64,
// names no file system takes. Each is refused (whole, or the one entry)
// before anything is written, and nothing else suffers for it.

#include "archive/ArchiveDirectory.h"
#include "archive/ArchiveMessages.h"
#include "archive/CompressionEngine.h"
#include "archive/LittleEndian.h"
#include "archive/ZipFormat.h"
#include "tests/archive/ArchiveTestKit.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <gtest/gtest.h>
#include <vector>

using namespace vz;
using namespace vz::test;

namespace {

// What the engine says while it extracts.
class Recorder final : public EngineCallbacks {
public:
    QString archive, extractFolder;
    QStringList messages;
    QList<int> codes;
    qint64 totalBytes = -1;

    int ItemStarted(const QString&, qint64) override { return 0; }
    int BytesDone(qint64) override { return 0; }
    int ItemEnded() override { return 0; }
    int TotalCount(qint64) override { return 0; }
    int TotalBytes(qint64 bytes) override
    {
        totalBytes = bytes;
        return 0;
    }
    int Message(int code, const QString& text) override
    {
        codes << code;
        messages << text;
        return 0;
    }
    int EntrySkipped(const QString&, SkipReason) override { return 0; }
    QString Argument(EngineArgument kind, int) override
    {
        if (kind == EngineArgument::ArchivePath)
            return archive;
        if (kind == EngineArgument::ExtractFolder)
            return extractFolder;
        return {};
    }
    int IncludeSpecCount() override { return 0; }
};

int extract(Recorder& r, bool testOnly = false)
{
    EngineCommand command;
    command.kind = EngineCommand::Extract;
    command.options = EngineOption::Always | (testOnly ? EngineOption::TestFiles : EngineOption::ExtractFiles) |
                      EngineOption::ExtractDirNames | EngineOption::ExtractOverwrite;
    command.threads = 3;
    return CompressionEngine().Exec(command, r);
}

// The classic overlapping-entry bomb, stored: each entry's data are the
// next entry's local header and data, down to one kernel, so every local
// header lies inside the data of the one before and the archive expands to
// about count x its own size.
CraftedArchive nestedBomb(int count, const QByteArray& kernel)
{
    std::vector<QByteArray> names;
    for (int i = 0; i < count; ++i)
        names.push_back(QStringLiteral("f%1").arg(i, 3, 10, QLatin1Char('0')).toLatin1());
    // Built from the last entry back: the data of entry i hold entry i + 1 whole.
    QByteArray tail = kernel;
    std::vector<QByteArray> data(static_cast<size_t>(count));
    for (int i = count - 1; i >= 0; --i) {
        data[static_cast<size_t>(i)] = tail;
        tail = CraftedArchive::LocalHeaderOf(CraftedArchive::Stored(names[static_cast<size_t>(i)], tail, 0)) + tail;
    }
    CraftedArchive plain;
    plain.bytes = tail;
    quint64 at = 0;
    for (int i = 0; i < count; ++i) {
        plain.records.push_back(CraftedArchive::Stored(names[static_cast<size_t>(i)], data[static_cast<size_t>(i)], at));
        at += static_cast<quint64>(CraftedArchive::LocalHeaderOf(plain.records.back()).size());
    }
    return plain;
}

// A deflate stream of no bytes at all: whatever size a record declares for
// it, it stays a few bytes in the archive.
const QByteArray kEmptyDeflate = QByteArray::fromHex("0300");

CentralRecord deflatedClaiming(const QByteArray& name, quint64 uncompressedBytes)
{
    CentralRecord r = CraftedArchive::Stored(name, kEmptyDeflate, 0);
    r.versionNeeded = zip::VersionDeflated;
    r.method = zip::MethodDeflated;
    r.uncompressedSize = uncompressedBytes;
    return r;
}

// The Zip64 end record, its locator and an end record whose fields send the
// reader to them, for a directory of `records` at `directoryOffset`.
QByteArray zip64Directory(const std::vector<CentralRecord>& records, quint64 directoryOffset,
                          quint32 thisDisk, quint32 totalDisks, quint64 recordedSize, quint64 recordedOffset)
{
    QByteArray out;
    for (const CentralRecord& r : records)
        out.append(r.encode());
    const quint64 zip64At = directoryOffset + static_cast<quint64>(out.size());
    LittleEndianWriter w(out);
    w.u32(zip::Zip64EndSignature);
    w.u64(zip::Zip64EndFixedSize - 12);
    w.u16(zip::VersionZip64);
    w.u16(zip::VersionZip64);
    w.u32(thisDisk);
    w.u32(0);  // the directory starts on the first volume
    w.u64(records.size());
    w.u64(records.size());
    w.u64(recordedSize);
    w.u64(recordedOffset);
    w.u32(zip::Zip64LocatorSignature);
    w.u32(0);
    w.u64(zip64At);
    w.u32(totalDisks);
    w.u32(zip::EndSignature);
    w.u16(zip::Max16);
    w.u16(zip::Max16);
    w.u16(zip::Max16);
    w.u16(zip::Max16);
    w.u32(zip::Max32);
    w.u32(zip::Max32);
    w.u16(0);
    return out;
}

QStringList foldersBelow(const QString& root)
{
    QStringList folders;
    QDirIterator it(root, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        folders << QDir(root).relativeFilePath(it.next());
    return folders;
}

QString message(int id, const QString& argument = QString()) { return ArchiveMessage::Text(id, argument); }

}  // namespace

// --- entries that share their bytes ------------------------------------------------

TEST(OverlappingEntries, LocalHeadersInsideTheDataBeforeThemAreRefusedWithNothingWritten)
{
    TempDir dir;
    Recorder r;
    r.archive = writeFile(dir.file(QStringLiteral("bomb.zip")), nestedBomb(150, randomBytes(40000, 1)).archive());
    ASSERT_LT(QFileInfo(r.archive).size(), 60000);  // expands to some 6 MB
    ArchiveDirectory read;
    ASSERT_EQ(read.Read(r.archive), 0);
    ASSERT_EQ(read.entries().size(), 150u);

    r.extractFolder = dir.file(QStringLiteral("out"));
    QDir().mkpath(r.extractFolder);
    EXPECT_EQ(extract(r), -ArchiveMessage::OverlappingEntries);
    EXPECT_EQ(r.messages, QStringList{QStringLiteral("Overlapping entries in archive: f001")});
    EXPECT_TRUE(listFiles(r.extractFolder).isEmpty());
    EXPECT_TRUE(foldersBelow(r.extractFolder).isEmpty());

    // Testing refuses it just the same.
    Recorder test;
    test.archive = r.archive;
    EXPECT_EQ(extract(test, true), -ArchiveMessage::OverlappingEntries);
}

TEST(OverlappingEntries, ManyCentralRecordsForOneEntryAreRefusedWithNothingWritten)
{
    TempDir dir;
    Recorder r;
    r.archive = dir.file(QStringLiteral("one.zip"));
    const ToolResult made = runPython(QStringLiteral(
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
        "z.writestr('big.bin', b'\\0' * 4000000)\n"
        "z.close()\n"), {r.archive});
    ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();
    ArchiveDirectory one;
    ASSERT_EQ(one.Read(r.archive), 0);
    ASSERT_EQ(one.entries().size(), 1u);
    // The same record 500 times: 2 GB of output from an archive of a few KB.
    const QByteArray bytes = readFile(r.archive);
    const std::vector<CentralRecord> records(500, one.entries().front().record);
    writeFile(r.archive, bytes.left(static_cast<qsizetype>(one.end().directoryOffset)) +
                             CraftedArchive::Directory(records, one.end().directoryOffset));

    r.extractFolder = dir.file(QStringLiteral("out"));
    QDir().mkpath(r.extractFolder);
    EXPECT_EQ(extract(r), -ArchiveMessage::OverlappingEntries);
    EXPECT_EQ(r.messages, QStringList{QStringLiteral("Overlapping entries in archive: big.bin")});
    EXPECT_TRUE(listFiles(r.extractFolder).isEmpty());
}

TEST(OverlappingEntries, AVolumeSetWhoseEntriesShareBytesAcrossVolumesIsRefusedBeforeJoining)
{
    ComponentBench b;
    // The bomb cut in two volumes between two local headers: the data of the
    // first entries run on from the first volume into the second.
    const CraftedArchive bomb = nestedBomb(40, randomBytes(30000, 2));
    const qint64 cut = static_cast<qint64>(bomb.records[20].localOffset);
    const QByteArray split = QByteArray::fromHex("504b0708");
    std::vector<CentralRecord> records = bomb.records;
    for (CentralRecord& record : records) {
        const qint64 at = static_cast<qint64>(record.localOffset) + split.size();  // after the split signature
        record.diskNumber = at < cut + split.size() ? 0 : 1;
        record.localOffset = static_cast<quint64>(record.diskNumber == 0 ? at : at - cut - split.size());
    }
    writeFile(b.c(QStringLiteral("1A2B.z01")), split + bomb.bytes.left(cut));
    const QByteArray second = bomb.bytes.mid(cut);
    QByteArray last = second;
    for (const CentralRecord& record : records)
        last.append(record.encode());
    EndRecord end;
    end.thisDisk = 1;
    end.directoryDisk = 1;
    end.directoryOffset = static_cast<quint64>(second.size());
    end.directorySize = static_cast<quint64>(last.size() - second.size());
    end.entriesOnThisDisk = end.totalEntries = records.size();
    last.append(end.encode(static_cast<quint64>(last.size())));
    writeFile(b.c(QStringLiteral("1A2B.zip")), last);

    auto importer = b.importer(QStringLiteral("C:\\1A2B.zip"), QStringLiteral("C:\\R\\"));
    ASSERT_EQ(importer->VolumeCount(), 2);
    ASSERT_EQ(importer->Entries().size(), 40u);
    b.dialogs.answerMessage(QStringLiteral("Overlapping entries in archive: f001"));
    EXPECT_EQ(importer->Extract(), ArchiveMessage::OverlappingEntries);
    EXPECT_TRUE(b.dialogs.scriptDone());
    EXPECT_TRUE(listFiles(b.c(QStringLiteral("R"))).isEmpty());
    // Not joined either: the temporary folder holds nothing.
    EXPECT_TRUE(listFiles(hostfs::tempFolder()).filter(QStringLiteral(".~vz")).isEmpty())
        << listFiles(hostfs::tempFolder()).join(QLatin1Char(' ')).toStdString();
}

TEST(OverlappingEntries, DeclaredSizesBeyondTheFreeSpaceAreRefusedBeforeWriting)
{
    TempDir dir;
    Recorder r;
    r.archive = writeFile(dir.file(QStringLiteral("claims.zip")),
                          CraftedArchive()
                              .add("a.txt", "first")
                              .addRecord(deflatedClaiming("huge.bin", quint64(1) << 50), kEmptyDeflate)
                              .add("b.txt", "last")
                              .archive());
    r.extractFolder = dir.file(QStringLiteral("out"));
    QDir().mkpath(r.extractFolder);
    EXPECT_EQ(extract(r), -ArchiveMessage::NotEnoughSpace);
    EXPECT_EQ(r.messages, QStringList{QStringLiteral("This disk has not enough free space available")});
    EXPECT_TRUE(listFiles(r.extractFolder).isEmpty());

    // Many claims that overflow a 64-bit sum: tested (nothing written), each
    // is found short, and the progress total stops at its largest value.
    CraftedArchive many;
    many.add("a.txt", "first");
    for (int i = 0; i < 3; ++i)
        many.addRecord(deflatedClaiming(QByteArray("claim") + QByteArray::number(i), quint64(1) << 62),
                       kEmptyDeflate);
    Recorder test;
    test.archive = writeFile(dir.file(QStringLiteral("many.zip")), many.archive());
    EXPECT_EQ(extract(test, true), 1);
    EXPECT_EQ(test.messages, (QStringList{message(ArchiveMessage::CrcError, QStringLiteral("claim0")),
                                          message(ArchiveMessage::CrcError, QStringLiteral("claim1")),
                                          message(ArchiveMessage::CrcError, QStringLiteral("claim2"))}));
    EXPECT_EQ(test.totalBytes, std::numeric_limits<qint64>::max());
}

// --- Zip64 values near 2^63 and 2^64 (the sanitizer build aborts on any overflow) -----

TEST(Zip64Values, AVolumeNumberNearTheTopOfItsRangeIsADamagedEndRecord)
{
    TempDir dir;
    const CraftedArchive plain = CraftedArchive().add("a.txt", "a");
    const QString path = writeFile(dir.file(QStringLiteral("disk.zip")),
                                   plain.bytes + zip64Directory(plain.records, quint64(plain.bytes.size()), 0x7FFFFFFF,
                                                                1, 0, quint64(plain.bytes.size())));
    ArchiveDirectory read;
    EXPECT_EQ(read.Read(path), ArchiveMessage::EndReadError);
    EXPECT_TRUE(read.entries().empty());
}

TEST(Zip64Values, DirectorySizesAndOffsetsBeyondTheFileStillFindTheDirectory)
{
    TempDir dir;
    const CraftedArchive plain = CraftedArchive().add("a.txt", "first").add("b.txt", "second");
    const quint64 at = static_cast<quint64>(plain.bytes.size());
    const quint64 size = static_cast<quint64>(CraftedArchive::Directory(plain.records, at).size() - zip::EndFixedSize);
    struct Case {
        const char* what;
        quint64 recordedSize;
        quint64 recordedOffset;
    };
    for (const Case& c : {Case{"size 2^63", quint64(1) << 63, at}, Case{"size 2^64 - 1", ~quint64(0), at},
                          Case{"offset 2^63", size, quint64(1) << 63}, Case{"offset 2^63 - 1", size, (quint64(1) << 63) - 1},
                          Case{"offset 2^64 - 1", size, ~quint64(0)}}) {
        SCOPED_TRACE(c.what);
        Recorder r;
        r.archive = writeFile(dir.file(QStringLiteral("z64.zip")),
                              plain.bytes + zip64Directory(plain.records, at, 0, 1, c.recordedSize, c.recordedOffset));
        ArchiveDirectory read;
        ASSERT_EQ(read.Read(r.archive), 0);
        EXPECT_EQ(read.entries().size(), 2u);
        EXPECT_TRUE(read.structureWarning());
        EXPECT_EQ(read.offsetShift(), 0);
        r.extractFolder = dir.file(QStringLiteral("out"));
        QDir().mkpath(r.extractFolder);
        EXPECT_EQ(extract(r), 2);
        EXPECT_EQ(readFile(r.extractFolder + QStringLiteral("/b.txt")), QByteArrayLiteral("second"));
        QDir(r.extractFolder).removeRecursively();
    }
}

TEST(Zip64Values, AnEntryWithDataSizesNearTwoToTheSixtyFourIsShortAndTheOthersExtract)
{
    TempDir dir;
    // Just below 2^64 (negative as a signed value) and just below 2^63.
    CentralRecord huge = CraftedArchive::Stored("huge.bin", "tiny", 0);
    huge.compressedSize = huge.uncompressedSize = ~quint64(0) - 15;
    CentralRecord big = CraftedArchive::Stored("big.bin", "tiny", 0);
    big.compressedSize = big.uncompressedSize = (quint64(1) << 63) - 16;
    Recorder r;
    r.archive = writeFile(dir.file(QStringLiteral("sizes.zip")), CraftedArchive()
                                                                     .add("a.txt", "first")
                                                                     .addRecord(huge, "tiny")
                                                                     .addRecord(big, "tiny")
                                                                     .add("b.txt", "last")
                                                                     .archive());
    r.extractFolder = dir.file(QStringLiteral("out"));
    QDir().mkpath(r.extractFolder);
    EXPECT_EQ(extract(r), 2);
    EXPECT_EQ(r.messages, (QStringList{QStringLiteral("CRC error in huge.bin"), QStringLiteral("CRC error in big.bin")}));
    EXPECT_EQ(listFiles(r.extractFolder), (QStringList{QStringLiteral("a.txt"), QStringLiteral("b.txt")}));
}

TEST(Zip64Values, ALocalHeaderOffsetNearTwoToTheSixtyThreeIsADamagedHeader)
{
    TempDir dir;
    CraftedArchive plain = CraftedArchive().add("a.txt", "first").add("b.txt", "second");
    plain.records[1].localOffset = (quint64(1) << 63) - 16;
    Recorder r;
    r.archive = writeFile(dir.file(QStringLiteral("offset.zip")), plain.archive());
    r.extractFolder = dir.file(QStringLiteral("out"));
    QDir().mkpath(r.extractFolder);
    EXPECT_EQ(extract(r), -ArchiveMessage::LocalReadError);
    EXPECT_EQ(r.messages, QStringList{QStringLiteral("Error while reading a local header")});
    EXPECT_TRUE(listFiles(r.extractFolder).isEmpty());
}

TEST(Zip64Values, OffsetsNearTwoToTheSixtyThreeInAVolumeSetAreDamagedHeaders)
{
    ComponentBench b;
    const QByteArray split = QByteArray::fromHex("504b0708");
    CraftedArchive plain = CraftedArchive().add("Replicacao/a.txt", "first");
    writeFile(b.c(QStringLiteral("1A2B.z01")), split + plain.bytes);
    auto setOf = [&](quint64 directoryOffset, quint64 localOffset) {
        std::vector<CentralRecord> records = plain.records;
        records[0].localOffset = localOffset;
        QByteArray last;
        for (const CentralRecord& record : records)
            last.append(record.encode());
        EndRecord end;
        end.thisDisk = 1;
        end.directoryDisk = 1;
        end.directoryOffset = directoryOffset;
        end.directorySize = static_cast<quint64>(last.size());
        end.entriesOnThisDisk = end.totalEntries = records.size();
        last.append(end.encode(static_cast<quint64>(last.size())));
        writeFile(b.c(QStringLiteral("1A2B.zip")), last);
    };

    // The directory recorded far beyond the last volume.
    setOf((quint64(1) << 63) - 16, 4);
    ArchiveDirectory read;
    EXPECT_EQ(read.Read(b.c(QStringLiteral("1A2B.zip"))), ArchiveMessage::CentralReadError);

    // An entry's local header recorded there.
    setOf(0, (quint64(1) << 63) - 16);
    auto importer = b.importer(QStringLiteral("C:\\1A2B.zip"), QStringLiteral("C:\\R\\"));
    ASSERT_EQ(importer->Entries().size(), 1u);
    b.dialogs.answerMessage(QStringLiteral("Error while reading a local header"));
    EXPECT_EQ(importer->Extract(), ArchiveMessage::LocalReadError);
    EXPECT_TRUE(b.dialogs.scriptDone());
    EXPECT_TRUE(listFiles(b.c(QStringLiteral("R"))).isEmpty());
}

// --- names that cannot be made --------------------------------------------------------

TEST(BadNames, NamesNoFileSystemTakesAreSkippedAndTheRestIsExtracted)
{
    TempDir dir;
    const QByteArray longComponent(300, 'x');
    const QByteArray hugeName(65000, 'n');
    QByteArray deep;
    for (int i = 0; i < 3000; ++i)
        deep += "a/";
    deep += "f.txt";
    Recorder r;
    r.archive = writeFile(dir.file(QStringLiteral("names.zip")), CraftedArchive()
                                                                     .add("first.txt", "1")
                                                                     .add(longComponent + "/inside.txt", "2")
                                                                     .add("d/" + longComponent, "3")
                                                                     .add(hugeName, "4")
                                                                     .add(deep, "5")
                                                                     .add("last/last.txt", "6")
                                                                     .archive());
    r.extractFolder = dir.file(QStringLiteral("out"));
    QDir().mkpath(r.extractFolder);
    EXPECT_EQ(extract(r), 2);
    ASSERT_EQ(r.messages.size(), 4) << r.messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(r.messages[0], message(ArchiveMessage::UnsafeName, QString::fromLatin1(longComponent + "/inside.txt")));
    EXPECT_EQ(r.messages[1], message(ArchiveMessage::UnsafeName, QString::fromLatin1("d/" + longComponent)));
    // A name of 64 KB is shown cut short.
    EXPECT_TRUE(r.messages[2].startsWith(QStringLiteral("Unsafe file name in archive: nnnn")));
    EXPECT_LT(r.messages[2].size(), 1000);
    EXPECT_TRUE(r.messages[3].startsWith(QStringLiteral("Unsafe file name in archive: a/a/a/")));
    EXPECT_EQ(listFiles(r.extractFolder), (QStringList{QStringLiteral("first.txt"), QStringLiteral("last/last.txt")}));
    // No folder for any refused entry: not "d", not one level of the deep name.
    EXPECT_EQ(foldersBelow(r.extractFolder), QStringList{QStringLiteral("last")});
}

TEST(BadNames, AFileAndAFolderOfOneNameLeaveOutOnlyTheEntryThatCannotBe)
{
    TempDir dir;
    Recorder r;
    r.archive = writeFile(dir.file(QStringLiteral("clash.zip")), CraftedArchive()
                                                                     .add("first.txt", "1")
                                                                     .add("taken.txt", "a folder is there")
                                                                     .add("plain/inside/x.txt", "a file is on the way")
                                                                     .add("f", "a file, then a folder of its name")
                                                                     .add("f/g.txt", "below it")
                                                                     .add("last.txt", "6")
                                                                     .archive());
    r.extractFolder = dir.file(QStringLiteral("out"));
    writeFile(r.extractFolder + QStringLiteral("/taken.txt/kept.txt"), "kept");
    writeFile(r.extractFolder + QStringLiteral("/plain"), "a file named like a folder");
    EXPECT_EQ(extract(r), 3);
    EXPECT_EQ(r.messages, QStringList(3, message(ArchiveMessage::CreateOutputFailed)));
    EXPECT_EQ(r.codes, QList<int>(3, ArchiveMessage::CreateOutputFailed));
    // The folder and the file in the way are as they were; of "f" and "f/g.txt"
    // one could be made; the others are all there, and no temporary file.
    EXPECT_EQ(readFile(r.extractFolder + QStringLiteral("/taken.txt/kept.txt")), QByteArrayLiteral("kept"));
    EXPECT_EQ(readFile(r.extractFolder + QStringLiteral("/plain")), QByteArrayLiteral("a file named like a folder"));
    const QStringList files = listFiles(r.extractFolder);
    EXPECT_TRUE(files.contains(QStringLiteral("first.txt")));
    EXPECT_TRUE(files.contains(QStringLiteral("last.txt")));
    EXPECT_NE(files.contains(QStringLiteral("f")), files.contains(QStringLiteral("f/g.txt")));
    EXPECT_EQ(files.size(), 5) << files.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(files.filter(QStringLiteral(".~vz")).isEmpty());
}
