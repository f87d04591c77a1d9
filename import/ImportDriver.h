#pragma once
// The import run: the archive fetched from the replication web service (or
// taken from a folder the user picks), unpacked and copied back where it was
// staged from, the service's copy removed, and the moment of the import
// recorded as the last export of every category.

#include "import/ExtractionAndRestore.h"
#include "import/ImportServices.h"

#include <QString>

namespace vz {

enum class ImportSource { Web, File };

class ImportDriver {
public:
    static constexpr int DownloadStep = 0;
    static constexpr int StepCount = 3;

    static inline const QString SiblingWarning =
        QStringLiteral("É recomendável fechar o Vireo Cast para executar a importação.");
    static inline const QString NothingOnServerMessage =
        QStringLiteral("Não existe nenhum arquivo no servidor para ser restaurado.");
    static inline const QString ArchiveNotFoundMessage = QStringLiteral("Arquivo zip não encontrado");
    static inline const QString FinishedText = QStringLiteral("Importação finalizada as ");
    static inline const QString NoClientMessage = QStringLiteral(
        "O identificador do cliente não foi lido do banco de dados; a importação não pode ser feita. "
        "Verifique o banco de dados do Vireo Cast e abra o programa novamente.");

    explicit ImportDriver(ImportServices services);

    // btnIniciarImportacaoClick. The source is read once, when the run
    // starts, and holds for the whole run.
    void Run(ImportSource source, const FileDialogRequest& openDialog);

private:
    void Download();
    QString ChosenFolder(const FileDialogRequest& openDialog);
    void Message(const QString& text);

    ImportServices s_;
    ExtractionAndRestore restore_;
};

}  // namespace vz
