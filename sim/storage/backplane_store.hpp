// Where a backplane lives: in the state file (state_file.hpp), which every
// program sees, or in one process's memory, for tests that need no other
// program to see it. The module library and its control functions work on
// either through this.
#pragma once

#include "backplane.hpp"

#include <functional>
#include <memory>
#include <mutex>

namespace zmod4710_sim {

// The lock that a caller holds on what its process keeps of a store (the
// backplane last read), which a store lets go while it waits for another
// program, and takes again before it goes on.
using ProcessLock = std::unique_lock<std::mutex>;

class BackplaneStore {
public:
    BackplaneStore() = default;
    BackplaneStore(const BackplaneStore &) = delete;
    BackplaneStore &operator=(const BackplaneStore &) = delete;
    virtual ~BackplaneStore() = default;

    // The backplane as it is now.
    virtual std::shared_ptr<const Backplane> current() const = 0;
    // What is called once a change is stored, before any lock under which it
    // was made is let go, so that what tells of it comes in the order of the
    // changes; it throws nothing.
    using Stored = std::function<void()>;

    // Changes the backplane, so that changes made at once lose nothing; when
    // change returns false, the backplane stays as it was. Returns what change
    // returned. A caller that holds held (which it then holds again when this
    // returns or throws) lets other threads use the store while this waits for
    // another program's lock; change and stored run with held held.
    virtual bool update(const std::function<bool(Backplane &)> &change, ProcessLock *held = nullptr,
                        const Stored &stored = {}) const = 0;
    // The same, for a change that throws nothing and leaves the backplane as
    // it was when it returns false: a store may make it in place.
    virtual bool update_in_place(const std::function<bool(Backplane &)> &change,
                                 ProcessLock *held = nullptr, const Stored &stored = {}) const {
        return update(change, held, stored);
    }

protected:
    BackplaneStore(BackplaneStore &&) = default;
    BackplaneStore &operator=(BackplaneStore &&) = default;
};

} // namespace zmod4710_sim
