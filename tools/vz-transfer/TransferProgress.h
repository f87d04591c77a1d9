#pragma once
// The progress of one direction of an HTTP client's transfers, written on
// a terminal as one line that keeps being rewritten: bytes so far, and the
// whole and the share of it when the transfer announced its size.

#include "web/HttpClient.h"

#include <QString>
#include <cstdio>

namespace vz {

class TransferProgress {
public:
    // Shows the transfers of workMode (HttpClient::WorkModeRead or
    // WorkModeWrite) as `verb` ("sent", "received") on `out`, which must be
    // a terminal; nothing is written otherwise.
    TransferProgress(HttpClient& client, int workMode, QString verb, std::FILE* out);
    ~TransferProgress();  // ends the line, when one was written
    TransferProgress(const TransferProgress&) = delete;
    TransferProgress& operator=(const TransferProgress&) = delete;

    // The text of the line for a count of bytes of an announced whole (0:
    // not announced).
    static QString Line(const QString& verb, qint64 bytes, qint64 wholeBytes);

private:
    void Show(bool force);

    HttpClient& client_;
    int workMode_;
    QString verb_;
    std::FILE* out_;
    bool terminal_;
    bool written_ = false;
    // The work events carry 32-bit counts; totals are kept in 64 bits from
    // their differences, so files beyond 2 GiB are counted right.
    qint64 earlierTransfersBytes_ = 0;  // of finished transfers (one per chunk of a chunked body)
    qint64 currentBytes_ = 0;
    quint32 lastCount_ = 0;
    qint64 wholeBytes_ = 0;  // announced by the first transfer, 0 when not
    bool firstTransfer_ = true;
    qint64 shownBytes_ = -1;
};

}  // namespace vz
