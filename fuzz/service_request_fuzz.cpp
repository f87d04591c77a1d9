// The reference service's own request handling, without the HTTP library
// underneath: the routing and identifier checks of a request line, and an
// upload's multipart body streamed through the reader and the receiver.
// Routing never lets a request through whose identifier could name a file
// outside the archive folder; the multipart reader sees the same parts
// however the body is cut into pieces; an upload is stored exactly when its
// body is well formed and holds an "arquivo" part, holds that part's bytes,
// leaves no other file behind, and a refused one leaves the archive before
// it untouched.
//
// Input: "METHOD TARGET" on the first line, the Content-Type on the second,
// the sizes of the pieces the body arrives in on the third ("1,7,300",
// repeated; empty: in one piece), then the body.

#include "fuzz/ByteReader.h"
#include "fuzz/FolderTree.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/ScratchFolder.h"
#include "platform/FileSystem.h"
#include "tools/replication-service/MultipartReader.h"
#include "tools/replication-service/RequestRoute.h"
#include "tools/replication-service/UploadReceiver.h"

#include <QByteArrayList>
#include <QDir>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using namespace vz;

namespace {

constexpr qsizetype MaxBoundaryBytes = 200;  // as the service takes them

// What a multipart reader reported: one line per event, data joined per part.
struct ReaderLog {
    QByteArrayList events;
    struct Part {
        QByteArray disposition;
        QByteArray data;
        bool ended = false;
    };
    std::vector<Part> parts;
    bool wellFormed = true;
    bool finished = false;
};

void attach(MultipartReader& reader, ReaderLog& log)
{
    reader.OnPartBegin = [&log](const HttpHeaders& headers) {
        log.parts.push_back({headers.Value("Content-Disposition"), QByteArray(), false});
        log.events << "begin " + log.parts.back().disposition;
    };
    reader.OnPartData = [&log](const char* data, qint64 size) {
        FUZZ_CHECK(!log.parts.empty() && !log.parts.back().ended, "data outside a part");
        FUZZ_CHECK(size > 0, "an empty piece of data");
        log.parts.back().data.append(data, size);
    };
    reader.OnPartEnd = [&log] {
        FUZZ_CHECK(!log.parts.empty() && !log.parts.back().ended, "a part ended twice");
        log.parts.back().ended = true;
        log.events << "end " + QByteArray::number(log.parts.back().data.size());
    };
}

std::vector<qsizetype> pieceSizes(const QByteArray& text)
{
    std::vector<qsizetype> sizes;
    for (const QByteArray& item : text.split(',')) {
        bool ok = false;
        const int n = item.trimmed().toInt(&ok);
        if (ok && n > 0 && sizes.size() < 64)
            sizes.push_back(n);
    }
    return sizes;
}

// Cuts the body as the sizes say, or gives it whole.
template <typename Take>
void inPieces(const QByteArray& body, const std::vector<qsizetype>& sizes, Take&& take)
{
    if (sizes.empty()) {
        take(body.constData(), body.size());
        return;
    }
    qsizetype at = 0;
    for (size_t i = 0; at < body.size(); ++i) {
        const qsizetype n = std::min(sizes[i % sizes.size()], body.size() - at);
        if (!take(body.constData() + at, n))
            return;
        at += n;
    }
}

void writeRaw(const QString& path, const QByteArray& bytes)
{
    const int fd = ::open(hostfs::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size(),
               "cannot write the archive already there");
    ::close(fd);
}

void checkUpload(const QByteArray& id, const QByteArray& boundary, const QByteArray& body,
                 const std::vector<qsizetype>& sizes, bool archiveBefore)
{
    // The reader on the whole body, then on its pieces: the same parts.
    ReaderLog whole, pieces;
    {
        MultipartReader reader(boundary);
        attach(reader, whole);
        whole.wellFormed = reader.Feed(body.constData(), body.size());
        whole.finished = reader.Finished();
    }
    {
        MultipartReader reader(boundary);
        attach(reader, pieces);
        inPieces(body, sizes, [&](const char* data, qsizetype n) {
            pieces.wellFormed = reader.Feed(data, n);
            return pieces.wellFormed;
        });
        pieces.finished = reader.Finished();
    }
    FUZZ_CHECK(whole.wellFormed == pieces.wellFormed, "the body's pieces decide whether it is well formed");
    FUZZ_CHECK(whole.finished == pieces.finished, "the body's pieces decide whether it is complete");
    FUZZ_CHECK(whole.events == pieces.events, "the body's pieces change the parts read");
    for (size_t i = 0; i < whole.parts.size(); ++i)
        FUZZ_CHECK(whole.parts[i].data == pieces.parts[i].data, "the body's pieces change a part's data");
    FUZZ_CHECK(!whole.finished || whole.wellFormed, "a broken body taken as complete");

    // The receiver as the service drives it.
    static fuzz::ScratchFolder scratch;
    scratch.clear();
    const QString archive = scratch.file(QString::fromLatin1(id) + QStringLiteral(".zip"));
    FUZZ_CHECK(QDir::cleanPath(archive) == archive && archive.lastIndexOf(QLatin1Char('/')) == scratch.path().size(),
               "an accepted identifier names a file outside the archive folder");
    const QByteArray old = "the archive uploaded before";
    if (archiveBefore)
        writeRaw(archive, old);
    UploadReceiver::Outcome outcome = UploadReceiver::Outcome::Malformed;
    {
        UploadReceiver receiver(archive, boundary);
        UploadReceiver::State state = UploadReceiver::State::Receiving;
        inPieces(body, sizes, [&](const char* data, qsizetype n) {
            state = receiver.Feed(data, n);
            return state == UploadReceiver::State::Receiving;
        });
        if (state == UploadReceiver::State::Receiving)
            outcome = receiver.Finish();
        else
            FUZZ_CHECK(state == UploadReceiver::State::Malformed, "an upload could not be stored in a plain folder");
    }

    const ReaderLog::Part* file = nullptr;
    for (const auto& part : whole.parts) {
        if (part.ended && MultipartReader::DispositionParameter(part.disposition, "name") == "arquivo") {
            file = &part;
            break;
        }
    }
    const bool storable = whole.wellFormed && whole.finished && file;
    FUZZ_CHECK(outcome != UploadReceiver::Outcome::NotStored, "an upload could not be stored in a plain folder");
    FUZZ_CHECK((outcome == UploadReceiver::Outcome::Stored) == storable,
               "stored or refused otherwise than the body's parts say");
    const auto tree = fuzz::FolderTree::Read(hostfs::encodeName(scratch.path()));
    const QByteArray name = id + ".zip";
    if (storable) {
        FUZZ_CHECK(tree.size() == 1 && tree.count(name), "a stored upload left other files");
        FUZZ_CHECK(tree.at(name).content == file->data, "the stored archive is not the arquivo part");
    } else if (archiveBefore) {
        FUZZ_CHECK(tree.size() == 1 && tree.count(name), "a refused upload left files or took the archive away");
        FUZZ_CHECK(tree.at(name).content == old, "a refused upload changed the archive already there");
    } else {
        FUZZ_CHECK(tree.empty(), "a refused upload left a file");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::ByteReader in(data, size);
    QByteArray requestLine = in.until('\n');
    if (requestLine.endsWith('\r'))
        requestLine.chop(1);
    const QByteArray contentType = in.until('\n').trimmed();
    const std::vector<qsizetype> sizes = pieceSizes(in.until('\n'));
    const QByteArray body = in.rest();

    const qsizetype space = requestLine.indexOf(' ');
    const QByteArray method = space < 0 ? requestLine : requestLine.left(space);
    QByteArray target = space < 0 ? QByteArray() : requestLine.mid(space + 1);
    // "GET /x HTTP/1.1": the version is not part of the target.
    const qsizetype version = target.lastIndexOf(" HTTP/");
    if (version >= 0)
        target.truncate(version);

    const RequestRoute route = RequestRoute::Of(method, target);
    FUZZ_CHECK(route.refusal == 0 || route.refusal == 400 || route.refusal == 404 || route.refusal == 405,
               "a refusal the service does not give");
    FUZZ_CHECK((route.page == RequestRoute::Page::None) == (route.refusal == 404), "404 for a page that exists");
    if (route.refusal != 0)
        return 0;
    FUZZ_CHECK(RequestRoute::IsSafeClientId(route.clientId), "a request let through with an unsafe identifier");
    const QByteArray& id = route.clientId;
    FUZZ_CHECK(!id.contains('/') && !id.contains('\\') && !id.contains('\0') && !id.startsWith('.'),
               "an accepted identifier holds a path");
    FUZZ_CHECK((route.page == RequestRoute::Page::Upload) == (method == "POST"), "an upload page without POST");

    const QByteArray boundary = MultipartReader::BoundaryOf(contentType);
    if (route.page != RequestRoute::Page::Upload || !contentType.toLower().startsWith("multipart/form-data") ||
        boundary.isEmpty() || boundary.size() > MaxBoundaryBytes)
        return 0;
    // A body of odd length meets an archive uploaded before.
    checkUpload(id, boundary, body, sizes, body.size() % 2 == 1);
    return 0;
}
