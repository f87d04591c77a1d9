// The engine alone: what add writes and in which order it calls back; what
// extract refuses to write.

#include "archive/ArchiveDirectory.h"
#include "archive/ArchiveMessages.h"
#include "archive/CompressionEngine.h"
#include "archive/ZipFormat.h"
#include "tests/archive/ArchiveTestKit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <functional>
#include <thread>

using namespace vz;
using namespace vz::test;

namespace {

class Recorder final : public EngineCallbacks {
public:
    QStringList events;
    QString archive, extractFolder;
    QStringList specs, roots;
    QString suffixes = QStringLiteral(".mp3:.jpg:");
    std::function<int(SkipReason)> skipAnswer = [](SkipReason) { return 0; };
    std::function<void()> afterTotals = [] {};
    std::thread::id caller = std::this_thread::get_id();
    bool offThread = false;
    qint64 bytes = 0;

    void check() { offThread |= std::this_thread::get_id() != caller; }
    int ItemStarted(const QString& name, qint64 size) override
    {
        check();
        events << QStringLiteral("start %1 %2").arg(name).arg(size);
        bytes = 0;
        return 0;
    }
    int BytesDone(qint64 n) override
    {
        check();
        bytes += n;
        return 0;
    }
    int ItemEnded() override
    {
        check();
        events << QStringLiteral("end %1").arg(bytes);
        return 0;
    }
    int TotalCount(qint64 n) override
    {
        check();
        events << QStringLiteral("count %1").arg(n);
        return 0;
    }
    int TotalBytes(qint64 n) override
    {
        check();
        events << QStringLiteral("total %1").arg(n);
        afterTotals();
        return 0;
    }
    int Message(int code, const QString& text) override
    {
        check();
        events << QStringLiteral("message %1 %2").arg(code).arg(text);
        return 0;
    }
    int EntrySkipped(const QString& name, SkipReason reason) override
    {
        check();
        events << QStringLiteral("skip %1 %2").arg(name).arg(static_cast<int>(reason));
        return skipAnswer(reason);
    }
    QString Argument(EngineArgument kind, int index) override
    {
        switch (kind) {
        case EngineArgument::ArchivePath: return archive;
        case EngineArgument::ExtractFolder: return extractFolder;
        case EngineArgument::IncludeSpec: return specs.value(index);
        case EngineArgument::RootFolder: return roots.value(index);
        case EngineArgument::StoreSuffixes: return suffixes;
        }
        return {};
    }
    int IncludeSpecCount() override { return static_cast<int>(specs.size()); }
    QStringList messages() const { return events.filter(QStringLiteral("message ")); }
};

int addTree(Recorder& r, const QString& root, const QString& spec, int threads = 4)
{
    r.specs = QStringList{spec};
    r.roots = QStringList{root};
    EngineCommand command;
    command.kind = EngineCommand::Add;
    command.options = EngineOption::Always | EngineOption::NoFolderEntries | EngineOption::RecurseDirs;
    command.threads = threads;
    return CompressionEngine().Exec(command, r);
}

int extract(Recorder& r, bool test = false)
{
    EngineCommand command;
    command.kind = EngineCommand::Extract;
    command.options = EngineOption::Always | (test ? EngineOption::TestFiles : EngineOption::ExtractFiles) |
                      EngineOption::ExtractDirNames | EngineOption::ExtractOverwrite;
    command.threads = 3;
    return CompressionEngine().Exec(command, r);
}

// name -> (method, flags, size, date_time) as Python's zipfile reads them, after testzip().
QString pythonView(const QString& archive)
{
    const ToolResult r = runPython(QStringLiteral(
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "print('testzip', z.testzip())\n"
        "for i in z.infolist():\n"
        "    print(i.filename, i.compress_type, hex(i.flag_bits), i.file_size)\n"), {archive});
    EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
    return r.output;
}

}  // namespace

TEST(EngineAdd, WritesEntriesInOrderWithCallbacksOnTheCallingThread)
{
    TempDir dir;
    const QString src = dir.file(QStringLiteral("Replicacao"));
    writeFile(src + QStringLiteral("/C/grade/Programação 01.txt"), textBytes(3500000, 1));  // several pieces
    writeFile(src + QStringLiteral("/C/musicas/faixa.mp3"), randomBytes(2500000, 2));       // stored in pieces
    writeFile(src + QStringLiteral("/C/musicas/capa.JPG"), randomBytes(5000, 3));
    writeFile(src + QStringLiteral("/C/gravacoes/bloco.wav"), textBytes(40000, 4));
    writeFile(src + QStringLiteral("/C/vazio.txt"), QByteArray());
    writeFile(src + QStringLiteral("/C/.oculto"), QByteArrayLiteral("hidden"));
    writeFile(src + QStringLiteral("/C/.cache/dentro.txt"), QByteArrayLiteral("in a hidden folder"));
    Recorder r;
    r.archive = dir.file(QStringLiteral("temp.zip"));
    ASSERT_EQ(addTree(r, dir.path(), src), 5);
    EXPECT_FALSE(r.offThread);
    EXPECT_EQ(r.events, QStringList({
        QStringLiteral("count 5"), QStringLiteral("total 6045000"),
        QStringLiteral("start Replicacao/C/vazio.txt 0"), QStringLiteral("end 0"),
        QStringLiteral("start Replicacao/C/grade/Programação 01.txt 3500000"), QStringLiteral("end 3500000"),
        QStringLiteral("start Replicacao/C/gravacoes/bloco.wav 40000"), QStringLiteral("end 40000"),
        QStringLiteral("start Replicacao/C/musicas/capa.JPG 5000"), QStringLiteral("end 5000"),
        QStringLiteral("start Replicacao/C/musicas/faixa.mp3 2500000"), QStringLiteral("end 2500000"),
    }));
    const QString view = pythonView(r.archive);
    EXPECT_TRUE(view.contains(QStringLiteral("testzip None"))) << view.toStdString();
    EXPECT_TRUE(view.contains(QStringLiteral("Replicacao/C/vazio.txt 0 0x0 0")));
    EXPECT_TRUE(view.contains(QStringLiteral("Replicacao/C/gravacoes/bloco.wav 8 0x0 40000")));
    EXPECT_TRUE(view.contains(QStringLiteral("Replicacao/C/grade/Programação 01.txt 8 0x800 3500000")));
    EXPECT_TRUE(view.contains(QStringLiteral("Replicacao/C/musicas/capa.JPG 0 0x0 5000")));
    EXPECT_TRUE(view.contains(QStringLiteral("Replicacao/C/musicas/faixa.mp3 0 0x0 2500000")));
    EXPECT_FALSE(view.contains(QStringLiteral("oculto")));
    EXPECT_FALSE(view.contains(QStringLiteral("dentro")));
}

TEST(EngineAdd, EntryTimeIsTheFilesTimeInDosForm)
{
    TempDir dir;
    const QString file = writeFile(dir.file(QStringLiteral("Replicacao/a.txt")), QByteArrayLiteral("abc"));
    const qint64 mtimeMs = 1700000001500;  // an odd second: DOS time keeps 2-second steps
    setMTime(file, mtimeMs);
    Recorder r;
    r.archive = dir.file(QStringLiteral("t.zip"));
    ASSERT_EQ(addTree(r, dir.path(), dir.file(QStringLiteral("Replicacao"))), 1);
    ArchiveDirectory directory;
    ASSERT_EQ(directory.Read(r.archive), 0);
    ASSERT_EQ(directory.entries().size(), 1u);
    const qint64 back = UnixMsFromTimestamp(TimestampFromFat(directory.entries()[0].record.dosTime));
    EXPECT_EQ(back, 1700000000000);
}

TEST(EngineAdd, DeflateThatDoesNotPayIsStored)
{
    TempDir dir;
    writeFile(dir.file(QStringLiteral("s/noise.dat")), randomBytes(3 * 1048576 + 17, 5));  // pieces
    writeFile(dir.file(QStringLiteral("s/small.dat")), randomBytes(1000, 6));             // whole
    Recorder r;
    r.archive = dir.file(QStringLiteral("t.zip"));
    ASSERT_EQ(addTree(r, dir.path(), dir.file(QStringLiteral("s"))), 2);
    const QString view = pythonView(r.archive);
    EXPECT_TRUE(view.contains(QStringLiteral("testzip None"))) << view.toStdString();
    EXPECT_TRUE(view.contains(QStringLiteral("s/noise.dat 0 0x0 3145745")));
    EXPECT_TRUE(view.contains(QStringLiteral("s/small.dat 0 0x0 1000")));
    EXPECT_LT(QFileInfo(r.archive).size(), 3 * 1048576 + 1017 + 400);
}

TEST(EngineAdd, DuplicateNamesFailOrAreLeftOutAsAnswered)
{
    TempDir dir;
    writeFile(dir.file(QStringLiteral("s/a.txt")), QByteArrayLiteral("a"));
    Recorder r;
    r.archive = dir.file(QStringLiteral("t.zip"));
    r.specs = QStringList{dir.file(QStringLiteral("s")), dir.file(QStringLiteral("s/a.txt"))};
    r.roots = QStringList{dir.path(), dir.path()};
    r.skipAnswer = [](SkipReason reason) { return reason == SkipReason::DuplicateName ? 1 : 0; };
    EngineCommand command;
    command.options = EngineOption::Always | EngineOption::RecurseDirs;
    EXPECT_EQ(CompressionEngine().Exec(command, r), -ArchiveMessage::DuplicateName);
    EXPECT_TRUE(r.events.contains(QStringLiteral("skip s/a.txt 5")));

    Recorder lenient;
    lenient.archive = r.archive;
    lenient.specs = r.specs;
    lenient.roots = r.roots;
    EXPECT_EQ(CompressionEngine().Exec(command, lenient), 1);
}

TEST(EngineAdd, AFileThatCannotBeReadFailsTheAddOrIsLeftOut)
{
    TempDir dir;
    const QString shrinking = writeFile(dir.file(QStringLiteral("s/b.wav")), textBytes(2500000, 7));
    writeFile(dir.file(QStringLiteral("s/a.txt")), QByteArrayLiteral("first"));
    writeFile(dir.file(QStringLiteral("s/c.txt")), QByteArrayLiteral("last"));
    // The file shrinks after it was found: reading it comes up short.
    auto shrink = [&] { QFile(shrinking).resize(1000); };

    Recorder strict;
    strict.archive = dir.file(QStringLiteral("t.zip"));
    strict.afterTotals = shrink;
    strict.skipAnswer = [](SkipReason reason) { return reason == SkipReason::ReadError ? 1 : 0; };
    EXPECT_EQ(addTree(strict, dir.path(), dir.file(QStringLiteral("s"))), -ArchiveMessage::ErrorReadingFile);
    EXPECT_TRUE(strict.events.contains(QStringLiteral("skip s/b.wav 4")));

    writeFile(shrinking, textBytes(2500000, 7));
    Recorder lenient;
    lenient.archive = dir.file(QStringLiteral("t2.zip"));
    lenient.afterTotals = shrink;
    EXPECT_EQ(addTree(lenient, dir.path(), dir.file(QStringLiteral("s"))), 2);
    const QString view = pythonView(lenient.archive);
    EXPECT_TRUE(view.contains(QStringLiteral("testzip None"))) << view.toStdString();
    EXPECT_TRUE(view.contains(QStringLiteral("s/c.txt")));
    EXPECT_FALSE(view.contains(QStringLiteral("s/b.wav")));
}

TEST(EngineAdd, AFileGoneBeforeItIsOpenedIsSkippedAndNothingLeftIsNothingToDo)
{
    TempDir dir;
    const QString gone = writeFile(dir.file(QStringLiteral("s/a.txt")), QByteArrayLiteral("a"));
    Recorder r;
    r.archive = dir.file(QStringLiteral("t.zip"));
    r.afterTotals = [&] { QFile::remove(gone); };
    EXPECT_EQ(addTree(r, dir.path(), dir.file(QStringLiteral("s"))), -ArchiveMessage::NothingToDo);
    EXPECT_TRUE(r.events.contains(QStringLiteral("skip s/a.txt 0")));

    Recorder empty;
    empty.archive = dir.file(QStringLiteral("t.zip"));
    QDir().mkpath(dir.file(QStringLiteral("e")));
    EXPECT_EQ(addTree(empty, dir.path(), dir.file(QStringLiteral("e"))), -ArchiveMessage::NothingToDo);
}

namespace {

// Writes an archive with Python: entries given as (name, data, stored).
void pythonArchive(const QString& path, const QString& entriesPython)
{
    const ToolResult r = runPython(QStringLiteral(
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
        "for name, data, stored in %1:\n"
        "    z.writestr(name, data, zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED)\n"
        "z.close()\n").arg(entriesPython), {path});
    ASSERT_EQ(r.exitCode, 0) << r.output.toStdString();
}

// Replaces the first occurrence of `from` in a file.
void patchFile(const QString& path, const QByteArray& from, const QByteArray& to)
{
    QByteArray bytes = readFile(path);
    const qsizetype at = bytes.indexOf(from);
    ASSERT_GE(at, 0);
    bytes.replace(at, from.size(), to);
    writeFile(path, bytes);
}

}  // namespace

TEST(EngineExtract, ACrcErrorKeepsTheOldFileAndLeavesNoTemporaryFile)
{
    TempDir dir;
    Recorder r;
    r.archive = dir.file(QStringLiteral("a.zip"));
    pythonArchive(r.archive, QStringLiteral("[('d/a.txt', b'GOOD-CONTENT-A', True), ('d/b.txt', b'bbbb' * 1000, False)]"));
    patchFile(r.archive, QByteArrayLiteral("GOOD-CONTENT-A"), QByteArrayLiteral("EVIL-CONTENT-A"));
    r.extractFolder = dir.file(QStringLiteral("out"));
    writeFile(r.extractFolder + QStringLiteral("/d/a.txt"), QByteArrayLiteral("old a"));
    EXPECT_EQ(extract(r), 1);
    EXPECT_EQ(r.messages(), QStringList{QStringLiteral("message %1 CRC error in d/a.txt").arg(ArchiveMessage::CrcError)});
    EXPECT_EQ(readFile(r.extractFolder + QStringLiteral("/d/a.txt")), QByteArrayLiteral("old a"));
    EXPECT_EQ(readFile(r.extractFolder + QStringLiteral("/d/b.txt")), QByteArray("bbbb").repeated(1000));
    EXPECT_EQ(listFiles(r.extractFolder), (QStringList{QStringLiteral("d/a.txt"), QStringLiteral("d/b.txt")}));

    // Testing finds the same fault and writes nothing.
    Recorder test;
    test.archive = r.archive;
    EXPECT_EQ(extract(test, true), 1);
    EXPECT_EQ(test.messages().size(), 1);
}

TEST(EngineExtract, OutputStopsAtTheDeclaredSize)
{
    TempDir dir;
    Recorder r;
    r.archive = dir.file(QStringLiteral("bomb.zip"));
    // 20 MB of zeros that deflate to a few KB; then both headers claim 1000 bytes.
    const ToolResult made = runPython(QStringLiteral(
        "import sys, zipfile, struct\n"
        "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
        "z.writestr('big.bin', b'\\0' * 20000000)\n"
        "z.close()\n"
        "b = bytearray(open(sys.argv[1], 'rb').read())\n"
        "for sig, at in ((b'PK\\x03\\x04', 22), (b'PK\\x01\\x02', 24)):\n"
        "    p = b.find(sig)\n"
        "    b[p + at:p + at + 4] = struct.pack('<I', 1000)\n"
        "open(sys.argv[1], 'wb').write(b)\n"), {r.archive});
    ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();
    r.extractFolder = dir.file(QStringLiteral("out"));
    QDir().mkpath(r.extractFolder);
    EXPECT_EQ(extract(r), 0);
    EXPECT_EQ(r.messages(), QStringList{QStringLiteral("message %1 CRC error in big.bin").arg(ArchiveMessage::CrcError)});
    EXPECT_TRUE(listFiles(r.extractFolder).isEmpty());
}

TEST(EngineExtract, UnsafeNamesAreReportedAndNotWritten)
{
    TempDir dir;
    Recorder r;
    r.archive = dir.file(QStringLiteral("evil.zip"));
    pythonArchive(r.archive, QStringLiteral(
        "[('../evil1.txt', b'x', True), ('/tmp/evil2.txt', b'x', True), ('C:/evil3.txt', b'x', True),"
        " ('a/../../evil4.txt', b'x', True), ('a\\\\..\\\\..\\\\evil5.txt', b'x', True), ('ok/good.txt', b'fine', True)]"));
    r.extractFolder = dir.file(QStringLiteral("base/out"));
    QDir().mkpath(r.extractFolder);
    EXPECT_EQ(extract(r), 1);
    const QStringList messages = r.messages();
    ASSERT_EQ(messages.size(), 5) << messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(messages[0], QStringLiteral("message %1 Unsafe file name in archive: ../evil1.txt")
                               .arg(ArchiveMessage::UnsafeName));
    EXPECT_TRUE(messages[1].endsWith(QStringLiteral("/tmp/evil2.txt")));
    EXPECT_TRUE(messages[4].endsWith(QStringLiteral("a\\..\\..\\evil5.txt")));
    EXPECT_EQ(listFiles(dir.file(QStringLiteral("base"))), QStringList{QStringLiteral("out/ok/good.txt")});
    EXPECT_FALSE(QFile::exists(QStringLiteral("/tmp/evil2.txt")));
}

TEST(EngineExtract, LinksAreNeverCreatedNorFollowed)
{
    TempDir dir;
    Recorder r;
    r.archive = dir.file(QStringLiteral("links.zip"));
    const ToolResult made = runPython(QStringLiteral(
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
        "i = zipfile.ZipInfo('link-entry')\n"
        "i.create_system = 3\n"
        "i.external_attr = 0o120777 << 16\n"
        "z.writestr(i, '/etc/passwd')\n"
        "z.writestr('through/escape.txt', b'escaped')\n"
        "z.writestr('victim.txt', b'replaced in place')\n"
        "z.close()\n"), {r.archive});
    ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();
    const QString outside = dir.file(QStringLiteral("outside"));
    writeFile(outside + QStringLiteral("/victim.txt"), QByteArrayLiteral("untouched"));
    r.extractFolder = dir.file(QStringLiteral("out"));
    QDir().mkpath(r.extractFolder);
    ASSERT_TRUE(QFile::link(outside, r.extractFolder + QStringLiteral("/through")));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/victim.txt"), r.extractFolder + QStringLiteral("/victim.txt")));
    EXPECT_EQ(extract(r), 2);

    const QFileInfo link(r.extractFolder + QStringLiteral("/link-entry"));
    EXPECT_FALSE(link.isSymLink());
    EXPECT_EQ(readFile(link.filePath()), QByteArrayLiteral("/etc/passwd"));
    EXPECT_EQ(r.messages(), QStringList{QStringLiteral("message %1 Unsafe file name in archive: through/escape.txt")
                                            .arg(ArchiveMessage::UnsafeName)});
    EXPECT_EQ(listFiles(outside), QStringList{QStringLiteral("victim.txt")});
    EXPECT_EQ(readFile(outside + QStringLiteral("/victim.txt")), QByteArrayLiteral("untouched"));
    EXPECT_FALSE(QFileInfo(r.extractFolder + QStringLiteral("/victim.txt")).isSymLink());
    EXPECT_EQ(readFile(r.extractFolder + QStringLiteral("/victim.txt")), QByteArrayLiteral("replaced in place"));
}
