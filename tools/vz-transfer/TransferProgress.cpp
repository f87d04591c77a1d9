#include "tools/vz-transfer/TransferProgress.h"

#include <unistd.h>

namespace vz {

namespace {

QString sizeText(qint64 bytes) {
    if (bytes < 1024) return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 1024 * 1024) return QStringLiteral("%1 KiB").arg(double(bytes) / 1024, 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
}

// Rewriting the line for every 32 KiB block would flood a slow terminal.
constexpr qint64 ShowEveryBytes = 256 * 1024;

}  // namespace

TransferProgress::TransferProgress(HttpClient& client, int workMode, QString verb, std::FILE* out)
    : client_(client), workMode_(workMode), verb_(std::move(verb)), out_(out), terminal_(isatty(fileno(out)) == 1) {
    if (!terminal_) return;
    client_.OnWorkBegin = [this](int mode, qint32 countMax) {
        if (mode != workMode_) return;
        if (firstTransfer_ && countMax > 0) wholeBytes_ = countMax;
        if (!firstTransfer_) wholeBytes_ = 0;  // several transfers: the whole is not known
        firstTransfer_ = false;
        currentBytes_ = 0;
        lastCount_ = 0;
    };
    client_.OnWork = [this](int mode, qint32 count) {
        if (mode != workMode_) return;
        currentBytes_ += qint64(quint32(count) - lastCount_);
        lastCount_ = quint32(count);
        Show(false);
    };
    client_.OnWorkEnd = [this](int mode) {
        if (mode != workMode_) return;
        earlierTransfersBytes_ += currentBytes_;
        currentBytes_ = 0;
        lastCount_ = 0;
        Show(true);
    };
}

TransferProgress::~TransferProgress() {
    client_.OnWorkBegin = nullptr;
    client_.OnWork = nullptr;
    client_.OnWorkEnd = nullptr;
    if (written_) {
        std::fputc('\n', out_);
        std::fflush(out_);
    }
}

QString TransferProgress::Line(const QString& verb, qint64 bytes, qint64 wholeBytes) {
    QString line = verb + QLatin1Char(' ') + sizeText(bytes);
    if (wholeBytes > 0 && bytes <= wholeBytes)
        line += QStringLiteral(" of %1 (%2%)").arg(sizeText(wholeBytes)).arg(bytes * 100 / wholeBytes);
    return line;
}

void TransferProgress::Show(bool force) {
    const qint64 bytes = earlierTransfersBytes_ + currentBytes_;
    if (bytes == shownBytes_) return;
    if (!force && shownBytes_ >= 0 && bytes - shownBytes_ < ShowEveryBytes && bytes != wholeBytes_) return;
    shownBytes_ = bytes;
    // Padded so that a shorter line covers the longer one before it.
    const QByteArray text = Line(verb_, bytes, wholeBytes_).leftJustified(40).toUtf8();
    std::fprintf(out_, "\r%s", text.constData());
    std::fflush(out_);
    written_ = true;
}

}  // namespace vz
