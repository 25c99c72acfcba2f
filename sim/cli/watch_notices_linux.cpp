// What zmod4710-sim watch waits on, on Linux: inotify tells when the state's
// or the trace's folder changed, and poll waits for it, a key or a signal, so
// that nothing runs while nothing changes.
#include "watch_notices.hpp"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace zmod4710_sim {

namespace {

// While a folder to watch is missing (no state was written yet), it is looked
// for again this often, and the state with it.
constexpr int kMissingFolderWait = 200; // milliseconds

} // namespace

struct ChangeNotices::Watching {
    explicit Watching(std::vector<std::filesystem::path> files)
        : files_(std::move(files)), notices_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          watches_(files_.size(), -1) {
        watch_folders();
    }
    ~Watching() {
        if (notices_ >= 0) {
            ::close(notices_);
        }
    }
    Watching(const Watching &) = delete;
    Watching &operator=(const Watching &) = delete;

    bool wait(bool keys) {
        pollfd waited[2] = {{notices_, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const bool missing = std::find(watches_.begin(), watches_.end(), -1) != watches_.end();
        const int ready = ::poll(waited, keys ? 2 : 1, missing ? kMissingFolderWait : -1);
        if (ready == 0) {
            watch_folders();
            return true;
        }
        return ready > 0 && (waited[0].revents & POLLIN) != 0 && read_notices();
    }

    void watch_folders() {
        constexpr std::uint32_t kChanges = IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO |
                                           IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_ATTRIB;
        for (std::size_t index = 0; index < files_.size(); ++index) {
            if (watches_[index] < 0 && notices_ >= 0) {
                const std::filesystem::path folder = files_[index].parent_path();
                watches_[index] = inotify_add_watch(notices_, folder.empty() ? "." : folder.c_str(),
                                                    kChanges | IN_ONLYDIR);
            }
        }
    }

    // Whether a notice names one of the files, or a folder went away.
    bool read_notices() {
        alignas(inotify_event) char buffer[16384];
        bool changed = false;
        for (;;) {
            const ssize_t length = ::read(notices_, buffer, sizeof buffer);
            if (length <= 0) {
                return changed;
            }
            for (ssize_t at = 0; at < length;) {
                const auto *notice = reinterpret_cast<const inotify_event *>(buffer + at);
                // Every notice is read: a folder's end must be seen, whatever came before.
                changed = names_a_file(*notice) || changed;
                at += static_cast<ssize_t>(sizeof(inotify_event) + notice->len);
            }
        }
    }

    bool names_a_file(const inotify_event &notice) {
        for (std::size_t index = 0; index < files_.size(); ++index) {
            if (notice.wd != watches_[index]) {
                continue;
            }
            if ((notice.mask & IN_IGNORED) != 0) {
                watches_[index] = -1; // the folder went: looked for again
                return true;
            }
            if (notice.len > 0 && files_[index].filename() == notice.name) {
                return true;
            }
        }
        return false;
    }

    std::vector<std::filesystem::path> files_;
    int notices_;
    std::vector<int> watches_;
};

ChangeNotices::ChangeNotices(std::vector<std::filesystem::path> files)
    : watching_(std::make_unique<Watching>(std::move(files))) {}

ChangeNotices::~ChangeNotices() = default;

bool ChangeNotices::wait(bool keys) {
    return watching_->wait(keys);
}

// Ctrl-C, a termination and a hang-up end the watch, with the terminal as it was.
void stop_watch_on_signals() {
    watch_stop_asked = 0;
    struct sigaction action {};
    action.sa_handler = ask_watch_to_stop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

} // namespace zmod4710_sim
