// The service's multipart reader keeps a part's head within bounds,
// however the body is cut into pieces.
#include "tools/replication-service/MultipartReader.h"

#include <gtest/gtest.h>

using namespace vz;

namespace {

struct Outcome {
    bool fed = true;  // every Feed call accepted the bytes
    bool finished = false;
    QByteArray name;
    QByteArray data;
};

// Feeds `body` in pieces of `pieceBytes`.
Outcome read(const QByteArray& body, qsizetype pieceBytes) {
    MultipartReader reader("XyZ");
    Outcome outcome;
    reader.OnPartBegin = [&](const HttpHeaders& h) {
        outcome.name = MultipartReader::DispositionParameter(h.Value("Content-Disposition"), "name");
    };
    reader.OnPartData = [&](const char* d, qint64 n) { outcome.data.append(d, n); };
    for (qsizetype at = 0; at < body.size() && outcome.fed; at += pieceBytes)
        outcome.fed = reader.Feed(body.constData() + at, std::min(pieceBytes, body.size() - at));
    outcome.finished = reader.Finished();
    return outcome;
}

QByteArray bodyWithHead(const QByteArray& extraLines) {
    return "--XyZ\r\nContent-Disposition: form-data; name=\"arquivo\"; filename=\"C:\\a.zip\"\r\n" + extraLines +
           "\r\ndata\r\n--XyZ--\r\n";
}

QByteArray lines(int count, const QByteArray& line) {
    QByteArray out;
    for (int i = 0; i < count; ++i) out += line;
    return out;
}

TEST(MultipartReaderTest, APartHeadHasAtMost64LinesAnd16KiB) {
    for (const qsizetype piece : {qsizetype(1), qsizetype(7), qsizetype(1 << 20)}) {
        // 62 more lines: 63 with the disposition, 64 with the blank line.
        const Outcome fits = read(bodyWithHead(lines(62, "X-Filler: a\r\n")), piece);
        EXPECT_TRUE(fits.fed && fits.finished) << piece;
        EXPECT_EQ(fits.name, "arquivo");
        EXPECT_EQ(fits.data, "data");

        EXPECT_FALSE(read(bodyWithHead(lines(63, "X-Filler: a\r\n")), piece).fed) << piece;
        // Continuation lines count as lines.
        EXPECT_FALSE(read(bodyWithHead(lines(63, " a\r\n")), piece).fed) << piece;
        // Ten lines of 2,000 bytes.
        EXPECT_FALSE(read(bodyWithHead(lines(10, "X-Filler: " + QByteArray(1988, 'a') + "\r\n")), piece).fed) << piece;
    }
    // A line that never ends is refused once it passes the bound, before
    // the rest of it arrives.
    MultipartReader reader("XyZ");
    EXPECT_TRUE(reader.Feed("--XyZ\r\nContent-Disposition: ", 29));
    const QByteArray endless(4096, 'a');
    int accepted = 0;
    while (accepted < 100 && reader.Feed(endless.constData(), endless.size())) ++accepted;
    EXPECT_EQ(accepted, 3);
}

}  // namespace
