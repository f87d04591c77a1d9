// Times the upload and download of a 100 MB archive through the reference
// replication service on 127.0.0.1, over plain HTTP and over HTTPS (the
// service with a certificate of an authority made here with the openssl
// command line): the program's client against curl ("curl -F
// arquivo=@FILE URL" and "curl -o FILE URL", "--cacert" for HTTPS) in
// alternating rounds. The download is the import's: into a temporary file
// beside the archive, renamed at the end. Prints the four throughput ratios
// ours/curl (best and median round), our peak memory while uploading a
// tenth and the whole size, and while downloading 100 MB and 1 GB.
//   bench_web [sizeMB] [rounds] [largeDownloadMB]

#include "platform/Clock.h"
#include "platform/EventPump.h"
#include "web/DownloadFile.h"
#include "web/HttpClient.h"
#include "web/ReplicationService.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace vz;

namespace {

qint64 statusKb(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field)) return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    return -1;
}

// The peak resident size is reset to the current one; growthMiB() is how
// far the peak rose above that since.
class PeakGrowth {
public:
    PeakGrowth() {
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (clear.open(QIODevice::WriteOnly)) clear.write("5");
        clear.close();
        startKb_ = statusKb("VmRSS:");
    }
    double growthMiB() const { return double(statusKb("VmHWM:") - startKb_) / 1024.0; }
    static double peakMiB() { return double(statusKb("VmHWM:")) / 1024.0; }

private:
    qint64 startKb_;
};

double seconds(const std::function<void()>& job) {
    QElapsedTimer timer;
    timer.start();
    job();
    return double(timer.nsecsElapsed()) / 1e9;
}

void run(const QString& program, const QStringList& arguments, const QString& folder = {}) {
    QProcess process;
    if (!folder.isEmpty()) process.setWorkingDirectory(folder);
    process.start(program, arguments);
    if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", program.toUtf8().constData(), process.readAllStandardError().constData());
        std::exit(1);
    }
}

void writeRandomFile(const QString& path, qint64 bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) std::exit(1);
    QByteArray block(1 << 20, '\0');
    QRandomGenerator generator(7);
    for (qint64 written = 0; written < bytes; written += block.size()) {
        generator.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        file.write(block.constData(), std::min<qint64>(block.size(), bytes - written));
    }
}

// An authority and a certificate it signed for 127.0.0.1, in `folder`.
void makeCertificates(const QString& folder) {
    const QStringList key{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                          QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    const QString openssl = QStringLiteral("openssl");
    run(openssl,
        QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + key +
            QStringList{QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"), QStringLiteral("ca.pem"),
                        QStringLiteral("-days"), QStringLiteral("30"), QStringLiteral("-subj"), QStringLiteral("/CN=bench CA")},
        folder);
    run(openssl,
        QStringList{QStringLiteral("req"), QStringLiteral("-new")} + key +
            QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"), QStringLiteral("-out"),
                        QStringLiteral("server.csr"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")},
        folder);
    QFile extensions(folder + QStringLiteral("/server.ext"));
    if (!extensions.open(QIODevice::WriteOnly) ||
        extensions.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n") < 0)
        std::exit(1);
    extensions.close();
    run(openssl,
        {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), QStringLiteral("server.csr"),
         QStringLiteral("-CA"), QStringLiteral("ca.pem"), QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
         QStringLiteral("-set_serial"), QStringLiteral("2"), QStringLiteral("-days"), QStringLiteral("30"),
         QStringLiteral("-extfile"), QStringLiteral("server.ext"), QStringLiteral("-out"), QStringLiteral("server.pem")},
        folder);
}

// The reference service as its own process; its base URL.
QString startService(QProcess& service, const QString& root, const QString& scheme, const QStringList& extra) {
    service.start(QStringLiteral(VZ_SERVICE_BINARY),
                  QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--root"), root} + extra);
    service.setStandardErrorFile(QProcess::nullDevice());
    while (!service.canReadLine() && service.waitForReadyRead(30000)) {
    }
    const QByteArray first = service.readLine().trimmed();
    if (!first.startsWith("listening on ")) std::exit(1);
    return QStringLiteral("%1://127.0.0.1:%2/Zuvavivevo/").arg(scheme, QString::fromLatin1(first.mid(first.lastIndexOf(':') + 1)));
}

struct Times {
    std::vector<double> ours, curl;
};

void report(const char* what, double mb, Times times, double& medianRatio) {
    std::sort(times.ours.begin(), times.ours.end());
    std::sort(times.curl.begin(), times.curl.end());
    const double oursBest = times.ours.front(), curlBest = times.curl.front();
    const double oursMedian = times.ours[times.ours.size() / 2], curlMedian = times.curl[times.curl.size() / 2];
    medianRatio = curlMedian / oursMedian;
    std::printf("  %-14s best: ours %.3f s (%.0f MB/s)  curl %.3f s (%.0f MB/s)  ratio %.2f | median: ours %.3f s  curl "
                "%.3f s  ratio %.2f\n",
                what, oursBest, mb / oursBest, curlBest, mb / curlBest, curlBest / oursBest, oursMedian, curlMedian,
                medianRatio);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // bench_web [SIZE_MB] [ROUNDS] [LARGE_MB]: each a positive number.
    const auto number = [&](int index, qint64 fallback) {
        if (argc <= index)
            return fallback;
        bool ok = false;
        const qint64 value = QByteArray(argv[index]).toLongLong(&ok);
        if (!ok || value <= 0) {
            std::fprintf(stderr, "usage: bench_web [SIZE_MB] [ROUNDS] [LARGE_MB]\n");
            std::exit(2);
        }
        return value;
    };
    const qint64 sizeBytes = number(1, 100) * 1000 * 1000;
    const int rounds = int(number(2, 3));
    const qint64 largeBytes = number(3, 1000) * 1000 * 1000;

    // In memory when possible: the service syncs every stored upload, and the
    // disk's speed (shared with everything else on the machine) would
    // otherwise swamp the difference between the two clients.
    const bool inMemory = QFileInfo(QStringLiteral("/dev/shm")).isWritable();
    QTemporaryDir dir(inMemory ? QStringLiteral("/dev/shm/bench_web-XXXXXX")
                               : QDir::tempPath() + QStringLiteral("/bench_web-XXXXXX"));
    const QString archive = dir.filePath(QStringLiteral("archive.zip"));
    const QString smallArchive = dir.filePath(QStringLiteral("small.zip"));
    writeRandomFile(archive, sizeBytes);
    writeRandomFile(smallArchive, sizeBytes / 10);
    makeCertificates(dir.path());
    const QString authority = dir.filePath(QStringLiteral("ca.pem"));

    QProcess plainService, tlsService;
    const QString plainBase = startService(plainService, dir.filePath(QStringLiteral("plain")), QStringLiteral("http"), {});
    const QString tlsBase =
        startService(tlsService, dir.filePath(QStringLiteral("tls")), QStringLiteral("https"),
                     {QStringLiteral("--tls-cert"), dir.filePath(QStringLiteral("server.pem")), QStringLiteral("--tls-key"),
                      dir.filePath(QStringLiteral("server.key"))});

    NoEventPump pump;
    AntiFreeze antiFreeze(pump);
    SystemClock clock;
    HttpClient client(antiFreeze, clock);
    client.SetCertificateAuthorities(authority);
    // The window's handlers do a little work per event; keep ours cheap but real.
    qint64 lastCount = 0;
    client.OnWorkBegin = [&](int, qint32) { antiFreeze.Active = true; };
    client.OnWork = [&](int, qint32 count) { lastCount = count; };
    const QString downloaded = dir.filePath(QStringLiteral("downloaded.zip"));

    // The import's download: into a temporary file beside the archive,
    // renamed over it at the end, not synced.
    const auto oursDownload = [&](ReplicationService& service, qint64 expected) {
        DownloadFile file;
        if (!file.Open(downloaded)) std::exit(1);
        service.Download(file);
        client.Disconnect();
        if (file.receivedBytes() != expected || !file.Commit(false)) std::exit(1);
    };

    struct Transport {
        const char* name;
        QString base;
        QStringList curlOptions;
        Times up, down;
    };
    Transport transports[2] = {{"plain", plainBase, {}, {}, {}},
                               {"TLS", tlsBase, {QStringLiteral("--cacert"), authority}, {}, {}}};

    double uploadPeakSmall = 0, uploadPeak = 0;
    for (Transport& t : transports) {
        ReplicationService ours(client, clock, t.base, QStringLiteral("bench-ours"));
        const QString curlUpload = t.base + QStringLiteral("Upload.aspx?guid=bench-curl");
        const QString curlDownload = t.base + QStringLiteral("Replicacao/bench-curl.zip");
        const auto curl = [&](const QStringList& arguments) {
            run(QStringLiteral("curl"), QStringList{QStringLiteral("-sS"), QStringLiteral("--fail")} + t.curlOptions + arguments);
        };
        if (&t == &transports[0]) {
            // Memory of an upload: a tenth of the size, then the whole size.
            PeakGrowth small;
            ours.Upload(QStringLiteral("C:\\small.zip"), smallArchive);
            uploadPeakSmall = small.growthMiB();
            PeakGrowth whole;
            ours.Upload(QStringLiteral("C:\\archive.zip"), archive);
            uploadPeak = whole.growthMiB();
        }
        const auto oursUp = [&] {
            t.up.ours.push_back(seconds([&] {
                if (!ReplicationService::UploadAccepted(ours.Upload(QStringLiteral("C:\\archive.zip"), archive))) std::exit(1);
            }));
        };
        const auto curlUp = [&] {
            t.up.curl.push_back(seconds([&] {
                curl({QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-F"),
                      QStringLiteral("arquivo=@") + archive, curlUpload});
            }));
        };
        const auto oursDown = [&] { t.down.ours.push_back(seconds([&] { oursDownload(ours, sizeBytes); })); };
        const auto curlDown = [&] { t.down.curl.push_back(seconds([&] { curl({QStringLiteral("-o"), downloaded, curlDownload}); })); };
        // Alternating who goes first evens out the other work on the machine.
        for (int round = 0; round < rounds; ++round) {
            if (round % 2 == 0) {
                oursUp();
                curlUp();
                oursDown();
                curlDown();
            } else {
                curlUp();
                oursUp();
                curlDown();
                oursDown();
            }
        }
    }

    // Download memory: the archive's size must not matter.
    double downloadPeak[2][2] = {};  // growth, [plain, TLS][size, large]
    double downloadResident[2][2] = {};  // the whole process's peak
    const QString large = QStringLiteral("bench-large");
    for (int t = 0; t < 2; ++t) {
        ReplicationService ours(client, clock, transports[t].base, QStringLiteral("bench-ours"));
        PeakGrowth normal;
        oursDownload(ours, sizeBytes);
        downloadPeak[t][0] = normal.growthMiB();
        downloadResident[t][0] = PeakGrowth::peakMiB();
        const QString root = dir.filePath(t == 0 ? QStringLiteral("plain") : QStringLiteral("tls"));
        writeRandomFile(root + QStringLiteral("/Replicacao/") + large + QStringLiteral(".zip"), largeBytes);
        ReplicationService largeService(client, clock, transports[t].base, large);
        PeakGrowth big;
        oursDownload(largeService, largeBytes);
        downloadPeak[t][1] = big.growthMiB();
        downloadResident[t][1] = PeakGrowth::peakMiB();
        QFile::remove(root + QStringLiteral("/Replicacao/") + large + QStringLiteral(".zip"));
        QFile::remove(downloaded);
    }
    plainService.terminate();
    tlsService.terminate();
    plainService.waitForFinished(30000);
    tlsService.waitForFinished(30000);

    const double mb = double(sizeBytes) / 1e6;
    std::printf("web transfer of %.0f MB on 127.0.0.1, %d rounds, files %s; ratio = curl time / our time\n", mb, rounds,
                inMemory ? "in memory (/dev/shm)" : "on disk");
    double ratios[4];
    report("plain upload", mb, transports[0].up, ratios[0]);
    report("plain download", mb, transports[0].down, ratios[1]);
    report("TLS upload", mb, transports[1].up, ratios[2]);
    report("TLS download", mb, transports[1].down, ratios[3]);
    std::printf("  ratios ours/curl (median): plain upload %.2f, plain download %.2f, TLS upload %.2f, TLS download %.2f\n",
                ratios[0], ratios[1], ratios[2], ratios[3]);
    std::printf("  upload peak memory: %.1f MiB for a %.0f MB file, %.1f MiB for a %.0f MB file\n", uploadPeak, mb,
                uploadPeakSmall, mb / 10);
    const double largeMb = double(largeBytes) / 1e6;
    for (int t = 0; t < 2; ++t)
        std::printf("  %s download peak memory: %.1f MiB resident (%.1f MiB above the start) for %.0f MB, "
                    "%.1f MiB (%.1f MiB above) for %.0f MB\n",
                    transports[t].name, downloadResident[t][0], downloadPeak[t][0], mb, downloadResident[t][1],
                    downloadPeak[t][1], largeMb);
    std::printf("  last work count %lld\n", static_cast<long long>(lastCount));
    return 0;
}
