#include "web/MultipartFormBody.h"

#include "platform/Cp1252.h"
#include "platform/Errors.h"

#include <cerrno>
#include <cstring>

namespace vz {

namespace {

constexpr qint64 ClosingLineBytes = 29;  // "--" + 23-character boundary + "--" + CR LF

QByteArray partHead(const QString& boundary, const QString& fieldName, const QString& fileName,
                    const QString& contentType) {
    return QByteArray("--") + EncodeCp1252(boundary) + "\r\nContent-Disposition: form-data; name=\"" +
           EncodeCp1252(fieldName) + "\"; filename=\"" + EncodeCp1252(fileName) + "\"\r\nContent-Type: " +
           EncodeCp1252(contentType) + "\r\nContent-Transfer-Encoding: binary\r\n\r\n";
}

}  // namespace

MultipartFormBody::MultipartFormBody(const Clock& clock) : boundary_(BoundaryFor(clock.now())) {}

QString MultipartFormBody::BoundaryFor(Timestamp localTime) {
    const DateTimeParts t = DecodeTimestamp(localTime);
    return QString::asprintf("--------%02d%02d%02d%02d%02d%02d%03d", t.month, t.day, t.year % 100, t.hour, t.minute,
                             t.second, t.millisecond);
}

QString MultipartFormBody::ContentType() const { return QStringLiteral("multipart/form-data; boundary=") + boundary_; }

qint64 MultipartFormBody::Length() const { return size_ + ClosingLineBytes; }

void MultipartFormBody::AddFile(const QString& fieldName, const QString& fileName, const QString& hostPath,
                                const QString& contentType) {
    Part part;
    part.file = HostFile::openRead(hostPath, ShareMode::DenyWrite);
    const qint64 fileSize = part.file.isOpen() ? part.file.size() : -1;
    if (fileSize < 0) {
        const int error = part.file.isOpen() ? 0 : part.file.errorNumber();
        throw Error(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, hostfs::errorText(error)));
    }
    part.fileName = fileName;
    part.fileSize = fileSize;
    part.head = partHead(boundary_, fieldName, fileName, contentType);
    size_ += part.head.size() + fileSize + 2;
    parts_.push_back(std::move(part));
}

void MultipartFormBody::AddFile(const QString& fieldName, const QString& windowsPath, const FileSystem& fs,
                                const QString& contentType) {
    const std::optional<QString> hostPath = fs.toHost(windowsPath);
    if (!hostPath)
        throw Error(QStringLiteral("Cannot open file \"%1\". %2").arg(windowsPath, hostfs::errorText(ENOENT)));
    AddFile(fieldName, windowsPath, *hostPath, contentType);
}

void MultipartFormBody::Rewind() {
    started_ = true;
    position_ = 0;
    partIndex_ = 0;
    inFile_ = false;
    closingAdded_ = false;
    pending_.clear();
    pendingPos_ = 0;
    if (!parts_.empty()) StartPart();
}

void MultipartFormBody::StartPart() {
    Part& part = parts_[partIndex_];
    pending_ = part.head;
    pendingPos_ = 0;
    if (!part.file.seek(0))
        throw Error(QStringLiteral("Cannot read file \"%1\". %2").arg(part.fileName, hostfs::errorText(errno)));
    fileRead_ = 0;
    inFile_ = true;
}

qint64 MultipartFormBody::ReadFile(Part& part, char* buffer, qint64 count, bool& finished) {
    const auto readError = [&part] {
        return Error(QStringLiteral("Cannot read file \"%1\". %2").arg(part.fileName, hostfs::errorText(errno)));
    };
    const qint64 want = std::min(count, part.fileSize - fileRead_);
    qint64 n = 0;
    if (want > 0) {
        n = part.file.read(buffer, want);
        if (n < 0) throw readError();
        fileRead_ += n;
        if (n < want) {
            // The file shrank: the body ends short of its announced length.
            finished = true;
            return n;
        }
    }
    if (fileRead_ == part.fileSize) {
        // The announced length holds only the size the file had when it was
        // added: a file that grew since cannot be sent as it is.
        char probe;
        const qint64 more = part.file.read(&probe, 1);
        if (more < 0) throw readError();
        if (more > 0)
            throw Error(QStringLiteral("The file \"%1\" changed while it was being sent.").arg(part.fileName));
        finished = true;
    }
    return n;
}

qint64 MultipartFormBody::Read(char* buffer, qint64 count) {
    if (!started_) Rewind();
    qint64 delivered = 0;
    while (delivered < count) {
        if (pendingPos_ < pending_.size()) {
            const qint64 n = std::min<qint64>(count - delivered, pending_.size() - pendingPos_);
            std::memcpy(buffer + delivered, pending_.constData() + pendingPos_, size_t(n));
            pendingPos_ += n;
            delivered += n;
            continue;
        }
        if (inFile_) {
            bool finished = false;
            delivered += ReadFile(parts_[partIndex_], buffer + delivered, count - delivered, finished);
            if (finished) {
                // The file's line end comes next.
                inFile_ = false;
                pending_ = QByteArrayLiteral("\r\n");
                pendingPos_ = 0;
            }
            continue;
        }
        if (partIndex_ + 1 < parts_.size()) {
            ++partIndex_;
            StartPart();
            continue;
        }
        if (closingAdded_) break;
        closingAdded_ = true;
        pending_ = QByteArray("--") + EncodeCp1252(boundary_) + "--\r\n";
        pendingPos_ = 0;
    }
    position_ += delivered;
    return delivered;
}

}  // namespace vz
