#pragma once
// Packing the staging mirror into the archive at the root of the executable's
// drive (volumes of 100 MB when larger) and handing each archive file on: a
// single file is uploaded to the replication web service, a volume set (or a
// refused upload the user agrees to save) is copied into a folder the user
// picks. Each delivered file is deleted from the drive root.
//
// Nothing is reported as delivered that did not arrive: a file whose upload
// or copy did not succeed stays at the drive root, and the delivery then ends
// with the "Transferindo" step failed. A cancelled save dialog stops the
// delivery; the remaining volumes stay at the drive root.

#include "export/ExportServices.h"
#include "platform/UserDialogs.h"

#include <QString>
#include <QtGlobal>

namespace vz {

// Set by tests only; the program always packs 100 MB volumes.
struct PackagingOptions {
    qint64 volumeLimitBytes = 0;  // 0: PackageAndDelivery::VolumeSizeKb
};

class PackageAndDelivery {
public:
    static constexpr qint64 VolumeSizeKb = 102400;
    static constexpr int PackStep = 3;     // "Compactando"
    static constexpr int DeliverStep = 4;  // "Transferindo"

    static inline const QString PackingText = QStringLiteral("Compactando");
    static inline const QString DeliveringText = QStringLiteral("Transferindo arquivo");
    static inline const QString UploadFailedQuestion =
        QStringLiteral("Não foi possível conectar com o servidor. Deseja salvar o arquivo em um disco local?");
    static inline const QString NotExportedMessage = QStringLiteral("Não foi possível realizar a exportação.");
    static inline const QString CancelledMessage = QStringLiteral("Exportação cancelada pelo usuário");
    static inline const QString CopyFailedMessage =
        QStringLiteral("Não foi possível copiar o arquivo para o local selecionado");
    static inline const QString SaveTargetPending = QStringLiteral("SIM");

    explicit PackageAndDelivery(ExportServices services, PackagingOptions options = {});

    // Kept between runs, set afresh by each delivery: empty while the files
    // go to the web service; "SIM" while a volume set waits for its folder;
    // else the full path of the last file saved locally.
    QString LocalSaveTarget;
    // False while the first archive file (ArchiveName) is delivered.
    bool VolumeMode = false;
    // dlgSalvarExportacao as the window has it (its filter); set before each run.
    FileDialogRequest SaveDialog;

    // False when the archive could not be built. Every failure after the
    // build marks "Transferindo" failed, which ends the run (SilentAbort).
    bool PackageAndDeliver();
    // Hands one archive file on; true when it reached the web service (which
    // answered "TRUE") or its folder. May end the run with SilentAbort.
    bool DeliverArchiveFile(const QString& path);
    // "TRUE" when the file was copied (or already is the file chosen), else "FALSE".
    QString SaveArchiveFileLocally(const QString& path);

private:
    // Builds the archive; its number of volumes, 0 when no new archive was written.
    int BuildArchive(const QString& archivePath);
    bool SameFile(const QString& a, const QString& b) const;
    void Message(const QString& text);

    ExportServices s_;
    PackagingOptions options_;
    bool stopDelivery_ = false;  // the user cancelled the save dialog
};

}  // namespace vz
