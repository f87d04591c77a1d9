// vz-replication-service: the reference replication web service.
//   vz-replication-service [--address ADDR] [--port N] [--root FOLDER] [--max-upload-bytes N]
// Prints "listening on ADDR:PORT" as its first line, logs one line per
// request on standard error, and stops cleanly on SIGINT or SIGTERM.

#include "tools/replication-service/ReplicationServer.h"

#include <QString>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: vz-replication-service [--address ADDR] [--port N] [--root FOLDER] "
                 "[--max-upload-bytes N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    vz::ReplicationServerOptions options;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (i + 1 >= argc) return usage();
        const QString value = QString::fromLocal8Bit(argv[++i]);
        bool ok = true;
        if (arg == QLatin1String("--address")) {
            options.address = value;
        } else if (arg == QLatin1String("--port")) {
            const uint port = value.toUInt(&ok);
            ok = ok && port <= 65535;
            options.port = quint16(port);
        } else if (arg == QLatin1String("--root")) {
            options.root = value;
        } else if (arg == QLatin1String("--max-upload-bytes")) {
            options.maxUploadBytes = value.toLongLong(&ok);
            ok = ok && options.maxUploadBytes >= 0;
        } else {
            ok = false;
        }
        if (!ok) return usage();
    }

    // The signals are taken by sigwait below, in no other thread.
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

    std::thread acceptor([&server] { server.Run(); });
    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
    acceptor.join();
    std::fprintf(stderr, "stopped\n");
    return 0;
}
