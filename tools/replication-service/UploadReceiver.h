#pragma once
// Takes one upload's multipart body as it streams in and keeps the
// "arquivo" part's bytes in a hidden temporary file beside the archive;
// the file becomes the client's archive only when the body is complete and
// stored, so a broken upload never replaces a good one.

#include "platform/HostFile.h"
#include "tools/replication-service/MultipartReader.h"

#include <QByteArray>
#include <QString>

namespace vz {

class UploadReceiver {
public:
    enum class State {
        Receiving,
        Malformed,   // not a multipart body the service reads
        NotStored,   // the temporary file could not be written
    };
    enum class Outcome { Stored, Malformed, NotStored };

    UploadReceiver(QString archivePath, const QByteArray& boundary);
    ~UploadReceiver();  // removes the temporary file unless it became the archive
    UploadReceiver(const UploadReceiver&) = delete;
    UploadReceiver& operator=(const UploadReceiver&) = delete;

    // The next bytes of the body; once the state is no longer Receiving
    // the rest of the body is ignored.
    State Feed(const char* data, qint64 size);
    // After the whole body: renames the temporary file over the archive
    // when the body held a complete "arquivo" part that was stored.
    Outcome Finish();

private:
    void Discard();

    QString archivePath_;
    QString temporaryPath_;
    HostFile file_;
    MultipartReader parts_;
    State state_ = State::Receiving;
    bool inFile_ = false;
    bool gotFile_ = false;
    bool created_ = false;  // the temporary file exists and is ours to remove
};

}  // namespace vz
