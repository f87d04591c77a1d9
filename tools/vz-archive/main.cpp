// vz-archive: runs the archive component without a window.
//
//   vz-archive add SOURCE_FOLDER ARCHIVE_PATH [--volume-kb N] [--level N]
//   vz-archive extract ARCHIVE_PATH DEST_FOLDER
//   vz-archive list ARCHIVE_PATH
//   vz-archive test ARCHIVE_PATH
//   --prefix DIR: the drives of that Wine-style prefix (else the one around
//   this program, else Z: for the host root)
//
// Paths are host paths (or Windows paths of the drive map); the component's
// messages go to standard error; existing files are overwritten. The exit
// status is 0 when the operation reported no error.

#include "archive/ArchiveComponent.h"
#include "platform/DriveMap.h"
#include "platform/EventPump.h"
#include "platform/FileSystem.h"
#include "platform/Timestamp.h"
#include "tools/vz-archive/ConsoleDialogs.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>
#include <limits>

using namespace vz;

namespace {

const char* kUsage =
    "usage: vz-archive add SOURCE_FOLDER ARCHIVE_PATH [--volume-kb N] [--level N] [--threads N]\n"
    "       vz-archive extract ARCHIVE_PATH DEST_FOLDER [--threads N]\n"
    "       vz-archive list ARCHIVE_PATH\n"
    "       vz-archive test ARCHIVE_PATH\n"
    "       (any command) --prefix WINE_PREFIX: use the drives of that prefix\n";

bool isWindowsPath(const QString& path)
{
    return (path.size() >= 3 && path.at(1) == QLatin1Char(':') && path.at(2) == QLatin1Char('\\')) ||
           path.startsWith(QLatin1String("\\\\"));
}

// A host path (relative ones from the current folder) as a Windows path of the drive map.
std::optional<QString> toWindows(const DriveMap& map, const QString& path, bool folder)
{
    if (isWindowsPath(path))
        return folder && !path.endsWith(QLatin1Char('\\')) ? path + QLatin1Char('\\') : path;
    const QString host = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    auto windows = map.toWindows(host);
    if (!windows)
        return std::nullopt;
    if (folder && !windows->endsWith(QLatin1Char('\\')))
        *windows += QLatin1Char('\\');
    return windows;
}

QString dosTimeText(quint32 dosTime)
{
    const DateTimeParts p = DecodeTimestamp(TimestampFromFat(dosTime));
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
}

int list(ArchiveComponent& archive)
{
    if (archive.ErrorCode() != 0)
        return 1;
    if (archive.Entries().empty()) {
        std::fprintf(stderr, "vz-archive: no entries\n");
        return 1;
    }
    std::printf("%12s %12s %-8s %-19s %-8s %s\n", "size", "packed", "method", "modified", "crc32", "name");
    // Declared sizes are the archive's word, up to 2^64 each: summed without overflow.
    quint64 total = 0;
    bool totalOverflowed = false;
    for (const DirectoryEntry& e : archive.Entries()) {
        const CentralRecord& r = e.record;
        std::printf("%12llu %12llu %-8s %-19s %08x %s\n", static_cast<unsigned long long>(r.uncompressedSize),
                    static_cast<unsigned long long>(r.compressedSize),
                    r.method == 0 ? "stored" : r.method == 8 ? "deflated" : "other",
                    dosTimeText(r.dosTime).toUtf8().constData(), r.crc32, e.name.toUtf8().constData());
        totalOverflowed |= __builtin_add_overflow(total, r.uncompressedSize, &total);
    }
    if (totalOverflowed)
        std::printf("%zu entries, more than %llu bytes, %d volume(s)\n", archive.Entries().size(),
                    static_cast<unsigned long long>(std::numeric_limits<quint64>::max()), archive.VolumeCount());
    else
        std::printf("%zu entries, %llu bytes, %d volume(s)\n", archive.Entries().size(),
                    static_cast<unsigned long long>(total), archive.VolumeCount());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    qint64 volumeKb = 102400;
    qint64 volumeBytes = 0;
    int level = 9;
    int threads = 0;
    QString prefix;
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        bool ok = true;
        if (a == QLatin1String("--volume-kb") && i + 1 < args.size())
            volumeKb = args.at(++i).toLongLong(&ok);
        else if (a == QLatin1String("--volume-bytes") && i + 1 < args.size())
            volumeBytes = args.at(++i).toLongLong(&ok);
        else if (a == QLatin1String("--level") && i + 1 < args.size())
            level = args.at(++i).toInt(&ok);
        else if (a == QLatin1String("--threads") && i + 1 < args.size())
            threads = args.at(++i).toInt(&ok);
        else if (a == QLatin1String("--prefix") && i + 1 < args.size())
            prefix = args.at(++i);
        else if (a.startsWith(QLatin1String("--")))
            ok = false;
        else
            positional << a;
        if (!ok) {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    const QString command = positional.value(0);
    const qsizetype wanted = command == QLatin1String("add") || command == QLatin1String("extract") ? 3 : 2;
    if (positional.size() != wanted ||
        !(command == QLatin1String("add") || command == QLatin1String("extract") ||
          command == QLatin1String("list") || command == QLatin1String("test"))) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    const FileSystem fs(prefix.isEmpty() ? DriveMap::forExecutable(hostfs::executablePath())
                                         : DriveMap::fromPrefix(QFileInfo(prefix).absoluteFilePath()));
    ConsoleDialogs dialogs;
    NoEventPump pump;
    ArchiveComponent archive(fs, dialogs, pump, QStringLiteral("Vireo Zuvavivevo"));
    archive.EngineThreads = threads;

    const QString archiveArg = command == QLatin1String("add") ? positional.at(2) : positional.at(1);
    const auto archivePath = toWindows(fs.driveMap(), archiveArg, false);
    if (!archivePath) {
        std::fprintf(stderr, "vz-archive: no drive holds %s\n", archiveArg.toUtf8().constData());
        return 2;
    }

    if (command == QLatin1String("add")) {
        const auto source = toWindows(fs.driveMap(), positional.at(1), true);
        if (!source) {
            std::fprintf(stderr, "vz-archive: no drive holds %s\n", positional.at(1).toUtf8().constData());
            return 2;
        }
        archive.CompressionLevel = level;
        archive.MaxVolumeSizeKb = volumeKb;
        archive.MaxVolumeSize = volumeBytes;
        archive.SpanOptions = NoVolumeName | CompatibleNames | WipeFiles | TryFormat | AnyTime | ExactName;
        archive.WriteOptions = DiskSpan;
        archive.AddOptions = AddDirNames | AddRecurseDirs;
        // A test-sized volume needs no more free space than its own size.
        if (volumeBytes > 0)
            archive.MinFreeVolumeSize = std::min<qint64>(archive.MinFreeVolumeSize, volumeBytes);
        archive.SetArchiveFileName(*archivePath);
        archive.IncludeSpecs = QStringList{*source};
        return archive.Add() == 0 ? 0 : 1;
    }

    if (!QFileInfo::exists(archiveArg) && !isWindowsPath(archiveArg)) {
        std::fprintf(stderr, "vz-archive: %s does not exist\n", archiveArg.toUtf8().constData());
        return 1;
    }
    archive.SetArchiveFileName(*archivePath);
    if (command == QLatin1String("list"))
        return list(archive);
    if (command == QLatin1String("test")) {
        archive.ExtractOptions = ExtractTest;
        return archive.Extract() == 0 ? 0 : 1;
    }
    const auto dest = toWindows(fs.driveMap(), positional.at(2), true);
    if (!dest) {
        std::fprintf(stderr, "vz-archive: no drive holds %s\n", positional.at(2).toUtf8().constData());
        return 2;
    }
    archive.ExtractBaseDir = *dest;
    archive.ExtractOptions = ExtractDirNames | ExtractOverwrite | ExtractForceDirs;
    return archive.Extract() == 0 ? 0 : 1;
}
