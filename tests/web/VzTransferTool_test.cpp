// vz-transfer as support staff run it: against the reference service for
// the three exchanges, and against hostile servers, where it must end with
// the client's error on standard error, a non-zero status, no file written
// and a bounded peak memory.

#include "tests/support/TempPrefix.h"
#include "tests/web/ScriptedServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace vz;
using namespace vz::test;

namespace {

const QString Guid = QStringLiteral("{6F1E2A3B-0C4D-4E5F-8A9B-ABCDEF012345}");

struct ToolRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    qint64 maxRssKb = -1;  // the tool's peak resident size
};

// Runs the tool with its standard error on a pipe, or on a terminal of its
// own; wait4 gives its peak resident size.
ToolRun RunTool(const QStringList& arguments, bool terminal = false) {
    ToolRun run;
    std::vector<QByteArray> args{QByteArrayLiteral(VZ_TRANSFER_TOOL)};
    for (const QString& a : arguments) args.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int outPipe[2], errPipe[2] = {-1, -1};
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe";
        return run;
    }
    int errRead = -1, errWrite = -1;
    if (terminal) {
        errRead = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (errRead < 0 || grantpt(errRead) != 0 || unlockpt(errRead) != 0) {
            ADD_FAILURE() << "no terminal";
            return run;
        }
        errWrite = open(ptsname(errRead), O_RDWR | O_NOCTTY | O_CLOEXEC);
    } else if (pipe2(errPipe, O_CLOEXEC) == 0) {
        errRead = errPipe[0];
        errWrite = errPipe[1];
    }
    if (errRead < 0 || errWrite < 0) {
        ADD_FAILURE() << "no standard error";
        return run;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errWrite, 2);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errWrite);

    // Everything the tool writes, until it has closed both.
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errRead, POLLIN, 0}};
    QByteArray* sinks[2] = {&run.out, &run.err};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    int openStreams = 2;
    while (openStreams > 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "vz-transfer did not finish";
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, 1000) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char block[4096];
            const ssize_t n = read(fds[i].fd, block, sizeof block);
            if (n > 0) {
                sinks[i]->append(block, n);
            } else {  // the end (a terminal reports it as an error once its other side is closed)
                close(fds[i].fd);
                fds[i].fd = -1;
                --openStreams;
            }
        }
    }
    for (const pollfd& f : fds)
        if (f.fd >= 0) close(f.fd);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) == pid) {
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.maxRssKb = usage.ru_maxrss;
    }
    return run;
}

QByteArray randomBytes(qsizetype size, quint32 seed) {
    QByteArray bytes(size, '\0');
    QRandomGenerator generator{seed};
    for (char& c : bytes) c = char(generator.generate());
    return bytes;
}

QStringList FolderEntries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

class ServiceProcess {
public:
    explicit ServiceProcess(const QString& root) {
        process_.start(QString::fromLocal8Bit(qgetenv("VZ_BINARY_DIR")) +
                           QStringLiteral("/tools/replication-service/vz-replication-service"),
                       {QStringLiteral("--address"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                        QStringLiteral("0"), QStringLiteral("--root"), root});
        if (!process_.waitForStarted(30000)) ADD_FAILURE() << "the service did not start";
        while (!process_.canReadLine() && process_.waitForReadyRead(30000)) {
        }
        const QByteArray first = process_.readLine().trimmed();
        port_ = first.mid(first.lastIndexOf(':') + 1).toUShort();
        if (port_ == 0) ADD_FAILURE() << "the service said: " << first.constData();
    }
    ~ServiceProcess() {
        process_.terminate();
        if (!process_.waitForFinished(30000)) {
            process_.kill();
            process_.waitForFinished(30000);
        }
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1/Zuvavivevo/").arg(port_); }

private:
    QProcess process_;
    quint16 port_ = 0;
};

QStringList With(QStringList arguments, const QString& base, const QString& guid = Guid) {
    return arguments << QStringLiteral("--base") << base << QStringLiteral("--guid") << guid;
}

TEST(VzTransferTool, UploadDownloadAndRemoveAgainstTheReferenceService) {
    TempDir dir;
    ServiceProcess service(dir.file(QStringLiteral("service")));
    const QByteArray archive = randomBytes(300000, 1);
    const QString file = writeFile(dir.file(QStringLiteral("station/") + Guid + QStringLiteral(".zip")), archive);
    const QString dest = dir.file(QStringLiteral("support/copy.zip"));
    writeFile(dest, "an older copy");

    ToolRun r = RunTool(With({QStringLiteral("upload"), file}, service.base()));
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.out.contains("the service answered TRUE")) << r.out.constData();
    EXPECT_EQ(r.err, QByteArray());  // no terminal: no progress

    // The download replaces the older copy, through a temporary file that
    // is gone afterwards.
    r = RunTool(With({QStringLiteral("download"), dest}, service.base()));
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(readFile(dest), archive);
    EXPECT_EQ(FolderEntries(dir.file(QStringLiteral("support"))), QStringList{QStringLiteral("copy.zip")});
    EXPECT_TRUE(r.out.contains("downloaded 300000 bytes")) << r.out.constData();

    r = RunTool(With({QStringLiteral("remove")}, service.base()));
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();

    // Nothing left on the service: an error, and the copy stays as it was.
    r = RunTool(With({QStringLiteral("download"), dest}, service.base()));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("404 Not Found")) << r.err.constData();
    EXPECT_TRUE(r.err.contains("holds no archive")) << r.err.constData();
    EXPECT_EQ(readFile(dest), archive);
    EXPECT_EQ(FolderEntries(dir.file(QStringLiteral("support"))), QStringList{QStringLiteral("copy.zip")});

    r = RunTool(With({QStringLiteral("upload"), dir.file(QStringLiteral("missing.zip"))}, service.base()));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("missing.zip: no such file")) << r.err.constData();
}

TEST(VzTransferTool, CommandLinesAndUnreachableServices) {
    TempDir dir;
    const QString base = QStringLiteral("http://127.0.0.1:9/Zuvavivevo/");
    EXPECT_EQ(RunTool({}).exitCode, 2);
    EXPECT_EQ(RunTool({QStringLiteral("remove"), QStringLiteral("--base"), base}).exitCode, 2);
    EXPECT_EQ(RunTool(With({QStringLiteral("download")}, base)).exitCode, 2);
    EXPECT_EQ(RunTool(With({QStringLiteral("fetch"), QStringLiteral("x")}, base)).exitCode, 2);
    // (https is accepted: TlsTransfer_test runs the tool over TLS.)
    ToolRun r = RunTool(With({QStringLiteral("remove")}, QStringLiteral("ftp://127.0.0.1/Zuvavivevo/")));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("unknown scheme ftp")) << r.err.constData();
    r = RunTool(With({QStringLiteral("remove")}, QStringLiteral("127.0.0.1/Zuvavivevo/")));
    EXPECT_EQ(r.exitCode, 2);
    r = RunTool(With({QStringLiteral("remove")}, base, QStringLiteral("../other")));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("--guid")) << r.err.constData();
    r = RunTool(With({QStringLiteral("download"), dir.file(QStringLiteral("no/such/folder/x.zip"))}, base));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("no such folder")) << r.err.constData();

    // A port where nobody listens: the socket error's text.
    Socket closed;
    quint32 loopback = 0;
    Socket::ResolveIPv4(QStringLiteral("127.0.0.1"), loopback);
    ASSERT_TRUE(closed.Listen(loopback, 0, 1));
    const quint16 port = closed.LocalPort();
    closed.Close();
    r = RunTool(With({QStringLiteral("remove")}, QStringLiteral("http://127.0.0.1:%1/Zuvavivevo/").arg(port)));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Connection refused")) << r.err.constData();
    EXPECT_FALSE(r.err.contains('\r')) << r.err.constData();
}

TEST(VzTransferTool, ProgressIsShownOnATerminalOnly) {
    TempDir dir;
    ServiceProcess service(dir.file(QStringLiteral("service")));
    const QByteArray archive = randomBytes(3 * 1024 * 1024, 2);
    const QString file = writeFile(dir.file(QStringLiteral("a.zip")), archive);

    ToolRun r = RunTool(With({QStringLiteral("upload"), file}, service.base()), true);
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.err.contains("\rsent ")) << r.err.constData();
    EXPECT_TRUE(r.err.contains("3.0 MiB of 3.0 MiB (100%)")) << r.err.constData();

    r = RunTool(With({QStringLiteral("download"), dir.file(QStringLiteral("b.zip"))}, service.base()), true);
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.err.contains("\rreceived ")) << r.err.constData();
    EXPECT_TRUE(r.err.contains("3.0 MiB of 3.0 MiB (100%)")) << r.err.constData();
    EXPECT_EQ(readFile(dir.file(QStringLiteral("b.zip"))), archive);
}

TEST(VzTransferTool, HostileServersEndItWithTheErrorInBoundedMemory) {
    TempDir dir;
    ScriptedServer server;
    const QString base = server.url(QStringLiteral("/Zuvavivevo/"));
    const qint64 budget = 8 * 1024 * 1024;
    // What the tool takes when it does next to nothing: a wrong command line.
    const qint64 baselineKb = RunTool({}).maxRssKb;
    ASSERT_GT(baselineKb, 0);

    QByteArray cookies;
    for (int i = 0; i < 20000; ++i) cookies += "Set-Cookie: c" + QByteArray::number(i) + "=v\r\n";
    const struct {
        const char* name;
        std::vector<ServerAction> script;
        QByteArray error;
    } cases[] = {
        {"endless headers",
         {ReadRequest(), Send("HTTP/1.1 200 OK\r\n"), Stream("X: y\r\n", budget)},
         "Response head longer than 100 lines."},
        {"endless continuation lines",
         {ReadRequest(), Send("HTTP/1.1 200 OK\r\nX: y\r\n"), Stream(" more\r\n", budget)},
         "Response head longer than 100 lines."},
        {"20,000 cookies", {ReadRequest(), Send("HTTP/1.1 200 OK\r\n" + cookies + "\r\n")},
         "Response head longer than 100 lines."},
        {"chunk size 2^64-1",
         {ReadRequest(), Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFF\r\n"),
          Stream("x", budget)},
         "Chunk size out of range: FFFFFFFFFFFFFFFF"},
        {"body longer than announced",
         {ReadRequest(), Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nPK\x03\x04zSURPLUS"), Stream("x", budget)},
         "Response body longer than its Content-Length of 5 bytes."},
        {"redirect loop",
         {ReadRequest(), Send("HTTP/1.1 302 Found\r\nLocation: " + base.toLatin1() + "Replicacao/" + Guid.toLatin1() +
                              ".zip\r\n\r\n"),
          Stream("r", budget)},
         "HTTP/1.1 302 Found"},
        {"slow drip", {ReadRequest(), Send("HTTP/1.1 500 Error\r\n\r\n"), Drip(QByteArray(20000, 'd'), 1), Close()},
         "Read Timeout"},
    };
    const QString dest = dir.file(QStringLiteral("copy.zip"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.AddConnection(c.script);
        const ToolRun r = RunTool(With({QStringLiteral("download"), dest}, base));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "vz-transfer: " + c.error + "\n");
        EXPECT_LT(r.maxRssKb - baselineKb, 48 * 1024);
        EXPECT_EQ(FolderEntries(dir.path()), QStringList());
    }
    EXPECT_EQ(server.connectionsAccepted(), int(std::size(cases)));

    // An upload the service does not take, or answers with endless headers.
    const QString file = writeFile(dir.file(QStringLiteral("up/a.zip")), randomBytes(100000, 3));
    server.AddReply("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nFALSE");
    ToolRun r = RunTool(With({QStringLiteral("upload"), file}, base));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("did not accept the upload; it answered: FALSE")) << r.err.constData();
    server.AddConnection({ReadRequest(), Send("HTTP/1.1 200 OK\r\n"), Stream("X: y\r\n", budget)});
    r = RunTool(With({QStringLiteral("upload"), file}, base));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "vz-transfer: Response head longer than 100 lines.\n");
    const std::vector<QByteArray> requests = server.requests();
    ASSERT_FALSE(requests.empty());
    const QByteArray uploadLine = "POST /Zuvavivevo/Upload.aspx?guid=" + Guid.toLatin1() + " HTTP/1.0\r\n";
    EXPECT_TRUE(requests.back().startsWith(uploadLine));
    EXPECT_TRUE(requests.back().contains("name=\"arquivo\""));
}

}  // namespace
