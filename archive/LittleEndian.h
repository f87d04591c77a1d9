#pragma once
// Little-endian field access for the ZIP records: a writer that appends to a
// byte array and a reader that walks a byte range and notes when it overruns.

#include <QByteArray>
#include <QtGlobal>
#include <cstring>

namespace vz {

class LittleEndianWriter {
public:
    explicit LittleEndianWriter(QByteArray& out) : out_(out) {}
    void u16(quint32 value) { put(value, 2); }
    void u32(quint64 value) { put(value, 4); }
    void u64(quint64 value) { put(value, 8); }
    void bytes(const QByteArray& data) { out_.append(data); }

private:
    void put(quint64 value, int count)
    {
        for (int i = 0; i < count; ++i)
            out_.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
    QByteArray& out_;
};

class LittleEndianReader {
public:
    LittleEndianReader(const char* data, qint64 size) : data_(data), size_(size) {}
    explicit LittleEndianReader(const QByteArray& data) : LittleEndianReader(data.constData(), data.size()) {}

    quint32 u16() { return static_cast<quint32>(get(2)); }
    quint32 u32() { return static_cast<quint32>(get(4)); }
    quint64 u64() { return get(8); }
    QByteArray bytes(qint64 count)
    {
        if (count < 0 || pos_ + count > size_) {
            overrun_ = true;
            pos_ = size_;
            return {};
        }
        QByteArray result(data_ + pos_, static_cast<qsizetype>(count));
        pos_ += count;
        return result;
    }
    void skip(qint64 count)
    {
        if (pos_ + count > size_) {
            overrun_ = true;
            pos_ = size_;
        } else {
            pos_ += count;
        }
    }
    qint64 position() const { return pos_; }
    qint64 remaining() const { return size_ - pos_; }
    bool overrun() const { return overrun_; }

private:
    quint64 get(int count)
    {
        if (pos_ + count > size_) {
            overrun_ = true;
            pos_ = size_;
            return 0;
        }
        quint64 value = 0;
        for (int i = 0; i < count; ++i)
            value |= static_cast<quint64>(static_cast<unsigned char>(data_[pos_ + i])) << (8 * i);
        pos_ += count;
        return value;
    }
    const char* data_;
    qint64 size_;
    qint64 pos_ = 0;
    bool overrun_ = false;
};

inline quint32 ReadU32(const char* p)
{
    return static_cast<quint32>(static_cast<unsigned char>(p[0])) |
           static_cast<quint32>(static_cast<unsigned char>(p[1])) << 8 |
           static_cast<quint32>(static_cast<unsigned char>(p[2])) << 16 |
           static_cast<quint32>(static_cast<unsigned char>(p[3])) << 24;
}

}  // namespace vz
