#include "tools/replication-service/UploadReceiver.h"

#include "platform/FileSystem.h"

#include <QRandomGenerator>
#include <filesystem>

namespace vz {

namespace {
std::filesystem::path fsPath(const QString& hostPath) { return hostfs::encodeName(hostPath).toStdString(); }
}  // namespace

UploadReceiver::UploadReceiver(QString archivePath, const QByteArray& boundary)
    : archivePath_(std::move(archivePath)), parts_(boundary) {
    // Hidden, beside the archive (the rename stays on one volume), and
    // unique, so that two uploads for one client never share it.
    const qsizetype slash = archivePath_.lastIndexOf(QLatin1Char('/'));
    temporaryPath_ = archivePath_.left(slash + 1) + QLatin1Char('.') + archivePath_.mid(slash + 1) +
                     QStringLiteral(".%1.part").arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));

    parts_.OnPartBegin = [this](const HttpHeaders& headers) {
        // The first "arquivo" part is the archive; any other part is skipped.
        inFile_ = !gotFile_ &&
                  MultipartReader::DispositionParameter(headers.Value("Content-Disposition"), "name") == "arquivo";
        if (!inFile_ || state_ != State::Receiving) return;
        file_ = HostFile::create(temporaryPath_, ShareMode::All);
        created_ = file_.isOpen();
        if (!created_) state_ = State::NotStored;
    };
    parts_.OnPartData = [this](const char* data, qint64 size) {
        if (inFile_ && state_ == State::Receiving && !file_.writeAll(data, size)) state_ = State::NotStored;
    };
    parts_.OnPartEnd = [this] {
        if (inFile_) gotFile_ = true;
        inFile_ = false;
    };
}

UploadReceiver::~UploadReceiver() { Discard(); }

void UploadReceiver::Discard() {
    file_.close();
    if (!created_) return;
    std::error_code ec;
    std::filesystem::remove(fsPath(temporaryPath_), ec);
    created_ = false;
}

UploadReceiver::State UploadReceiver::Feed(const char* data, qint64 size) {
    if (state_ != State::Receiving) return state_;
    if (!parts_.Feed(data, size)) state_ = State::Malformed;
    // Nothing of a body that will not be stored stays on the disk.
    if (state_ != State::Receiving) Discard();
    return state_;
}

UploadReceiver::Outcome UploadReceiver::Finish() {
    if (state_ == State::Receiving && (!parts_.Finished() || !gotFile_)) state_ = State::Malformed;
    if (state_ == State::Malformed) {
        Discard();
        return Outcome::Malformed;
    }
    if (state_ == State::NotStored || !file_.flush()) {
        Discard();
        return Outcome::NotStored;
    }
    file_.close();
    std::error_code ec;
    std::filesystem::rename(fsPath(temporaryPath_), fsPath(archivePath_), ec);
    if (ec) {
        Discard();
        return Outcome::NotStored;
    }
    created_ = false;
    return Outcome::Stored;
}

}  // namespace vz
