#pragma once
// Compression work done on a worker thread: one piece of one file. Small
// files are deflated whole with libdeflate; larger ones in pieces of
// ChunkBytes with zlib, each piece primed with the 32 KiB before it and ended
// on a byte boundary, so the pieces join into one deflate stream (the way
// pigz works) and several pieces of one file compress at once.

#include "platform/FileSystem.h"

#include <QByteArray>
#include <memory>

namespace vz {

struct CompressJob {
    enum class Mode { Store, Whole, Piece };

    // Input.
    std::shared_ptr<HostFile> file;
    qint64 offset = 0;
    qint64 length = 0;
    Mode mode = Mode::Store;
    bool lastPiece = true;
    int level = 9;

    // Output.
    QByteArray output;      // the bytes to write: compressed, or the data itself when stored
    quint32 crc32 = 0;      // of this piece's uncompressed bytes
    bool stored = false;    // Whole: deflate did not pay, output holds the data
    bool readFailed = false;
};

class ChunkCompressor {
public:
    static constexpr qint64 ChunkBytes = 1 << 20;
    static constexpr qint64 WholeFileLimitBytes = 1 << 20;
    static constexpr qint64 DictionaryBytes = 32768;

    static void Run(CompressJob& job);
    // CRC of the concatenation of two pieces.
    static quint32 CombineCrc(quint32 first, quint32 second, qint64 secondLength);
    static quint32 Crc(quint32 crc, const char* data, qint64 length);
};

}  // namespace vz
