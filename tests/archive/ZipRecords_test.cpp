// The header records encode and decode each other, and Zip64 fields appear
// exactly for the values that overflow.

#include "archive/CentralRecord.h"
#include "archive/EndRecord.h"
#include "archive/EntryName.h"
#include "archive/EntryPermissions.h"
#include "archive/ExtraFields.h"
#include "archive/LittleEndian.h"
#include "archive/LocalHeader.h"
#include "archive/ZipFormat.h"
#include "platform/FileSystem.h"

#include <gtest/gtest.h>
#include <zlib.h>

using namespace vz;

namespace {

CentralRecord sampleRecord()
{
    CentralRecord r;
    r.versionNeeded = 20;
    r.method = 8;
    r.dosTime = 0x5A214C63;
    r.crc32 = 0xDEADBEEF;
    r.compressedSize = 1000;
    r.uncompressedSize = 5000;
    r.diskNumber = 3;
    r.localOffset = 777;
    r.externalAttributes = 0x20;
    r.name = QByteArrayLiteral("Replicacao/C/a.txt");
    return r;
}

quint32 u16At(const QByteArray& b, int at)
{
    return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}

}  // namespace

TEST(CentralRecord, SmallValuesNeedNoZip64)
{
    const CentralRecord r = sampleRecord();
    const QByteArray bytes = r.encode();
    EXPECT_EQ(bytes.size(), 46 + r.name.size());
    EXPECT_EQ(u16At(bytes, 6), 20u);  // version needed unchanged
    CentralRecord back;
    ASSERT_TRUE(CentralRecord::decode(bytes, back));
    EXPECT_EQ(back.localOffset, 777u);
    EXPECT_EQ(back.diskNumber, 3u);
    EXPECT_EQ(back.crc32, 0xDEADBEEFu);
    EXPECT_EQ(back.name, r.name);
}

TEST(CentralRecord, EachOverflowingValueGoesIntoZip64AndComesBack)
{
    struct Case {
        quint64 uncompressed, compressed, offset;
        quint32 disk;
        int zip64Bytes;
    };
    const Case cases[] = {
        {0xFFFFFFFFull, 10, 10, 1, 8},          // exactly all ones counts as overflow
        {10, 0x100000000ull, 10, 1, 8},
        {10, 10, 0x123456789ull, 1, 8},
        {10, 10, 10, 0xFFFF, 4},
        {0x200000000ull, 0x1FFFFFFFFull, 0x300000000ull, 70000, 28},
    };
    for (const Case& c : cases) {
        CentralRecord r = sampleRecord();
        r.uncompressedSize = c.uncompressed;
        r.compressedSize = c.compressed;
        r.localOffset = c.offset;
        r.diskNumber = c.disk;
        // An old Zip64 block and another field are in the extra: the first is rebuilt, the second kept.
        r.extra = ExtraFields::block(zip::ExtraZip64, QByteArray(8, 'x')) +
                  ExtraFields::block(zip::ExtraExtendedTime, QByteArrayLiteral("\x01\x10\x20\x30\x40"));
        const QByteArray bytes = r.encode();
        EXPECT_EQ(u16At(bytes, 6), 45u) << "version needed";
        const auto block = ExtraFields::find(bytes.mid(46 + r.name.size()), zip::ExtraZip64);
        ASSERT_TRUE(block.has_value());
        EXPECT_EQ(block->size(), c.zip64Bytes);
        CentralRecord back;
        ASSERT_TRUE(CentralRecord::decode(bytes, back));
        EXPECT_EQ(back.uncompressedSize, c.uncompressed);
        EXPECT_EQ(back.compressedSize, c.compressed);
        EXPECT_EQ(back.localOffset, c.offset);
        EXPECT_EQ(back.diskNumber, c.disk);
        EXPECT_TRUE(ExtraFields::find(back.extra, zip::ExtraExtendedTime).has_value());
        EXPECT_FALSE(ExtraFields::find(back.extra, zip::ExtraZip64).has_value());
    }
}

TEST(CentralRecord, TruncatedOrWrongRecordIsRefused)
{
    const QByteArray bytes = sampleRecord().encode();
    CentralRecord back;
    EXPECT_FALSE(CentralRecord::decode(bytes.left(bytes.size() - 1), back));
    QByteArray wrong = bytes;
    wrong[0] = 'X';
    EXPECT_FALSE(CentralRecord::decode(wrong, back));
    EXPECT_EQ(CentralRecord::variableLength(wrong.constData()), -1);
    EXPECT_EQ(CentralRecord::variableLength(bytes.constData()), bytes.size() - 46);
}

TEST(LocalHeader, ForcedZip64KeepsItsLengthWhateverTheSizes)
{
    LocalHeader h;
    h.name = QByteArrayLiteral("big.wav");
    h.uncompressedSize = 0x100000005ull;
    const qint64 before = h.encodedSize(true);
    h.compressedSize = 12;
    h.crc32 = 0x01020304;
    const QByteArray bytes = h.encode(true);
    EXPECT_EQ(bytes.size(), before);
    EXPECT_EQ(ReadU32(bytes.constData() + 18), 0xFFFFFFFFu);
    EXPECT_EQ(ReadU32(bytes.constData() + 22), 0xFFFFFFFFu);
    LocalHeader back;
    ASSERT_TRUE(LocalHeader::decode(bytes, back));
    EXPECT_EQ(back.uncompressedSize, 0x100000005ull);
    EXPECT_EQ(back.compressedSize, 12u);
    EXPECT_EQ(back.crc32, 0x01020304u);
    EXPECT_EQ(LocalHeader::variableLength(bytes.constData()), bytes.size() - 30);
}

TEST(EndRecord, OverflowWritesZip64RecordAndLocatorThatReadBack)
{
    EndRecord end;
    end.thisDisk = 2;
    end.directoryDisk = 1;
    end.entriesOnThisDisk = 70000;
    end.totalEntries = 70001;
    end.directorySize = 123456;
    end.directoryOffset = 4242;
    ASSERT_TRUE(end.needsZip64());
    const quint64 at = 5000;
    const QByteArray bytes = end.encode(at);
    ASSERT_EQ(bytes.size(), end.encodedSize());
    ASSERT_EQ(bytes.size(), 56 + 20 + 22);
    EXPECT_EQ(ReadU32(bytes.constData()), zip::Zip64EndSignature);
    Zip64Locator locator;
    ASSERT_TRUE(Zip64Locator::decode(bytes.constData() + 56, locator));
    EXPECT_EQ(locator.endDisk, 2u);
    EXPECT_EQ(locator.endOffset, at);
    EXPECT_EQ(locator.totalDisks, 3u);
    EndRecord back;
    ASSERT_TRUE(EndRecord::decode(bytes.constData() + 76, 22, back));
    EXPECT_TRUE(back.hasAllOnesField());
    EXPECT_EQ(back.totalEntries, 0xFFFFu);
    ASSERT_TRUE(back.applyZip64(bytes.constData(), 56));
    EXPECT_EQ(back.totalEntries, 70001u);
    EXPECT_EQ(back.entriesOnThisDisk, 70000u);
    EXPECT_EQ(back.directoryOffset, 4242u);
    EXPECT_EQ(back.thisDisk, 2u);
}

TEST(EndRecord, CommentIsCutToTheBytesThatFollow)
{
    EndRecord end;
    end.comment = QByteArrayLiteral("comentario");
    const QByteArray bytes = end.encode(0);
    EndRecord back;
    ASSERT_TRUE(EndRecord::decode(bytes.constData(), bytes.size() - 4, back));
    EXPECT_EQ(back.comment, QByteArrayLiteral("coment"));
}

TEST(EntryName, Utf8FlagOemFallbackAndUnicodePathField)
{
    constexpr quint32 MadeOnDos = zip::VersionDeflated;
    EXPECT_EQ(EntryName::Encode(QStringLiteral("a/b.txt")).bytes, QByteArrayLiteral("a/b.txt"));
    EXPECT_FALSE(EntryName::Encode(QStringLiteral("a/b.txt")).utf8);
    const EntryName::Encoded encoded = EntryName::Encode(QStringLiteral("Programação.txt"));
    const QByteArray raw = encoded.bytes;
    EXPECT_TRUE(encoded.utf8);
    EXPECT_EQ(EntryName::Decode(raw, zip::FlagUtf8, {}, MadeOnDos), QStringLiteral("Programação.txt"));
    // Info-ZIP writes UTF-8 without the flag.
    EXPECT_EQ(EntryName::Decode(raw, 0, {}, MadeOnDos), QStringLiteral("Programação.txt"));
    // Older Windows sets wrote the OEM code page 850: "ç" is 0x87, "ã" 0xC6.
    const QByteArray oem("Programa\x87\xC6o.txt");
    EXPECT_EQ(EntryName::Decode(oem, 0, {}, MadeOnDos), QStringLiteral("Programação.txt"));
    // A Unicode path field counts only when its CRC matches the stored name.
    const QByteArray unicodeName = QStringLiteral("Canção.mp3").toUtf8();
    auto field = [&](const QByteArray& forName) {
        QByteArray data;
        LittleEndianWriter w(data);
        data.append('\x01');
        w.u32(::crc32(0, reinterpret_cast<const Bytef*>(forName.constData()), static_cast<uInt>(forName.size())));
        data.append(unicodeName);
        return ExtraFields::block(zip::ExtraUnicodePath, data);
    };
    const QByteArray stored("Can??o.mp3");
    EXPECT_EQ(EntryName::Decode(stored, 0, field(stored), MadeOnDos), QStringLiteral("Canção.mp3"));
    EXPECT_EQ(EntryName::Decode(stored, 0, field(QByteArrayLiteral("other")), MadeOnDos), QStringLiteral("Can??o.mp3"));
}

// A host name in bytes that are not UTF-8 is stored as those bytes, without
// the UTF-8 flag, and read back as the same host name from an entry made on
// Unix; from an entry made on MS-DOS the same bytes are code page 850.
TEST(EntryName, HostBytesThatAreNotUtf8RoundTrip)
{
    const QByteArray latin1("Replicacao/D/M\xFAsica.mp3");
    const QString hostName = hostfs::decodeName(latin1);
    const EntryName::Encoded encoded = EntryName::Encode(hostName);
    EXPECT_EQ(encoded.bytes, latin1);
    EXPECT_FALSE(encoded.utf8);
    const quint32 madeOnUnix = EntryPermissions::VersionMadeBy(zip::VersionDeflated);
    EXPECT_EQ(EntryName::Decode(latin1, 0, {}, madeOnUnix), hostName);
    EXPECT_EQ(hostfs::encodeName(EntryName::Decode(latin1, 0, {}, madeOnUnix)), latin1);
    EXPECT_EQ(EntryName::Decode(latin1, 0, {}, zip::VersionDeflated), QStringLiteral("Replicacao/D/M·sica.mp3"));
    // Valid UTF-8 reads as UTF-8 whoever made it; a false UTF-8 flag keeps the bytes.
    EXPECT_EQ(EntryName::Decode(QByteArray("M\xC3\xBAsica"), 0, {}, madeOnUnix), QStringLiteral("Música"));
    EXPECT_EQ(hostfs::encodeName(EntryName::Decode(latin1, zip::FlagUtf8, {}, zip::VersionDeflated)), latin1);
}