#include "environment_seen.hpp"

#include <cstring>

#ifndef _WIN32
extern char **environ;
#endif

namespace zmod4710_sim::library {

#ifndef _WIN32

namespace {

// Whether entry is "name=...".
bool names(const char *entry, const char *name) {
    const std::size_t length = std::strlen(name);
    return std::strncmp(entry, name, length) == 0 && entry[length] == '=';
}

} // namespace

void EnvironmentSeen::look(const std::vector<const char *> &names_read) {
    looked_ = false;
    found_.clear();
    list_ = environ;
    count_ = 0;
    last_ = nullptr;
    if (list_ == nullptr) {
        return; // looked at again at the next call
    }
    for (; list_[count_] != nullptr; ++count_) {
        for (const char *name : names_read) {
            if (names(list_[count_], name)) {
                found_.push_back({count_, list_[count_]});
            }
        }
        last_ = list_[count_];
    }
    looked_ = true;
}

bool EnvironmentSeen::may_have_changed() const {
    if (!looked_ || environ != list_ || list_ == nullptr || list_[count_] != nullptr ||
        (count_ > 0 && list_[count_ - 1] != last_)) {
        return true;
    }
    for (const Found &found : found_) {
        if (list_[found.index] != found.entry) {
            return true;
        }
    }
    return false;
}

#else

void EnvironmentSeen::look(const std::vector<const char *> &) {}

bool EnvironmentSeen::may_have_changed() const {
    return true;
}

#endif

} // namespace zmod4710_sim::library
