// Times the upload and download of a 100 MB archive through the reference
// replication service on 127.0.0.1: the program's client against curl
// ("curl -F arquivo=@FILE URL" and "curl -o FILE URL") in alternating
// rounds, and prints the throughput ratios (best and median round), our
// peak memory while uploading, and whether the download buffer grew once.
//   bench_web [sizeMB] [rounds]

#include "platform/Clock.h"
#include "platform/EventPump.h"
#include "web/HttpClient.h"
#include "web/ReplicationService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

using namespace vz;

namespace {

// Peak resident memory of this process since the last reset, in MiB.
double peakMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

void resetPeak() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly)) clear.write("5");
}

double seconds(const std::function<void()>& job) {
    QElapsedTimer timer;
    timer.start();
    job();
    return double(timer.nsecsElapsed()) / 1e9;
}

void runCurl(const QStringList& arguments) {
    QProcess curl;
    curl.start(QStringLiteral("curl"), QStringList{QStringLiteral("-sS"), QStringLiteral("--fail")} + arguments);
    if (!curl.waitForFinished(600000) || curl.exitCode() != 0) {
        std::fprintf(stderr, "curl failed: %s\n", curl.readAllStandardError().constData());
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

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const qint64 sizeBytes = (argc > 1 ? QByteArray(argv[1]).toLongLong() : 100) * 1000 * 1000;
    const int rounds = argc > 2 ? QByteArray(argv[2]).toInt() : 3;

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

    QProcess service;
    service.start(QStringLiteral(VZ_SERVICE_BINARY),
                  {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--root"), dir.filePath(QStringLiteral("data"))});
    service.setStandardErrorFile(QProcess::nullDevice());
    while (!service.canReadLine() && service.waitForReadyRead(30000)) {
    }
    const QByteArray first = service.readLine().trimmed();
    const QString baseUrl =
        QStringLiteral("http://127.0.0.1:%1/Zuvavivevo/").arg(QString::fromLatin1(first.mid(first.lastIndexOf(':') + 1)));

    NoEventPump pump;
    AntiFreeze antiFreeze(pump);
    SystemClock clock;
    HttpClient client(antiFreeze, clock);
    // The window's handlers do a little work per event; keep ours cheap but real.
    qint64 lastCount = 0;
    std::set<const char*> bufferAddresses;
    QByteArray* watched = nullptr;
    client.OnWorkBegin = [&](int, qint32) { antiFreeze.Active = true; };
    client.OnWork = [&](int, qint32 count) {
        lastCount = count;
        if (watched) bufferAddresses.insert(watched->constData());
    };
    ReplicationService ours(client, clock, baseUrl, QStringLiteral("bench-ours"));
    const QString curlUpload = baseUrl + QStringLiteral("Upload.aspx?guid=bench-curl");
    const QString curlDownload = baseUrl + QStringLiteral("Replicacao/bench-curl.zip");
    const QString downloaded = dir.filePath(QStringLiteral("downloaded.zip"));

    // Memory of an upload: a tenth of the size, then the whole size.
    resetPeak();
    ours.Upload(QStringLiteral("C:\\small.zip"), smallArchive);
    const double smallPeak = peakMiB();
    resetPeak();
    ours.Upload(QStringLiteral("C:\\archive.zip"), archive);
    const double uploadPeak = peakMiB();

    std::vector<double> oursUp, curlUp, oursDown, curlDown, oursGetOnly, curlGetOnly, oursWarm;
    size_t growths = 0;
    const auto oursUpload = [&] {
        oursUp.push_back(seconds([&] {
            if (!ReplicationService::UploadAccepted(ours.Upload(QStringLiteral("C:\\archive.zip"), archive))) std::exit(1);
        }));
    };
    const auto curlUploadRun = [&] {
        curlUp.push_back(seconds([&] {
            runCurl({QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-F"), QStringLiteral("arquivo=@") + archive, curlUpload});
        }));
    };
    const auto oursDownload = [&] {
        // As the import does: the body into memory, then into the file.
        QElapsedTimer timer;
        timer.start();
        QByteArray buffer;
        watched = &buffer;
        bufferAddresses.clear();
        ours.Download(buffer);
        watched = nullptr;
        growths = bufferAddresses.size();
        client.Disconnect();
        oursGetOnly.push_back(double(timer.nsecsElapsed()) / 1e9);
        QFile file(downloaded);
        if (buffer.size() != sizeBytes || !file.open(QIODevice::WriteOnly) || file.write(buffer) != sizeBytes) std::exit(1);
        file.close();
        oursDown.push_back(double(timer.nsecsElapsed()) / 1e9);
        // Once more into the same buffer, whose pages are mapped by now: the
        // difference is what the kernel takes to map in fresh memory.
        buffer.resize(0);
        oursWarm.push_back(seconds([&] {
            ours.Download(buffer);
            client.Disconnect();
        }));
    };
    const auto curlDownloadRun = [&] {
        curlDown.push_back(seconds([&] { runCurl({QStringLiteral("-o"), downloaded, curlDownload}); }));
        curlGetOnly.push_back(seconds([&] { runCurl({QStringLiteral("-o"), QStringLiteral("/dev/null"), curlDownload}); }));
    };
    // Alternating who goes first evens out the other work on the machine.
    for (int round = 0; round < rounds; ++round) {
        if (round % 2 == 0) {
            oursUpload();
            curlUploadRun();
            oursDownload();
            curlDownloadRun();
        } else {
            curlUploadRun();
            oursUpload();
            curlDownloadRun();
            oursDownload();
        }
    }
    service.terminate();
    service.waitForFinished(30000);

    const double mb = double(sizeBytes) / 1e6;
    std::printf("web transfer of %.0f MB on 127.0.0.1, %d rounds, files %s\n", mb, rounds,
                inMemory ? "in memory (/dev/shm)" : "on disk");
    const auto report = [mb](const char* what, std::vector<double> oursTimes, std::vector<double> curlTimes) {
        std::sort(oursTimes.begin(), oursTimes.end());
        std::sort(curlTimes.begin(), curlTimes.end());
        const double oursBest = oursTimes.front(), curlBest = curlTimes.front();
        const double oursMedian = oursTimes[oursTimes.size() / 2], curlMedian = curlTimes[curlTimes.size() / 2];
        std::printf("  %s best: ours %.3f s (%.0f MB/s)  curl %.3f s (%.0f MB/s)  ratio ours/curl %.2f\n", what, oursBest,
                    mb / oursBest, curlBest, mb / curlBest, curlBest / oursBest);
        std::printf("  %s median: ours %.3f s  curl %.3f s  ratio ours/curl %.2f\n", what, oursMedian, curlMedian,
                    curlMedian / oursMedian);
    };
    report("upload  ", oursUp, curlUp);
    // The import keeps the body in memory and writes the file afterwards;
    // curl writes while it receives. Both are shown: with the file write,
    // and the clients alone (ours into memory, curl into /dev/null).
    report("download with the file write", oursDown, curlDown);
    report("download, client alone", oursGetOnly, curlGetOnly);
    report("download, client alone, buffer already mapped", oursWarm, curlGetOnly);
    std::printf("  upload peak memory: %.1f MiB for a %.0f MB file, %.1f MiB for a %.0f MB file\n", uploadPeak, mb,
                smallPeak, mb / 10);
    std::printf("  download buffer: %zu address(es) over the transfer (1 = grown once to the announced length)\n", growths);
    std::printf("  last work count %lld\n", static_cast<long long>(lastCount));
    return 0;
}
