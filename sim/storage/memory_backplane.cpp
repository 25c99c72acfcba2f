#include "memory_backplane.hpp"

#include <utility>

namespace zmod4710_sim {

MemoryBackplane::MemoryBackplane()
    : now_(std::make_shared<Backplane>(factory_backplane())),
      spare_(std::make_shared<Backplane>()) {}

std::shared_ptr<const Backplane> MemoryBackplane::current() const {
    return now_;
}

// Nothing to wait for: held is never let go.
bool MemoryBackplane::update(const std::function<bool(Backplane &)> &change, ProcessLock *,
                             const Stored &stored) const {
    // A spare that a reader still holds is left to it.
    if (spare_.use_count() > 1) {
        spare_ = std::make_shared<Backplane>();
    }
    *spare_ = *now_;
    if (!change(*spare_)) {
        return false;
    }
    std::swap(now_, spare_);
    if (stored) {
        stored();
    }
    return true;
}

bool MemoryBackplane::update_in_place(const std::function<bool(Backplane &)> &change,
                                      ProcessLock *held, const Stored &stored) const {
    if (now_.use_count() > 1) {
        return update(change, held, stored);
    }
    if (!change(*now_)) {
        return false;
    }
    if (stored) {
        stored();
    }
    return true;
}

} // namespace zmod4710_sim
