// The program's HTTP client reading whatever a server answers: the input is
// sent as the server's bytes on a real connection on 127.0.0.1 (then the
// server closes its side), through the three exchanges of the replication
// service. The client ends every exchange with its answer or its error,
// never holds more than it received, and keeps its cookie store and the
// Cookie header it sends within their bounds; a second answer, after
// "\n--vz-answer--\n", goes to a second request of the same client (its
// cookies, a kept connection).
//
// Input: an optional first line "POST" (the upload of an archive) or
// "TEXT" (the removal, read as text); else the download. Then the answer.

#include "fuzz/ByteReader.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/ScratchFolder.h"
#include "platform/EventPump.h"
#include "platform/Errors.h"
#include "web/AntiFreeze.h"
#include "web/HttpClient.h"
#include "web/HttpErrors.h"
#include "web/ReplicationService.h"

#include <QByteArrayList>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace vz;

namespace {

const QByteArray AnswerSeparator = "\n--vz-answer--\n";

// Cookies expire against a fixed moment, so that an input means the same every run.
class FixedClock final : public Clock {
public:
    Timestamp now() const override { return 46388.5; }  // 2027-01-01 12:00
};

// A listening socket on 127.0.0.1 that answers each connection with the
// next answer and closes its side; it reads what the client sends until
// the client closes, so that nothing unread turns the close into a reset.
class AnswerServer {
public:
    AnswerServer()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof where;
        FUZZ_CHECK(listener_ >= 0 && ::bind(listener_, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 &&
                       ::listen(listener_, 16) == 0 &&
                       ::getsockname(listener_, reinterpret_cast<sockaddr*>(&where), &length) == 0,
                   "cannot listen on 127.0.0.1");
        port_ = ntohs(where.sin_port);
    }
    ~AnswerServer() { ::close(listener_); }
    quint16 port() const { return port_; }

    // Serves the answers, one connection each, on a thread of its own;
    // connections the client does not make are not waited for long.
    void Serve(const QByteArrayList& answers)
    {
        thread_ = std::thread([this, answers] {
            for (const QByteArray& answer : answers) {
                pollfd p{listener_, POLLIN, 0};
                if (::poll(&p, 1, 2000) != 1)
                    return;
                const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0)
                    return;
                timeval limit{10, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
                ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
                for (qsizetype sent = 0; sent < answer.size();) {
                    const ssize_t n = ::send(fd, answer.constData() + sent, size_t(answer.size() - sent), MSG_NOSIGNAL);
                    if (n <= 0)
                        break;
                    sent += n;
                }
                ::shutdown(fd, SHUT_WR);
                char sink[65536];
                while (::recv(fd, sink, sizeof sink, 0) > 0) {
                }
                ::close(fd);
            }
        });
    }
    void Wait() { thread_.join(); }

private:
    int listener_ = -1;
    quint16 port_ = 0;
    std::thread thread_;
};

// One exchange; the client's errors are answers too. Returns the bytes kept.
template <typename Exchange>
qint64 run(Exchange&& exchange)
{
    try {
        return exchange();
    } catch (const HttpError& e) {
        FUZZ_CHECK(e.body().size() <= HttpClient::MaxErrorBodyBytes, "an error body beyond its bound");
        return e.body().size();
    } catch (const Error&) {
        return 0;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static AnswerServer server;
    static fuzz::ScratchFolder scratch;
    static const QString archive = [] {
        const QString path = scratch.file(QStringLiteral("1A2B.zip"));
        const int fd = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        FUZZ_CHECK(fd >= 0 && ::write(fd, "PK\5\6archive", 11) == 11, "cannot write the archive to upload");
        ::close(fd);
        return path;
    }();

    fuzz::ByteReader in(data, size);
    QByteArray rest = in.rest();
    enum class Kind { Download, Upload, Removal } kind = Kind::Download;
    if (rest.startsWith("POST\n")) {
        kind = Kind::Upload;
        rest.remove(0, 5);
    } else if (rest.startsWith("TEXT\n")) {
        kind = Kind::Removal;
        rest.remove(0, 5);
    }
    QByteArrayList answers;
    const qsizetype cut = rest.indexOf(AnswerSeparator);
    answers << (cut < 0 ? rest : rest.left(cut));
    if (cut >= 0)
        answers << rest.mid(cut + AnswerSeparator.size());

    NoEventPump pump;
    AntiFreeze antiFreeze(pump);
    FixedClock clock;
    HttpClient client(antiFreeze, clock);
    const QString base = QStringLiteral("http://127.0.0.1:%1/Zuvavivevo/").arg(server.port());
    ReplicationService service(client, clock, base, QStringLiteral("1A2B"));
    server.Serve(answers);

    const qint64 kept = run([&]() -> qint64 {
        switch (kind) {
        case Kind::Upload: return service.Upload(QStringLiteral("C:\\1A2B.zip"), archive).size();
        case Kind::Removal: return service.Remove().size();
        case Kind::Download: break;
        }
        QByteArray buffer;
        service.Download(buffer);
        return buffer.size();
    });
    FUZZ_CHECK(kept <= answers.first().size(), "the client kept more than the server sent");
    if (answers.size() > 1) {
        const qint64 keptAgain = run([&]() -> qint64 {
            QByteArray buffer;
            service.Download(buffer);
            return buffer.size();
        });
        FUZZ_CHECK(keptAgain <= answers.last().size(), "the client kept more than the server sent");
    }
    FUZZ_CHECK(client.Cookies().size() <= CookieStore::MaxCookies, "the cookie store beyond its bound");
    const QByteArray cookieHeader = client.Cookies().HeaderFor(QStringLiteral("127.0.0.1"), QStringLiteral("/"), false);
    FUZZ_CHECK(cookieHeader.size() <= CookieStore::MaxBytesPerDomain + 3 * CookieStore::MaxCookiesPerDomain,
               "a Cookie header beyond the store's bounds");
    client.Disconnect();
    server.Wait();
    return 0;
}
