#include "web/DownloadFile.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace vz {

DownloadFile::DownloadFile() = default;

DownloadFile::~DownloadFile() { Abandon(); }

bool DownloadFile::Open(const QString& hostPath) {
    Abandon();
    if (!file_.open(hostfs::encodeName(hostPath), nullptr, detail::FileReplacement::NewFile::ThroughTemporary))
        return false;
    // One block, reused: the receive goes into memory that is mapped already.
    block_.resize(size_t(WriteBlockBytes));
    used_ = 0;
    written_ = 0;
    writeError_ = 0;
    open_ = true;
    return true;
}

void DownloadFile::Expect(qint64) {}

char* DownloadFile::Room(qint64 maxBytes, qint64& roomBytes) {
    if (!open_) throw Error(QStringLiteral("The download has no file to go to."));
    if (used_ == WriteBlockBytes && !Flush())
        throw Error(QStringLiteral("Cannot write the download: ") + hostfs::errorText(writeError_));
    roomBytes = std::min(maxBytes, WriteBlockBytes - used_);
    return block_.data() + used_;
}

void DownloadFile::Filled(qint64 count) {
    used_ += count;
    // A full block goes at once, so that the file follows the transfer.
    if (used_ == WriteBlockBytes && !Flush())
        throw Error(QStringLiteral("Cannot write the download: ") + hostfs::errorText(writeError_));
}

bool DownloadFile::Flush() {
    if (writeError_ != 0) return false;
    const char* from = block_.data();
    qint64 left = used_;
    while (left > 0) {
        const ssize_t n = ::write(file_.fd(), from, size_t(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            writeError_ = n < 0 ? errno : ENOSPC;
            return false;
        }
        from += n;
        left -= n;
        written_ += n;
    }
    used_ = 0;
    return true;
}

bool DownloadFile::Commit(bool durable) {
    if (!open_) {
        errno = EBADF;
        return false;
    }
    open_ = false;
    bool ok = Flush();
    // A replaced file keeps its permission bits, as one written over would.
    if (ok && file_.existed() && ::fchmod(file_.fd(), file_.oldMode() & 07777) != 0) {
        writeError_ = errno;
        ok = false;
    }
    if (!ok) {
        file_.abandon();
        errno = writeError_;
        return false;
    }
    return file_.commit(durable);
}

void DownloadFile::Abandon() {
    open_ = false;
    used_ = 0;
    file_.abandon();
}

}  // namespace vz
