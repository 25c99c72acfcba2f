// zmod4710-sim watch where ncurses is at hand (Linux): the view drawn in the
// terminal, redrawn at each change notice or key.
#include "watch.hpp"

#include "platform.hpp"
#include "watch_log.hpp"
#include "watch_notices.hpp"
#include "watch_view.hpp"

#include <curses.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace zmod4710_sim {

namespace {

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

// The keys typed since the last look: q ends the watch, and the others move
// the cursor. Whether the terminal was resized.
bool take_keys(int &cursor) {
    bool resized = false;
    for (int key = getch(); key != ERR; key = getch()) {
        watch_stop_asked = watch_stop_asked != 0 || key == 'q' || key == 'Q';
        resized = resized || key == KEY_RESIZE;
        cursor = moved(cursor, key);
    }
    return resized;
}

// The terminal, keys read without waiting and nothing echoed; nothing when
// TERM names no terminal that ncurses knows.
SCREEN *open_terminal() {
    SCREEN *screen = newterm(nullptr, stdout, stdin);
    if (screen != nullptr) {
        cbreak();
        noecho();
        keypad(stdscr, TRUE);
        nodelay(stdscr, TRUE);
        curs_set(0);
    }
    return screen;
}

int show_view(const std::filesystem::path &state, const std::filesystem::path &trace,
              std::ostream &err) {
    SCREEN *screen = open_terminal();
    if (screen == nullptr) {
        err << "zmod4710-sim: cannot use the terminal (TERM is unknown or not set)\n";
        return 1;
    }
    // Keys come from a terminal: input at its end would wake the wait at once.
    const bool keys = platform::standard_input_is_terminal();
    ChangeNotices notices(watched_files(state, trace));
    std::optional<TraceTail> tail;
    if (!trace.empty()) {
        tail.emplace(trace);
    }
    int cursor = 0;
    Watched watched = look(state, tail ? &*tail : nullptr);
    View shown = view_of(watched, state, tail.has_value(), cursor, LINES);
    draw(shown);
    while (watch_stop_asked == 0) {
        const bool changed = notices.wait(keys);
        const int was = cursor;
        bool redraw = keys && take_keys(cursor);
        if (changed) {
            watched = look(state, tail ? &*tail : nullptr);
        }
        if (changed || redraw || cursor != was) {
            View now = view_of(watched, state, tail.has_value(), cursor, LINES);
            redraw = redraw || now != shown;
            shown = std::move(now);
        }
        if (redraw && watch_stop_asked == 0) {
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
    stop_watch_on_signals();
    return platform::standard_output_is_terminal() ? show_view(state, trace, err)
                                                   : log_changes(state, trace, out);
}

} // namespace zmod4710_sim
