#pragma once
// The archive files an export builds at the drive root stay there until each
// is delivered. An export that dies on the way (killed, a power cut) leaves
// them behind, possibly cut short, and the next export's build would stop on
// the archive component's question whether to overwrite them. Nothing in them
// is needed: the categories' timestamps did not move, so the next export
// carries the same files again.
//
// So while an export builds and delivers, a record beside the settings file
// (VireoReplicador.pendente) names the client's archive files that were at
// the drive root before it (a copy the user saved there, say), with their
// sizes and times. The next export removes every archive file of the client
// at the drive root that the record does not name as it was, and the record;
// a completed or cleanly failed export removes the record itself. Archive
// files with no record around them are left to the component's question.

#include "platform/FileSystem.h"

#include <QString>
#include <QStringList>

namespace vz {

class UndeliveredArchive {
public:
    static inline const QString RecordName = QStringLiteral("VireoReplicador.pendente");

    // recordPath: ExeFolder + RecordName; archivePath: ExeDrive + "\" + ArchiveName (Windows paths).
    UndeliveredArchive(const FileSystem& fs, QString recordPath, QString archivePath);

    // Before the build: records the archive files there now. False when the
    // record could not be written (the export goes on as without it).
    bool Begin();
    // Nothing of this export waits any more: the record goes.
    void End();
    // At the start of an export: removes what an export that did not end
    // left (see above). Returns the removed files' Windows paths.
    QStringList RemoveLeftovers();

private:
    struct ArchiveFile {
        QString name;
        qint64 sizeBytes = 0;
        qint64 modifiedMs = 0;
    };
    QList<ArchiveFile> archiveFilesNow() const;
    static QByteArray readFile(const QString& hostPath);

    const FileSystem& fs_;
    QString recordPath_;
    QString archivePath_;
};

}  // namespace vz
