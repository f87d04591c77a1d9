#pragma once
// The bytes each entry of an archive takes up: its local header and its
// data, as offsets on one line across the volumes of a set. In an archive
// that a real tool wrote no two entries share a byte; entries that do (a
// local header inside the data of the one before, many central records
// for one entry) make the output unbounded by the archive's size, so such
// an archive is refused whole, before anything is written.

#include <QtGlobal>
#include <optional>
#include <vector>

namespace vz {

class EntryRanges {
public:
    void reserve(size_t count) { ranges_.reserve(count); }
    // The bytes [begin, end) of the entry with this index in the directory.
    void add(qint64 begin, qint64 end, size_t entryIndex);
    // The entry that shares bytes with another (the later of the two in the
    // archive), or nothing when no two ranges overlap.
    std::optional<size_t> overlap() const;

private:
    struct Range {
        qint64 begin;
        qint64 end;
        size_t entry;
    };
    std::vector<Range> ranges_;
};

}  // namespace vz
