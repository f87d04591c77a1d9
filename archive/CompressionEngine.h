#pragma once
// The compression engine, linked in: runs one add or extract command and
// reports through the callbacks. Result: entries processed (0 or more), or
// minus an error number (-1 and -2: cancelled; -3 to -35: engine errors;
// lower: the component's own message numbers).

#include "archive/EngineCallbacks.h"

namespace vz {

class CompressionEngine {
public:
    int Exec(const EngineCommand& command, EngineCallbacks& callbacks);
};

}  // namespace vz
