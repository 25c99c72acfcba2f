// Where the environment's variables stood when the library last looked, and a
// test of whether they may have changed since that costs a few reads: a module
// call need not search every variable for the few it reads.
#pragma once

#include <cstddef>
#include <vector>

namespace zmod4710_sim::library {

class EnvironmentSeen {
public:
    // Looks at the environment now, noting where each of names stands.
    void look(const std::vector<const char *> &names);
    // Whether setenv, putenv or unsetenv may have set, changed or removed one
    // of those variables since: the list of variables moved, grew or shrank,
    // its last one is another, or one of those is another string. A string
    // that putenv was given and that its program then changes in place is not
    // seen. Always true on Windows, whose C library keeps two environments.
    bool may_have_changed() const;

private:
    struct Found {
        std::size_t index;
        char *entry;
    };
    bool looked_ = false;
    char **list_ = nullptr;
    std::size_t count_ = 0;
    char *last_ = nullptr;
    std::vector<Found> found_;
};

} // namespace zmod4710_sim::library
