// zmod4710-sim watch on Linux: ncurses draws the view, inotify tells when the
// state's or the trace's folder changed, and poll waits for either or a key,
// so that nothing runs while nothing changes.
#include "watch.hpp"

#include "trace_lines.hpp"
#include "watch_view.hpp"

#include <curses.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace zmod4710_sim {

namespace {

volatile std::sig_atomic_t stop_asked = 0;

extern "C" void ask_to_stop(int) {
    stop_asked = 1;
}

// Ctrl-C and a termination end the watch, with the terminal as it was.
void stop_on_signals() {
    struct sigaction action {};
    action.sa_handler = ask_to_stop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

// While a folder to watch is missing (no state was written yet), it is looked
// for again this often, and the state with it.
constexpr int kMissingFolderWait = 200; // milliseconds

// The change notices of the folders that hold the files watched, for those files.
class ChangeNotices {
public:
    explicit ChangeNotices(std::vector<std::filesystem::path> files)
        : files_(std::move(files)), notices_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          watches_(files_.size(), -1) {
        watch_folders();
    }
    ~ChangeNotices() {
        if (notices_ >= 0) {
            ::close(notices_);
        }
    }
    ChangeNotices(const ChangeNotices &) = delete;
    ChangeNotices &operator=(const ChangeNotices &) = delete;

    // Waits for a change to one of the files, input on standard input when
    // keys, or a signal. Whether one of the files may have changed.
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

private:
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

std::vector<std::filesystem::path> watched_files(const std::filesystem::path &state,
                                                 const std::filesystem::path &trace) {
    std::vector<std::filesystem::path> files{state};
    if (!trace.empty()) {
        files.push_back(trace);
    }
    return files;
}

// A line a change, each begun with the time, for as long as out takes them.
int log_changes(const std::filesystem::path &state, const std::filesystem::path &trace,
                std::ostream &out) {
    ChangeNotices notices(watched_files(state, trace));
    std::optional<Watched> before;
    while (stop_asked == 0) {
        Watched now = look(state, nullptr);
        const std::string time = utc_text(utc_microseconds_now());
        for (const std::string &line : change_lines(before ? &*before : nullptr, now)) {
            out << time << ' ' << line << '\n';
        }
        if (!out.flush()) {
            return 1;
        }
        before = std::move(now);
        while (stop_asked == 0 && !notices.wait(false)) {
        }
    }
    return 0;
}

// The view, its lines cut at the terminal's width, or what keeps it from
// being shown.
void draw(const View &view) {
    erase();
    const std::vector<std::string> lines =
        COLS < kLeastColumns || LINES < kLeastRows ? too_small(COLS, LINES) : view.lines;
    for (std::size_t row = 0; row < lines.size() && row < static_cast<std::size_t>(LINES); ++row) {
        mvaddnstr(static_cast<int>(row), 0, lines[row].c_str(), COLS);
    }
    refresh();
}

// The slot the cursor goes to at key: a digit's, or the next or the one before.
int moved(int cursor, int key) {
    if (key >= '0' && key < '0' + kSlotCount) {
        return key - '0';
    }
    if (key == KEY_RIGHT || key == KEY_DOWN) {
        return (cursor + 1) % kSlotCount;
    }
    if (key == KEY_LEFT || key == KEY_UP) {
        return (cursor + kSlotCount - 1) % kSlotCount;
    }
    return cursor;
}

int show_view(const std::filesystem::path &state, const std::filesystem::path &trace,
              std::ostream &err) {
    SCREEN *screen = newterm(nullptr, stdout, stdin);
    if (screen == nullptr) {
        err << "zmod4710-sim: cannot use the terminal (TERM is unknown or not set)\n";
        return 1;
    }
    cbreak();
    noecho();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    curs_set(0);
    // Keys come from a terminal: input at its end would wake the wait at once.
    const bool keys = isatty(STDIN_FILENO) != 0;
    ChangeNotices notices(watched_files(state, trace));
    std::optional<TraceTail> tail;
    if (!trace.empty()) {
        tail.emplace(trace);
    }
    int cursor = 0;
    Watched watched = look(state, tail ? &*tail : nullptr);
    View shown = view_of(watched, state, tail.has_value(), cursor, LINES);
    draw(shown);
    while (stop_asked == 0) {
        const bool changed = notices.wait(keys);
        const int was = cursor;
        bool redraw = false;
        for (int key = keys ? getch() : ERR; key != ERR; key = getch()) {
            stop_asked = stop_asked != 0 || key == 'q' || key == 'Q';
            redraw = redraw || key == KEY_RESIZE;
            cursor = moved(cursor, key);
        }
        if (changed) {
            watched = look(state, tail ? &*tail : nullptr);
        }
        if (changed || redraw || cursor != was) {
            View now = view_of(watched, state, tail.has_value(), cursor, LINES);
            redraw = redraw || now != shown;
            shown = std::move(now);
        }
        if (redraw && stop_asked == 0) {
            draw(shown);
        }
    }
    endwin();
    delscreen(screen);
    return 0;
}

} // namespace

int run_watch(const std::filesystem::path &state, const std::filesystem::path &trace,
              std::ostream &out, std::ostream &err) {
    stop_asked = 0;
    stop_on_signals();
    return isatty(STDOUT_FILENO) != 0 ? show_view(state, trace, err)
                                      : log_changes(state, trace, out);
}

} // namespace zmod4710_sim
