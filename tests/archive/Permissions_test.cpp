// Files keep their permission bits through Add and Extract (a program's run
// bit above all), other tools see the same modes, modes from other archivers
// are made safe, and sets written before modes travelled extract as before.

#include "archive/ArchiveMessages.h"
#include "archive/ZipFormat.h"
#include "tests/archive/ArchiveTestKit.h"
#include "tests/support/faultfs/FaultInjection.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

namespace {

const QString kServer = QStringLiteral("Replicacao/C/Vireo/Vireo Cast/Servidor.exe");
const QString kSecret = QStringLiteral("Replicacao/C/Vireo/Vireo Cast/segredo.ini");
const QString kFixed = QStringLiteral("Replicacao/C/Vireo/Listas/fixa.lst");
const QString kShared = QStringLiteral("Replicacao/C/Vireo/Listas/grupo.lst");
const QString kEmpty = QStringLiteral("Replicacao/C/Vireo/Textos/vazio.txt");

// 0644, 0666 or such: the mode a new file gets under this process's umask.
quint32 defaultMode(const QString& folder)
{
    const QString probe = folder + QStringLiteral("/probe");
    HostFile(HostFile::create(probe, ShareMode::None)).close();
    const quint32 mode = hostfs::stat(probe)->permissionBits;
    QFile::remove(probe);
    return mode;
}

quint32 modeOf(const QString& hostPath)
{
    const auto entry = hostfs::stat(hostPath);
    return entry ? entry->permissionBits : 0xFFFFFFFFu;
}

void setMode(const QString& hostPath, quint32 bits)
{
    HostFile file = HostFile::openReadWrite(hostPath, ShareMode::All);
    ASSERT_TRUE(file.isOpen()) << hostPath.toStdString();
    ASSERT_TRUE(file.setPermissionBits(bits));
}

// The installation's files with their modes (bytes enough to span tiny volumes).
std::map<QString, quint32> makeTree(ComponentBench& b)
{
    const std::map<QString, quint32> modes = {
        {kServer, 0755}, {kSecret, 0600}, {kFixed, 0444}, {kShared, 0664}, {kEmpty, 0750}};
    quint32 seed = 0;
    for (const auto& [name, mode] : modes) {
        writeFile(b.c(name), name == kEmpty ? QByteArray() : randomBytes(2500, ++seed));
        setMode(b.c(name), mode);
    }
    return modes;
}

// The modes found below root for the names of `expected`.
std::map<QString, quint32> modesIn(const QString& root, const std::map<QString, quint32>& expected)
{
    std::map<QString, quint32> found;
    for (const auto& entry : expected)
        found[entry.first] = modeOf(root + QLatin1Char('/') + entry.first);
    return found;
}

// One line per file, for readable failures.
QString modesText(const std::map<QString, quint32>& modes)
{
    QString text;
    for (const auto& [name, mode] : modes)
        text += name + QStringLiteral(" %1\n").arg(mode, 4, 8, QLatin1Char('0'));
    return text;
}

}  // namespace

TEST(Permissions, ModesSurviveAddAndExtractInOneVolumeAndThroughTinyVolumes)
{
    ComponentBench b;
    const auto modes = makeTree(b);
    for (const qint64 volumeBytes : {qint64(0), qint64(1024)}) {
        SCOPED_TRACE(volumeBytes);
        const QString tag = QString::number(volumeBytes);
        auto exporter = b.exporter(volumeBytes);
        exporter->MinFreeVolumeSize = 0;
        exporter->SetArchiveFileName(QStringLiteral("C:\\S") + tag + QStringLiteral(".zip"));
        ASSERT_EQ(exporter->Add(), 0) << b.dialogs.messageTexts().join(QLatin1Char('\n')).toStdString();
        if (volumeBytes == 0) {
            ASSERT_EQ(exporter->VolumeCount(), 1);
            // Made on Unix, the mode in the high half, the FAT bits as the platform reports them.
            for (const DirectoryEntry& e : exporter->Entries()) {
                EXPECT_EQ(e.record.versionMadeBy >> 8, zip::HostUnix) << e.name.toStdString();
                const quint32 fat = modes.at(e.name) == 0444 ? 0x21u : 0x20u;
                EXPECT_EQ(e.record.externalAttributes, ((0100000u | modes.at(e.name)) << 16) | fat)
                    << e.name.toStdString();
            }
        } else {
            ASSERT_GT(exporter->VolumeCount(), 5);
        }

        auto importer = b.importer(QStringLiteral("C:\\S") + tag + QStringLiteral(".zip"),
                                   QStringLiteral("C:\\R") + tag + QLatin1Char('\\'));
        const QString out = b.c(QStringLiteral("R") + tag);
        ASSERT_EQ(importer->Extract(), 0) << b.dialogs.messageTexts().join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(modesText(modesIn(out, modes)), modesText(modes));
        EXPECT_EQ(readTree(out + QStringLiteral("/Replicacao")), readTree(b.c(QStringLiteral("Replicacao"))));

        // Extracting again replaces every file, the read-only one too.
        writeFile(out + QLatin1Char('/') + kServer, QByteArrayLiteral("changed"));
        ASSERT_EQ(importer->Extract(), 0) << b.dialogs.messageTexts().join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(modesText(modesIn(out, modes)), modesText(modes));
        EXPECT_EQ(readTree(out + QStringLiteral("/Replicacao")), readTree(b.c(QStringLiteral("Replicacao"))));
    }
    EXPECT_TRUE(b.dialogs.records().empty());
}

TEST(Permissions, OtherToolsSeeTheModesAndRestoreTheRunBit)
{
    ComponentBench b;
    const auto modes = makeTree(b);
    auto exporter = b.exporter(0);
    ASSERT_EQ(exporter->Add(), 0);
    const QString archive = b.c(QStringLiteral("1A2B.zip"));

    const ToolResult python = runPython(QStringLiteral(
        "import sys, zipfile\n"
        "for i in sorted(zipfile.ZipFile(sys.argv[1]).infolist(), key=lambda i: i.filename):\n"
        "    print(i.filename, i.create_system, oct(i.external_attr >> 16))\n"), {archive});
    ASSERT_EQ(python.exitCode, 0) << python.output.toStdString();
    QString listed;
    for (const auto& [name, mode] : modes)
        listed += name + QStringLiteral(" 3 0o100") + QString::number(mode, 8) + QLatin1Char('\n');
    EXPECT_EQ(python.output, listed);

    const ToolResult unzip = runTool(QStringLiteral("unzip"), {QStringLiteral("-q"), archive, QStringLiteral("-d"),
                                                               b.c(QStringLiteral("unzip"))});
    ASSERT_EQ(unzip.exitCode, 0) << unzip.output.toStdString();
    EXPECT_EQ(modeOf(b.c(QStringLiteral("unzip/") + kServer)), 0755u);
    EXPECT_EQ(modeOf(b.c(QStringLiteral("unzip/") + kSecret)), 0600u);
    QDir().mkpath(b.c(QStringLiteral("bsdtar")));
    const ToolResult bsdtar = runTool(QStringLiteral("bsdtar"), {QStringLiteral("-xf"), archive}, b.c(QStringLiteral("bsdtar")));
    ASSERT_EQ(bsdtar.exitCode, 0) << bsdtar.output.toStdString();
    EXPECT_EQ(modeOf(b.c(QStringLiteral("bsdtar/") + kServer)), 0755u);

    // 7-Zip, from the one volume and from a set of tiny volumes.
    auto spanned = b.exporter(1024);
    spanned->MinFreeVolumeSize = 0;
    spanned->SetArchiveFileName(QStringLiteral("C:\\S.zip"));
    ASSERT_EQ(spanned->Add(), 0);
    ASSERT_GT(spanned->VolumeCount(), 5);
    for (const QString& name : {QStringLiteral("1A2B.zip"), QStringLiteral("S.zip")}) {
        const QString folder = b.c(QStringLiteral("7z-") + name);
        const ToolResult x = runTool(QStringLiteral("7z"), {QStringLiteral("x"), QStringLiteral("-o") + folder, b.c(name)});
        ASSERT_EQ(x.exitCode, 0) << x.output.toStdString();
        EXPECT_EQ(modeOf(folder + QLatin1Char('/') + kServer), 0755u) << name.toStdString();
        EXPECT_EQ(readFile(folder + QLatin1Char('/') + kServer), readFile(b.c(kServer)));
    }
}

// Python's zipfile sets whatever mode it is given: the set-uid, set-gid and
// sticky bits are dropped, the owner can always read, a file only others may
// write becomes the owner's to write, a link's mode and a mode recorded by
// MS-DOS are not taken.
TEST(Permissions, ModesFromAnotherArchiverAreMadeSafe)
{
    ComponentBench b;
    QDir().mkpath(b.c(QStringLiteral("R")));
    const quint32 plain = defaultMode(b.c(QStringLiteral("R")));
    const ToolResult made = runPython(QStringLiteral(
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
        "def add(name, system, attr, data=b'data'):\n"
        "    i = zipfile.ZipInfo('Replicacao/' + name)\n"
        "    i.create_system = system\n"
        "    i.external_attr = attr\n"
        "    z.writestr(i, data)\n"
        "add('setuid', 3, 0o104755 << 16)\n"
        "add('setgid-sticky', 3, 0o103775 << 16)\n"
        "add('nobody-reads', 3, 0o100044 << 16)\n"
        "add('others-write', 3, 0o100066 << 16)\n"
        "add('no-bits', 3, 0o100000 << 16)\n"
        "add('read-only-by-fat', 3, (0o100644 << 16) | 0x01)\n"
        "add('link', 3, 0o120777 << 16, b'Servidor.exe')\n"
        "add('folder-mode', 3, 0o040755 << 16)\n"
        "add('no-mode', 3, 0x20)\n"
        "z.writestr('Replicacao/typeless', b'data')  # 0o600 without a file type\n"
        "add('dos-read-only', 0, 0x21)\n"
        "add('dos-with-mode', 0, (0o100755 << 16) | 0x20)\n"
        "z.close()\n"), {b.c(QStringLiteral("outro.zip"))});
    ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();
    auto importer = b.importer(QStringLiteral("C:\\outro.zip"), QStringLiteral("C:\\R\\"));
    ASSERT_EQ(importer->Extract(), 0) << b.dialogs.messageTexts().join(QLatin1Char('\n')).toStdString();

    const std::map<QString, quint32> expected = {
        {QStringLiteral("setuid"), 0755},
        {QStringLiteral("setgid-sticky"), 0775},
        {QStringLiteral("nobody-reads"), 0444},
        {QStringLiteral("others-write"), 0666},
        {QStringLiteral("no-bits"), 0400},
        {QStringLiteral("read-only-by-fat"), 0444},
        {QStringLiteral("link"), plain},
        {QStringLiteral("folder-mode"), plain},
        {QStringLiteral("no-mode"), plain},
        {QStringLiteral("typeless"), 0600},
        {QStringLiteral("dos-read-only"), plain & ~0222u},
        {QStringLiteral("dos-with-mode"), plain},
    };
    const QString out = b.c(QStringLiteral("R/Replicacao"));
    EXPECT_EQ(modesText(modesIn(out, expected)), modesText(expected));
    EXPECT_EQ(readFile(out + QStringLiteral("/link")), QByteArrayLiteral("Servidor.exe"));
    EXPECT_EQ(hostfs::pathKind(out + QStringLiteral("/link")), hostfs::PathKind::File);
}

// Sets written before modes travelled: entries made on MS-DOS with only FAT
// bits. Made here from one of ours by putting back the fields that writer used.
TEST(Permissions, AnArchiveFromBeforeModesTravelledExtractsAsBefore)
{
    ComponentBench b;
    const auto modes = makeTree(b);
    ASSERT_EQ(b.exporter(0)->Add(), 0);
    const ToolResult patched = runPython(QStringLiteral(
        "import sys, struct\n"
        "data = bytearray(open(sys.argv[1], 'rb').read())\n"
        "size, = struct.unpack_from('<I', data, len(data) - 22 + 12)\n"
        "at = len(data) - 22 - size\n"
        "while data[at:at + 4] == b'PK\\x01\\x02':\n"
        "    mode = struct.unpack_from('<I', data, at + 38)[0] >> 16\n"
        "    struct.pack_into('<H', data, at + 4, 20)\n"
        "    struct.pack_into('<I', data, at + 38, 0x20 | (0 if mode & 0o222 else 0x01))\n"
        "    at += 46 + sum(struct.unpack_from('<HHH', data, at + 28))\n"
        "open(sys.argv[1], 'wb').write(data)\n"), {b.c(QStringLiteral("1A2B.zip"))});
    ASSERT_EQ(patched.exitCode, 0) << patched.output.toStdString();

    auto importer = b.importer(QStringLiteral("C:\\1A2B.zip"), QStringLiteral("C:\\R\\"));
    ASSERT_EQ(importer->Entries().size(), modes.size());
    for (const DirectoryEntry& e : importer->Entries())
        ASSERT_EQ(e.record.versionMadeBy, 20u) << e.name.toStdString();
    ASSERT_EQ(importer->Extract(), 0) << b.dialogs.messageTexts().join(QLatin1Char('\n')).toStdString();
    const QString out = b.c(QStringLiteral("R"));
    EXPECT_EQ(readTree(out + QStringLiteral("/Replicacao")), readTree(b.c(QStringLiteral("Replicacao"))));
    // The mode of a new file; the read-only one without write bits.
    const quint32 plain = defaultMode(out);
    std::map<QString, quint32> expected;
    for (const auto& [name, mode] : modes)
        expected[name] = mode == 0444 ? plain & ~0222u : plain;
    EXPECT_EQ(modesText(modesIn(out, expected)), modesText(expected));
    EXPECT_TRUE(b.dialogs.records().empty());
}

// An extraction that stops leaves none of its temporary files behind, even
// those already made read-only.
TEST(Permissions, AStoppedExtractionRemovesItsReadOnlyTemporaryFiles)
{
    ComponentBench b;
    writeFile(b.c(QStringLiteral("Replicacao/C/a.txt")), textBytes(1000, 1));
    for (int i = 0; i < 12; ++i) {
        const QString name = QStringLiteral("Replicacao/C/b%1.lst").arg(i, 2, 10, QLatin1Char('0'));
        writeFile(b.c(name), textBytes(20000, 2 + static_cast<quint32>(i)));
        setMode(b.c(name), 0444);
    }
    ASSERT_EQ(b.exporter(0)->Add(), 0);
    // The disk fails the first file's move into place: the extraction stops
    // there, with the later files already expanded beside their targets.
    auto importer = b.importer(QStringLiteral("C:\\1A2B.zip"), QStringLiteral("C:\\R\\"));
    b.dialogs.answerMessage(QStringLiteral("Creation of output file failed"));
    faults::Rule rule;
    rule.fault = faults::Fault::RenameFails;
    rule.pathPrefix = b.c(QStringLiteral("R/Replicacao/C/a.txt")).toStdString();
    {
        faults::ScopedFault fault(rule);
        EXPECT_EQ(importer->Extract(), ArchiveMessage::CreateOutputFailed);
        EXPECT_EQ(faults::failuresInjected(), 1);
    }
    EXPECT_TRUE(b.dialogs.scriptDone());
    EXPECT_EQ(listFiles(b.c(QStringLiteral("R"))), QStringList());
}
