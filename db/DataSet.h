#pragma once
// What a connection needs of its table and query objects: letting go of
// their statements before it detaches.

namespace vz {

class DataSet {
public:
    virtual ~DataSet() = default;
    virtual bool active() const = 0;
    // Closes the result set and frees the statement. Never throws.
    virtual void release() noexcept = 0;
};

}  // namespace vz
