// The way to the state on Windows, whose system follows the links on the way
// itself: the folder it reaches and the file in it are checked. Over the
// system calls of platform_windows.cpp.
#include "locate.hpp"
#include "state_error.hpp"

#include <system_error>

namespace zmod4710_sim {

platform::Place locate(const std::filesystem::path &path, bool make_folders) {
    platform::Place place;
    place.given = path;
    place.path = path;
    place.name = file_name_of(path);
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        if (!make_folders) {
            return place;
        }
        if (!std::filesystem::create_directories(folder, error) && error) {
            throw StateError("cannot create " + folder.string() + ": " + error.message());
        }
    }
    place.folder = platform::open_folder(folder);
    const platform::FileStatus status = platform::status_of(place.folder, place.user, folder);
    check_folder(path, status, folder);
    place.file = platform::examine(place, place.name);
    if (place.file && !place.file->regular()) {
        refuse_irregular_file(path);
    }
    if (place.file) {
        check_entry(path, status, *place.file, path);
    }
    return place;
}

} // namespace zmod4710_sim
