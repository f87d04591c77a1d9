// Our sets are standard: the real tools read what we write, and we read what
// they write, byte for byte.

#include "tests/archive/ArchiveTestKit.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

namespace {

constexpr qint64 kVolume = 65536;

void makeTree(const QString& root)
{
    writeFile(root + QStringLiteral("/C/Vireo/Músicas/Canção nº 1.mp3"), randomBytes(300000, 1));  // five volumes
    writeFile(root + QStringLiteral("/C/Vireo/Músicas/exato.mp3"), randomBytes(kVolume, 2));
    writeFile(root + QStringLiteral("/C/Vireo/Grades/Programação de sábado.txt"), textBytes(400000, 3));
    writeFile(root + QStringLiteral("/C/Vireo/Grades/vazio.txt"), QByteArray());
    writeFile(root + QStringLiteral("/C/Vireo/Vireodb/VireoAudio.fdb"), textBytes(150000, 4));
    writeFile(root + QStringLiteral("/D/Comerciais/spot.wav"), randomBytes(70000, 5));
}

}  // namespace

TEST(Interoperability, SevenZipTestsAndExtractsOurVolumeSets)
{
    ComponentBench b;
    makeTree(b.c(QStringLiteral("Replicacao")));
    ASSERT_EQ(b.exporter(kVolume)->Add(), 0);
    ASSERT_TRUE(QFile::exists(b.c(QStringLiteral("1A2B.z05"))));
    const ToolResult test = runTool(QStringLiteral("7z"), {QStringLiteral("t"), b.c(QStringLiteral("1A2B.zip"))});
    EXPECT_EQ(test.exitCode, 0) << test.output.toStdString();
    EXPECT_TRUE(test.output.contains(QStringLiteral("Everything is Ok")));
    const ToolResult x = runTool(QStringLiteral("7z"), {QStringLiteral("x"), QStringLiteral("-o") + b.c(QStringLiteral("x")),
                                                        b.c(QStringLiteral("1A2B.zip"))});
    ASSERT_EQ(x.exitCode, 0) << x.output.toStdString();
    EXPECT_EQ(readTree(b.c(QStringLiteral("x/Replicacao"))), readTree(b.c(QStringLiteral("Replicacao"))));
}

TEST(Interoperability, SevenZipReadsASetWhoseHeaderMovedOn)
{
    ComponentBench b;
    writeFile(b.c(QStringLiteral("Replicacao/a.mp3")), randomBytes(kVolume - 4 - 46 - 20, 1));
    writeFile(b.c(QStringLiteral("Replicacao/b.mp3")), randomBytes(kVolume * 2, 2));
    ASSERT_EQ(b.exporter(kVolume)->Add(), 0);
    const ToolResult x = runTool(QStringLiteral("7z"), {QStringLiteral("x"), QStringLiteral("-o") + b.c(QStringLiteral("x")),
                                                        b.c(QStringLiteral("1A2B.zip"))});
    ASSERT_EQ(x.exitCode, 0) << x.output.toStdString();
    EXPECT_EQ(readTree(b.c(QStringLiteral("x/Replicacao"))), readTree(b.c(QStringLiteral("Replicacao"))));
}

TEST(Interoperability, EveryToolReadsAOneVolumeSet)
{
    ComponentBench b;
    makeTree(b.c(QStringLiteral("Replicacao")));
    ASSERT_EQ(b.exporter(0)->Add(), 0);
    const QString archive = b.c(QStringLiteral("1A2B.zip"));
    ASSERT_FALSE(QFile::exists(b.c(QStringLiteral("1A2B.z01"))));

    const ToolResult unzip = runTool(QStringLiteral("unzip"), {QStringLiteral("-t"), archive});
    EXPECT_EQ(unzip.exitCode, 0) << unzip.output.toStdString();
    EXPECT_TRUE(unzip.output.contains(QStringLiteral("No errors detected")));
    const ToolResult sevenZip = runTool(QStringLiteral("7z"), {QStringLiteral("t"), archive});
    EXPECT_EQ(sevenZip.exitCode, 0) << sevenZip.output.toStdString();
    const ToolResult bsdtar = runTool(QStringLiteral("bsdtar"), {QStringLiteral("-xf"), archive}, b.c(QString()));
    EXPECT_EQ(bsdtar.exitCode, 0) << bsdtar.output.toStdString();
    const ToolResult python = runPython(QStringLiteral(
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "print(z.testzip())\n"
        "print(sorted(z.namelist())[0])\n"), {archive});
    EXPECT_EQ(python.exitCode, 0) << python.output.toStdString();
    EXPECT_EQ(python.output, QStringLiteral("None\nReplicacao/C/Vireo/Grades/Programação de sábado.txt\n"));
}

TEST(Interoperability, WeExtractInfoZipVolumeSets)
{
    ComponentBench b;
    makeTree(b.c(QStringLiteral("Replicacao")));
    writeFile(b.c(QStringLiteral("Replicacao/C/big.dat")), randomBytes(4 * kVolume, 9));  // data over five volumes
    const ToolResult zip = runTool(QStringLiteral("zip"), {QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("-s"),
                                                           QStringLiteral("64k"), QStringLiteral("1A2B.zip"),
                                                           QStringLiteral("Replicacao")},
                                   b.c(QString()));
    ASSERT_EQ(zip.exitCode, 0) << zip.output.toStdString();
    ASSERT_TRUE(QFile::exists(b.c(QStringLiteral("1A2B.z05"))));
    auto importer = b.importer();
    importer->SetArchiveFileName(QStringLiteral("C:\\1A2B.zip"));
    importer->ExtractBaseDir = QStringLiteral("C:\\R\\");
    ASSERT_EQ(importer->Extract(), 0) << b.dialogs.messageTexts().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(readTree(b.c(QStringLiteral("R/Replicacao"))), readTree(b.c(QStringLiteral("Replicacao"))));
}

TEST(Interoperability, WeExtractPlainArchivesOfSevenZipAndPython)
{
    ComponentBench b;
    makeTree(b.c(QStringLiteral("Replicacao")));
    const ToolResult sevenZip = runTool(QStringLiteral("7z"), {QStringLiteral("a"), QStringLiteral("-tzip"),
                                                               QStringLiteral("7z.zip"), QStringLiteral("Replicacao")},
                                        b.c(QString()));
    ASSERT_EQ(sevenZip.exitCode, 0) << sevenZip.output.toStdString();
    // Python: stored and deflated, with and without Zip64 records.
    const QString writer = QStringLiteral(
        "import sys, os, zipfile\n"
        "out, method, zip64 = sys.argv[1], int(sys.argv[2]), sys.argv[3] == '1'\n"
        "z = zipfile.ZipFile(out, 'w', method)\n"
        "for folder, _, files in os.walk('Replicacao'):\n"
        "    for f in files:\n"
        "        p = os.path.join(folder, f)\n"
        "        with open(p, 'rb') as src, z.open(p, 'w', force_zip64=zip64) as dst:\n"
        "            dst.write(src.read())\n"
        "z.close()\n");
    const QString here = QDir::currentPath();
    QDir::setCurrent(b.c(QString()));
    for (const auto& [name, method, zip64] :
         {std::tuple{"py-stored.zip", "0", "0"}, std::tuple{"py-deflated.zip", "8", "0"},
          std::tuple{"py-zip64.zip", "8", "1"}, std::tuple{"py-zip64-stored.zip", "0", "1"}}) {
        const ToolResult r = runPython(writer, {QLatin1String(name), QLatin1String(method), QLatin1String(zip64)});
        ASSERT_EQ(r.exitCode, 0) << r.output.toStdString();
    }
    QDir::setCurrent(here);
    for (const char* name : {"7z.zip", "py-stored.zip", "py-deflated.zip", "py-zip64.zip", "py-zip64-stored.zip"}) {
        auto importer = b.importer();
        importer->SetArchiveFileName(QStringLiteral("C:\\") + QLatin1String(name));
        const QString out = QStringLiteral("out-") + QLatin1String(name);
        importer->ExtractBaseDir = QStringLiteral("C:\\") + out + QLatin1Char('\\');
        ASSERT_EQ(importer->Extract(), 0) << name;
        EXPECT_EQ(readTree(b.c(out + QStringLiteral("/Replicacao"))), readTree(b.c(QStringLiteral("Replicacao"))))
            << name;
    }
    EXPECT_TRUE(b.dialogs.records().empty());
}
