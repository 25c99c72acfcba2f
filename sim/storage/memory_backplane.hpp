// A backplane that lives in this process's memory alone, for tests that need
// no other program to see it.
#pragma once

#include "backplane_store.hpp"

#include <memory>

namespace zmod4710_sim {

// A backplane in this process's memory, factory-fresh when made. A change is
// made on a spare copy, kept from one change to the next so that copying it
// again needs no new memory, and the two swap when the change is kept; one
// that cannot fail is made in place, unless a reader holds the backplane. Its
// user makes one call at a time.
class MemoryBackplane final : public BackplaneStore {
public:
    MemoryBackplane();
    std::shared_ptr<const Backplane> current() const override;
    bool update(const std::function<bool(Backplane &)> &change, ProcessLock *held = nullptr,
                const Stored &stored = {}) const override;
    bool update_in_place(const std::function<bool(Backplane &)> &change,
                         ProcessLock *held = nullptr, const Stored &stored = {}) const override;

private:
    mutable std::shared_ptr<Backplane> now_;
    mutable std::shared_ptr<Backplane> spare_;
};

} // namespace zmod4710_sim
