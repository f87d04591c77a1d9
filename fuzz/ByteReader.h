#pragma once
// Takes a fuzzer's input apart: single bytes for decisions, then pieces of
// the rest. Reading past the end gives zeros and empty pieces, so every
// input means something. (libFuzzer's FuzzedDataProvider is clang's alone;
// the replay of the corpora is built with GCC.)

#include <QByteArray>
#include <cstddef>
#include <cstdint>

namespace vz::fuzz {

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t remaining() const { return size_ - pos_; }
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // Up to the next `separator` (not included; it is skipped), or the rest.
    QByteArray until(char separator)
    {
        size_t end = pos_;
        while (end < size_ && data_[end] != static_cast<uint8_t>(separator))
            ++end;
        QByteArray piece(reinterpret_cast<const char*>(data_ + pos_), static_cast<qsizetype>(end - pos_));
        pos_ = end < size_ ? end + 1 : end;
        return piece;
    }
    QByteArray rest()
    {
        QByteArray piece(reinterpret_cast<const char*>(data_ + pos_), static_cast<qsizetype>(size_ - pos_));
        pos_ = size_;
        return piece;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace vz::fuzz
