#pragma once
// Unpacking the archive into RestoreRoot (ExeFolder + "Replicacao\") and
// copying each of its first-level folders X back onto the root "X:\",
// with the sibling program asked to close before and its server started
// after. Covers the import steps "Descompactando" and "Aplicando alterações".
//
// Every file is replaced only by a complete copy. A file that cannot be
// restored (held open, read-only, no such drive, a full disk) fails the
// restore step once every other file has been restored: RestoreRoot and the
// downloaded archive stay, so the import can simply be run again.
//
// The archive is not trusted: one entry outside "Replicacao/" refuses it
// whole (the extraction step fails), only first-level folders named after a
// drive letter are restored, and the program's own files (its executable,
// the helper programs beside it, its settings file) are never written: such
// a file counts as one that could not be restored.

#include "import/ImportServices.h"

#include "platform/CopyFailure.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace vz {

class ExtractionAndRestore {
public:
    static constexpr int ExtractStep = 1;
    static constexpr int RestoreStep = 2;
    static inline const QString ExtractingText = QStringLiteral("Descompactando");
    // Shown before the restore step fails; %1 is the count.
    static inline const QString NotRestoredMessage = QStringLiteral(
        "Não foi possível restaurar %1 arquivo(s). Os arquivos e os motivos estão em VireoReplicador.log. "
        "Feche os programas que os usam ou libere espaço em disco e execute a importação novamente.");

    explicit ExtractionAndRestore(ImportServices services);

    // The window's archive component with its extraction options.
    static void SetUpImportArchive(ArchiveComponent& archive);

    // Unpacks archiveFolder + ArchiveName (with its volumes) into ExeFolder.
    // Every failure, also an archive the component could not read whole,
    // marks "Descompactando" failed (ending the run); so it returns true.
    // Nothing is deleted: a downloaded archive goes only once its files are
    // back in place (DeleteDownloadedFiles).
    bool ExtractArchive(const QString& archiveFolder, bool webMode);
    // Copies every file of RestoreRoot back; "Aplicando alterações" fails
    // (ending the run) when RestoreRoot is not there, and, after the message
    // above, when any file could not be restored. The sibling's server is
    // started again however the restore ends, when it had been running.
    void RestoreFolders(bool siblingWasRunning);
    // Web mode, after a complete restore: ExeFolder + ArchiveName and its
    // volumes ".z01", ".z02", ... while they exist.
    void DeleteDownloadedFiles();

    // The files the last restore could not restore.
    const std::vector<CopyFailure>& RestoreFailures() const { return failures_; }
    // First-level folders of RestoreRoot that name no drive letter (a network
    // share's): the archive does not say which server they came from, so they
    // are not restored.
    const QStringList& SharesNotRestored() const { return shares_; }

private:
    ImportServices s_;
    std::vector<CopyFailure> failures_;
    QStringList shares_;
};

}  // namespace vz
