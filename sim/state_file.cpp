#include "state_file.hpp"

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
    return *current();
}

std::shared_ptr<const Backplane> StateFile::current() const {
    if (kept_ && stamp_of(path_) == kept_->stamp) {
        return kept_->backplane;
    }
    const StateLocation location(path_, StateLocation::Purpose::read);
    std::optional<FileSnapshot> snapshot = location.read();
    if (!snapshot) {
        kept_.reset();
        return std::make_shared<const Backplane>(factory_backplane());
    }
    auto backplane = std::make_shared<const Backplane>(parse(*snapshot));
    kept_ = Kept{snapshot->stamp, backplane, std::move(snapshot->held)};
    return backplane;
}

bool StateFile::update(const std::function<bool(Backplane &)> &change) const {
    const StateLocation location(path_, StateLocation::Purpose::write);
    const auto lock = location.lock();
    Backplane backplane = read_at(location);
    if (!change(backplane)) {
        return false;
    }
    write_at(location, std::move(backplane));
    return true;
}

void StateFile::store(const Backplane &backplane) const {
    const StateLocation location(path_, StateLocation::Purpose::write);
    const auto lock = location.lock();
    write_at(location, backplane);
}

Backplane StateFile::read_at(const StateLocation &location) const {
    if (kept_ && location.stamp() == kept_->stamp) {
        return *kept_->backplane;
    }
    const std::optional<FileSnapshot> snapshot = location.read();
    return snapshot ? parse(*snapshot) : factory_backplane();
}

void StateFile::write_at(const StateLocation &location, Backplane backplane) const {
    location.check_writable();
    location.remove_leftover_temporaries();
    // The file kept open is let go first, so that the rename frees it, as any
    // replace does, rather than a close after the folder's sync.
    kept_.reset();
    FileSnapshot written = location.replace(format_backplane(backplane));
    kept_ = Kept{written.stamp, std::make_shared<const Backplane>(std::move(backplane)),
                 std::move(written.held)};
}

Backplane StateFile::parse(const FileSnapshot &snapshot) const {
    try {
        return parse_backplane(snapshot.contents);
    } catch (const StateError &error) {
        throw StateError(path_.string() +
                         " is not a backplane state, and is left as it is: " + error.what());
    }
}

} // namespace zmod4710_sim
