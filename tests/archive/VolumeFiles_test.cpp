// The volume layer: names of the volumes, and a logical stream written and
// read across volume ends with headers kept whole.

#include "archive/VolumeNaming.h"
#include "archive/VolumeSetReader.h"
#include "archive/VolumeSetWriter.h"
#include "tests/archive/ArchiveTestKit.h"

#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

TEST(VolumeNaming, SpanNamesHaveAtLeastTwoDigits)
{
    const QString archive = QStringLiteral("C:\\1A2B.zip");
    EXPECT_EQ(VolumeNaming::SpanName(archive, 0), QStringLiteral("C:\\1A2B.z01"));
    EXPECT_EQ(VolumeNaming::SpanName(archive, 8), QStringLiteral("C:\\1A2B.z09"));
    EXPECT_EQ(VolumeNaming::SpanName(archive, 9), QStringLiteral("C:\\1A2B.z10"));
    EXPECT_EQ(VolumeNaming::SpanName(archive, 98), QStringLiteral("C:\\1A2B.z99"));
    EXPECT_EQ(VolumeNaming::SpanName(archive, 99), QStringLiteral("C:\\1A2B.z100"));
    // A dot in a folder name is no extension.
    EXPECT_EQ(VolumeNaming::SpanName(QStringLiteral("/tmp/a.b/set"), 0), QStringLiteral("/tmp/a.b/set.z01"));
    EXPECT_EQ(VolumeNaming::NumberedName(QStringLiteral("/x/backup003.zip"), 0), QStringLiteral("/x/backup001.zip"));
    EXPECT_EQ(VolumeNaming::NumberedName(QStringLiteral("/x/backup003.zip"), 11), QStringLiteral("/x/backup012.zip"));
}

namespace {

// Volumes in a folder, each of a fixed space; records what happened.
class FolderVolumes final : public VolumeProvider {
public:
    FolderVolumes(QString folder, qint64 space) : folder_(std::move(folder)), space_(space) {}
    QString path(int index) const { return VolumeNaming::SpanName(folder_ + QStringLiteral("/set.zip"), index); }
    bool OpenVolume(int index, HostFile& file, qint64& spaceBytes) override
    {
        if (index >= refuseFrom)
            return false;
        file = HostFile::create(path(index), ShareMode::None);
        spaceBytes = space_;
        return file.isOpen();
    }
    bool CloseVolume(int index, HostFile& file) override
    {
        closed.push_back(index);
        file.close();
        return true;
    }
    void AfterWrite() override { ++writes; }

    int refuseFrom = 1000;
    std::vector<int> closed;
    int writes = 0;

private:
    QString folder_;
    qint64 space_;
};

}  // namespace

TEST(VolumeSetWriter, FillsVolumesAndMovesWholeBlocksOn)
{
    TempDir dir;
    FolderVolumes volumes(dir.path(), 100);
    VolumeSetWriter writer(volumes);
    VolumePosition at;
    const QByteArray data = randomBytes(250, 1);
    ASSERT_EQ(writer.writeSpanning(data.constData(), data.size()), VolumeSetWriter::Result::Ok);
    // 250 bytes: 100 + 100 + 50; a 60-byte header does not fit in the 50 left.
    ASSERT_EQ(writer.writeWhole(QByteArray(60, 'h'), at), VolumeSetWriter::Result::Ok);
    EXPECT_EQ(at.volume, 3);
    EXPECT_EQ(at.offset, 0);
    ASSERT_EQ(writer.writeWhole(QByteArray(40, 'k'), at), VolumeSetWriter::Result::Ok);
    EXPECT_EQ(at.volume, 3);
    EXPECT_EQ(at.offset, 60);
    ASSERT_EQ(writer.finish(), VolumeSetWriter::Result::Ok);
    EXPECT_EQ(writer.volumeCount(), 4);
    EXPECT_EQ(QFileInfo(volumes.path(0)).size(), 100);
    EXPECT_EQ(QFileInfo(volumes.path(1)).size(), 100);
    EXPECT_EQ(QFileInfo(volumes.path(2)).size(), 50);  // closed short
    EXPECT_EQ(QFileInfo(volumes.path(3)).size(), 100);
    EXPECT_EQ(readFile(volumes.path(0)) + readFile(volumes.path(1)) + readFile(volumes.path(2)), data);
    EXPECT_EQ(volumes.closed, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_GT(volumes.writes, 0);
}

TEST(VolumeSetWriter, ABlockLargerThanAVolumeOrARefusedVolumeStops)
{
    TempDir dir;
    FolderVolumes volumes(dir.path(), 100);
    VolumeSetWriter writer(volumes);
    VolumePosition at;
    EXPECT_EQ(writer.writeWhole(QByteArray(101, 'h'), at), VolumeSetWriter::Result::TooLarge);

    FolderVolumes refusing(dir.path(), 100);
    refusing.refuseFrom = 1;
    VolumeSetWriter second(refusing);
    const QByteArray data = randomBytes(150, 2);
    EXPECT_EQ(second.writeSpanning(data.constData(), data.size()), VolumeSetWriter::Result::Stopped);
}

TEST(VolumeSetReader, HeadersWholeEndOfVolumeMeansNextAndDataRunOn)
{
    TempDir dir;
    const QString archive = dir.file(QStringLiteral("set.zip"));
    writeFile(dir.file(QStringLiteral("set.z01")), QByteArrayLiteral("0123456789"));
    writeFile(dir.file(QStringLiteral("set.z02")), QByteArrayLiteral("abcdefghij"));
    writeFile(archive, QByteArrayLiteral("KLMNO"));
    VolumeSetReader reader(archive, 3);

    char buffer[32] = {};
    VolumePosition at{0, 10};  // the very end of the first volume
    ASSERT_EQ(reader.readWhole(at, buffer, 3), VolumeSetReader::Status::Ok);
    EXPECT_EQ(QByteArray(buffer, 3), QByteArrayLiteral("abc"));
    EXPECT_EQ(at.volume, 1);
    EXPECT_EQ(at.offset, 3);

    at = {0, 8};  // a header would straddle
    EXPECT_EQ(reader.readWhole(at, buffer, 4), VolumeSetReader::Status::Short);

    at = {0, 7};
    ASSERT_EQ(reader.readSpanning(at, buffer, 18), VolumeSetReader::Status::Ok);
    EXPECT_EQ(QByteArray(buffer, 18), QByteArrayLiteral("789abcdefghijKLMNO"));
    EXPECT_EQ(at.volume, 2);
    EXPECT_EQ(at.offset, 5);
    EXPECT_EQ(reader.readSpanning(at, buffer, 1), VolumeSetReader::Status::Short);

    QFile::remove(dir.file(QStringLiteral("set.z02")));
    VolumeSetReader gap(archive, 3);
    at = {0, 5};
    EXPECT_EQ(gap.readSpanning(at, buffer, 10), VolumeSetReader::Status::Missing);
}

TEST(VolumeSetReader, FallsBackToNumberedNamesAndKeepsThatForm)
{
    TempDir dir;
    const QString archive = dir.file(QStringLiteral("backup003.zip"));
    writeFile(dir.file(QStringLiteral("backup001.zip")), QByteArrayLiteral("one"));
    writeFile(dir.file(QStringLiteral("backup002.zip")), QByteArrayLiteral("two"));
    writeFile(dir.file(QStringLiteral("backup003.z02")), QByteArrayLiteral("not this"));  // the other form
    writeFile(archive, QByteArrayLiteral("three"));
    VolumeSetReader reader(archive, 3);
    EXPECT_EQ(reader.volumePath(0), dir.file(QStringLiteral("backup001.zip")));
    EXPECT_EQ(reader.volumePath(1), dir.file(QStringLiteral("backup002.zip")));
    EXPECT_EQ(reader.volumePath(2), archive);
}
