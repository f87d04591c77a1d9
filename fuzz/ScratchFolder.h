#pragma once
// A folder of a fuzz target's own in $TMPDIR (else /tmp), removed with
// everything in it when the object goes; emptied between inputs.

#include <QString>

namespace vz::fuzz {

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const QString& path() const { return path_; }  // canonical host path
    QString file(const QString& relative) const { return path_ + QLatin1Char('/') + relative; }
    // Removes everything in the folder, leaving it empty.
    void clear() const;

private:
    QString path_;
};

}  // namespace vz::fuzz
