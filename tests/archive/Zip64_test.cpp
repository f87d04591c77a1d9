// More than 65,535 entries: the end record overflows, so the Zip64 end record
// and its locator carry the counts, in a volume set and in a single volume.
// The entries come from a temporary archive that Python writes, as the engine
// would (seventy thousand real files take minutes to create on this disk).

#include "archive/ArchiveMessages.h"
#include "archive/ComponentDialogs.h"
#include "archive/LittleEndian.h"
#include "archive/VolumeSpanner.h"
#include "archive/ZipFormat.h"
#include "tests/archive/ArchiveTestKit.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

TEST(Zip64, SeventyThousandEntriesInAVolumeSetAndInOneVolume)
{
    ComponentBench b;
    const QString temp = b.c(QStringLiteral("temp.zip"));
    const ToolResult made = runPython(QStringLiteral(
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
        "for i in range(70000):\n"
        "    z.writestr('Replicacao/d%02d/f%05d.txt' % (i // 1000, i), ('%d' % i) * 3)\n"
        "z.close()\n"), {temp});
    ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();

    for (const qint64 volumeBytes : {qint64(1) << 20, qint64(0)}) {
        SCOPED_TRACE(volumeBytes);
        ComponentDialogs dialogs(b.dialogs, QStringLiteral("Vireo Zuvavivevo"));
        dialogs.begin(false);
        SpanSettings settings;
        settings.archiveHostPath = b.c(QStringLiteral("1A2B.zip"));
        settings.archiveWindowsPath = QStringLiteral("C:\\1A2B.zip");
        settings.volumeLimitBytes = volumeBytes;
        VolumeSpanner spanner(settings, dialogs, b.pump);
        ASSERT_TRUE(spanner.Span(temp));
        EXPECT_EQ(spanner.volumeCount() > 1, volumeBytes > 0);

        const QByteArray last = readFile(settings.archiveHostPath);
        ASSERT_GE(last.size(), 98);
        EXPECT_EQ(ReadU32(last.constData() + last.size() - 22), zip::EndSignature);
        EXPECT_EQ(ReadU32(last.constData() + last.size() - 42), zip::Zip64LocatorSignature);
        EXPECT_EQ(ReadU32(last.constData() + last.size() - 98), zip::Zip64EndSignature);
        const ToolResult test = runTool(QStringLiteral("7z"), {QStringLiteral("t"), settings.archiveHostPath});
        EXPECT_EQ(test.exitCode, 0) << test.output.right(2000).toStdString();
        EXPECT_TRUE(test.output.contains(QStringLiteral("Files: 70000")));

        auto importer = b.importer();
        importer->SetArchiveFileName(QStringLiteral("C:\\1A2B.zip"));
        EXPECT_EQ(importer->Entries().size(), 70000u);
        EXPECT_EQ(importer->Entries().back().name, QStringLiteral("Replicacao/d69/f69999.txt"));
        importer->ExtractOptions = ExtractTest;
        EXPECT_EQ(importer->Extract(), 0);
        if (volumeBytes == 0) {
            const ToolResult python = runPython(QStringLiteral(
                "import sys, zipfile\n"
                "z = zipfile.ZipFile(sys.argv[1])\n"
                "print(len(z.namelist()), z.read('Replicacao/d69/f69999.txt'))\n"), {settings.archiveHostPath});
            EXPECT_EQ(python.output, QStringLiteral("70000 b'699996999969999'\n"));
        }
        for (const QString& name : QDir(b.c(QString())).entryList({QStringLiteral("1A2B.*")}, QDir::Files))
            QFile::remove(b.c(name));
    }
    EXPECT_TRUE(b.dialogs.records().empty());
}
