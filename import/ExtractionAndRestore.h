#pragma once
// Unpacking the archive into RestoreRoot (ExeFolder + "Replicacao\") and
// copying each of its first-level folders X back onto the root "X:\",
// with the sibling program asked to close before and its server started
// after. Covers the import steps "Descompactando" and "Aplicando alterações".

#include "import/ImportServices.h"

#include <QString>

namespace vz {

class ExtractionAndRestore {
public:
    static constexpr int ExtractStep = 1;
    static constexpr int RestoreStep = 2;
    static inline const QString ExtractingText = QStringLiteral("Descompactando");

    explicit ExtractionAndRestore(ImportServices services);

    // The window's archive component with its extraction options.
    static void SetUpImportArchive(ArchiveComponent& archive);

    // Unpacks archiveFolder + ArchiveName (with its volumes) into ExeFolder.
    // In web mode the downloaded files are deleted afterwards; a folder the
    // user chose is never touched. Every failure, also an archive the
    // component could not read whole, marks "Descompactando" failed (ending
    // the run) and keeps the downloaded files; so it returns true.
    bool ExtractArchive(const QString& archiveFolder, bool webMode);
    // Copies every file of RestoreRoot back; "Aplicando alterações" fails
    // (ending the run) when RestoreRoot is not there.
    void RestoreFolders(bool siblingWasRunning);

private:
    void DeleteDownloadedFiles();

    ImportServices s_;
};

}  // namespace vz
