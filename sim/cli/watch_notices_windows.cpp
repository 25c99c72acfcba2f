// What zmod4710-sim watch waits on, on Windows: a change notification for each
// folder that holds a file watched, waited on with a timeout, so that Ctrl-C
// (whose handler runs in a thread of its own) and a folder made anew are seen.
#include "watch_notices.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace zmod4710_sim {

namespace {

// How long a wait lasts before the stop asked and the missing folders are
// looked at again.
constexpr DWORD kLookAgain = 200; // milliseconds

} // namespace

struct ChangeNotices::Watching {
    explicit Watching(std::vector<std::filesystem::path> files)
        : files_(std::move(files)), notices_(files_.size(), INVALID_HANDLE_VALUE) {
        watch_folders();
    }
    ~Watching() {
        for (HANDLE notice : notices_) {
            if (notice != INVALID_HANDLE_VALUE) {
                FindCloseChangeNotification(notice);
            }
        }
    }
    Watching(const Watching &) = delete;
    Watching &operator=(const Watching &) = delete;

    // A folder made anew is watched, and then the files looked at: what was
    // written in it before it was watched is not missed.
    bool wait() {
        if (watch_folders()) {
            return true;
        }
        std::vector<HANDLE> waited;
        for (HANDLE notice : notices_) {
            if (notice != INVALID_HANDLE_VALUE) {
                waited.push_back(notice);
            }
        }
        if (waited.empty()) {
            Sleep(kLookAgain);
            return false;
        }
        const DWORD ready = WaitForMultipleObjects(static_cast<DWORD>(waited.size()), waited.data(),
                                                   FALSE, kLookAgain);
        if (ready >= WAIT_OBJECT_0 + waited.size()) {
            return false; // the time was up, or the wait failed: looked at again
        }
        HANDLE notice = waited[ready - WAIT_OBJECT_0];
        if (!FindNextChangeNotification(notice)) {
            forget(notice); // the folder went: looked for again
        }
        return true;
    }

    // Whether a folder that was missing is watched now.
    bool watch_folders() {
        constexpr DWORD kChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                   FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;
        bool found = false;
        for (std::size_t index = 0; index < files_.size(); ++index) {
            if (notices_[index] != INVALID_HANDLE_VALUE) {
                continue;
            }
            const std::filesystem::path folder = files_[index].parent_path();
            notices_[index] = FindFirstChangeNotificationW(folder.empty() ? L"." : folder.c_str(),
                                                           FALSE, kChanges);
            found = found || notices_[index] != INVALID_HANDLE_VALUE;
        }
        return found;
    }

    void forget(HANDLE notice) {
        for (HANDLE &each : notices_) {
            if (each == notice) {
                FindCloseChangeNotification(each);
                each = INVALID_HANDLE_VALUE;
            }
        }
    }

    std::vector<std::filesystem::path> files_;
    std::vector<HANDLE> notices_;
};

ChangeNotices::ChangeNotices(std::vector<std::filesystem::path> files)
    : watching_(std::make_unique<Watching>(std::move(files))) {}

ChangeNotices::~ChangeNotices() = default;

// No keys are read on Windows: only the line mode is offered.
bool ChangeNotices::wait(bool) {
    return watching_->wait();
}

// Ctrl-C and Ctrl-Break end the watch.
void stop_watch_on_signals() {
    watch_stop_asked = 0;
    std::signal(SIGINT, ask_watch_to_stop);
    std::signal(SIGBREAK, ask_watch_to_stop);
    std::signal(SIGTERM, ask_watch_to_stop);
}

} // namespace zmod4710_sim
