// Staging benchmark: stages a station-shaped tree with the copy engine, driven
// through the real main window (offscreen), and times in the same run
//   (a) a full staging (threshold EarliestTimestamp) against `cp -a` and
//       `rsync -a` of the same tree into an empty folder;
//   (b) a staging where nothing changed against `rsync -a` with nothing to do;
// and how much of (b) the progress texts, bars and pumping take.
//
//   staging-bench [SIZE_MB] [--rounds N] [--dir FOLDER] [--remove-between-rounds] [--unpainted] [--keep]
//                 [--profile-idle N] [--profile-full N]
//
// SIZE_MB (default 1536) scales the tree (about 20,000 files at full size).
// Each round runs the three full copies in a turning order into fresh
// folders, kept until the end (3 x SIZE_MB per round) unless
// --remove-between-rounds removes each round's copies before the next. Times are wall-clock seconds and, beside them, the CPU seconds
// (user + system) of the process doing the work, which a busy machine
// disturbs less. --profile-idle N stages once and then only repeats the
// no-change staging N times (no other tool runs), for a profiler;
// --profile-full N only stages the whole tree N times into fresh folders,
// after printing "staging" on a line of its own (a profiler may start there).
// The generated trees live in a temporary folder (under FOLDER, by default
// the system's temporary folder) removed at the end. On ext4 without a
// journal, inodes freed in the last minutes slow down creating files for
// whoever creates next, so leave five minutes between runs there and keep
// the copies between rounds; on a tmpfs folder (--dir /dev/shm, which has
// no such effect) remove them between rounds to spare memory.

#include "app/MainWindow.h"
#include "bench/staging/BenchFrames.h"
#include "bench/staging/StationTree.h"
#include "db/AutomationDatabases.h"
#include "platform/Clock.h"
#include "platform/DriveMap.h"
#include "platform/FileSystem.h"
#include "staging/CopyEngine.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using namespace vz;

struct Timing {
    double wall = 0;  // seconds
    double cpu = 0;   // user + system seconds of the working process(es)
};

double seconds(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e9; }

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

Timing median(const std::vector<Timing>& timings)
{
    std::vector<double> wall, cpu;
    for (const Timing& t : timings) {
        wall.push_back(t.wall);
        cpu.push_back(t.cpu);
    }
    return {median(wall), median(cpu)};
}

// The fastest run, wall and CPU apart: a shared machine only ever adds time.
Timing best(const std::vector<Timing>& timings)
{
    Timing b = timings.front();
    for (const Timing& t : timings) {
        b.wall = std::min(b.wall, t.wall);
        b.cpu = std::min(b.cpu, t.cpu);
    }
    return b;
}

// Runs a command under bash's `time`, which also counts the CPU of its children.
Timing run(const QString& command)
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("bash"),
                  {QStringLiteral("-c"), QStringLiteral("TIMEFORMAT='%3U %3S'; time ( ") + command + QStringLiteral(" )")});
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        qFatal("%s failed: %s", qPrintable(command), process.readAllStandardError().constData());
    const double wall = seconds(timer);
    const QList<QByteArray> lines = process.readAllStandardError().trimmed().split('\n');
    const QList<QByteArray> cpu = lines.last().split(' ');
    return {wall, cpu.size() == 2 ? cpu[0].toDouble() + cpu[1].toDouble() : 0.0};
}

QString quoted(const QString& path) { return QLatin1Char('\'') + path + QLatin1Char('\''); }

void flush() { run(QStringLiteral("sync")); }

// Peak and current resident memory of this process, in MB.
std::pair<double, double> memoryMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    double peak = 0, current = 0;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            const QList<QByteArray> parts = line.simplified().split(' ');
            if (parts.size() >= 2 && parts[0] == "VmHWM:")
                peak = parts[1].toDouble() / 1024;
            if (parts.size() >= 2 && parts[0] == "VmRSS:")
                current = parts[1].toDouble() / 1024;
        }
    }
    return {peak, current};
}

struct Staging {
    const FileSystem& fs;
    QString source;       // Windows path of the tree
    QString destination;  // its staging folder

    Timing stage(RunFrame& frame, Timestamp threshold) const
    {
        CopyEngine engine(fs, frame, QStringLiteral("C:"));
        engine.SetNewFilesInPlace(true);  // as an export stages its mirror
        QElapsedTimer timer;
        timer.start();
        const std::clock_t cpuStart = std::clock();
        engine.TotalMB = engine.FolderSizeMB(source, true);
        engine.CopiedMB = 0;
        if (!engine.CopyNewerTree(source, destination, threshold, true))
            qFatal("staging failed");
        const Timing t{seconds(timer), static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC};
        if (engine.CopiedMB != engine.TotalMB)
            qFatal("copied %f MB of %f MB", engine.CopiedMB, engine.TotalMB);
        if (!engine.Failures().empty())
            qFatal("%d file(s) not copied", int(engine.Failures().size()));
        return t;
    }
};

// One round of event handling with nothing waiting, in microseconds: what
// ProcessPendingMessages costs after an entry when the window is idle.
// Microseconds per call of `pump` with nothing waiting.
template <typename Pump>
double idleCallUs(Pump pump)
{
    constexpr int Calls = 20000;
    pump();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < Calls; ++i)
        pump();
    return static_cast<double>(timer.nsecsElapsed()) / 1e3 / Calls;
}

void printRatio(const char* what, const Timing& ours, const Timing& theirs, const char* goal)
{
    std::printf("    ratio %-24s = %.2f wall, %.2f CPU%s\n", what, ours.wall / theirs.wall, ours.cpu / theirs.cpu, goal);
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = QApplication::arguments().mid(1);
    const bool keep = args.removeAll(QStringLiteral("--keep")) > 0;
    const bool unpaintedOnly = args.removeAll(QStringLiteral("--unpainted")) > 0;
    const bool removeBetweenRounds = args.removeAll(QStringLiteral("--remove-between-rounds")) > 0;
    const auto intOption = [&args](const QString& name) {
        const qsizetype at = args.indexOf(name);
        if (at < 0 || at + 1 >= args.size())
            return 0;
        const int value = std::max(1, args.at(at + 1).toInt());
        args.remove(at, 2);
        return value;
    };
    const int rounds = std::max(1, intOption(QStringLiteral("--rounds")));
    const int profileIdle = intOption(QStringLiteral("--profile-idle"));
    const int profileFull = intOption(QStringLiteral("--profile-full"));
    QString folder = QDir::tempPath();
    const qsizetype dirAt = args.indexOf(QStringLiteral("--dir"));
    if (dirAt >= 0 && dirAt + 1 < args.size()) {
        folder = args.at(dirAt + 1);
        args.remove(dirAt, 2);
    }
    const double sizeMB = args.isEmpty() ? 1536.0 : args.first().toDouble();
    if (sizeMB <= 0)
        qFatal("usage: staging-bench [SIZE_MB] [--rounds N] [--dir FOLDER] [--remove-between-rounds] [--unpainted] "
               "[--keep] [--profile-idle N]");

    QTemporaryDir work(folder + QStringLiteral("/vz-staging-bench-XXXXXX"));
    work.setAutoRemove(!keep);
    const QString root = work.path();
    QDir(root).mkpath(QStringLiteral("prefix/dosdevices"));
    QDir(root).mkpath(QStringLiteral("prefix/drive_c"));
    QFile::link(QStringLiteral("../drive_c"), root + QStringLiteral("/prefix/dosdevices/c:"));
    const QString driveC = root + QStringLiteral("/prefix/drive_c");
    const FileSystem fs(DriveMap::fromPrefix(root + QStringLiteral("/prefix")));

    std::printf("generating a %.0f MB station tree in %s ...\n", sizeMB, qPrintable(root));
    std::fflush(stdout);
    const bench::TreeShape shape = bench::StationTree(sizeMB / 1536.0).write(driveC + QStringLiteral("/Vireo"));
    flush();
    std::printf("tree: %lld files in %lld folders, %.1f MB\n", static_cast<long long>(shape.files),
                static_cast<long long>(shape.folders), static_cast<double>(shape.sizeBytes) / 1048576.0);

    // The real window, offscreen, shown so that its progress is painted.
    bench::SilentDialogs dialogs;
    const SystemClock clock;
    std::unique_ptr<AutomationDatabases> databases;
    std::unique_ptr<MainWindow> window;
    if (!unpaintedOnly) {
        try {
            databases = std::make_unique<AutomationDatabases>(fs);
            window = std::make_unique<MainWindow>(MainWindowServices{
                fs, clock, RegionalSettings::dayMonthYear(), dialogs, *databases,
                QStringLiteral("C:\\Vireo\\Zuvavivevo\\VireoZuvavivevo.exe"), QStringLiteral("127.0.0.1:1"),
                [] { return false; }});
            window->showCentred();
            QApplication::processEvents();
        } catch (const std::exception& e) {
            std::printf("no window (%s): measuring with an unpainted frame\n", e.what());
        }
    }
    bench::UnpaintedFrame unpainted;
    RunFrame& frame = window ? static_cast<RunFrame&>(*window) : unpainted;
    const char* frameName = window ? "window" : "unpainted frame";
    std::printf("with nothing waiting (%s platform): a round of the event loop %.3f us, the frame's pump %.3f us\n",
                qPrintable(QApplication::platformName()), idleCallUs([] { QApplication::processEvents(); }),
                idleCallUs([&frame] { frame.ProcessPendingMessages(); }));

    const QString source = driveC + QStringLiteral("/Vireo");
    const auto stagingFor = [&](int round) {
        // One fresh destination per tool and round: ext4 without a journal
        // avoids reusing inodes freed in the last minute, so deleting one
        // tool's copy would slow down the next tool's file creation.
        return Staging{fs, QStringLiteral("C:\\Vireo\\"), QStringLiteral("C:\\Rodada%1\\C\\Vireo\\").arg(round)};
    };
    const auto cpTarget = [&](int round) -> QString { return root + QStringLiteral("/cp%1").arg(round); };
    const auto rsyncTarget = [&](int round) -> QString { return root + QStringLiteral("/rsync%1/").arg(round); };
    const auto rsyncCommand = [&](int round) -> QString {
        return QStringLiteral("rsync -a ") + quoted(source + QLatin1Char('/')) + QLatin1Char(' ') + quoted(rsyncTarget(round));
    };

    if (profileFull > 0) {
        flush();
        std::printf("staging\n");
        std::fflush(stdout);
        std::vector<Timing> times;
        for (int i = 0; i < profileFull; ++i)
            times.push_back(stagingFor(i).stage(frame, EarliestTimestamp));
        std::printf("full staging through the %s: median %.3f s (%.3f s CPU) of %d\n", frameName, median(times).wall,
                    median(times).cpu, profileFull);
        if (!keep)
            hostfs::removeTree(root);
        return 0;
    }

    if (profileIdle > 0) {
        stagingFor(0).stage(frame, EarliestTimestamp);
        const Timestamp after = clock.now();
        std::vector<Timing> times;
        for (int i = 0; i < profileIdle; ++i)
            times.push_back(stagingFor(0).stage(frame, after));
        std::printf("no-change staging through the %s: median %.3f s (%.3f s CPU) of %d\n", frameName,
                    median(times).wall, median(times).cpu, profileIdle);
        if (!keep)
            hostfs::removeTree(root);
        return 0;
    }

    // (a) Full copies into empty folders; each starts with no dirty pages,
    // and the order of the tools turns from round to round.
    std::vector<Timing> ours, cp, rsync;
    const auto memoryBefore = memoryMB();
    for (int round = 0; round < rounds; ++round) {
        if (round > 0 && removeBetweenRounds) {
            hostfs::removeTree(driveC + QStringLiteral("/Rodada%1").arg(round - 1));
            hostfs::removeTree(cpTarget(round - 1));
            hostfs::removeTree(rsyncTarget(round - 1));
        }
        for (int turn = 0; turn < 3; ++turn) {
            flush();
            switch ((round + turn) % 3) {
            case 0:
                ours.push_back(stagingFor(round).stage(frame, EarliestTimestamp));
                break;
            case 1:
                cp.push_back(run(QStringLiteral("cp -a ") + quoted(source) + QLatin1Char(' ') + quoted(cpTarget(round))));
                break;
            default:
                rsync.push_back(run(rsyncCommand(round)));
            }
        }
    }
    flush();
    const auto memoryAfter = memoryMB();

    // (b) Nothing changed since the staging above.
    const Staging staging = stagingFor(rounds - 1);
    const Timestamp lastStaging = clock.now();
    std::vector<Timing> oursIdle, oursUnpainted, rsyncIdle;
    std::vector<double> progressShares, pumpShares;
    qint64 progressCalls = 0, pumpCalls = 0;
    for (int i = 0; i < 7; ++i) {
        oursIdle.push_back(staging.stage(frame, lastStaging));
        rsyncIdle.push_back(run(rsyncCommand(rounds - 1)));
        oursUnpainted.push_back(staging.stage(unpainted, lastStaging));
        bench::TimedFrame timed(frame);
        const double total = staging.stage(timed, lastStaging).wall;
        progressShares.push_back(static_cast<double>(timed.progressNs) / 1e9 / total);
        pumpShares.push_back(static_cast<double>(timed.pumpNs) / 1e9 / total);
        progressCalls = timed.progressCalls;
        pumpCalls = timed.pumpCalls;
    }

    const Timing o = median(ours), c = median(cp), r = median(rsync);
    std::printf("\n(a) full staging of %.1f MB, %lld files (median of %d round%s; driven through the %s)\n",
                static_cast<double>(shape.sizeBytes) / 1048576.0, static_cast<long long>(shape.files), rounds,
                rounds == 1 ? "" : "s", frameName);
    std::printf("    staging %.3f s (%.3f CPU)   cp -a %.3f s (%.3f CPU)   rsync -a %.3f s (%.3f CPU)\n", o.wall, o.cpu,
                c.wall, c.cpu, r.wall, r.cpu);
    if (rounds > 1) {
        std::printf("    rounds (staging/cp/rsync wall s):");
        for (int round = 0; round < rounds; ++round)
            std::printf("  %.2f/%.2f/%.2f", ours[round].wall, cp[round].wall, rsync[round].wall);
        std::printf("\n");
    }
    printRatio("staging / cp -a", o, c, "   (goal <= 1.10)");
    printRatio("staging / rsync -a", o, r, "");
    if (rounds > 1)
        printRatio("best staging / best cp -a", best(ours), best(cp), "");
    const Timing oi = median(oursIdle), ri = median(rsyncIdle), ou = median(oursUnpainted);
    std::printf("(b) nothing changed (median of 7)\n");
    std::printf("    staging %.3f s (%.3f CPU)   rsync -a %.3f s (%.3f CPU)   staging unpainted %.3f s\n", oi.wall,
                oi.cpu, ri.wall, ri.cpu, ou.wall);
    printRatio("staging / rsync -a", oi, ri, "   (goal <= 1.00)");
    printRatio("best / best", best(oursIdle), best(rsyncIdle), "");
    std::printf("    share of a run (median): progress texts and bars %.1f%% (%lld calls), pumping %.1f%% (%lld calls);\n"
                "    window against unpainted frame: %+.1f%%\n",
                100 * median(progressShares), static_cast<long long>(progressCalls), 100 * median(pumpShares),
                static_cast<long long>(pumpCalls), 100 * (oi.wall / ou.wall - 1));
    std::printf("memory: peak %.1f MB before the full staging, %.1f MB after; resident %.1f -> %.1f MB\n",
                memoryBefore.first, memoryAfter.first, memoryBefore.second, memoryAfter.second);

    if (!keep)
        hostfs::removeTree(root);
    return 0;
}
