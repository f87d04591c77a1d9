#pragma once
// What a run that ended midway (killed, a crash, a power cut) left behind of
// its temporary files (platform/TemporaryFiles.h), removed by the next run
// before it starts. Only the program's own temporary files, only where its
// runs write them: beside the executable (downloads, the settings file), in
// the system's temporary folder (the archive being built), in the restore
// folder, and in every folder of the installation that the restore folder
// maps to (a restore writes each file beside the one it replaces). Files a
// live writer still holds are left alone.

#include "platform/FileSystem.h"
#include "platform/RunSettings.h"

namespace vz {

// Returns how many files were removed. Never throws.
int RemoveLeftoverFiles(const FileSystem& fs, const RunSettings& settings);

}  // namespace vz
