// The simulated module's memory is one file: programs killed in the middle of a
// write, and many programs writing at once, must never leave it broken or lose
// a write.
#include "backplane.hpp"
#include "backplane_json.hpp"
#include "sim_library_probe.hpp"
#include "simulated_backplane_test.hpp"
#include "state_file.hpp"
#include "trace_lines.hpp"
#include "zmod4710.h"
#include "zmod4710_sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace zmod4710_sim {
namespace {

const std::string kProbe = SIM_LIBRARY_PROBE_PATH;
const std::string kSim = ZMOD4710_SIM_PATH;

class StateDurability : public SimulatedBackplaneTest {
protected:
    std::set<std::string> names_here() const {
        std::set<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(directory.path())) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
};

// The last write number a probe announced, or 0.
int last_announced(const std::string &output) {
    std::istringstream lines(output);
    int last = 0;
    for (int number = 0; lines >> number;) {
        last = number;
    }
    return last;
}

TEST_F(StateDurability, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewValue) {
    constexpr int kKills = 200;
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> delay_us(0, 20000);
    float held = 0.0f; // what the file holds for channel 0 before each writer
    int written = 0;   // the number of the last write that may have happened
    int found_new = 0; // kills after which the file held the write under way
    for (int kill = 0; kill < kKills && written < 9000; ++kill) {
        ChildProcess writer(
            {kProbe, "write", "0", "0", std::to_string(9999 - written), std::to_string(written)});
        // Kill it at a random moment after it has begun to write, however long it
        // took to start (under an emulator, longer than the writes themselves).
        ASSERT_TRUE(
            writer.wait_for_output(std::to_string(written + 1) + "\n", std::chrono::seconds(30)));
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
        writer.kill();
        const ProcessResult result = writer.finish();

        Backplane backplane;
        ASSERT_NO_THROW(backplane = state_file.load()) << "after kill " << kill;
        const float output = backplane.slots[0]->channels[0].output;
        // The write under way is the last one announced: the file holds its value,
        // or the one before it.
        const int announced = last_announced(result.output);
        ASSERT_GT(announced, written) << "kill " << kill;
        const float before = announced == written + 1 ? held : write_value(announced - 1);
        EXPECT_TRUE(output == write_value(announced) || output == before)
            << "kill " << kill << ": holds " << output << " after write " << announced
            << " was announced";
        found_new += output == write_value(announced) ? 1 : 0;
        held = output;
        written = announced;
    }
    std::cout << "kills survived: " << kKills << " (the write under way kept after " << found_new
              << ", the one before it after the rest), writes announced: " << written << "\n";

    // The next writer removes what killed writers left, and only their files.
    const std::filesystem::path not_a_file =
        directory.path() / ".backplane.json.0123456789abcdef0123456789abcdef.tmp";
    std::filesystem::create_directory(not_a_file);
    EXPECT_EQ(run_program({kProbe, "write", "0", "1", "1"}, "").exit_status, 0);
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(directory.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{not_a_file.filename().string(), "backplane.json",
                                               "backplane.json.lock"}));
}

TEST_F(StateDurability, SixteenProgramsWritingAtOnceLoseNoWrite) {
    constexpr int kWritesEach = 50;
    Backplane backplane = factory_backplane();
    backplane.slots[3] = factory_module(ModuleKind::zm4710);
    state_file.store(backplane);
    const int slots[] = {0, 3};
    std::vector<std::unique_ptr<ChildProcess>> writers;
    for (int slot : slots) {
        for (int channel = 0; channel < 8; ++channel) {
            // Each writer ends on a value of its own.
            const int first = (slot * 8 + channel) * kWritesEach;
            writers.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{
                kProbe, "write", std::to_string(slot), std::to_string(channel),
                std::to_string(kWritesEach), std::to_string(first)}));
        }
    }
    for (const auto &writer : writers) {
        const ProcessResult result = writer->finish(std::chrono::seconds(240));
        EXPECT_EQ(result.exit_status, 0) << result.errors;
    }
    const Backplane after = state_file.load();
    for (int slot : slots) {
        for (int channel = 0; channel < 8; ++channel) {
            const int last = (slot * 8 + channel + 1) * kWritesEach;
            EXPECT_EQ(after.slots[static_cast<std::size_t>(slot)]
                          ->channels[static_cast<std::size_t>(channel)]
                          .output,
                      write_value(last))
                << "slot " << slot << " channel " << channel;
        }
    }
    std::cout << "writes under load: " << writers.size() * kWritesEach << ", none lost\n";
}

#ifndef _WIN32
// Whether another user, who may read the state, can open its lock.
bool a_reader_can_open_the_lock(const std::filesystem::path &state,
                                const std::filesystem::path &lock) {
    const pid_t reader = ::fork();
    if (reader == 0) {
        const bool reader_set = ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 &&
                                ::setuid(65534) == 0 && ::open(state.c_str(), O_RDONLY) >= 0;
        ::_exit(!reader_set ? 2 : ::open(lock.c_str(), O_RDONLY) >= 0 ? 1 : 0);
    }
    int status = 0;
    ::waitpid(reader, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 2) << "the reader was not set up";
    return !WIFEXITED(status) || WEXITSTATUS(status) != 0;
}
#endif

// Only a writer can take the lock, and one that waits for it has its turn as
// soon as it is let go, also beside a program that writes without pause.
TEST_F(StateDurability, OnlyWritersTakeTheLockAndAWaitingOneHasItsTurn) {
    arrange(factory_backplane());
#ifndef _WIN32
    if (::geteuid() == 0) {
        std::filesystem::permissions(directory.path(), std::filesystem::perms::owner_all |
                                                           std::filesystem::perms::group_read |
                                                           std::filesystem::perms::group_exec |
                                                           std::filesystem::perms::others_read |
                                                           std::filesystem::perms::others_exec);
        ::chmod(state_path.c_str(), 0644);
        arrange(factory_backplane());
        EXPECT_FALSE(a_reader_can_open_the_lock(state_path, state_path.string() + ".lock"));
    }
#endif
    // One command-line write, the time it takes alone, and how many it makes
    // while another program writes without pause for 2 seconds.
    int write = 0;
    const auto command_line_write = [&] {
        EXPECT_EQ(run_program({kSim, "calibrate", "0", "1", "1", "--gain", std::to_string(++write),
                               "--offset", "1"},
                              "")
                      .exit_status,
                  0);
    };
    const auto start = std::chrono::steady_clock::now();
    for (int alone = 0; alone < 3; ++alone) {
        command_line_write();
    }
    const std::chrono::duration<double> one_alone = (std::chrono::steady_clock::now() - start) / 3;
    ChildProcess busy({kProbe, "hammer", "0", "0", "2"});
    ASSERT_TRUE(busy.wait_for_output("hammering\n", std::chrono::seconds(30)));
    int beside = 0;
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
         std::chrono::steady_clock::now() < end; ++beside) {
        command_line_write();
    }
    const ProcessResult result = busy.finish();
    EXPECT_EQ(result.exit_status, 0) << result.errors;
    std::cout << "command-line writes in 2 s beside a program writing without pause: " << beside
              << " (" << 2 / one_alone.count() << " alone); that program's "
              << result.output.substr(result.output.find("done"));
    EXPECT_GE(beside, std::max(2.0, 0.25 * 2 / one_alone.count()));
    EXPECT_EQ(state_file.load().slots[0]->channels[1].calibration[1].gain, write);
}

#ifdef FAILING_CALLS_PATH
// Runs zmod4710-sim (or another program of the simulator) with the system call
// named call failing once, as failing_calls.cpp makes it fail.
ProcessResult run_failing(const std::vector<std::string> &arguments, const std::string &call,
                          const std::string &by = "failure") {
    const ScopedEnvironment preload("LD_PRELOAD", FAILING_CALLS_PATH);
    const ScopedEnvironment failing("ZMOD4710_TEST_FAIL", call);
    const ScopedEnvironment how("ZMOD4710_TEST_FAIL_BY", by);
    const ScopedEnvironment after("ZMOD4710_TEST_FAIL_AFTER", by);
    return run_program(arguments, "");
}

// A write whose system call fails, or for which memory runs out, is reported in
// one line and exits 1, and it leaves the state as it was and nothing beside
// it; a failed flush of the folder puts the old state back, since the new one
// may not last.
TEST_F(StateDurability, AFailingSystemCallOrAllocationFailsTheWriteAndLeavesTheOldState) {
    // A write refused before it starts makes nothing, not even the lock.
    write_text_file(state_path, format_backplane(factory_backplane()));
    std::filesystem::permissions(state_path, std::filesystem::perms::owner_read);
    const ProcessResult read_only = run_program({kSim, "insert", "4"}, "");
    EXPECT_EQ(read_only.exit_status, 1);
    EXPECT_NE(read_only.errors.find("it is read-only"), std::string::npos) << read_only.errors;
    EXPECT_EQ(names_here(), std::set<std::string>{"backplane.json"});
    std::filesystem::permissions(state_path, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);

    arrange(factory_backplane());
    const std::string before = read_text_file(state_path);
    const std::string temporary = (directory.path() / ".backplane.json.").string();
    const std::pair<const char *, std::string> cases[] = {
        {"write", "cannot write " + temporary},
        {"fsync-file", "cannot flush " + temporary},
        {"close-written", "cannot close " + temporary},
        {"rename", "cannot replace " + state_path.string() + ": Input/output error"},
        {"fsync-folder", "cannot flush the folder of " + state_path.string()},
    };
    for (const auto &[call, message] : cases) {
        const ProcessResult result = run_failing({kSim, "insert", "4"}, call);
        EXPECT_EQ(result.exit_status, 1) << call;
        EXPECT_EQ(result.errors.rfind("zmod4710-sim: " + message, 0), 0u) << result.errors;
        EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1) << call;
        EXPECT_TRUE(read_text_file(state_path) == before) << call << " changed the state";
        EXPECT_EQ(names_here(), (std::set<std::string>{"backplane.json", "backplane.json.lock"}))
            << call;
    }
    // In the module library: the call is refused, with one line on standard error.
    const ProcessResult library = run_failing({kProbe, "write", "0", "0", "1"}, "fsync-folder");
    EXPECT_EQ(library.exit_status, 1) << "one call failed";
    EXPECT_NE(library.errors.find("zmod4710 simulator: cannot flush the folder of"),
              std::string::npos)
        << library.errors;
    EXPECT_TRUE(read_text_file(state_path) == before) << "the state changed";

    // Memory that runs out after the first N allocations, wherever that falls,
    // from before main on, until N is enough: the same, or a write that is done.
    for (int after = 0; after < (1 << 20); after = std::max(1, 2 * after)) {
        const ProcessResult result =
            run_failing({kSim, "insert", "4", "--replace"}, "malloc", std::to_string(after));
        if (result.exit_status == 0) {
            break;
        }
        EXPECT_EQ(result.exit_status, 1) << "after " << after << ": " << result.errors;
        EXPECT_EQ(result.errors, "zmod4710-sim: out of memory\n") << "after " << after;
        EXPECT_TRUE(read_text_file(state_path) == before) << "after " << after;
        EXPECT_EQ(names_here(), (std::set<std::string>{"backplane.json", "backplane.json.lock"}));
    }
    // A write in memory needs none, with a callback set or without.
    const ProcessResult unallocated = run_failing({kProbe, "unallocated", "1000"}, "none");
    EXPECT_EQ(unallocated.exit_status, 0) << unallocated.errors;
    const ScopedEnvironment in_main("ZMOD4710_TEST_ARM", "malloc");
    for (int after = 0; after < (1 << 20); after = std::max(1, 2 * after)) {
        const ProcessResult result =
            run_failing({kProbe, "write", "0", "0", "1"}, "none", std::to_string(after));
        if (result.exit_status == 0) {
            break;
        }
        // Init, the write, or both refused; never the program ended.
        EXPECT_TRUE(result.exit_status == 1 || result.exit_status == 2) << "after " << after;
        EXPECT_EQ(result.errors, "zmod4710 simulator: out of memory\n") << "after " << after;
    }
    // And so for every function the library exports, on a file and in memory:
    // each answers as documented, none ends the program.
    for (const std::string &state : {state_path.string(), std::string(kMemoryState)}) {
        const ScopedEnvironment backplane("ZMOD4710_SIM_STATE", state);
        for (int after = 0; after < (1 << 20); after = std::max(1, 2 * after)) {
            const ProcessResult result =
                run_failing({kProbe, "every"}, "none", std::to_string(after));
            ASSERT_TRUE(result.exit_status == 0 || result.exit_status == 1)
                << state << ", after " << after << ": status " << result.exit_status << ", "
                << result.errors;
            EXPECT_TRUE(result.errors.empty() ||
                        result.errors == "zmod4710 simulator: out of memory\n")
                << result.errors;
            if (result.exit_status == 0) {
                break;
            }
        }
    }
}

// A disk that fills up in the middle of a trace's line: nothing of it stays
// for the next line to join, and the reason told is the disk's.
TEST_F(StateDurability, ATraceLineIsWrittenWholeOrNotAtAll) {
    const std::filesystem::path trace = directory.path() / "trace.txt";
    const ScopedEnvironment memory("ZMOD4710_SIM_STATE", std::string(kMemoryState));
    const ScopedEnvironment traced("ZMOD4710_SIM_TRACE", trace.string());
    const ProcessResult result = run_failing({kProbe, "write", "0", "0", "2"}, "write-short");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.errors, "zmod4710 simulator: the trace is not written: cannot write " +
                                 trace.string() + ": No space left on device\n");
    // The process's time zero, taken back with the line it came with, and
    // written again with the next.
    const std::string lines = read_text_file(trace);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 3) << lines;
    EXPECT_EQ(lines.find("zmod4710_Init"), std::string::npos) << "the cut line stayed: " << lines;
    EXPECT_NE(lines.find(" ! time zero "), std::string::npos) << lines;
    EXPECT_NE(lines.find(" zmod4710_WriteAO(0, 0, 1, 0.002) = 0\n"), std::string::npos) << lines;
}

// A writer killed after it made its temporary file leaves it; the next writer
// removes it when it is the user's own, and never another user's.
TEST_F(StateDurability, TheNextWriterRemovesAKilledWritersFileOnlyWhenItIsTheUsers) {
    arrange(factory_backplane());
    const auto killed_writer = [&] {
        EXPECT_EQ(run_failing({kSim, "insert", "4"}, "fsync-file", "exit").exit_status, 9);
        std::set<std::string> left = names_here();
        left.erase("backplane.json");
        left.erase("backplane.json.lock");
        EXPECT_EQ(left.size(), 1u);
        return left.empty() ? directory.path() : directory.path() / *left.begin();
    };
    killed_writer();
    EXPECT_EQ(run_program({kSim, "insert", "5"}, "").exit_status, 0);
    EXPECT_EQ(names_here(), (std::set<std::string>{"backplane.json", "backplane.json.lock"}));
    if (::geteuid() != 0) {
        return; // only root can give a file to another user
    }
    const std::filesystem::path theirs = killed_writer();
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    EXPECT_EQ(run_program({kSim, "insert", "6"}, "").exit_status, 0);
    EXPECT_TRUE(std::filesystem::exists(theirs)) << "another user's file was removed";
    EXPECT_TRUE(state_file.load().slots[6].has_value());
}
#endif

} // namespace
} // namespace zmod4710_sim

#ifndef _WIN32
namespace zmod4710_sim {
namespace {

// A folder link on the state's path, pointed elsewhere while programs write
// through it: each write reads and writes one folder's backplane, never one
// folder's into the other.
TEST_F(StateDurability, AFolderLinkRepointedDuringWritesNeverMixesTwoBackplanes) {
    const std::filesystem::path folders[] = {directory.path() / "a", directory.path() / "b"};
    const std::int16_t firmware[] = {111, 222};
    for (int index = 0; index < 2; ++index) {
        std::filesystem::create_directory(folders[index]);
        Backplane backplane = factory_backplane();
        backplane.slots[0]->firmware = firmware[index];
        StateFile(folders[index] / "backplane.json").store(backplane);
    }
    const std::filesystem::path link = directory.path() / "current";
    std::filesystem::create_directory_symlink("a", link);
    ScopedEnvironment through_link("ZMOD4710_SIM_STATE", (link / "backplane.json").string());

    std::vector<std::unique_ptr<ChildProcess>> writers;
    for (int channel = 0; channel < 4; ++channel) {
        writers.push_back(std::make_unique<ChildProcess>(
            std::vector<std::string>{kProbe, "write", "0", std::to_string(channel), "50"}));
    }
    std::atomic<bool> writing = true;
    std::thread flipper([&] {
        for (int flip = 0; writing; ++flip) {
            const std::filesystem::path next = directory.path() / "next";
            std::filesystem::create_directory_symlink(flip % 2 == 0 ? "b" : "a", next);
            std::filesystem::rename(next, link);
        }
    });
    for (const auto &writer : writers) {
        const ProcessResult result = writer->finish(std::chrono::seconds(120));
        EXPECT_EQ(result.exit_status, 0) << result.errors;
    }
    writing = false;
    flipper.join();
    for (int index = 0; index < 2; ++index) {
        EXPECT_EQ(StateFile(folders[index] / "backplane.json").load().slots[0]->firmware,
                  firmware[index])
            << folders[index];
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folders[index]),
                                std::filesystem::directory_iterator()),
                  2)
            << "nothing but the state and its lock in " << folders[index];
    }
}

// Whether the child ended by itself by the time end; it is killed if not.
bool ended_by(pid_t child, std::chrono::steady_clock::time_point end, int &status) {
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Children forked while threads of their parent call the library, in memory
// and on a file: while the children live on, holding no lock of their
// parent's, the parent's writes go through at once; then each child's first
// calls answer, whatever those threads were doing when it was forked.
TEST_F(StateDurability, AChildForkedWhileThreadsCallAnswersAndHoldsNoLockOfTheirs) {
#ifdef ZMOD4710_CROSS_BUILD
    GTEST_SKIP() << "qemu-user fails its own assertions when the child of a threaded program "
                    "starts a thread, as a child that waits for a lock does";
#endif
    const std::filesystem::path trace = directory.path() / "trace.txt";
    for (const std::string &state : {std::string(kMemoryState), state_path.string()}) {
        const ScopedEnvironment backplane("ZMOD4710_SIM_STATE", state);
        ASSERT_EQ(zmod4710_sim_reset(), 0);
        ASSERT_EQ(zmod4710_Init(0), 0);
        std::filesystem::remove(trace);
        const ScopedEnvironment traced("ZMOD4710_SIM_TRACE", trace.string());
        std::atomic<bool> writing = true;
        std::vector<std::thread> writers;
        for (int channel = 0; channel < 3; ++channel) {
            writers.emplace_back([&writing, channel] {
                while (writing) {
                    zmod4710_WriteAO(0, channel, 0, 1.0f);
                }
            });
        }
        int go_on[2];
        ASSERT_EQ(::pipe(go_on), 0);
        std::vector<pid_t> children;
        for (int fork_number = 0; fork_number < 10; ++fork_number) {
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            const pid_t child = ::fork();
            if (child == 0) {
                ::close(go_on[1]);
                char end = 0;
                const ssize_t read = ::read(go_on[0], &end, 1); // until the parent is done
                const bool answered = zmod4710_Init(0) == 0 && zmod4710_WriteAO(0, 7, 0, 2.0f) == 0;
                ::_exit(answered && read == 0 ? 0 : 1);
            }
            children.push_back(child);
        }
        ::close(go_on[0]);
        writing = false;
        for (std::thread &writer : writers) {
            writer.join();
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(zmod4710_WriteAO(0, 6, 0, 3.0f), 0) << state;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << state;
        ::close(go_on[1]);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (const pid_t child : children) {
            int status = 0;
            EXPECT_TRUE(ended_by(child, end, status)) << state << ": a child hung";
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << state;
        }
        // Each child's trace is its own: its lines carry its number, after a
        // time zero of its own.
        std::map<long, std::vector<std::string>> told;
        std::istringstream lines(read_text_file(trace));
        for (std::string line; std::getline(lines, line);) {
            const std::optional<TraceLine> read = read_trace_line(line);
            ASSERT_TRUE(read) << line;
            told[read->process].push_back(
                read->kind == TraceLine::Kind::time_zero ? "time zero" : call_text(read->record));
        }
        for (const pid_t child : children) {
            EXPECT_EQ(told[child], (std::vector<std::string>{"time zero", "zmod4710_Init(0) = 0",
                                                             "zmod4710_WriteAO(0, 7, 0, 2) = 0"}))
                << state;
        }
    }
}

} // namespace
} // namespace zmod4710_sim
#endif
