#include "archive/ChunkCompressor.h"

#include <libdeflate.h>
#include <zlib.h>

namespace vz {

namespace {

// One deflate state per worker thread, kept across pieces.
struct ZlibState {
    z_stream stream{};
    int level = -1;
    ~ZlibState()
    {
        if (level >= 0)
            deflateEnd(&stream);
    }
    z_stream* get(int wanted)
    {
        if (level == wanted) {
            deflateReset(&stream);
            return &stream;
        }
        if (level >= 0)
            deflateEnd(&stream);
        stream = z_stream{};
        level = -1;
        if (deflateInit2(&stream, wanted, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
            return nullptr;
        level = wanted;
        return &stream;
    }
};

struct LibdeflateState {
    libdeflate_compressor* compressor = nullptr;
    int level = -1;
    ~LibdeflateState()
    {
        if (compressor)
            libdeflate_free_compressor(compressor);
    }
    libdeflate_compressor* get(int wanted)
    {
        if (level != wanted) {
            if (compressor)
                libdeflate_free_compressor(compressor);
            compressor = libdeflate_alloc_compressor(wanted);
            level = compressor ? wanted : -1;
        }
        return compressor;
    }
};

thread_local ZlibState tZlib;
thread_local LibdeflateState tLibdeflate;

bool readExact(HostFile& file, char* buffer, qint64 length, qint64 offset)
{
    while (length > 0) {
        const qint64 got = file.readAt(buffer, length, offset);
        if (got <= 0)
            return false;
        buffer += got;
        offset += got;
        length -= got;
    }
    return true;
}

void compressPiece(CompressJob& job)
{
    const qint64 dictionary = std::min(job.offset, ChunkCompressor::DictionaryBytes);
    QByteArray input(static_cast<qsizetype>(dictionary + job.length), Qt::Uninitialized);
    if (!readExact(*job.file, input.data(), input.size(), job.offset - dictionary)) {
        job.readFailed = true;
        return;
    }
    const char* data = input.constData() + dictionary;
    job.crc32 = ChunkCompressor::Crc(0, data, job.length);
    z_stream* z = tZlib.get(job.level);
    if (!z) {
        job.readFailed = true;
        return;
    }
    if (dictionary > 0)
        deflateSetDictionary(z, reinterpret_cast<const Bytef*>(input.constData()), static_cast<uInt>(dictionary));
    job.output = QByteArray(static_cast<qsizetype>(deflateBound(z, static_cast<uLong>(job.length)) + 64),
                            Qt::Uninitialized);
    z->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z->avail_in = static_cast<uInt>(job.length);
    z->next_out = reinterpret_cast<Bytef*>(job.output.data());
    z->avail_out = static_cast<uInt>(job.output.size());
    const int flush = job.lastPiece ? Z_FINISH : Z_SYNC_FLUSH;
    int rc = deflate(z, flush);
    if ((job.lastPiece && rc != Z_STREAM_END) || (!job.lastPiece && rc != Z_OK) || z->avail_in != 0) {
        job.readFailed = true;
        return;
    }
    job.output.truncate(static_cast<qsizetype>(job.output.size() - z->avail_out));
}

}  // namespace

quint32 ChunkCompressor::Crc(quint32 crc, const char* data, qint64 length)
{
    return libdeflate_crc32(crc, data, static_cast<size_t>(length));
}

quint32 ChunkCompressor::CombineCrc(quint32 first, quint32 second, qint64 secondLength)
{
    return static_cast<quint32>(crc32_combine64(first, second, static_cast<z_off64_t>(secondLength)));
}

void ChunkCompressor::Run(CompressJob& job)
{
    if (job.mode == CompressJob::Mode::Piece) {
        compressPiece(job);
        return;
    }
    QByteArray input(static_cast<qsizetype>(job.length), Qt::Uninitialized);
    if (!readExact(*job.file, input.data(), job.length, job.offset)) {
        job.readFailed = true;
        return;
    }
    job.crc32 = Crc(0, input.constData(), job.length);
    if (job.mode == CompressJob::Mode::Whole) {
        libdeflate_compressor* c = tLibdeflate.get(job.level);
        if (c) {
            const size_t bound = libdeflate_deflate_compress_bound(c, static_cast<size_t>(job.length));
            QByteArray out(static_cast<qsizetype>(bound), Qt::Uninitialized);
            const size_t n = libdeflate_deflate_compress(c, input.constData(), static_cast<size_t>(job.length),
                                                         out.data(), bound);
            if (n > 0 && static_cast<qint64>(n) < job.length) {
                out.truncate(static_cast<qsizetype>(n));
                job.output = std::move(out);
                return;
            }
        }
        job.stored = true;
    }
    job.output = std::move(input);
}

}  // namespace vz
