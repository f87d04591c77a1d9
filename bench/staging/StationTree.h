#pragma once
// A tree shaped like a station's installation, made deterministically for
// the staging benchmark: many small list and text files, short audio clips,
// music files of 1 to 8 MB and a few database files of 50 to 200 MB.

#include <QString>
#include <QtGlobal>

namespace vz::bench {

struct TreeShape {
    qint64 sizeBytes = 0;
    qint64 files = 0;
    qint64 folders = 0;
};

class StationTree {
public:
    // The full-size tree is about 1.5 GB in about 20,000 files; scale < 1
    // makes every count and size smaller in proportion.
    explicit StationTree(double scale) : scale_(scale) {}

    // Writes the tree under hostFolder (created), every file with a
    // modification time in 2024. Returns what was written.
    TreeShape write(const QString& hostFolder) const;

private:
    double scale_;
};

}  // namespace vz::bench
