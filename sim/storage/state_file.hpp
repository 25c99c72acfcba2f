// The file in which the simulated backplane lives between runs.
#pragma once

#include "atomic_replace.hpp"
#include "backplane.hpp"
#include "backplane_store.hpp"
#include "lock_files.hpp"
#include "state_reading.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace zmod4710_sim {

// $ZMOD4710_SIM_STATE, else $XDG_STATE_HOME/zmod4710-sim/backplane.json, else
// ~/.local/state/zmod4710-sim/backplane.json; on Windows, $ZMOD4710_SIM_STATE,
// else %LOCALAPPDATA%\zmod4710-sim\backplane.json. Throws StateError when none
// can be named.
std::filesystem::path default_state_path();

// What ZMOD4710_SIM_STATE names for a backplane in the process's memory,
// which no other program sees.
constexpr char kMemoryState[] = ":memory:";

class StateFile final : public BackplaneStore {
public:
    explicit StateFile(std::filesystem::path path);
    StateFile(StateFile &&) = default;
    StateFile &operator=(StateFile &&) = default;

    const std::filesystem::path &path() const { return path_; }

    // The backplane the file holds, or the factory backplane while there is no
    // file. Throws StateError, naming the file, when it cannot be read or parsed,
    // or when it or its folder are not the user's to use.
    Backplane load() const;

    // The same without a copy: kept from the last read or write for as long as
    // the file is the same, which one stat of it tells, so another program's
    // change is seen at the next call.
    std::shared_ptr<const Backplane> current() const override;

    // Reads, changes and writes back the backplane under an exclusive lock, so
    // that programs changing it at once lose no update. The folder is made at
    // the first write, private to its owner. A path that is a symbolic link is
    // written through: its target is replaced and the link is kept. When change
    // returns false, or the file cannot be read or parsed, the file is left as
    // it was. A write that would make the folder or the lock, or that its user
    // may not make, first tries change on the backplane as it is, without the
    // lock, so that a change refused there makes nothing; change may so be
    // called twice, and what the last call made is written. Returns what change
    // returned; throws StateError, also for a file its user may not write.
    // stored is called once the file is replaced, while the lock is held.
    bool update(const std::function<bool(Backplane &)> &change, ProcessLock *held = nullptr,
                const Stored &stored = {}) const override;

    // Puts backplane in place of whatever the file holds, parsable or not.
    void store(const Backplane &backplane) const;

private:
    // What the file held when it was last read or written here.
    struct Kept {
        Snapshot snapshot;
        std::shared_ptr<const Backplane> backplane;
    };

    // The backplane in snapshot, kept for the next call: the one kept already
    // when the bytes are the same, else parsed anew.
    std::shared_ptr<const Backplane> keep(Snapshot snapshot) const;
    // The place of the state for a write, its folder made; throws StateError
    // when the user may not write it.
    platform::Place place_to_write(platform::Place place) const;
    // Replaces the state with backplane; previous is what it held, if anything.
    // The state as it is under the lock, which the user must be able to write.
    static std::optional<Snapshot> read_under_lock(platform::Place &place);
    void write(const StateLock &lock, const platform::Place &place, Backplane backplane,
               const std::optional<std::string> &previous) const;
    // Throws StateError, naming the file, when contents are not a backplane.
    Backplane parse(const std::string &contents) const;

    std::filesystem::path path_;
    mutable std::optional<Kept> kept_;
};

} // namespace zmod4710_sim
