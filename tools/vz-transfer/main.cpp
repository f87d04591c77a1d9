// vz-transfer: the program's three exchanges with the replication web
// service, without a window, for support staff checking that a station
// reaches the service.
//
//   vz-transfer upload FILE --base URL --guid ID [--ca FILE]
//   vz-transfer download DEST --base URL --guid ID [--ca FILE]
//   vz-transfer remove --base URL --guid ID [--ca FILE]
//
// URL is the service's base address as the program uses it
// ("http://host[:port]/Zuvavivevo/" or "https://..."); ID the
// installation's client identifier. An https service's certificate is
// checked against the system's store, or against the authorities in the
// --ca file (a private authority) instead. The requests are the program's own: its HTTP client, its
// multipart body, its URLs. Progress goes to standard error when that is a
// terminal; errors go to standard error. The exit status is 0 on success
// (for an upload: the service answered TRUE), 1 on failure, 2 for a wrong
// command line. A download is written as it arrives into a temporary file
// beside DEST, which replaces DEST only once the whole archive has arrived;
// a failed one leaves DEST as it was.

#include "platform/DriveMap.h"
#include "platform/Errors.h"
#include "platform/EventPump.h"
#include "platform/FileSystem.h"
#include "tools/vz-transfer/TransferProgress.h"
#include "web/AntiFreeze.h"
#include "web/DownloadFile.h"
#include "web/HttpClient.h"
#include "web/ReplicationService.h"
#include "web/Url.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <optional>

using namespace vz;

namespace {

const char* kUsage =
    "usage: vz-transfer upload FILE --base URL --guid ID [--ca FILE]\n"
    "       vz-transfer download DEST --base URL --guid ID [--ca FILE]\n"
    "       vz-transfer remove --base URL --guid ID [--ca FILE]\n"
    "  URL:  the service's base address, for example http://host:8077/Zuvavivevo/\n"
    "        or https://host/Zuvavivevo/\n"
    "  ID:   the installation's client identifier\n"
    "  --ca: PEM certificates of the authorities an https service's certificate\n"
    "        must chain to, instead of the system's store\n";

int usage(const char* problem = nullptr) {
    if (problem) std::fprintf(stderr, "vz-transfer: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

int fail(const QString& message) {
    QString text = message;
    text.replace(QLatin1String("\r\n"), QLatin1String(": "));  // socket errors carry a line break
    std::fprintf(stderr, "vz-transfer: %s\n", text.toUtf8().constData());
    return 1;
}

// The base address as the program forms its URLs from it: checked now, so
// that a mistyped one is named before any file is touched. The scheme's
// handling lives in the client (web/Url.h); this only refuses what the
// client would reject, with the reason.
std::optional<QString> checkedBase(const QString& base, QString& problem) {
    const ParsedUrl parsed = ParseUrl(base);
    if (parsed.scheme.isEmpty()) {
        problem = QStringLiteral("--base must start with http:// or https://");
        return std::nullopt;
    }
    try {
        EndpointOf(parsed);
    } catch (const Error& e) {
        problem = QStringLiteral("--base: ") +
                  (e.message().isEmpty() ? QStringLiteral("unknown scheme ") + parsed.scheme : e.message());
        return std::nullopt;
    }
    if (parsed.host.isEmpty()) {
        problem = QStringLiteral("--base names no host");
        return std::nullopt;
    }
    if (!parsed.query.isEmpty()) {
        problem = QStringLiteral("--base must not hold a query");
        return std::nullopt;
    }
    return base.endsWith(QLatin1Char('/')) ? base : base + QLatin1Char('/');
}

// The program puts the identifier into its URLs unchanged; characters that
// would change what the URL names are refused here instead.
bool identifierFits(const QString& guid) {
    if (guid.isEmpty()) return false;
    for (const QChar c : guid)
        if (c.unicode() <= 0x20 || c.unicode() == 0x7F || QStringLiteral("/\\?#&%").contains(c)) return false;
    return true;
}

QString absoluteHostPath(const QString& path) { return QDir::cleanPath(QFileInfo(path).absoluteFilePath()); }

int upload(ReplicationService& service, HttpClient& client, const QString& file) {
    const QString host = absoluteHostPath(file);
    if (!hostfs::isFile(host)) return fail(file + QStringLiteral(": no such file"));
    // The part names the file by a Windows path, as the program's does.
    const QString windowsName = DriveMap::rootOnly().toWindows(host).value_or(host);
    QString answer;
    {
        TransferProgress progress(client, HttpClient::WorkModeWrite, QStringLiteral("sent"), stderr);
        answer = service.Upload(windowsName, host);
    }
    if (!ReplicationService::UploadAccepted(answer)) {
        const QString shown = answer.size() > 200 ? answer.left(200) + QStringLiteral("...") : answer;
        return fail(QStringLiteral("the service did not accept the upload; it answered: ") + shown);
    }
    std::printf("uploaded %s (%lld bytes): the service answered %s\n", file.toUtf8().constData(),
                static_cast<long long>(QFileInfo(host).size()), answer.toUtf8().constData());
    return 0;
}

int download(ReplicationService& service, HttpClient& client, const QString& dest) {
    const QString host = absoluteHostPath(dest);
    const QString folder = QFileInfo(host).path();
    if (!hostfs::isFolder(folder)) return fail(folder + QStringLiteral(": no such folder"));
    if (hostfs::isFolder(host)) return fail(dest + QStringLiteral(" is a folder"));
    // The file is written through the platform's whole-file write (a
    // temporary file beside it, renamed over it when complete). Its drive
    // map finds names without regard to case: a name that would land on
    // another file is refused.
    const FileSystem fs(DriveMap::rootOnly());
    const std::optional<QString> windowsPath = fs.driveMap().toWindows(host);
    if (!windowsPath || fs.toHost(*windowsPath) != host)
        return fail(dest + QStringLiteral(": another file of that name in another letter case is there"));

    DownloadFile archive;
    if (!archive.Open(host)) return fail(dest + QStringLiteral(": cannot be written: ") + hostfs::errorText(errno));
    try {
        TransferProgress progress(client, HttpClient::WorkModeRead, QStringLiteral("received"), stderr);
        service.Download(archive);
    } catch (const Error& e) {
        if (ReplicationService::NoArchiveOnServer(e))
            return fail(e.message() + QStringLiteral(" (the service holds no archive for this identifier)"));
        throw;
    }
    client.Disconnect();
    if (!archive.Commit(true))
        return fail(dest + QStringLiteral(": cannot be written: ") + hostfs::errorText(errno));
    std::printf("downloaded %lld bytes to %s\n", static_cast<long long>(archive.receivedBytes()),
                dest.toUtf8().constData());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QStringList positional;
    QString base, guid, authorities;
    bool haveBase = false, haveGuid = false;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == QLatin1String("--ca") && i + 1 < argc) {
            authorities = QString::fromLocal8Bit(argv[++i]);
            if (authorities.isEmpty()) return usage("--ca needs a file");
        } else if ((a == QLatin1String("--base") || a == QLatin1String("--guid")) && i + 1 < argc) {
            (a == QLatin1String("--base") ? base : guid) = QString::fromLocal8Bit(argv[++i]);
            (a == QLatin1String("--base") ? haveBase : haveGuid) = true;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a.startsWith(QLatin1String("--"))) {
            const QByteArray problem = QByteArray("unknown option ") + a.toUtf8();
            return usage(problem.constData());
        } else {
            positional << a;
        }
    }
    const QString command = positional.value(0);
    const qsizetype wanted = command == QLatin1String("remove") ? 1 : 2;
    if (!(command == QLatin1String("upload") || command == QLatin1String("download") ||
          command == QLatin1String("remove")) ||
        positional.size() != wanted)
        return usage();
    if (!haveBase || !haveGuid) return usage("--base and --guid are needed");
    QString problem;
    const std::optional<QString> baseUrl = checkedBase(base, problem);
    if (!baseUrl) return usage(problem.toUtf8().constData());
    if (!identifierFits(guid))
        return usage("--guid must be a non-empty identifier without blanks, /, \\, ?, #, & or %");

    NoEventPump pump;
    AntiFreeze antiFreeze(pump);
    SystemClock clock;
    HttpClient client(antiFreeze, clock);
    if (!authorities.isEmpty()) {
        const QString file = absoluteHostPath(authorities);
        if (!hostfs::isFile(file)) return fail(authorities + QStringLiteral(": no such file"));
        client.SetCertificateAuthorities(file);
    }
    ReplicationService service(client, clock, *baseUrl, guid);
    try {
        if (command == QLatin1String("upload")) return upload(service, client, positional.at(1));
        if (command == QLatin1String("download")) return download(service, client, positional.at(1));
        service.Remove();  // its answer says nothing the program uses
        std::printf("removed the service's copy for %s\n", guid.toUtf8().constData());
        return 0;
    } catch (const Error& e) {
        return fail(e.message());
    } catch (const std::exception& e) {
        return fail(QString::fromLocal8Bit(e.what()));
    }
}
