#include "archive/EntryExpander.h"

#include "archive/ChunkCompressor.h"
#include "archive/ZipFormat.h"

#include <QByteArray>
#include <libdeflate.h>
#include <zlib.h>

namespace vz {

namespace {

constexpr qint64 kBlockBytes = 1 << 20;

struct DecompressorState {
    libdeflate_decompressor* d = nullptr;
    ~DecompressorState()
    {
        if (d)
            libdeflate_free_decompressor(d);
    }
    libdeflate_decompressor* get()
    {
        if (!d)
            d = libdeflate_alloc_decompressor();
        return d;
    }
};
thread_local DecompressorState tDecompressor;

class Expansion {
public:
    explicit Expansion(ExpandJob& job) : job_(job) {}

    ExpandJob::Result run()
    {
        if (job_.output.isOpen()) {
            // Written through the descriptor made with the name: never reopened by a name that
            // something else could have taken meanwhile.
            out_ = std::move(job_.output);
        } else if (!job_.outputPath.isEmpty()) {
            out_ = HostFile::create(job_.outputPath, ShareMode::None);
            if (!out_.isOpen())
                return ExpandJob::Result::CreateFailed;
        }
        ExpandJob::Result result;
        if (job_.method == zip::MethodStored)
            result = copyStored();
        else if (job_.uncompressedSize <= WholeLimit() && job_.compressedSize <= WholeLimit())
            result = inflateWhole();
        else
            result = inflateStreaming();
        if (result == ExpandJob::Result::Ok && (produced_ != job_.uncompressedSize || crc_ != job_.crc32))
            result = ExpandJob::Result::Mismatch;
        if (out_.isOpen()) {
            if (result == ExpandJob::Result::Ok) {
                out_.setModifiedTime(job_.modifiedUnixMs);
                setPermissions();
            }
            out_.close();
        }
        return result;
    }

private:
    static quint64 WholeLimit() { return static_cast<quint64>(EntryExpander::WholeEntryLimitBytes); }

    // Like the time, best effort: a file system without Unix modes keeps the data all the same.
    void setPermissions()
    {
        if (job_.permissionBits) {
            out_.setPermissionBits(*job_.permissionBits);
        } else if (job_.readOnly) {
            if (const auto created = hostfs::stat(job_.outputPath))
                out_.setPermissionBits(created->permissionBits & ~0222u);
        }
    }

    bool readAt(char* buffer, qint64 bytes, qint64 offset)
    {
        while (bytes > 0) {
            const qint64 got = job_.archive->readAt(buffer, bytes, offset);
            if (got <= 0)
                return false;
            buffer += got;
            offset += got;
            bytes -= got;
        }
        return true;
    }

    // Takes produced bytes: counts, checks and writes them.
    ExpandJob::Result take(const char* data, qint64 bytes)
    {
        produced_ += static_cast<quint64>(bytes);
        if (produced_ > job_.uncompressedSize)
            return ExpandJob::Result::Mismatch;
        crc_ = ChunkCompressor::Crc(crc_, data, bytes);
        if (out_.isOpen() && bytes > 0 && !out_.writeAll(data, bytes))
            return ExpandJob::Result::WriteFailed;
        job_.bytesDone.store(static_cast<qint64>(produced_), std::memory_order_relaxed);
        return ExpandJob::Result::Ok;
    }

    ExpandJob::Result copyStored()
    {
        if (job_.compressedSize != job_.uncompressedSize)
            return ExpandJob::Result::Mismatch;
        QByteArray buffer(static_cast<qsizetype>(std::min<quint64>(kBlockBytes, job_.compressedSize)),
                          Qt::Uninitialized);
        for (quint64 at = 0; at < job_.compressedSize;) {
            const qint64 want = static_cast<qint64>(std::min<quint64>(kBlockBytes, job_.compressedSize - at));
            if (!readAt(buffer.data(), want, job_.dataOffset + static_cast<qint64>(at)))
                return ExpandJob::Result::ReadFailed;
            if (auto r = take(buffer.constData(), want); r != ExpandJob::Result::Ok)
                return r;
            at += static_cast<quint64>(want);
        }
        return ExpandJob::Result::Ok;
    }

    ExpandJob::Result inflateWhole()
    {
        QByteArray input(static_cast<qsizetype>(job_.compressedSize), Qt::Uninitialized);
        if (!readAt(input.data(), input.size(), job_.dataOffset))
            return ExpandJob::Result::ReadFailed;
        QByteArray output(static_cast<qsizetype>(job_.uncompressedSize), Qt::Uninitialized);
        size_t actual = 0;
        libdeflate_decompressor* d = tDecompressor.get();
        if (!d)
            return inflateStreaming();
        const libdeflate_result r = libdeflate_deflate_decompress(d, input.constData(), input.size(),
                                                                  output.data(), output.size(), &actual);
        if (r != LIBDEFLATE_SUCCESS || actual != job_.uncompressedSize)
            return ExpandJob::Result::Mismatch;
        return take(output.constData(), static_cast<qint64>(actual));
    }

    ExpandJob::Result inflateStreaming()
    {
        z_stream z{};
        if (inflateInit2(&z, -15) != Z_OK)
            return ExpandJob::Result::ReadFailed;
        QByteArray input(static_cast<qsizetype>(kBlockBytes), Qt::Uninitialized);
        QByteArray output(static_cast<qsizetype>(kBlockBytes), Qt::Uninitialized);
        quint64 consumed = 0;
        ExpandJob::Result result = ExpandJob::Result::Mismatch;
        int rc = Z_OK;
        while (rc != Z_STREAM_END) {
            if (z.avail_in == 0) {
                if (consumed >= job_.compressedSize)
                    break;  // the data ended before the stream did
                const qint64 want = static_cast<qint64>(std::min<quint64>(kBlockBytes, job_.compressedSize - consumed));
                if (!readAt(input.data(), want, job_.dataOffset + static_cast<qint64>(consumed))) {
                    result = ExpandJob::Result::ReadFailed;
                    break;
                }
                consumed += static_cast<quint64>(want);
                z.next_in = reinterpret_cast<Bytef*>(input.data());
                z.avail_in = static_cast<uInt>(want);
            }
            z.next_out = reinterpret_cast<Bytef*>(output.data());
            z.avail_out = static_cast<uInt>(output.size());
            rc = inflate(&z, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
                break;
            const qint64 made = output.size() - z.avail_out;
            if (auto r = take(output.constData(), made); r != ExpandJob::Result::Ok) {
                result = r;
                rc = Z_DATA_ERROR;
                break;
            }
            if (rc == Z_BUF_ERROR && made == 0 && z.avail_in != 0)
                break;
        }
        if (rc == Z_STREAM_END)
            result = ExpandJob::Result::Ok;
        inflateEnd(&z);
        return result;
    }

    ExpandJob& job_;
    HostFile out_;
    quint64 produced_ = 0;
    quint32 crc_ = 0;
};

}  // namespace

void EntryExpander::Run(ExpandJob& job)
{
    job.result = Expansion(job).run();
}

}  // namespace vz
