#pragma once
// Shared pieces of the staging tests: a drive prefix with a copy engine on a
// recording frame that also keeps every destination text shown, and local
// file times. Other processes (a lock holder, an unprivileged user) come
// from tests/platform/ForkedProcess.h.

#include "platform/FileSystem.h"
#include "platform/Timestamp.h"
#include "staging/CopyEngine.h"
#include "tests/support/RecordingRunFrame.h"
#include "tests/platform/ForkedProcess.h"
#include "tests/support/TempPrefix.h"

#include <QStringList>
#include <functional>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace vz::test {

// Keeps every destination and progress text in the order shown.
class TracingFrame : public RecordingRunFrame {
public:
    QStringList destinations;
    QStringList progressTexts;
    void SetDestinationText(const QString& text) override
    {
        destinations << text;
        RecordingRunFrame::SetDestinationText(text);
    }
    void SetProgressText(const QString& text) override
    {
        progressTexts << text;
        RecordingRunFrame::SetProgressText(text);
    }
};

// Milliseconds since the Unix epoch of a local date and time.
inline qint64 LocalMs(int year, int month, int day, int hour, int minute, int second, int millisecond = 0)
{
    return UnixMsFromTimestamp(EncodeTimestamp({year, month, day, hour, minute, second, millisecond}));
}

inline Timestamp LocalTime(int year, int month, int day, int hour, int minute, int second, int millisecond = 0)
{
    return EncodeTimestamp({year, month, day, hour, minute, second, millisecond});
}

class StagingTest : public ::testing::Test {
protected:
    // Host path of a Windows path on drives C: and D: of the prefix.
    QString host(const QString& windowsPath) const { return *fs.toHost(windowsPath); }
    // Writes a file given by its Windows path, with a time (ms since the epoch).
    QString put(const QString& windowsPath, const QByteArray& bytes, qint64 unixMs = OldMs)
    {
        const QString path = writeFile(host(windowsPath), bytes);
        setMTime(path, unixMs);
        return path;
    }
    bool exists(const QString& windowsPath) const { return hostfs::exists(host(windowsPath)); }
    qint64 mtimeMs(const QString& windowsPath) const { return hostfs::stat(host(windowsPath))->modifiedUnixMs; }
    // The staging sequence the callers run.
    bool stage(const QString& source, const QString& destination, Timestamp threshold, bool recursive)
    {
        engine.TotalMB = engine.FolderSizeMB(source, recursive);
        engine.CopiedMB = 0;
        return engine.CopyNewerTree(source, destination, threshold, recursive);
    }

    static inline const qint64 OldMs = LocalMs(2020, 3, 1, 8, 0, 0);
    static inline const Timestamp Threshold = LocalTime(2024, 6, 1, 12, 0, 0);
    static inline const qint64 NewMs = LocalMs(2025, 1, 15, 9, 30, 10);

    TempPrefix prefix{QStringLiteral("cd")};
    // \\srv\musica, made before the drive map is read.
    QString share = prefix.addShare(QStringLiteral("srv"), QStringLiteral("musica"));
    FileSystem fs{prefix.driveMap()};
    TracingFrame frame;
    CopyEngine engine{fs, frame, QStringLiteral("C:")};
};

// Gives a folder these permission bits (the child of runUnprivileged needs
// its folders open to it).
inline void SetFolderMode(const QString& hostPath, mode_t mode = 0777)
{
    EXPECT_EQ(::chmod(hostfs::encodeName(hostPath).constData(), mode), 0) << hostPath.toStdString();
}

}  // namespace vz::test
