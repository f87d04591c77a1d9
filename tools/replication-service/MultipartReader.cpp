#include "tools/replication-service/MultipartReader.h"

#include <algorithm>
#include <functional>
#include <string_view>

namespace vz {

namespace {
// A part's head is a few short lines (curl's and the program's have two to
// four); these bounds keep a hostile one from growing without limit.
constexpr qsizetype MaxPartHeadBytes = 16384;
constexpr int MaxPartHeadLines = 64;
}

struct MultipartReader::State {
    enum Stage { Preamble, AfterDelimiter, Headers, Data, Done, Broken };
    QByteArray delimiter;  // CR LF "--" boundary
    std::boyer_moore_horspool_searcher<const char*> searcher;
    Stage stage = Preamble;
    QByteArray buffer;  // bytes received and not yet dealt with
    HttpHeaders headers;
    qsizetype headBytes = 0;  // of the current part's head, line ends included
    int headLines = 0;

    explicit State(const QByteArray& boundary)
        : delimiter("\r\n--" + boundary),
          searcher(delimiter.constData(), delimiter.constData() + delimiter.size()) {
        // The first delimiter needs no line end before it.
        buffer = "\r\n";
    }
    qsizetype find(qsizetype from) const {
        const char* begin = buffer.constData();
        const char* end = begin + buffer.size();
        const auto [at, stop] = searcher(begin + from, end);
        return at == end ? -1 : at - begin;
    }
};

MultipartReader::MultipartReader(const QByteArray& boundary) : d_(std::make_unique<State>(boundary)) {}
MultipartReader::~MultipartReader() = default;

bool MultipartReader::Finished() const { return d_->stage == State::Done; }

bool MultipartReader::Feed(const char* data, qint64 size) {
    State& s = *d_;
    if (s.stage == State::Broken) return false;
    if (s.stage == State::Done) return true;  // the epilogue is ignored
    s.buffer.append(data, size);
    qsizetype pos = 0;
    bool progress = true;
    while (progress) {
        progress = false;
        switch (s.stage) {
        case State::Preamble: {
            const qsizetype at = s.find(pos);
            if (at < 0) {
                pos = std::max(pos, s.buffer.size() - s.delimiter.size() + 1);
                break;
            }
            pos = at + s.delimiter.size();
            s.stage = State::AfterDelimiter;
            progress = true;
            break;
        }
        case State::AfterDelimiter: {
            if (s.buffer.size() - pos < 2) break;
            if (s.buffer.mid(pos, 2) == "--") {
                s.stage = State::Done;
                pos = s.buffer.size();
                break;
            }
            // Blanks may stand between the boundary and its line end.
            const qsizetype lf = s.buffer.indexOf('\n', pos);
            if (lf < 0) {
                if (s.buffer.size() - pos > 256) s.stage = State::Broken;
                break;
            }
            if (!s.buffer.mid(pos, lf - pos).trimmed().isEmpty()) {
                s.stage = State::Broken;
                break;
            }
            pos = lf + 1;
            s.headers.Clear();
            s.headBytes = 0;
            s.headLines = 0;
            s.stage = State::Headers;
            progress = true;
            break;
        }
        case State::Headers: {
            const qsizetype lf = s.buffer.indexOf('\n', pos);
            if (lf < 0) {
                if (s.headBytes + s.buffer.size() - pos > MaxPartHeadBytes) s.stage = State::Broken;
                break;
            }
            s.headBytes += lf + 1 - pos;
            if (s.headBytes > MaxPartHeadBytes || ++s.headLines > MaxPartHeadLines) {
                s.stage = State::Broken;
                break;
            }
            QByteArray line = s.buffer.mid(pos, lf - pos);
            if (line.endsWith('\r')) line.chop(1);
            pos = lf + 1;
            if (line.isEmpty()) {
                if (OnPartBegin) OnPartBegin(s.headers);
                // The data starts here; the line end before the next
                // delimiter belongs to the delimiter.
                s.stage = State::Data;
            } else {
                s.headers.AddLine(line);
            }
            progress = true;
            break;
        }
        case State::Data: {
            const qsizetype at = s.find(pos);
            if (at >= 0) {
                if (at > pos && OnPartData) OnPartData(s.buffer.constData() + pos, at - pos);
                if (OnPartEnd) OnPartEnd();
                pos = at + s.delimiter.size();
                s.stage = State::AfterDelimiter;
                progress = true;
            } else {
                // Keep what could be the start of a delimiter.
                const qsizetype safe = s.buffer.size() - (s.delimiter.size() - 1);
                if (safe > pos) {
                    if (OnPartData) OnPartData(s.buffer.constData() + pos, safe - pos);
                    pos = safe;
                }
            }
            break;
        }
        case State::Done:
        case State::Broken:
            break;
        }
    }
    s.buffer.remove(0, std::min(pos, s.buffer.size()));
    return s.stage != State::Broken;
}

QByteArray MultipartReader::BoundaryOf(const QByteArray& contentType) {
    for (const QByteArray& item : contentType.split(';')) {
        const QByteArray trimmed = item.trimmed();
        if (!trimmed.toLower().startsWith("boundary=")) continue;
        QByteArray value = trimmed.mid(9);
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"')) value = value.mid(1, value.size() - 2);
        return value;
    }
    return QByteArray();
}

QByteArray MultipartReader::DispositionParameter(const QByteArray& disposition, const QByteArray& name) {
    const QByteArray key = name + "=\"";
    qsizetype at = -1;
    for (qsizetype from = 0; (at = disposition.indexOf(key, from)) >= 0; from = at + 1) {
        // A whole parameter name: "filename" is not "name".
        qsizetype before = at - 1;
        while (before >= 0 && (disposition.at(before) == ' ' || disposition.at(before) == '\t')) --before;
        if (before < 0 || disposition.at(before) == ';') break;
    }
    if (at < 0) return QByteArray();
    const qsizetype start = at + key.size();
    // The value ends at the first quote followed by ";" or the end, so a
    // file name may hold quotes of its own.
    qsizetype end = -1;
    for (qsizetype i = start; i < disposition.size() && end < 0; ++i) {
        if (disposition.at(i) != '"') continue;
        qsizetype next = i + 1;
        while (next < disposition.size() && (disposition.at(next) == ' ' || disposition.at(next) == '\t')) ++next;
        if (next == disposition.size() || disposition.at(next) == ';') end = i;
    }
    return end < 0 ? QByteArray() : disposition.mid(start, end - start);
}

}  // namespace vz
