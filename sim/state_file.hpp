// The file in which the simulated backplane lives between runs.
#pragma once

#include "backplane.hpp"

#include <filesystem>
#include <functional>

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
    // file. Throws StateError, naming the file, when it cannot be read or parsed.
    Backplane load() const;

    // Reads, changes and writes back the backplane under an exclusive lock, so
    // that programs changing it at once lose no update. The folder is made at
    // the first write, private to its owner. A path that is a symbolic link is
    // written through: its target is replaced and the link is kept. When change returns false, or
    // the file cannot be read or parsed, the file is left as it was. Returns what change returned;
    // throws StateError.
    bool update(const std::function<bool(Backplane &)> &change) const;

    // Puts backplane in place of whatever the file holds, parsable or not.
    void store(const Backplane &backplane) const;

private:
    Backplane load_from(const std::filesystem::path &file) const;
    static std::filesystem::path lock_path(const std::filesystem::path &file);

    std::filesystem::path path_;
};

} // namespace zmod4710_sim
