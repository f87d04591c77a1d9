#pragma once
// What an export stages: folders of the automation system's installation
// (SystemFolder) and the music folders listed in the audio database, each
// measured and copied with the copy engine into its staging folder.
//
// The export driver calls, per checked category (it also handles the sibling
// program around "Vireodb" and sets the categories' timestamps):
//   Dados:   StageSystemFolder("", false, LastBackupDados), then each of
//            DadosFolders recursive with LastBackupDados;
//   Áudios:  each of AudioFolders recursive with LastBackupAudio;
//   Músicas: StageMusicFolders(false, LastBackupMusica);
//   Geral:   StageSystemFolder("", true, LastBackupDados), then
//            StageMusicFolders(true, LastBackupMusica).
// Files that could not be copied are in the engine's Failures().

#include "platform/RunFrame.h"
#include "platform/Timestamp.h"
#include "staging/CopyEngine.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace vz {

class ExportSources {
public:
    // Walks Pas_Path of every row of Tb_Pastas, in the order the query returns
    // them (the database layer's ForEachMusicFolder); may throw.
    using MusicFolderWalk = std::function<void(const std::function<void(const QString&)>&)>;

    static inline const QString CopyFailedMessage = QStringLiteral("Não foi possível copiar");
    // Step of the export list that the music folders fail.
    static constexpr int MusicStep = 2;
    // Subfolders of SystemFolder staged by the Dados category (after the files
    // directly in SystemFolder) and by the Áudios category, in this order.
    static inline const QStringList DadosFolders = {
        QStringLiteral("Vireodb"), QStringLiteral("Plugins"), QStringLiteral("Relatorios"),
        QStringLiteral("Listas"), QStringLiteral("Textos Avulsos"),
    };
    static inline const QStringList AudioFolders = {
        QStringLiteral("Comerciais"), QStringLiteral("Textos"), QStringLiteral("Vinhetas"),
        QStringLiteral("Trilhas"),    QStringLiteral("Efeitos"), QStringLiteral("Locucoes"),
    };

    ExportSources(CopyEngine& engine, RunFrame& frame, QString systemFolder, MusicFolderWalk forEachMusicFolder);

    // Stages SystemFolder + name (SystemFolder itself for an empty name).
    // Throws vz::Error(CopyFailedMessage) when the copy engine reports that
    // the walk of the folder was interrupted. A missing folder is no error:
    // its staging folder is created empty.
    void StageSystemFolder(const QString& name, bool recursive, Timestamp threshold);

    // Stages the files directly in each music folder (never its subfolders)
    // with threshold (LastBackupMusica). In general mode a folder inside
    // SystemFolder (already staged with it) is measured but not copied.
    // Empty values are skipped. Any failure (the database, a folder whose
    // walk was interrupted) marks export step 2 failed, which ends the run
    // with SilentAbort. The new LastBackupMusica is the driver's to set, and
    // only once the export is delivered.
    void StageMusicFolders(bool generalMode, Timestamp threshold);

private:
    void stageMusicFolder(const QString& value, bool generalMode, Timestamp threshold);

    CopyEngine& engine_;
    RunFrame& frame_;
    QString systemFolder_;
    MusicFolderWalk forEachMusicFolder_;
};

}  // namespace vz
