// Where a backplane lives: in the state file (state_file.hpp), which every
// program sees, or in one process's memory, for tests that need no other
// program to see it. The module library and its control functions work on
// either through this.
#pragma once

#include "backplane.hpp"

#include <functional>
#include <memory>

namespace zmod4710_sim {

class BackplaneStore {
public:
    BackplaneStore() = default;
    BackplaneStore(const BackplaneStore &) = delete;
    BackplaneStore &operator=(const BackplaneStore &) = delete;
    virtual ~BackplaneStore() = default;

    // The backplane as it is now.
    virtual std::shared_ptr<const Backplane> current() const = 0;
    // Changes the backplane, so that changes made at once lose nothing; when
    // change returns false, the backplane stays as it was. Returns what change
    // returned.
    virtual bool update(const std::function<bool(Backplane &)> &change) const = 0;

protected:
    BackplaneStore(BackplaneStore &&) = default;
    BackplaneStore &operator=(BackplaneStore &&) = default;
};

} // namespace zmod4710_sim
