#include "owner_checks.hpp"

#include "locate.hpp"

namespace zmod4710_sim {

void check_readable(const platform::FileStatus &status, const platform::Place &place) {
    if (!status.regular()) {
        refuse_irregular_file(place.path);
    }
    if (!status.trusted(place.folder_shared)) {
        refuse_another_users(place.given, place.path);
    }
}

bool may_write(const platform::Place &place) {
    return !place.file || (place.file->users && place.file->owner_may_write());
}

void check_writable(const platform::Place &place) {
    if (!place.file) {
        return;
    }
    if (!place.file->users) {
        throw StateError("cannot write " + place.path.string() +
                         ": it belongs to another user, and a write would make it yours");
    }
    if (!place.file->owner_may_write()) {
        throw StateError("cannot write " + place.path.string() +
                         ": it is read-only, and a write would replace it");
    }
}

} // namespace zmod4710_sim
