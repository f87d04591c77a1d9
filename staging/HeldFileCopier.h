#pragma once
// A copy for the files of the database folder that another program keeps
// open and that a plain read would copy half-written: the export hands each
// of them to it first (staging does not know how to reach a database server;
// the export does). Host paths, plus the Windows path the source has.

#include <QString>

namespace vz {

class HeldFileCopier {
public:
    enum class Outcome {
        NotHeld,  // not this copier's: the engine copies it as any other file
        Copied,   // the target holds a complete, consistent copy
        Failed,   // nothing was copied; errno tells why
    };

    virtual ~HeldFileCopier() = default;
    virtual Outcome CopyHeld(const QString& sourceWindowsPath, const QString& fromHostPath,
                             const QString& toHostPath) = 0;
};

}  // namespace vz
