#pragma once
// An HTML-form style multipart body ("multipart/form-data") made of file
// parts, produced lazily while it is sent: only the head of the current part
// is held in memory, the files are read straight into the sender's buffer.

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "web/RequestBody.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace vz {

class MultipartFormBody final : public RequestBody {
public:
    // The boundary comes from the clock's local date and time.
    explicit MultipartFormBody(const Clock& clock);

    // Opens the host file at once, denying others write access while this
    // body lives, and appends a part. fileName is what the part names (the
    // program gives the file's full Windows path). Raises vz::Error when the
    // file cannot be opened; no part is added then.
    void AddFile(const QString& fieldName, const QString& fileName, const QString& hostPath,
                 const QString& contentType);
    // The same for a Windows path resolved through the file system's drive
    // map; the part names the Windows path exactly as given.
    void AddFile(const QString& fieldName, const QString& windowsPath, const FileSystem& fs,
                 const QString& contentType);

    const QString& Boundary() const { return boundary_; }
    QString ContentType() const override;
    qint64 Size() const { return size_; }  // all parts, without the closing line
    qint64 Length() const override;        // Size() + the closing line
    qint64 Position() const { return position_; }
    void Rewind() override;
    qint64 Read(char* buffer, qint64 count) override;

    // "--------" + month, day, two-digit year, hour, minute, second (two
    // digits each) and millisecond (three digits).
    static QString BoundaryFor(Timestamp localTime);

private:
    struct Part {
        QByteArray head;
        QString fileName;
        HostFile file;
        qint64 fileSize = 0;
    };
    void StartPart();
    qint64 ReadFile(Part& part, char* buffer, qint64 count, bool& finished);

    QString boundary_;
    std::vector<Part> parts_;
    qint64 size_ = 0;
    qint64 position_ = 0;

    // Reading state.
    bool started_ = false;
    size_t partIndex_ = 0;
    bool inFile_ = false;
    bool closingAdded_ = false;
    qint64 fileRead_ = 0;
    QByteArray pending_;
    qsizetype pendingPos_ = 0;
};

}  // namespace vz
