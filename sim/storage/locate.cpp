#include "locate.hpp"

#include "state_error.hpp"

#include <cstdio>

namespace zmod4710_sim {

namespace {

constexpr std::uint32_t kSticky = 01000;

std::string octal_mode(std::uint32_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned int>(mode & 07777));
    return text;
}

} // namespace

void check_folder(const std::filesystem::path &given, const platform::FileStatus &folder,
                  const std::filesystem::path &shown) {
    if (!folder.users && !folder.roots) {
        throw StateError("cannot use " + given.string() + ": its folder " + shown.string() +
                         " belongs to another user");
    }
    if (folder.others_may_write() && (folder.mode & kSticky) == 0) {
        throw StateError("cannot use " + given.string() + ": others can write its folder " +
                         shown.string() + " (mode " + octal_mode(folder.mode) + ")");
    }
}

void check_entry(const std::filesystem::path &given, const platform::FileStatus &folder,
                 const platform::FileStatus &entry, const std::filesystem::path &shown) {
    if (!entry.trusted(folder.others_may_write())) {
        refuse_another_users(given, shown);
    }
}

void refuse_irregular_file(const std::filesystem::path &path) {
    throw StateError("cannot read " + path.string() + ": not a regular file");
}

void refuse_another_users(const std::filesystem::path &state, const std::filesystem::path &entry) {
    throw StateError("cannot use " + state.string() + ": " + entry.string() +
                     " belongs to another user");
}

void refuse_folder_name(const std::filesystem::path &path) {
    throw StateError("cannot use " + path.string() + " as the state: it names a folder");
}

std::string file_name_of(const std::filesystem::path &path) {
    std::string name = path.filename().string();
    if (name.empty() || name == "." || name == "..") {
        refuse_folder_name(path);
    }
    return name;
}

} // namespace zmod4710_sim
