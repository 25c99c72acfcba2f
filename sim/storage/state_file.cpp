#include "state_file.hpp"

#include "backplane_json.hpp"
#include "locate.hpp"
#include "owner_checks.hpp"

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
    if (kept_ && kept_->snapshot.status.stamp &&
        platform::stamp_of(path_) == kept_->snapshot.status.stamp) {
        return kept_->backplane;
    }
    std::optional<Snapshot> snapshot = read_state(locate(path_, false));
    if (!snapshot) {
        kept_.reset();
        return std::make_shared<const Backplane>(factory_backplane());
    }
    return keep(std::move(*snapshot));
}

bool StateFile::update(const std::function<bool(Backplane &)> &change, ProcessLock *held,
                       const Stored &stored) const {
    platform::Place place = locate(path_, false);
    LockFile lock_file = existing_lock(place);
    if (!lock_file.valid() || !may_write(place)) {
        std::optional<Snapshot> before = read_state(place);
        Backplane trial = before ? *keep(std::move(*before)) : factory_backplane();
        if (!change(trial)) {
            return false;
        }
        place = place_to_write(std::move(place));
    }
    const StateLock lock(place, std::move(lock_file), held);
    // The file as it is now, parsed again only when its bytes have changed since
    // it was last read here: another program's edit is never written over.
    std::optional<Snapshot> now = read_under_lock(place);
    Backplane backplane = now ? *keep(std::move(*now)) : factory_backplane();
    if (!now) {
        kept_.reset();
    }
    if (!change(backplane)) {
        return false;
    }
    write(lock, place, std::move(backplane),
          kept_ ? std::optional<std::string>(std::move(kept_->snapshot.contents)) : std::nullopt);
    if (stored) {
        stored();
    }
    return true;
}

void StateFile::store(const Backplane &backplane) const {
    platform::Place place = place_to_write(locate(path_, false));
    const StateLock lock(place, existing_lock(place));
    std::optional<Snapshot> now = read_under_lock(place);
    write(lock, place, backplane,
          now ? std::optional<std::string>(std::move(now->contents)) : std::nullopt);
}

std::shared_ptr<const Backplane> StateFile::keep(Snapshot snapshot) const {
    std::shared_ptr<const Backplane> backplane =
        kept_ && kept_->snapshot.contents == snapshot.contents
            ? kept_->backplane
            : std::make_shared<const Backplane>(parse(snapshot.contents));
    kept_ = Kept{std::move(snapshot), backplane};
    return backplane;
}

platform::Place StateFile::place_to_write(platform::Place place) const {
    check_writable(place);
    return place.folder.valid() ? std::move(place) : locate(path_, true);
}

std::optional<Snapshot> StateFile::read_under_lock(platform::Place &place) {
    std::optional<Snapshot> now = read_state(place);
    // Another writer may have replaced the state meanwhile.
    place.file = now ? std::optional<platform::FileStatus>(now->status) : std::nullopt;
    check_writable(place);
    return now;
}

void StateFile::write(const StateLock &lock, const platform::Place &place, Backplane backplane,
                      const std::optional<std::string> &previous) const {
    // The file kept open is let go first, so that the rename frees it, as any
    // replace does, rather than a close after the folder's flush.
    kept_.reset();
    Snapshot written = lock.replace(place, format_backplane(backplane), previous);
    kept_ = Kept{std::move(written), std::make_shared<const Backplane>(std::move(backplane))};
}

Backplane StateFile::parse(const std::string &contents) const {
    try {
        return parse_backplane(contents);
    } catch (const StateError &error) {
        throw StateError(path_.string() +
                         " is not a backplane state, and is left as it is: " + error.what());
    }
}

} // namespace zmod4710_sim
