// The way to the state file, and who may own what lies on it, so that another
// user of the machine can neither steer the state elsewhere nor hand the user a
// file of theirs. Written once, over the system calls of platform.hpp.
#pragma once

#include "platform.hpp"

#include <filesystem>
#include <string>

namespace zmod4710_sim {

// Follows path to the state file, as the system would, and opens its folder.
// The state file, its lock and every link followed to reach them must belong to
// the user or to root, and so must each folder that holds them, which nobody
// else may write unless it is sticky, where the file and the links must be the
// user's own; a name that holds something other than a regular file is
// refused. Any of that throws StateError, before anything is made. With
// make_folders, the missing folders are made, private to the user; without, a
// missing folder leaves Place::folder not valid. On POSIX systems, where a
// path's links are followed one at a time, this is the walk of
// locate_posix.cpp; on Windows, which follows them itself, the system's
// (locate_windows.cpp).
platform::Place locate(const std::filesystem::path &path, bool make_folders);

// A folder on the way to the state that given names, which may hold the state,
// its lock or a link to them when it is the user's or root's and nobody else
// may write it, or when it is sticky: there nobody can remove or rename
// another's file, and entries must be the user's own. Throws StateError.
void check_folder(const std::filesystem::path &given, const platform::FileStatus &folder,
                  const std::filesystem::path &shown);
// An entry of such a folder (a link, the state or its lock), which must be the
// user's own, or root's where the folder is not shared. Throws StateError.
void check_entry(const std::filesystem::path &given, const platform::FileStatus &folder,
                 const platform::FileStatus &entry, const std::filesystem::path &shown);

// The wording of refusals that every system shares.
[[noreturn]] void refuse_irregular_file(const std::filesystem::path &path);
[[noreturn]] void refuse_another_users(const std::filesystem::path &state,
                                       const std::filesystem::path &entry);
[[noreturn]] void refuse_folder_name(const std::filesystem::path &path);

// path's last part, when it names a file: not empty, ".", ".." or a name ending
// in a separator. Throws StateError otherwise.
std::string file_name_of(const std::filesystem::path &path);

} // namespace zmod4710_sim
