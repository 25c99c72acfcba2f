// What a call of the simulated module costs, beside what it must cost at least,
// measured side by side on one state file:
//
//   - a read (zmod4710_ReadAO_GainOffset) beside one stat() of the state file,
//     which is all a read needs while the file is unchanged;
//   - a write (zmod4710_WriteAO) beside a bare replace of the same bytes under
//     the same kind of lock with the same two syncs (the new file and its folder);
//   - a write beside --crowd other files, beside a write in the same folder
//     before they were put there;
//   - a write on a backplane in memory (zmod4710_sim_use_memory), with no
//     callback set and with one that lets every call go on, beside a C fake
//     that takes a mutex, stores its four arguments in a ring and lets the
//     mutex go: the least a recorded call can cost (recording_fake.c);
//   - a write in memory with the trace on (ZMOD4710_SIM_TRACE, in FOLDER),
//     beside a plain write of its line to a file opened once with O_APPEND:
//     the least a trace line can cost;
//   - a write on the state file with the trace on, beside one without.
//
// The rounds interleave the measurements, each write beside a floor's, so that
// whatever else the machine does falls on both alike; the medians of the rounds
// are shown.
//
//   zmod4710_bench [--rounds N] [--reads N] [--writes N] [--crowd N] [FOLDER]
//
// FOLDER holds the state file for the run (default: a new folder in the current
// one, removed afterwards); put it on the disk to be measured, not on a tmpfs.
#include "zmod4710.h"
#include "zmod4710_sim.h"

#include "recording_fake.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pthread.h>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
    int rounds = 7;
    int reads = 2000;
    int memory_writes = 200000;
    int writes = 40;
    int crowd = 20000;
    std::filesystem::path folder;
};

[[noreturn]] void stop(const std::string &message) {
    std::fprintf(stderr, "zmod4710_bench: %s\n", message.c_str());
    std::exit(1);
}

int count_argument(const char *text) {
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 1000000) {
        stop(std::string("expected a count from 1 to 1000000, got ") + text);
    }
    return static_cast<int>(value);
}

Settings settings_from(int argc, char **argv) {
    Settings settings;
    for (int at = 1; at < argc; ++at) {
        const std::string argument = argv[at];
        if ((argument == "--rounds" || argument == "--reads" || argument == "--writes" ||
             argument == "--crowd") &&
            at + 1 < argc) {
            const int count = count_argument(argv[++at]);
            (argument == "--rounds"  ? settings.rounds
             : argument == "--reads" ? settings.reads
             : argument == "--crowd" ? settings.crowd
                                     : settings.writes) = count;
        } else if (argument.rfind("--", 0) != 0 && settings.folder.empty()) {
            settings.folder = argument;
        } else {
            stop("usage: zmod4710_bench [--rounds N] [--reads N] [--writes N] [--crowd N] "
                 "[FOLDER]");
        }
    }
    return settings;
}

// Microseconds per call of operation, made count times.
template <class Operation> double microseconds_each(int count, Operation operation) {
    const Clock::time_point start = Clock::now();
    for (int call = 0; call < count; ++call) {
        operation(call);
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / count;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string file_contents(const std::filesystem::path &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

// The least a durable, atomic write under a lock can do: lock, write a new file
// in full, sync it, rename it over the old one, sync the folder, unlock.
void bare_locked_synced_replace(const std::filesystem::path &folder, const std::string &name,
                                const std::string &contents) {
    const int lock =
        ::open((folder / (name + ".floor.lock")).c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    const std::filesystem::path temporary = folder / ("." + name + ".floor.tmp");
    const std::filesystem::path target = folder / (name + ".floor");
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
        stop("cannot lock the floor's lock");
    }
    const int file =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0 ||
        ::write(file, contents.data(), contents.size()) != static_cast<ssize_t>(contents.size()) ||
        ::fsync(file) != 0 || ::close(file) != 0 ||
        ::rename(temporary.c_str(), target.c_str()) != 0) {
        stop("cannot replace " + target.string());
    }
    const int synced = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::fsync(synced);
    ::close(synced);
    ::close(lock);
}

// Microseconds per write of the simulated module on the state in folder, made
// count times; the module in slot 0 is the factory's.
double write_cost(const std::filesystem::path &folder, int count) {
    ::setenv("ZMOD4710_SIM_STATE", (folder / "backplane.json").c_str(), 1);
    return microseconds_each(count, [&](int call) {
        if (zmod4710_WriteAO(0, call % 8, 1, static_cast<float>(call % 10)) != 0) {
            stop("a write was refused in " + folder.string());
        }
    });
}

struct MemoryCost {
    double write = 0, called_back = 0, floor = 0, traced = 0, line_floor = 0;
};

// A test's callback that lets every call go on.
int let_go_on(const zmod4710_sim_call *, void *) {
    return 0;
}

double memory_writes(int count) {
    return microseconds_each(count, [](int call) {
        if (zmod4710_WriteAO(0, call % 8, 1, static_cast<float>(call % 10)) != 0) {
            stop("a write was refused in memory");
        }
    });
}

// A trace line's floor: a plain write of a line as long as the library's to a
// file opened once with O_APPEND.
double plain_line_writes(const std::filesystem::path &file, int count) {
    const int descriptor = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    const std::string line = "2026-12-09T15:04:05.123456Z 4242 zmod4710_WriteAO(0, 5, 1, 5) = 0\n";
    if (descriptor < 0) {
        stop("cannot open " + file.string());
    }
    const double each = microseconds_each(count, [&](int) {
        if (::write(descriptor, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
            stop("cannot write " + file.string());
        }
    });
    ::close(descriptor);
    return each;
}

// Writes on a backplane in memory, each round beside as many calls of the
// floor, and with the trace on, beside as many plain writes of its line.
MemoryCost memory_rounds(const Settings &settings) {
    if (zmod4710_sim_use_memory() != 0 || zmod4710_Init(0) != 0) {
        stop("the simulated module does not answer in memory");
    }
    const std::filesystem::path trace = settings.folder / "trace.txt";
    const std::filesystem::path line_floor = settings.folder / "floor-trace.txt";
    const int traced_writes = std::max(1, settings.memory_writes / 20);
    std::vector<double> writes, called_back, floors, traced, line_floors;
    for (int round = 0; round < settings.rounds; ++round) {
        zmod4710_sim_clear_calls();
        writes.push_back(memory_writes(settings.memory_writes));
        zmod4710_sim_on_call(let_go_on, nullptr);
        called_back.push_back(memory_writes(settings.memory_writes));
        zmod4710_sim_on_call(nullptr, nullptr);
        floors.push_back(microseconds_each(settings.memory_writes, [](int call) {
            recording_fake_write(0, call % 8, 1, static_cast<float>(call % 10));
        }));
        ::setenv("ZMOD4710_SIM_TRACE", trace.c_str(), 1);
        traced.push_back(memory_writes(traced_writes));
        ::unsetenv("ZMOD4710_SIM_TRACE");
        line_floors.push_back(plain_line_writes(line_floor, traced_writes));
    }
    std::filesystem::remove(trace);
    std::filesystem::remove(line_floor);
    return {median(writes), median(called_back), median(floors), median(traced),
            median(line_floors)};
}

// Puts count other files in folder, and lets the disk take them in before
// anything is measured there.
void crowd(const std::filesystem::path &folder, int count) {
    for (int file = 0; file < count; ++file) {
        std::ofstream(folder / ("other-" + std::to_string(file)));
    }
    ::sync();
}

struct WriteCost {
    double write = 0, floor = 0;
};

// Writes on the state file with the trace on, each round beside as many without.
WriteCost traced_file_rounds(const Settings &settings) {
    const std::filesystem::path trace = settings.folder / "trace.txt";
    std::vector<double> traced, untraced;
    for (int round = 0; round < settings.rounds; ++round) {
        ::setenv("ZMOD4710_SIM_TRACE", trace.c_str(), 1);
        traced.push_back(write_cost(settings.folder, settings.writes));
        ::unsetenv("ZMOD4710_SIM_TRACE");
        untraced.push_back(write_cost(settings.folder, settings.writes));
    }
    std::filesystem::remove(trace);
    return {median(traced), median(untraced)};
}

// Writes in folder, each beside its floor, as the disk's pace drifts: the
// medians of the rounds.
WriteCost write_rounds(const Settings &settings, const std::string &contents) {
    std::vector<double> writes, floors;
    for (int round = 0; round < settings.rounds; ++round) {
        double write_total = 0, floor_total = 0;
        for (int call = 0; call < settings.writes; ++call) {
            write_total += write_cost(settings.folder, 1);
            floor_total += microseconds_each(1, [&](int) {
                bare_locked_synced_replace(settings.folder, "backplane.json", contents);
            });
        }
        writes.push_back(write_total / settings.writes);
        floors.push_back(floor_total / settings.writes);
    }
    return {median(writes), median(floors)};
}

struct Medians {
    double read = 0, stat = 0;
    WriteCost alone, crowded, traced;
    MemoryCost memory;
};

Medians measure(const Settings &settings, const std::filesystem::path &state,
                const std::string &contents) {
    std::vector<double> reads, stats;
    for (int round = 0; round < settings.rounds; ++round) {
        unsigned short gain = 0;
        short offset = 0;
        reads.push_back(microseconds_each(settings.reads, [&](int call) {
            if (zmod4710_ReadAO_GainOffset(0, call % 8, 1, &gain, &offset) != 0) {
                stop("a read was refused");
            }
        }));
        struct stat status {};
        stats.push_back(microseconds_each(settings.reads, [&](int) {
            if (::stat(state.c_str(), &status) != 0) {
                stop("cannot stat " + state.string());
            }
        }));
    }
    const WriteCost alone = write_rounds(settings, contents);
    const WriteCost traced = traced_file_rounds(settings);
    // The same folder, crowded, and each write beside its floor there again:
    // what the system's making of a file costs differs from folder to folder.
    crowd(settings.folder, settings.crowd);
    const WriteCost crowded = write_rounds(settings, contents);
    return {median(reads), median(stats), alone, crowded, traced, memory_rounds(settings)};
}

void show(const Settings &settings, const std::filesystem::path &state, std::size_t size,
          const Medians &cost) {
    std::printf("State file %s, %zu bytes; medians of %d rounds of %d reads and %d writes\n",
                state.c_str(), size, settings.rounds, settings.reads, settings.writes);
    std::printf("read  (zmod4710_ReadAO_GainOffset) %9.2f us   stat() of the state file %9.2f us"
                "   ratio %5.2f\n",
                cost.read, cost.stat, cost.read / cost.stat);
    std::printf("write (zmod4710_WriteAO)           %9.2f us   bare locked, synced replace %6.2f us"
                "   ratio %5.2f\n",
                cost.alone.write, cost.alone.floor, cost.alone.write / cost.alone.floor);
    std::printf("write beside %6d other files     %9.2f us   the bare replace there %11.2f us"
                "   ratio %5.2f\n",
                settings.crowd, cost.crowded.write, cost.crowded.floor,
                cost.crowded.write / cost.crowded.floor);
    std::printf("write in memory (zmod4710_WriteAO) %9.4f us   a recording fake's call %10.4f us"
                "   ratio %5.2f\n",
                cost.memory.write, cost.memory.floor, cost.memory.write / cost.memory.floor);
    std::printf("the same, with a callback set      %9.4f us   a recording fake's call %10.4f us"
                "   ratio %5.2f\n",
                cost.memory.called_back, cost.memory.floor,
                cost.memory.called_back / cost.memory.floor);
    std::printf("the same, with the trace on        %9.4f us   a plain O_APPEND write of its line"
                " %7.4f us   ratio %5.2f\n",
                cost.memory.traced, cost.memory.line_floor,
                cost.memory.traced / cost.memory.line_floor);
    std::printf("write with the trace on            %9.2f us   the same write untraced %10.2f us"
                "   ratio %5.2f\n",
                cost.traced.write, cost.traced.floor, cost.traced.write / cost.traced.floor);
}
} // namespace

int main(int argc, char **argv) {
    Settings settings = settings_from(argc, argv);
    const bool own_folder = settings.folder.empty();
    if (own_folder) {
        char name[] = "zmod4710-bench-XXXXXX";
        if (::mkdtemp(name) == nullptr) {
            stop("cannot make a folder in the current one");
        }
        settings.folder = std::filesystem::absolute(name);
    }
    const std::filesystem::path state = settings.folder / "backplane.json";
    ::setenv("ZMOD4710_SIM_STATE", state.c_str(), 1);
    if (zmod4710_Init(0) != 0 || zmod4710_WriteAO(0, 0, 1, 1.0f) != 0) {
        stop("the simulated module does not answer in " + state.string());
    }
    const std::string contents = file_contents(state);
    show(settings, state, contents.size(), measure(settings, state, contents));
    if (own_folder) {
        std::filesystem::remove_all(settings.folder);
    }
    return 0;
}
