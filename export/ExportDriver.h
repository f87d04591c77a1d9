#pragma once
// The export run, from the start button (or the tray's start item) to the
// final message: the first-run prompt, the chosen categories staged with the
// sibling program handled around its database folder, the music folders from
// the audio database, packaging and delivery, the new timestamps saved.
//
// The categories' timestamps change only once the archive is delivered: until
// then the settings hold the moments of the last delivered export, so a run
// that fails, is stopped or dies carries the same files again next time.
// Each new moment is that of the start of the category's walk, held back for
// the files that could not be copied (export/CategoryMoment.h); their count
// ends the final text and each is named in the run log.

#include "export/ExportServices.h"
#include "export/PackageAndDelivery.h"

#include <QString>
#include <memory>
#include <optional>

namespace vz {

struct ExportStaging;

// The export categories as the check boxes stand.
struct ExportCategories {
    bool geral = false;
    bool dados = false;
    bool audios = false;
    bool musicas = false;
};

class ExportDriver {
public:
    static constexpr int DadosStep = 0;
    static constexpr int AudioStep = 1;
    static constexpr int MusicStep = 2;
    static constexpr int StepCount = 5;

    static inline const QString FirstRunPrompt = QStringLiteral(
        "Essa é a primeira execução do Vireo Zuvavivevo.\rInforme a data inicial do backup\r"
        "(Para copiar tudo, deixe em branco)");
    static inline const QString InvalidDateMessage = QStringLiteral("A data informada é inválida");
    static inline const QString SiblingWarning =
        QStringLiteral("É recomendável fechar o Vireo Cast para executar a exportação.");
    static inline const QString DatabaseFailedText = QStringLiteral("Não foi possível conectar com o banco de dados");
    static inline const QString FinishedText = QStringLiteral("Exportação finalizada as ");
    static inline const QString NoClientMessage = QStringLiteral(
        "O identificador do cliente não foi lido do banco de dados; a exportação não pode ser feita. "
        "Verifique o banco de dados do Vireo Cast e abra o programa novamente.");

    ExportDriver(ExportServices services, PackageAndDelivery& packaging);
    ~ExportDriver();

    // btnIniciarExportacaoClick. Ends normally, by SilentAbort, or by an
    // error for the standard error display; the window is idle again after it.
    void Run(const ExportCategories& categories, const FileDialogRequest& saveDialog);

    // The end of the final text when files were not copied: ", N arquivo(s) não copiado(s)".
    static QString NotCopiedText(size_t count);

private:
    struct PendingMoments {
        std::optional<Timestamp> dados, audio, musica;
    };

    void AskFirstRunDate();
    void StageAll();
    void StageCategories(const ExportCategories& categories);
    void ConnectAudioDatabase();
    void Message(const QString& text);

    ExportServices s_;
    PackageAndDelivery& packaging_;
    std::unique_ptr<ExportStaging> staging_;  // for one run
    PendingMoments pending_;
};

}  // namespace vz
