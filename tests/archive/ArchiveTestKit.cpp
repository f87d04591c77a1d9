#include "tests/archive/ArchiveTestKit.h"

#include "archive/ChunkCompressor.h"
#include "archive/EndRecord.h"
#include "archive/EntryCopy.h"
#include "archive/ZipFormat.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

namespace vz::test {

ToolResult runTool(const QString& program, const QStringList& arguments, const QString& workingFolder)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!workingFolder.isEmpty())
        process.setWorkingDirectory(workingFolder);
    process.start(program, arguments);
    ToolResult result;
    if (!process.waitForStarted(10000)) {
        ADD_FAILURE() << "cannot start " << program.toStdString();
        return result;
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(300000)) {
        process.kill();
        ADD_FAILURE() << program.toStdString() << " did not finish";
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromUtf8(process.readAll());
    return result;
}

ToolResult runPython(const QString& script, const QStringList& arguments)
{
    return runTool(QStringLiteral("python3"), QStringList{QStringLiteral("-c"), script} + arguments);
}

std::map<QString, QByteArray> readTree(const QString& root, bool includeHidden)
{
    std::map<QString, QByteArray> tree;
    for (const QString& relative : listFiles(root)) {
        const bool hidden = relative.startsWith(QLatin1Char('.')) || relative.contains(QLatin1String("/."));
        if (hidden && !includeHidden)
            continue;
        tree[relative] = readFile(root + QLatin1Char('/') + relative);
    }
    return tree;
}

QStringList listFiles(const QString& root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        files << QDir(root).relativeFilePath(it.filePath());
    }
    files.sort();
    return files;
}

QByteArray randomBytes(qint64 size, quint32 seed)
{
    QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
    quint64 state = 0x9E3779B97F4A7C15ull ^ seed;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

QByteArray textBytes(qint64 size, quint32 seed)
{
    static const char* words[] = {"vinheta ", "comercial ", "musica ", "bloco ", "locutor ", "jornal\r\n",
                                  "samba ", "rock ", "intervalo ", "programa "};
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(size));
    quint64 state = 88172645463325252ull ^ seed;
    while (bytes.size() < size) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        bytes.append(words[state % 10]);
    }
    bytes.truncate(static_cast<qsizetype>(size));
    return bytes;
}

CentralRecord CraftedArchive::Stored(const QByteArray& name, const QByteArray& data, quint64 offset)
{
    CentralRecord r;
    r.versionNeeded = zip::VersionStored;
    r.method = zip::MethodStored;
    r.dosTime = 0x00210000;  // 1980-01-01 00:00
    r.crc32 = ChunkCompressor::Crc(0, data.constData(), data.size());
    r.compressedSize = r.uncompressedSize = static_cast<quint64>(data.size());
    r.localOffset = offset;
    r.name = name;
    return r;
}

QByteArray CraftedArchive::LocalHeaderOf(const CentralRecord& record)
{
    return EntryCopy::Rewritten(record, LocalHeader()).encode();
}

QByteArray CraftedArchive::Directory(const std::vector<CentralRecord>& records, quint64 offset)
{
    QByteArray out;
    for (const CentralRecord& r : records)
        out.append(r.encode());
    EndRecord end;
    end.directoryOffset = offset;
    end.directorySize = static_cast<quint64>(out.size());
    end.entriesOnThisDisk = end.totalEntries = records.size();
    out.append(end.encode(offset + static_cast<quint64>(out.size())));
    return out;
}

CraftedArchive& CraftedArchive::add(const QByteArray& name, const QByteArray& data)
{
    return addRecord(Stored(name, data), data);
}

CraftedArchive& CraftedArchive::addRecord(CentralRecord record, const QByteArray& data)
{
    record.localOffset = static_cast<quint64>(bytes.size());
    records.push_back(record);
    bytes += LocalHeaderOf(record) + data;
    return *this;
}

std::unique_ptr<ArchiveComponent> ComponentBench::exporter(qint64 volumeBytes)
{
    auto archive = std::make_unique<ArchiveComponent>(fs, dialogs, pump, QStringLiteral("Vireo Zuvavivevo"));
    archive->CompressionLevel = 9;
    archive->MaxVolumeSizeKb = 102400;
    archive->MaxVolumeSize = volumeBytes;
    archive->SpanOptions = NoVolumeName | CompatibleNames | WipeFiles | TryFormat | AnyTime | ExactName;
    archive->WriteOptions = DiskSpan;
    archive->AddOptions = AddDirNames | AddRecurseDirs;
    archive->SetArchiveFileName(QStringLiteral("C:\\1A2B.zip"));
    archive->IncludeSpecs = QStringList{QStringLiteral("C:\\Replicacao\\")};
    return archive;
}

std::unique_ptr<ArchiveComponent> ComponentBench::importer()
{
    auto archive = std::make_unique<ArchiveComponent>(fs, dialogs, pump, QStringLiteral("Vireo Zuvavivevo"));
    archive->ExtractOptions = ExtractDirNames | ExtractOverwrite | ExtractForceDirs;
    archive->AddOptions = AddDirNames | AddRecurseDirs;
    return archive;
}

std::unique_ptr<ArchiveComponent> ComponentBench::importer(const QString& archive, const QString& baseFolder)
{
    auto component = importer();
    component->SetArchiveFileName(archive);
    component->ExtractBaseDir = baseFolder;
    return component;
}

}  // namespace vz::test
