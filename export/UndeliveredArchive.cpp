#include "export/UndeliveredArchive.h"

#include "archive/VolumeNaming.h"
#include "platform/WindowsPath.h"

#include <QRegularExpression>

namespace vz {

namespace {

constexpr char Header[] = "vireo-zuvavivevo undelivered archive 1";

}  // namespace

UndeliveredArchive::UndeliveredArchive(const FileSystem& fs, QString recordPath, QString archivePath)
    : fs_(fs), recordPath_(std::move(recordPath)), archivePath_(std::move(archivePath))
{
}

QList<UndeliveredArchive::ArchiveFile> UndeliveredArchive::archiveFilesNow() const
{
    // The client's archive: NAME.zip and its volumes NAME.z01, NAME.z02, ...
    const QString name = ExtractFileName(archivePath_);
    const QString base = ExtractFileName(VolumeNaming::Base(archivePath_));
    const QRegularExpression volume(QStringLiteral("^") + QRegularExpression::escape(base) +
                                    QStringLiteral("\\.z[0-9]{2,}$"));
    QList<ArchiveFile> files;
    fs_.listFolder(ExtractFilePath(archivePath_), [&](const DirEntry& entry) {
        if (!entry.isFolder && (entry.name == name || volume.match(entry.name).hasMatch()))
            files.append(ArchiveFile{entry.name, entry.sizeBytes, entry.modifiedUnixMs});
        return true;
    });
    return files;
}

bool UndeliveredArchive::Begin()
{
    QByteArray text = QByteArray(Header) + '\n';
    for (const ArchiveFile& file : archiveFilesNow())
        text += file.name.toUtf8() + '\t' + QByteArray::number(file.sizeBytes) + '\t' +
                QByteArray::number(file.modifiedMs) + '\n';
    return fs_.writeFile(recordPath_, text);
}

void UndeliveredArchive::End() { fs_.deleteFile(recordPath_); }

QStringList UndeliveredArchive::RemoveLeftovers()
{
    QStringList removed;
    const auto host = fs_.toHost(recordPath_);
    if (!host || !fs_.fileExists(recordPath_))
        return removed;
    const QList<QByteArray> lines = readFile(*host).split('\n');
    if (lines.isEmpty() || lines.first() != Header)
        return removed;  // not ours to act on
    QList<ArchiveFile> before;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).split('\t');
        if (fields.size() == 3)
            before.append(ArchiveFile{QString::fromUtf8(fields.at(0)), fields.at(1).toLongLong(), fields.at(2).toLongLong()});
    }
    const QString folder = ExtractFilePath(archivePath_);
    for (const ArchiveFile& now : archiveFilesNow()) {
        const bool untouched = std::any_of(before.begin(), before.end(), [&](const ArchiveFile& was) {
            return was.name == now.name && was.sizeBytes == now.sizeBytes && was.modifiedMs == now.modifiedMs;
        });
        if (!untouched && fs_.deleteFile(folder + now.name))
            removed << folder + now.name;
    }
    End();
    return removed;
}

QByteArray UndeliveredArchive::readFile(const QString& hostPath)
{
    HostFile file = HostFile::openRead(hostPath, ShareMode::All);
    QByteArray bytes;
    char block[4096];
    // A record is a few lines; anything much larger is not one.
    for (qint64 n; bytes.size() < (1 << 20) && (n = file.read(block, sizeof block)) > 0;)
        bytes.append(block, n);
    return bytes;
}

}  // namespace vz
