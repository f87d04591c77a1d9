#include "archive/CompressionEngine.h"

#include "archive/ArchiveBuilder.h"
#include "archive/ArchiveExpander.h"
#include "archive/ArchiveMessages.h"

#include <new>

namespace vz {

int CompressionEngine::Exec(const EngineCommand& command, EngineCallbacks& callbacks)
{
    try {
        if (command.kind == EngineCommand::Add)
            return ArchiveBuilder(command, callbacks).Run();
        return ArchiveExpander(command, callbacks).Run();
    } catch (const std::bad_alloc&) {
        return -ArchiveMessage::NoMemory;
    }
}

}  // namespace vz
