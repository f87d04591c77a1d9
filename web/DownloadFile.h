#pragma once
// A response body written to a file as it arrives: into a temporary file
// beside the target (platform/TemporaryFiles.h names it), which replaces the
// target only on Commit. Memory stays at one write block whatever the
// body's size. What the file holds at any moment is what was received, so
// a transfer that breaks off can still be committed with what came.

#include "platform/FileReplacement.h"
#include "web/ResponseBody.h"

#include <QString>
#include <vector>

namespace vz {

class DownloadFile final : public ResponseBody {
public:
    static constexpr qint64 WriteBlockBytes = qint64(1) << 20;

    DownloadFile();
    ~DownloadFile() override;  // abandons what was not committed
    DownloadFile(const DownloadFile&) = delete;
    DownloadFile& operator=(const DownloadFile&) = delete;

    // Checks that the target (which need not exist) can be replaced and
    // opens the temporary file; false with errno set when it cannot.
    bool Open(const QString& hostPath);
    // Writes what is still buffered and renames the file over the target
    // (after fsync when durable); false with errno set when that failed or
    // an earlier write had, and then nothing of it is left.
    bool Commit(bool durable);
    // Removes the temporary file; the target stays as it was.
    void Abandon();

    qint64 receivedBytes() const { return written_ + used_; }

    void Expect(qint64 bytes) override;
    char* Room(qint64 maxBytes, qint64& roomBytes) override;
    // Raises vz::Error when the file cannot take the bytes (a full disk):
    // the transfer stops, and Commit fails.
    void Filled(qint64 count) override;

private:
    bool Flush();

    detail::FileReplacement file_;
    std::vector<char> block_;
    qint64 used_ = 0;     // bytes in block_ not yet written
    qint64 written_ = 0;  // bytes in the file
    int writeError_ = 0;
    bool open_ = false;
};

}  // namespace vz
