// What zmod4710-sim watch waits on: the file system's change notices for the
// folders that hold the state and the trace (inotify on Linux, change
// notifications on Windows), a key, or a signal; and how it stops.
#pragma once

#include <csignal>
#include <filesystem>
#include <memory>
#include <vector>

namespace zmod4710_sim {

// Set by Ctrl-C or a termination signal: the watch ends, its terminal as it was.
extern volatile std::sig_atomic_t watch_stop_asked;
extern "C" void ask_watch_to_stop(int signal);
// Sets ask_watch_to_stop to handle each signal that ends the watch.
void stop_watch_on_signals();

// The change notices of the folders that hold the files watched, for those files.
class ChangeNotices {
public:
    explicit ChangeNotices(std::vector<std::filesystem::path> files);
    ~ChangeNotices();
    ChangeNotices(const ChangeNotices &) = delete;
    ChangeNotices &operator=(const ChangeNotices &) = delete;

    // Waits for a change to one of the files, input on standard input when
    // keys, or a signal. Whether one of the files may have changed. A folder
    // that is missing, or went, is looked for again at each wait, and a while
    // later, so that one made anew is watched.
    bool wait(bool keys);

    struct Watching;

private:
    std::unique_ptr<Watching> watching_;
};

// The state, and the trace when it is not empty.
std::vector<std::filesystem::path> watched_files(const std::filesystem::path &state,
                                                 const std::filesystem::path &trace);

} // namespace zmod4710_sim
