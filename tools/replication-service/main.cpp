// vz-replication-service: the reference replication web service.
//   vz-replication-service [--address ADDR] [--port N] [--root FOLDER] [--max-upload-bytes N]
//                          [--tls-cert FILE --tls-key FILE] [limits: see usage()]
// With --tls-cert and --tls-key (PEM) it serves HTTPS on the port instead
// of plain HTTP.
// Prints "listening on ADDR:PORT" as its first line, logs one line per
// request on standard error, and stops cleanly on SIGINT or SIGTERM.

#include "tools/replication-service/ReplicationServer.h"

#include <QFile>
#include <QString>
#include <csignal>
#include <limits>
#include <cstdio>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: vz-replication-service [--address ADDR] [--port N] [--root FOLDER]\n"
                 "         [--tls-cert FILE --tls-key FILE]\n"
                 "         [--max-upload-bytes N] [--head-timeout-ms N] [--min-upload-rate BYTES_PER_S]\n"
                 "         [--rate-window-ms N] [--send-timeout-ms N] [--drain-bytes N] [--drain-timeout-ms N]\n"
                 "         [--max-connections N] [--max-connections-per-address N]\n");
    return 2;
}

// A PEM file whole; false with a message when it cannot be read.
bool readPem(const QString& path, QByteArray& text) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "vz-replication-service: cannot read %s: %s\n", path.toLocal8Bit().constData(),
                     file.errorString().toLocal8Bit().constData());
        return false;
    }
    text = file.readAll();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    vz::ReplicationServerOptions options;
    vz::ConnectionLimits& limits = options.limits;
    QString certificateFile, keyFile;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (i + 1 >= argc) return usage();
        const QString value = QString::fromLocal8Bit(argv[++i]);
        bool ok = true;
        const auto number = [&](qint64 least, qint64 most) {
            const qint64 n = value.toLongLong(&ok);
            ok = ok && n >= least && n <= most;
            return n;
        };
        constexpr qint64 MaxMs = 24LL * 3600 * 1000;
        if (arg == QLatin1String("--address")) {
            options.address = value;
        } else if (arg == QLatin1String("--port")) {
            options.port = quint16(number(0, 65535));
        } else if (arg == QLatin1String("--root")) {
            options.root = value;
        } else if (arg == QLatin1String("--tls-cert")) {
            certificateFile = value;
        } else if (arg == QLatin1String("--tls-key")) {
            keyFile = value;
        } else if (arg == QLatin1String("--max-upload-bytes")) {
            options.maxUploadBytes = number(0, std::numeric_limits<qint64>::max());
        } else if (arg == QLatin1String("--head-timeout-ms")) {
            limits.headTimeoutMs = int(number(1, MaxMs));
        } else if (arg == QLatin1String("--min-upload-rate")) {
            limits.minUploadBytesPerSecond = number(0, qint64(1) << 40);
        } else if (arg == QLatin1String("--rate-window-ms")) {
            limits.rateWindowMs = int(number(1, MaxMs));
        } else if (arg == QLatin1String("--send-timeout-ms")) {
            limits.sendTimeoutMs = int(number(1, MaxMs));
        } else if (arg == QLatin1String("--drain-bytes")) {
            limits.drainBytes = number(0, qint64(1) << 40);
        } else if (arg == QLatin1String("--drain-timeout-ms")) {
            limits.drainTimeoutMs = int(number(1, MaxMs));
        } else if (arg == QLatin1String("--max-connections")) {
            limits.maxConnections = int(number(1, 1000000));
        } else if (arg == QLatin1String("--max-connections-per-address")) {
            limits.maxConnectionsPerAddress = int(number(1, 1000000));
        } else {
            ok = false;
        }
        if (!ok) return usage();
    }
    // Both or neither: half of the pair would leave the port plain.
    if (certificateFile.isEmpty() != keyFile.isEmpty()) return usage();
    if (!certificateFile.isEmpty() &&
        (!readPem(certificateFile, options.tlsCertificatePem) || !readPem(keyFile, options.tlsKeyPem)))
        return 1;

    // The signals are taken by sigwait below, in no other thread; a client
    // that goes away in the middle of an answer must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::mutex logMutex;
    vz::ReplicationServer server(options, [&logMutex](const QString& line) {
        std::lock_guard lock(logMutex);
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    });
    QString error;
    if (!server.Start(error)) {
        std::fprintf(stderr, "vz-replication-service: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    std::printf("listening on %s:%u\n", options.address.toLocal8Bit().constData(), unsigned(server.Port()));
    std::fflush(stdout);

    std::thread serving([&server] { server.Run(); });
    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
    serving.join();
    std::fprintf(stderr, "stopped\n");
    return 0;
}
