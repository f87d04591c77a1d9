// A file named in Latin-1 bytes (as a Samba share gives it) goes the whole
// way of an export and an import: staged, packed by Add, checked by an
// outside ZIP reader, unpacked by Extract and restored onto its drive, and
// comes back under exactly the bytes it had.

#include "archive/ArchiveComponent.h"
#include "staging/CopyEngine.h"
#include "tests/staging/StagingTestSupport.h"
#include "tests/support/ScriptedDialogs.h"

#include <QProcess>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vz {
namespace {

using test::ScriptedDialogs;
using test::StagingTest;

QByteArray readRaw(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0)
        return "<missing>";
    QByteArray bytes(1 << 16, '\0');
    const ssize_t n = ::read(fd, bytes.data(), size_t(bytes.size()));
    ::close(fd);
    bytes.truncate(n < 0 ? 0 : n);
    return bytes;
}

// Writes a file named by the bytes the kernel sees.
void writeRaw(const QByteArray& path, const QByteArray& bytes)
{
    HostFile file = HostFile::create(hostfs::decodeName(path), ShareMode::None);
    ASSERT_TRUE(file.writeAll(bytes.constData(), bytes.size())) << path.constData();
}

// Python's zipfile, reading the central directory on its own: for each entry
// "name bytes in hex, made-by system, UTF-8 flag".
QStringList describeEntries(const QString& archiveHostPath)
{
    const char* script = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    assert z.testzip() is None
    for i in z.infolist():
        raw = i.orig_filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437')
        print(raw.hex(), i.create_system, 1 if i.flag_bits & 0x800 else 0)
)";
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromUtf8(script), archiveHostPath});
    python.waitForFinished(-1);
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().constData();
    QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.sort();
    return lines;
}

QString describe(const QByteArray& name, int system, int utf8)
{
    return QString::fromLatin1(name.toHex()) + QStringLiteral(" %1 %2").arg(system).arg(utf8);
}

using HostNamesTest = StagingTest;

TEST_F(HostNamesTest, Latin1NamesComeBackWithTheirBytesThroughExportAndImport)
{
    const QByteArray musicas = hostfs::encodeName(host(QStringLiteral("D:\\Musicas")));
    ASSERT_TRUE(hostfs::createFolders(host(QStringLiteral("D:\\Musicas"))));
    ASSERT_EQ(::mkdir(QByteArray(musicas + "/Can\xE7\xF5" "es").constData(), 0755), 0);
    writeRaw(musicas + "/M\xFAsica.mp3", "ID3 latin-1");
    writeRaw(musicas + "/Can\xE7\xF5" "es/Fa\xE7" "a.mp3", "ID3 inside");
    put(QStringLiteral("D:\\Musicas\\Canção.mp3"), "ID3 utf-8");

    // Export: stage and pack.
    const QString source = QStringLiteral("D:\\Musicas\\");
    ASSERT_TRUE(stage(source, engine.StagingPathFor(source), EarliestTimestamp, true));
    ScriptedDialogs dialogs;
    NoEventPump pump;
    ArchiveComponent exporter(fs, dialogs, pump, QStringLiteral("Vireo Zuvavivevo"));
    exporter.AddOptions = AddDirNames | AddRecurseDirs;
    exporter.SetArchiveFileName(QStringLiteral("C:\\1A2B.zip"));
    exporter.IncludeSpecs = QStringList{engine.StagingRoot()};
    ASSERT_EQ(exporter.Add(), 0) << dialogs.messageTexts().join(QLatin1Char('\n')).toStdString();

    // Another reader sees the host bytes, flagged as UTF-8 only where they are;
    // every entry is made on Unix, so its permission bits come back too.
    const QString archive = host(QStringLiteral("C:\\1A2B.zip"));
    EXPECT_EQ(describeEntries(archive),
              (QStringList{describe("Replicacao/D/Musicas/Can\xC3\xA7\xC3\xA3o.mp3", 3, 1),
                           describe("Replicacao/D/Musicas/Can\xE7\xF5" "es/Fa\xE7" "a.mp3", 3, 0),
                           describe("Replicacao/D/Musicas/M\xFAsica.mp3", 3, 0)}));

    // Import: the drive loses its music, the archive is unpacked and restored.
    ASSERT_TRUE(hostfs::removeTree(host(QStringLiteral("D:\\Musicas"))));
    ASSERT_TRUE(hostfs::removeTree(host(engine.StagingRoot())));
    ArchiveComponent importer(fs, dialogs, pump, QStringLiteral("Vireo Zuvavivevo"));
    importer.ExtractOptions = ExtractDirNames | ExtractOverwrite | ExtractForceDirs;
    importer.SetArchiveFileName(QStringLiteral("C:\\1A2B.zip"));
    importer.ExtractBaseDir = QStringLiteral("C:\\Vireo\\");
    ASSERT_EQ(importer.Extract(), 0) << dialogs.messageTexts().join(QLatin1Char('\n')).toStdString();
    engine.TotalMB = engine.FolderSizeMB(QStringLiteral("C:\\Vireo\\Replicacao\\D\\"), true);
    engine.CopiedMB = 0;
    ASSERT_TRUE(engine.CopyNewerTree(QStringLiteral("C:\\Vireo\\Replicacao\\D\\"), QStringLiteral("D:\\"),
                                     EarliestTimestamp, true));

    EXPECT_EQ(readRaw(musicas + "/M\xFAsica.mp3"), QByteArray("ID3 latin-1"));
    EXPECT_EQ(readRaw(musicas + "/Can\xE7\xF5" "es/Fa\xE7" "a.mp3"), QByteArray("ID3 inside"));
    EXPECT_EQ(readRaw(musicas + "/Can\xC3\xA7\xC3\xA3o.mp3"), QByteArray("ID3 utf-8"));
    int entries = 0;
    hostfs::listFolder(host(QStringLiteral("D:\\Musicas")), [&](const DirEntry&) { return ++entries, true; });
    EXPECT_EQ(entries, 5);  // ".", "..", and the three: nothing under a replaced name
}

// Everything in $TMPDIR, one name a line.
std::string temporaryEntries()
{
    QStringList names;
    hostfs::listFolder(hostfs::tempFolder(), [&](const DirEntry& e) {
        if (e.name != QLatin1String(".") && e.name != QLatin1String(".."))
            names << e.name;
        return true;
    });
    names.sort();
    return hostfs::encodeName(names.join(QLatin1Char('\n'))).toStdString();
}

// The fixture's prefix goes whole with it, Latin-1 names and folders without
// write or search permission included (QTemporaryDir leaves such trees
// behind in $TMPDIR under a UTF-8 locale).
TEST(HostNamesTemporaryFolders, APrefixWithLatin1NamesLeavesNothingBehind)
{
    const std::string before = temporaryEntries();
    QByteArray root;
    {
        test::TempPrefix prefix{QStringLiteral("cd")};
        root = hostfs::encodeName(prefix.path());
        ASSERT_TRUE(root.startsWith(QByteArray(hostfs::encodeName(hostfs::tempFolder()) + '/')));
        const QByteArray musicas = hostfs::encodeName(prefix.drive(QStringLiteral("d"))) + "/Musicas";
        ASSERT_EQ(::mkdir(musicas.constData(), 0755), 0);
        ASSERT_EQ(::mkdir(QByteArray(musicas + "/Can\xE7\xF5" "es").constData(), 0755), 0);
        writeRaw(musicas + "/Can\xE7\xF5" "es/Fa\xE7" "a.mp3", "ID3");
        writeRaw(musicas + "/M\xFAsica.mp3", "ID3");
        ASSERT_EQ(::mkdir(QByteArray(musicas + "/Fechada").constData(), 0755), 0);
        writeRaw(musicas + "/Fechada/a.mp3", "ID3");
        ASSERT_EQ(::chmod(QByteArray(musicas + "/Can\xE7\xF5" "es").constData(), 0555), 0);
        ASSERT_EQ(::chmod(QByteArray(musicas + "/Fechada").constData(), 0), 0);
        EXPECT_NE(temporaryEntries(), before);
    }
    struct stat st;
    EXPECT_NE(::lstat(root.constData(), &st), 0) << root.constData();
    EXPECT_EQ(temporaryEntries(), before);
}

}  // namespace
}  // namespace vz
