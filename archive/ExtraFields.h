#pragma once
// The extra-field area of a ZIP header: a list of (tag, data) blocks, and the
// Zip64 extended-information block whose fields appear only for the values
// that overflowed their 32- or 16-bit header fields.

#include <QByteArray>
#include <QtGlobal>
#include <optional>

namespace vz {

class ExtraFields {
public:
    // Data of the first block with this tag, or nothing.
    static std::optional<QByteArray> find(const QByteArray& extra, quint16 tag);
    // The area without any block of this tag (a malformed tail is dropped).
    static QByteArray without(const QByteArray& extra, quint16 tag);
    static QByteArray block(quint16 tag, const QByteArray& data);
};

// Values carried in a Zip64 block; each present only where the header field
// holds its all-ones value, in this fixed order.
struct Zip64Values {
    std::optional<quint64> uncompressedSize;
    std::optional<quint64> compressedSize;
    std::optional<quint64> localOffset;
    std::optional<quint32> diskNumber;

    bool empty() const { return !uncompressedSize && !compressedSize && !localOffset && !diskNumber; }
    QByteArray encode() const;  // the whole block, tag included; empty when nothing is set
    // Reads the fields that the header marked as overflowed; false when the
    // block is too short for them.
    static bool decode(const QByteArray& data, bool wantUncompressed, bool wantCompressed, bool wantOffset,
                       bool wantDisk, Zip64Values& out);
};

}  // namespace vz
