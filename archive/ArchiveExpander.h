#pragma once
// The engine's extract (and test) command: expands the entries of one plain
// or one-volume archive into the extraction folder. Entries expand on worker
// threads into temporary files beside their targets; the calling thread
// takes them back in archive order, renames each into place once its size
// and CRC-32 have been checked, and makes every callback.

#include "archive/EngineCallbacks.h"

namespace vz {

class ArchiveExpander {
public:
    ArchiveExpander(const EngineCommand& command, EngineCallbacks& callbacks)
        : command_(command), callbacks_(callbacks) {}

    // Entries processed (0 or more), or minus the number of the error.
    int Run();

private:
    const EngineCommand& command_;
    EngineCallbacks& callbacks_;
};

}  // namespace vz
