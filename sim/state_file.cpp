#include "state_file.hpp"

#include "file_ops.hpp"
#include "state_json.hpp"

#include <cstdlib>
#include <utility>

namespace zmod4710_sim {

namespace {

const char *environment(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

} // namespace

std::filesystem::path default_state_path() {
    if (const char *state = environment("ZMOD4710_SIM_STATE")) {
        return state;
    }
    const std::filesystem::path relative = std::filesystem::path("zmod4710-sim") / "backplane.json";
#ifdef _WIN32
    if (const char *local = environment("LOCALAPPDATA")) {
        return std::filesystem::path(local) / relative;
    }
    throw StateError("no place for the simulated module's state: set ZMOD4710_SIM_STATE");
#else
    // A relative XDG_STATE_HOME is to be ignored, as the base directory rules say.
    if (const char *xdg = environment("XDG_STATE_HOME");
        xdg && std::filesystem::path(xdg).is_absolute()) {
        return std::filesystem::path(xdg) / relative;
    }
    if (const char *home = environment("HOME")) {
        return std::filesystem::path(home) / ".local" / "state" / relative;
    }
    throw StateError("no place for the simulated module's state: set ZMOD4710_SIM_STATE or HOME");
#endif
}

StateFile::StateFile(std::filesystem::path path) : path_(std::move(path)) {}

Backplane StateFile::load() const {
    return load_from(final_target(path_));
}

bool StateFile::update(const std::function<bool(Backplane &)> &change) const {
    const std::filesystem::path file = final_target(path_);
    make_folders(file.parent_path());
    const ExclusiveFileLock lock(lock_path(file));
    Backplane backplane = load_from(file);
    if (!change(backplane)) {
        return false;
    }
    replace_file_atomically(file, format_backplane(backplane));
    return true;
}

void StateFile::store(const Backplane &backplane) const {
    const std::filesystem::path file = final_target(path_);
    make_folders(file.parent_path());
    const ExclusiveFileLock lock(lock_path(file));
    replace_file_atomically(file, format_backplane(backplane));
}

Backplane StateFile::load_from(const std::filesystem::path &file) const {
    const std::optional<std::string> contents = read_file_if_exists(file);
    if (!contents) {
        return factory_backplane();
    }
    try {
        return parse_backplane(*contents);
    } catch (const StateError &error) {
        throw StateError(path_.string() +
                         " is not a backplane state, and is left as it is: " + error.what());
    }
}

// Beside the file itself, not beside a link to it: every name of one file locks
// the same lock.
std::filesystem::path StateFile::lock_path(const std::filesystem::path &file) {
    std::filesystem::path lock = file;
    lock += ".lock";
    return lock;
}

} // namespace zmod4710_sim
