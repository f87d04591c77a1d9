#pragma once
// The engine's add command: finds the files, compresses them on worker
// threads and writes them, in order, as one plain archive. Callbacks and
// every write happen on the calling thread, entry after entry.

#include "archive/CentralRecord.h"
#include "archive/EngineCallbacks.h"
#include "archive/TreeScanner.h"

#include <QSet>
#include <vector>

namespace vz {

class ArchiveBuilder {
public:
    ArchiveBuilder(const EngineCommand& command, EngineCallbacks& callbacks)
        : command_(command), callbacks_(callbacks) {}

    // Entries written (0 or more), or minus the number of the error.
    int Run();

private:
    int collect(std::vector<FileItem>& items);
    bool storeWithoutCompression(const FileItem& item) const;

    const EngineCommand& command_;
    EngineCallbacks& callbacks_;
    QSet<QString> storeSuffixes_;
};

}  // namespace vz
