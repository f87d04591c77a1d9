#pragma once
// The export run, from the start button (or the tray's start item) to the
// final message: the first-run prompt, the chosen categories staged with the
// sibling program handled around its database folder, the music folders from
// the audio database, packaging and delivery, the new timestamps saved.
//
// Timestamps a run set to Now go back to their values from before the run
// when the run does not complete (a failed step, a refused or cancelled
// delivery, any error), so the next export carries the same files again.

#include "export/ExportServices.h"
#include "export/PackageAndDelivery.h"

#include <QString>

namespace vz {

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

    // btnIniciarExportacaoClick. Ends normally, by SilentAbort, or by an
    // error for the standard error display; the window is idle again after it.
    void Run(const ExportCategories& categories, const FileDialogRequest& saveDialog);

private:
    void AskFirstRunDate();
    void StageAll();
    void StageCategories(const ExportCategories& categories);
    void ConnectAudioDatabase();
    void Message(const QString& text);

    ExportServices s_;
    PackageAndDelivery& packaging_;
};

}  // namespace vz
