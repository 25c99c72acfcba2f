// The file in which the simulated backplane lives between runs.
#pragma once

#include "backplane.hpp"
#include "file_ops.hpp"

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

class StateFile {
public:
    explicit StateFile(std::filesystem::path path);

    const std::filesystem::path &path() const { return path_; }

    // The backplane the file holds, or the factory backplane while there is no
    // file. Throws StateError, naming the file, when it cannot be read or parsed,
    // or when it or its folder are not the user's to use.
    Backplane load() const;

    // The same without a copy: kept from the last read or write for as long as
    // the file is the same, which one stat of it tells, so another program's
    // change is seen at the next call.
    std::shared_ptr<const Backplane> current() const;

    // Reads, changes and writes back the backplane under an exclusive lock, so
    // that programs changing it at once lose no update. The folder is made at
    // the first write, private to its owner. A path that is a symbolic link is
    // written through: its target is replaced and the link is kept. When change returns false, or
    // the file cannot be read or parsed, the file is left as it was. Returns what change returned;
    // throws StateError, also for a file its user may not write.
    bool update(const std::function<bool(Backplane &)> &change) const;

    // Puts backplane in place of whatever the file holds, parsable or not.
    void store(const Backplane &backplane) const;

private:
    // What the file held when it was last read or written here.
    struct Kept {
        FileStamp stamp;
        std::shared_ptr<const Backplane> backplane;
        std::shared_ptr<void> held;
    };

    Backplane parse(const FileSnapshot &snapshot) const;
    // The backplane in the file at location, from what is kept when it is the same.
    Backplane read_at(const StateLocation &location) const;
    void write_at(const StateLocation &location, Backplane backplane) const;

    std::filesystem::path path_;
    mutable std::optional<Kept> kept_;
};

} // namespace zmod4710_sim
