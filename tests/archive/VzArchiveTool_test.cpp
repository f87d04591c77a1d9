// vz-archive as support staff run it: host paths, messages on standard
// error, existing files overwritten, the exit status telling the outcome.

#include "tests/archive/ArchiveTestKit.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

namespace {
ToolResult tool(const QStringList& arguments)
{
    return runTool(QStringLiteral(VZ_ARCHIVE_TOOL), arguments);
}
}  // namespace

TEST(VzArchiveTool, AddListTestExtractAndReportFaults)
{
    TempDir dir;
    const QString src = dir.file(QStringLiteral("origem"));
    writeFile(src + QStringLiteral("/Grades/Programação.txt"), textBytes(200000, 1));
    writeFile(src + QStringLiteral("/Músicas/faixa.mp3"), randomBytes(150000, 2));
    const QString archive = dir.file(QStringLiteral("set/1A2B.zip"));
    QDir().mkpath(dir.file(QStringLiteral("set")));

    ToolResult r = tool({QStringLiteral("add"), src, archive, QStringLiteral("--volume-bytes"), QStringLiteral("65536")});
    ASSERT_EQ(r.exitCode, 0) << r.output.toStdString();
    EXPECT_TRUE(QFile::exists(dir.file(QStringLiteral("set/1A2B.z02"))));

    // Names are relative to the drive: here Z:, the host root.
    const QString prefix = QString(src).remove(0, 1);
    r = tool({QStringLiteral("list"), archive});
    ASSERT_EQ(r.exitCode, 0) << r.output.toStdString();
    EXPECT_TRUE(r.output.contains(prefix + QStringLiteral("/Grades/Programação.txt")));
    EXPECT_TRUE(r.output.contains(QStringLiteral("2 entries, 350000 bytes")));

    r = tool({QStringLiteral("test"), archive});
    EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();

    r = tool({QStringLiteral("extract"), archive, dir.file(QStringLiteral("out"))});
    ASSERT_EQ(r.exitCode, 0) << r.output.toStdString();
    EXPECT_EQ(readTree(dir.file(QStringLiteral("out/")) + prefix), readTree(src));

    // Adding again answers the overwrite questions itself.
    r = tool({QStringLiteral("add"), src, archive, QStringLiteral("--volume-bytes"), QStringLiteral("65536")});
    EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
    EXPECT_TRUE(r.output.contains(QStringLiteral("Confirm: There is already a file Z:")));

    // A damaged byte in the data of the first volume.
    QByteArray first = readFile(dir.file(QStringLiteral("set/1A2B.z01")));
    first[40000] = static_cast<char>(first[40000] ^ 0x55);
    writeFile(dir.file(QStringLiteral("set/1A2B.z01")), first);
    r = tool({QStringLiteral("test"), archive});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.output.contains(QStringLiteral("Vireo Zuvavivevo: CRC error in"))) << r.output.toStdString();

    r = tool({QStringLiteral("test"), dir.file(QStringLiteral("nothing.zip"))});
    EXPECT_EQ(r.exitCode, 1);
    r = tool({QStringLiteral("extract"), archive});
    EXPECT_EQ(r.exitCode, 2);
}

TEST(VzArchiveTool, ListAddsDeclaredSizesNearTwoToTheSixtyFourWithoutOverflow)
{
    TempDir dir;
    auto claiming = [&](const QString& file, int count, quint64 eachBytes) {
        CraftedArchive crafted;
        for (int i = 0; i < count; ++i) {
            CentralRecord record = CraftedArchive::Stored(QByteArray("claim") + QByteArray::number(i), "x");
            record.uncompressedSize = eachBytes;
            crafted.addRecord(record, "x");
        }
        return writeFile(dir.file(file), crafted.archive());
    };
    // Beyond a signed 64-bit total, still within an unsigned one.
    ToolResult r = tool({QStringLiteral("list"), claiming(QStringLiteral("two.zip"), 2, quint64(1) << 62)});
    EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
    EXPECT_TRUE(r.output.contains(QStringLiteral("2 entries, 9223372036854775808 bytes"))) << r.output.toStdString();
    // Beyond any 64-bit total.
    r = tool({QStringLiteral("list"), claiming(QStringLiteral("three.zip"), 3, quint64(1) << 63)});
    EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
    EXPECT_TRUE(r.output.contains(QStringLiteral("3 entries, more than 18446744073709551615 bytes")))
        << r.output.toStdString();
}
