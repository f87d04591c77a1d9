#include "staging/ExportSources.h"

#include "platform/Errors.h"
#include "platform/WindowsPath.h"
#include "staging/MusicFolderPath.h"

namespace vz {

ExportSources::ExportSources(CopyEngine& engine, RunFrame& frame, QString systemFolder,
                             MusicFolderWalk forEachMusicFolder)
    : engine_(engine),
      frame_(frame),
      systemFolder_(IncludeTrailingBackslash(systemFolder)),
      forEachMusicFolder_(std::move(forEachMusicFolder))
{
}

void ExportSources::StageSystemFolder(const QString& name, bool recursive, Timestamp threshold)
{
    const QString source = systemFolder_ + name;
    const QString destination = engine_.StagingPathFor(source);
    engine_.fileSystem().createFolders(destination);
    engine_.TotalMB = engine_.FolderSizeMB(source, recursive);
    engine_.CopiedMB = 0.0;
    if (!engine_.CopyNewerTree(source, destination, threshold, recursive))
        throw Error(CopyFailedMessage);
}

void ExportSources::StageMusicFolders(bool generalMode, Timestamp threshold)
{
    try {
        forEachMusicFolder_(
            [&](const QString& value) { stageMusicFolder(value, generalMode, threshold); });
    } catch (const RunStopped&) {
        throw;
    } catch (...) {
        frame_.MarkExportStep(MusicStep, true);  // does not return
        throw;                                   // for a frame that does
    }
}

void ExportSources::stageMusicFolder(const QString& value, bool generalMode, Timestamp threshold)
{
    const auto folder = MusicFolderPath::FromPasPath(value);
    if (!folder)
        return;
    // Values end with "\", so the staging folder is the folder's own.
    const QString destination = engine_.StagingPathFor(folder->stagingForm);
    engine_.TotalMB = engine_.FolderSizeMB(folder->source, false);
    engine_.CopiedMB = 0.0;
    // Measured all the same, so the progress shows its size.
    if (generalMode && !systemFolder_.isEmpty() && folder->source.contains(systemFolder_))
        return;
    if (!engine_.CopyNewerTree(folder->source, destination, threshold, false))
        throw Error(CopyFailedMessage);
}

}  // namespace vz
