// The way to the state on POSIX systems, whose links are followed one part at
// a time: each link is checked before it is followed, and each folder before
// anything in it is used, so that another user cannot steer the state
// elsewhere. Over the system calls of platform_posix.cpp.
#include "locate.hpp"
#include "state_error.hpp"

#include <deque>

namespace zmod4710_sim {

using platform::FileStatus;
using platform::Handle;
using platform::Place;

namespace {

// As many links as the system itself follows in one path before it gives up.
constexpr int kMaxLinks = 40;
constexpr std::uint32_t kSetGroup = 02000;

// How far the walk has come: the parts still to follow, the folder reached and
// its path to show. It lives for one call of locate.
struct Walk {
    const std::filesystem::path &given;
    bool make_folders;
    std::uint32_t user;
    std::deque<std::string> parts;
    Handle folder;
    bool folder_readable;
    std::filesystem::path shown;
    int links;
};

// The parts of a path in order, a root as "/" and a trailing separator as "".
std::deque<std::string> parts_of(const std::filesystem::path &path) {
    std::deque<std::string> parts;
    for (const std::filesystem::path &part : path) {
        parts.push_back(part.string());
    }
    return parts;
}

// The folder reached, checked as the state's folder.
FileStatus checked_folder(const Walk &walk) {
    const std::filesystem::path shown = walk.shown.empty() ? "." : walk.shown;
    const FileStatus folder = platform::status_of(walk.folder, walk.user, shown);
    check_folder(walk.given, folder, shown);
    return folder;
}

// Puts the parts of the link's target in front of the parts still to follow.
void follow_link(Walk &walk, const std::string &part) {
    const std::filesystem::path shown = walk.shown / part;
    const std::optional<FileStatus> link =
        platform::examine_in(walk.folder, part, walk.user, shown);
    if (!link || link->kind != FileStatus::Kind::link) {
        throw StateError("cannot open the folder " + shown.string() + ": Not a directory");
    }
    check_entry(walk.given, checked_folder(walk), *link, shown);
    if (++walk.links > kMaxLinks) {
        throw StateError("cannot use " + walk.given.string() + ": more than " +
                         std::to_string(kMaxLinks) + " symbolic links on its way");
    }
    const std::deque<std::string> target =
        parts_of(platform::read_link(walk.folder, part, link->size, shown));
    walk.parts.insert(walk.parts.begin(), target.begin(), target.end());
}

Place place_reached(Walk &walk, const std::string &name, const FileStatus *folder) {
    Place place;
    place.given = walk.given;
    place.path = walk.shown / name;
    place.name = name;
    place.user = walk.user;
    if (folder != nullptr) {
        place.folder = std::move(walk.folder);
        place.folder_readable = walk.folder_readable;
        place.folder_shared = folder->others_may_write();
        place.folder_sets_group = (folder->mode & kSetGroup) != 0;
        place.folder_group = folder->group;
    }
    return place;
}

// The state file's name in the folder reached: nothing there, a link to follow
// (then nothing is returned), or a regular file of the user's.
std::optional<Place> take_file(Walk &walk, const std::string &name) {
    const std::optional<FileStatus> file =
        platform::examine_in(walk.folder, name, walk.user, walk.shown / name);
    if (file && file->kind == FileStatus::Kind::link) {
        follow_link(walk, name);
        return std::nullopt;
    }
    const FileStatus folder = checked_folder(walk);
    Place place = place_reached(walk, name, &folder);
    if (file) {
        if (!file->regular()) {
            refuse_irregular_file(place.path);
        }
        check_entry(walk.given, folder, *file, place.path);
        place.file = file;
    }
    return place;
}

// Goes into the folder part, or follows the link of that name. A missing folder
// is made for a write, in a folder fit to hold the user's own; for a read, it
// holds no state yet, and the place is returned without a folder.
std::optional<Place> enter_folder(Walk &walk, const std::string &part) {
    bool missing = false;
    Handle next = platform::open_folder_in(walk.folder, part, missing, walk.shown / part);
    if (missing && !walk.make_folders) {
        std::filesystem::path rest = walk.shown / part;
        for (const std::string &later : walk.parts) {
            rest /= later;
        }
        walk.shown = rest.parent_path();
        return place_reached(walk, file_name_of(rest), nullptr);
    }
    if (missing) {
        checked_folder(walk);
        platform::make_folder(walk.folder, part, walk.shown / part);
        next = platform::open_folder_in(walk.folder, part, missing, walk.shown / part);
    }
    if (!next.valid()) {
        follow_link(walk, part);
        return std::nullopt;
    }
    walk.folder = std::move(next);
    walk.folder_readable = false;
    walk.shown /= part;
    return std::nullopt;
}

// Opens the root for the parts that follow it. A folder right in it is opened by
// its whole name at once, no link followed, which is the same with one call
// fewer, and which an emulator that gives a program a root of its own (qemu's
// -L) maps to the folder the path names.
void enter_root(Walk &walk) {
    walk.shown = "/";
    const std::string first = walk.parts.size() > 1 ? walk.parts.front() : "";
    if (!first.empty() && first != "." && first != "..") {
        bool missing = false;
        walk.folder = platform::open_folder_in(Handle(), "/" + first, missing, walk.shown / first);
        if (walk.folder.valid()) {
            walk.shown /= first;
            walk.parts.pop_front();
            return;
        }
    }
    walk.folder = platform::open_start_folder("/");
}

// The folder to start from: the state's own folder in one call when no link is
// on its way, else the current folder, from which each part is followed.
void start_walk(Walk &walk) {
    walk.parts.assign(1, file_name_of(walk.given));
    walk.shown = walk.given.parent_path();
    if (!walk.shown.empty()) {
        walk.folder = platform::open_folder_without_links(walk.shown, walk.folder_readable);
    }
    if (!walk.folder.valid()) {
        walk.parts = parts_of(walk.given);
        walk.shown.clear();
        walk.folder = platform::open_start_folder(".");
    }
}

} // namespace

Place locate(const std::filesystem::path &path, bool make_folders) {
    Walk walk{path, make_folders, platform::user(), {}, {}, false, {}, 0};
    start_walk(walk);
    while (!walk.parts.empty()) {
        const std::string part = std::move(walk.parts.front());
        walk.parts.pop_front();
        std::optional<Place> place;
        if (part == "/") {
            enter_root(walk);
        } else if (part.empty() || part == ".") {
            continue;
        } else if (walk.parts.empty() && part != "..") {
            place = take_file(walk, part);
        } else {
            place = enter_folder(walk, part);
        }
        if (place) {
            return std::move(*place);
        }
    }
    refuse_folder_name(path);
}

} // namespace zmod4710_sim
