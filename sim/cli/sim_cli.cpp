#include "sim_cli.hpp"

#include "backplane_changes.hpp"
#include "backplane_json.hpp"
#include "backplane_report.hpp"
#include "one_line.hpp"
#include "state_file.hpp"
#include "timeline.hpp"
#include "trace_file.hpp"
#include "trace_lines.hpp"
#include "watch.hpp"
#include "zmod4710_sim.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace zmod4710_sim {

namespace {

constexpr const char *kProgram = "zmod4710-sim";
constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;

struct Options {
    std::string state;
    bool json = false;
    bool calibration = false;
    int slot = 0;
    int channel = 0;
    int range = 0;
    std::string module = module_name(ModuleKind::zm4710);
    int firmware = kFactoryFirmware;
    bool replace = false;
    int gain = 0;
    int offset = 0;
    float drift_gain = 0.0f;
    float drift_offset = 0.0f;
    std::string call;
    int result = ZMOD4710_SIM_REFUSED_ON_REQUEST;
    int times = 1;
    int after = 0;
    bool always = false;
    bool clear = false;
    bool uses_state = true; // what the command does needs the state file
    std::string format = "csv";
    std::vector<std::string> traces;
    std::string from;
    std::string to;
    TimelineOptions timeline;
    int status = 0; // what a command that goes on when something fails exits with
};

// Where the backplane lives, in the words of the system the program runs on.
#ifdef _WIN32
const char *const kFooter =
    "The backplane lives in the file that --state names, else in %ZMOD4710_SIM_STATE%, else in\n"
    "%LOCALAPPDATA%\\zmod4710-sim\\backplane.json.\n"
    "Without a file it holds one ZM-4710 in slot 0, as from the factory.\n";
#else
const char *const kFooter =
    "The backplane lives in the file that --state names, else in $ZMOD4710_SIM_STATE, else in\n"
    "$XDG_STATE_HOME/zmod4710-sim/backplane.json (~/.local/state/... without XDG_STATE_HOME).\n"
    "Without a file it holds one ZM-4710 in slot 0, as from the factory.\n";
#endif

// Numbers on the command line are decimal, whatever the parser would make of
// "010" (eight) or "0x10": a sign and digits, leading zeros dropped, that an
// int holds, or refused.
CLI::Validator decimal() {
    return CLI::Validator(
        [](std::string &text) {
            const std::size_t sign = text.empty() || (text[0] != '-' && text[0] != '+') ? 0 : 1;
            if (sign == text.size() ||
                text.find_first_not_of("0123456789", sign) != std::string::npos) {
                return std::string("expected a decimal number, got ") + text;
            }
            const std::size_t zeros =
                std::min(text.find_first_not_of('0', sign), text.size() - 1) - sign;
            text.erase(sign, zeros);
            int number = 0;
            const char *start = text.data() + (text[0] == '+' ? 1 : 0);
            if (std::from_chars(start, text.data() + text.size(), number).ec != std::errc()) {
                return "expected a number from " + std::to_string(std::numeric_limits<int>::min()) +
                       " to " + std::to_string(std::numeric_limits<int>::max()) + ", got " + text;
            }
            return std::string();
        },
        "", "decimal");
}

// A decimal number from -most to most: a sign, digits, a point, an exponent;
// no "nan", "inf" or hexadecimal, whatever the parser would take.
CLI::Validator decimal_within(float most) {
    return CLI::Validator(
        [most](const std::string &text) {
            const std::size_t sign = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
            double number = 0;
            const char *end = text.data() + text.size();
            const std::from_chars_result read =
                std::from_chars(text.data() + sign, end, number, std::chars_format::general);
            const bool digits_first =
                sign < text.size() && text.find_first_of("0123456789.", sign) == sign;
            if (!digits_first || read.ec != std::errc() || read.ptr != end ||
                !(std::fabs(number) <= std::numeric_limits<float>::max())) {
                return "expected a decimal number, got " + text;
            }
            if (!(std::fabs(number) <= static_cast<double>(most))) {
                return "expected a number from -" + shortest_text(most) + " to " +
                       shortest_text(most) + ", got " + text;
            }
            return std::string();
        },
        "", "number");
}

CLI::Validator not_empty() {
    return CLI::Validator(
        [](const std::string &text) {
            return text.empty() ? std::string("an empty path names no file") : std::string();
        },
        "", "not empty");
}

// Each subcommand, when chosen, sets the action that the command line asks for.
using Action = std::function<void(const StateFile &, std::ostream &out, std::ostream &err)>;

// One line on err, starting with the program's name. Whatever the message,
// something is said: when memory runs out, a line that needs none.
void report(std::ostream &err, std::string_view message) noexcept {
    try {
        const std::string line = one_line(message);
        err << kProgram << ": " << line << "\n";
    } catch (...) {
        err << kProgram << ": out of memory\n";
    }
}

// Makes change to the state; change returns the lines that tell it, none when
// it changed nothing, which is then not stored. The lines are appended to the
// trace that ZMOD4710_SIM_TRACE names while the state's lock is still held, so
// that programs sharing the state trace in the order they changed it. A trace
// that cannot be written is told, and the change stands.
void make_change(const StateFile &file, const std::function<Told(Backplane &)> &change,
                 std::ostream &err) {
    Told told;
    std::string not_traced;
    file.update([&](Backplane &backplane) { return !(told = change(backplane)).empty(); }, nullptr,
                [&]() noexcept {
                    const char *trace = std::getenv("ZMOD4710_SIM_TRACE");
                    if (trace == nullptr || *trace == '\0') {
                        return;
                    }
                    try {
                        TraceWriter().append(trace, &file.path(), utc_microseconds_now(), told);
                    } catch (const std::bad_alloc &) {
                        not_traced = "out of memory";
                    } catch (const StateError &error) {
                        not_traced = error.what();
                    }
                });
    if (!not_traced.empty()) {
        report(err, "the trace is not written: " + not_traced);
    }
}

void add_show(CLI::App &app, Options &options, Action &action) {
    CLI::App *show = app.add_subcommand(
        "show", "Show each occupied slot: its module, firmware, power-on mode and channels");
    show->add_flag("--json", options.json, "Print the backplane as JSON, for programs");
    show->add_flag("--calibration", options.calibration,
                   "Add each channel's gain and offset in all six ranges");
    show->callback([&] {
        action = [&](const StateFile &file, std::ostream &out, std::ostream &) {
            const Backplane backplane = file.load();
            if (options.json) {
                out << format_backplane(backplane);
                return;
            }
            out << "Backplane in " << one_line(file.path().string())
                << (std::filesystem::exists(file.path()) ? "" : " (no file yet: factory state)")
                << "\n\n"
                << describe_backplane(backplane, options.calibration)
                << (backplane.refusals.empty() ? "" : "\n" + describe_refusals(backplane.refusals));
        };
    });
}

void add_power_cycle(CLI::App &app, Action &action) {
    CLI::App *power_cycle_command = app.add_subcommand(
        "power-cycle", "Power the controller off and on: channels take their power-on values "
                       "(mode 1) or hold their outputs (mode 2)");
    power_cycle_command->callback([&] {
        action = [&](const StateFile &file, std::ostream &out, std::ostream &err) {
            std::vector<ModulePowerUp> report;
            make_change(
                file, [&](Backplane &backplane) { return make_power_cycle(backplane, &report); },
                err);
            out << describe_power_cycle(report);
        };
    });
}

CLI::Option *add_slot(CLI::App &command, Options &options) {
    return command.add_option("SLOT", options.slot, "Backplane slot, 0 to 7")
        ->required()
        ->transform(decimal())
        ->check(CLI::Range(0, kSlotCount - 1));
}

void add_insert(CLI::App &app, Options &options, Action &action) {
    CLI::App *insert = app.add_subcommand("insert", "Put a factory-fresh module in a slot");
    add_slot(*insert, options);
    insert->add_option("--module", options.module, "Kind of module (default ZM-4710)")
        ->check(CLI::IsMember(module_names()));
    insert->add_option("--firmware", options.firmware, "Firmware version, 0 to 32767 (default 3)")
        ->transform(decimal())
        ->check(CLI::Range(0, static_cast<int>(kMaxFirmware)));
    insert->add_flag("--replace", options.replace, "Replace the module the slot holds");
    insert->callback([&] {
        action = [&](const StateFile &file, std::ostream &out, std::ostream &err) {
            const ModuleKind kind = *module_kind_named(options.module);
            try {
                make_change(
                    file,
                    [&](Backplane &backplane) {
                        return make_insert(backplane, options.slot, kind,
                                           static_cast<std::int16_t>(options.firmware),
                                           options.replace);
                    },
                    err);
            } catch (const ChangeRefused &refused) {
                if (refused.reason() != ChangeRefused::Reason::occupied) {
                    throw;
                }
                throw ChangeRefused(std::string(refused.what()) +
                                        " (use --replace to put another in its place)",
                                    refused.reason());
            }
            out << "Slot " << options.slot << ": " << module_label(kind) << " inserted, firmware "
                << options.firmware << "\n";
        };
    });
}

void add_remove(CLI::App &app, Options &options, Action &action) {
    CLI::App *remove = app.add_subcommand("remove", "Take the module out of a slot");
    add_slot(*remove, options);
    remove->callback([&] {
        action = [&](const StateFile &file, std::ostream &out, std::ostream &err) {
            Module removed;
            make_change(
                file,
                [&](Backplane &backplane) {
                    return make_remove(backplane, options.slot, &removed);
                },
                err);
            out << "Slot " << options.slot << ": " << module_label(removed.kind) << " removed\n";
        };
    });
}

// A channel given by the slot and the channel, within the module's channels.
void add_slot_and_channel(CLI::App &command, Options &options) {
    add_slot(command, options);
    command.add_option("CHANNEL", options.channel, "Channel, within the module's")
        ->required()
        ->transform(decimal())
        ->check(CLI::NonNegativeNumber);
}

void add_calibrate(CLI::App &app, Options &options, Action &action) {
    CLI::App *calibrate = app.add_subcommand(
        "calibrate", "Set one channel's calibration gain and offset for one range");
    add_slot_and_channel(*calibrate, options);
    calibrate
        ->add_option("RANGE", options.range,
                     "Range code: 0 (0 ~ 5V), 1 (0 ~ 10V), 2 (+/- 5V), 3 (+/- 10V), 4 (4 ~ 20mA), "
                     "5 (0 ~ 20mA)")
        ->required()
        ->transform(decimal())
        ->check(CLI::Range(0, kRangeCount - 1));
    calibrate->add_option("--gain", options.gain, "Gain, 0 to 65535")
        ->required()
        ->transform(decimal())
        ->check(CLI::Range(0, 65535));
    calibrate->add_option("--offset", options.offset, "Offset, -32768 to 32767")
        ->required()
        ->transform(decimal())
        ->check(CLI::Range(-32768, 32767));
    calibrate->callback([&] {
        action = [&](const StateFile &file, std::ostream &out, std::ostream &err) {
            const Calibration calibration{static_cast<std::uint16_t>(options.gain),
                                          static_cast<std::int16_t>(options.offset)};
            Calibration before;
            make_change(
                file,
                [&](Backplane &backplane) {
                    return make_calibration(backplane, options.slot, options.channel, options.range,
                                            calibration, &before);
                },
                err);
            out << "Slot " << options.slot << " CH " << options.channel << ", "
                << range_name(options.range) << ": gain " << calibration.gain << ", offset "
                << calibration.offset << " (was gain " << before.gain << ", offset "
                << before.offset << ")\n";
        };
    });
}

// Runs a command whose argument the backplane may not have (a channel beyond
// the module's): that is bad usage, exit 2; no module is a refusal, exit 1.
void with_arguments_checked(Options &options, std::ostream &err, const std::function<void()> &run) {
    try {
        run();
    } catch (const ChangeRefused &refused) {
        if (refused.reason() != ChangeRefused::Reason::bad_argument) {
            throw;
        }
        report(err, refused.what());
        options.status = kUsage;
    }
}

void add_drift(CLI::App &app, Options &options, Action &action) {
    CLI::App *drift = app.add_subcommand(
        "drift", "Give one channel an error of its own, which a meter on its terminals shows");
    add_slot_and_channel(*drift, options);
    drift
        ->add_option("--gain", options.drift_gain,
                     "Gain error in percent, -100 to 100: the output times (1 + PCT / 100)")
        ->type_name("PCT")
        ->required()
        ->check(decimal_within(kMostDriftGain));
    drift
        ->add_option("--offset", options.drift_offset,
                     "Offset in the output's unit, -100 to 100, added after the gain")
        ->type_name("VALUE")
        ->required()
        ->check(decimal_within(kMostDriftOffset));
    drift->callback([&] {
        action = [&](const StateFile &file, std::ostream &out, std::ostream &err) {
            const Drift wanted{options.drift_gain, options.drift_offset};
            Drift before;
            with_arguments_checked(options, err, [&] {
                make_change(
                    file,
                    [&](Backplane &backplane) {
                        return make_drift(backplane, options.slot, options.channel, wanted,
                                          &before);
                    },
                    err);
                out << "Slot " << options.slot << " CH " << options.channel << ": drift gain "
                    << shortest_text(wanted.gain_percent) << " %, offset "
                    << shortest_text(wanted.offset) << " (was gain "
                    << shortest_text(before.gain_percent) << " %, offset "
                    << shortest_text(before.offset) << ")\n";
            });
        };
    });
}

void add_meter(CLI::App &app, Options &options, Action &action) {
    CLI::App *meter = app.add_subcommand(
        "meter", "Print what a 4 1/2-digit meter on one channel's terminals reads");
    add_slot_and_channel(*meter, options);
    meter->callback([&] {
        action = [&](const StateFile &file, std::ostream &out, std::ostream &err) {
            with_arguments_checked(options, err, [&] {
                const MeterReading reading = read_meter(file.load(), options.slot, options.channel);
                out << formatted("%.*f %s\n", reading.decimals, reading.value,
                                 range_unit(reading.range).c_str());
            });
        };
    });
}

void add_reset(CLI::App &app, Action &action) {
    CLI::App *reset = app.add_subcommand(
        "reset", "Go back to the factory backplane: one ZM-4710 in slot 0, outputs at 0");
    reset->callback([&] {
        action = [&](const StateFile &file, std::ostream &out, std::ostream &err) {
            make_change(file, make_reset, err);
            out << "Backplane reset: a factory ZM-4710 in slot 0, every other slot empty\n";
        };
    });
}

// A call's name on the command line, with or without its "zmod4710_"; whether
// it can be refused is the refusal's to say.
CLI::Validator call_name_known() {
    return CLI::Validator(
        [](const std::string &text) {
            std::string names;
            for (const std::string &name : refusable_call_names()) {
                names += (names.empty() ? "" : ", ") + name;
            }
            return call_named(text) ? std::string()
                                    : "unknown call " + text + " (calls: " + names + ")";
        },
        "CALL", "call");
}

// What refuse's options ask for, once the command line is read; throws the
// parser's error when they do not go together.
Refusal refusal_asked(const Options &options, const CLI::App &refuse) {
    const bool any = refuse.count("CALL") + refuse.count("--slot") + refuse.count("--channel") +
                         refuse.count("--result") + refuse.count("--times") +
                         refuse.count("--always") + refuse.count("--after") >
                     0;
    if (options.clear && any) {
        throw CLI::ValidationError("--clear", "takes no call and no other option");
    }
    if (options.clear) {
        return Refusal();
    }
    if (refuse.count("CALL") == 0) {
        throw CLI::RequiredError("CALL");
    }
    Refusal refusal;
    refusal.call = *call_named(options.call);
    refusal.slot = refuse.count("--slot") > 0 ? std::optional<int>(options.slot) : std::nullopt;
    refusal.channel =
        refuse.count("--channel") > 0 ? std::optional<int>(options.channel) : std::nullopt;
    refusal.result = options.result;
    refusal.times = options.always ? std::nullopt : std::optional<int>(options.times);
    refusal.after = options.after;
    if (const std::optional<RefusalFault> fault = refusal_fault(refusal)) {
        // Each field is an option of its name, but the call, which is CALL.
        const std::string field = fault->field;
        throw CLI::ValidationError(field == "call" ? "CALL" : "--" + field, fault->reason);
    }
    return refusal;
}

void clear_pending_refusals(const StateFile &file, std::ostream &out, std::ostream &err) {
    std::size_t cleared = 0;
    make_change(
        file, [&](Backplane &backplane) { return make_clear_refusals(backplane, &cleared); }, err);
    out << (cleared == 0 ? std::string("No refusals on request were pending")
                         : "Refusals on request cleared: " + std::to_string(cleared))
        << "\n";
}

void add_refuse(CLI::App &app, Options &options, Action &action) {
    CLI::App *refuse = app.add_subcommand(
        "refuse", "Make the module library refuse a call, as a test of a program's refusals");
    refuse
        ->add_option("CALL", options.call,
                     "The call, such as WriteAO or zmod4710_WriteAO; any: every call")
        ->check(call_name_known());
    refuse->add_option("--slot", options.slot, "Only calls on this slot, 0 to 7")
        ->transform(decimal());
    refuse->add_option("--channel", options.channel, "Only calls on this channel")
        ->transform(decimal());
    refuse->add_option("--result", options.result, "What the call returns, not 0 (default -4)")
        ->transform(decimal());
    CLI::Option *times =
        refuse->add_option("--times", options.times, "Refuse the next N such calls (default 1)")
            ->transform(decimal());
    times->excludes(refuse->add_flag("--always", options.always, "Refuse every such call"));
    refuse->add_option("--after", options.after, "Let the first N such calls through (default 0)")
        ->transform(decimal());
    refuse->add_flag("--clear", options.clear, "Remove every refusal pending");
    refuse->callback([&, refuse] {
        const Refusal refusal = refusal_asked(options, *refuse);
        action = [&, refusal](const StateFile &file, std::ostream &out, std::ostream &err) {
            if (options.clear) {
                clear_pending_refusals(file, out, err);
                return;
            }
            make_change(
                file, [&](Backplane &backplane) { return make_refusal(backplane, refusal); }, err);
            out << "Refusing " << describe_refusal(refusal) << "\n";
        };
    });
}

void add_refusals(CLI::App &app, Options &options, Action &action) {
    CLI::App *refusals =
        app.add_subcommand("refusals", "List the refusals on request that are pending");
    refusals->add_flag("--json", options.json, "Print them as JSON, for programs");
    refusals->callback([&] {
        action = [&](const StateFile &file, std::ostream &out, std::ostream &) {
            const Backplane backplane = file.load();
            out << (options.json ? format_refusals(backplane.refusals)
                                 : describe_refusals(backplane.refusals));
        };
    });
}

constexpr char kTimelineUsage[] =
    "usage: zmod4710-sim timeline [--format csv|jsonl|vcd|svg|summary] [--json] [--slot SLOT] "
    "[--channel CHANNEL] [--from TIME] [--to TIME] [--follow] [TRACE...|-]";

std::optional<TimelineFormat> timeline_format_named(const std::string &name) {
    static const std::pair<const char *, TimelineFormat> kFormats[] = {
        {"csv", TimelineFormat::csv},
        {"jsonl", TimelineFormat::jsonl},
        {"vcd", TimelineFormat::vcd},
        {"svg", TimelineFormat::svg},
        {"summary", TimelineFormat::summary}};
    for (const auto &[named, format] : kFormats) {
        if (name == named) {
            return format;
        }
    }
    return std::nullopt;
}

// The traces named, else the one ZMOD4710_SIM_TRACE names.
std::vector<std::string> traces_to_read(const Options &options) {
    std::vector<std::string> traces = options.traces;
    if (const char *named = std::getenv("ZMOD4710_SIM_TRACE");
        traces.empty() && named != nullptr && *named != '\0') {
        traces.emplace_back(named);
    }
    return traces;
}

CLI::Validator time_text() {
    return CLI::Validator(
        [](const std::string &text) {
            return time_bound(text) ? std::string()
                                    : "expected seconds from the first line, or a time in UTC as "
                                      "a trace writes it, got " +
                                          text + "; " + kTimelineUsage;
        },
        "TIME");
}

// What the options ask that cannot be done together; empty when it can.
std::string timeline_mistake(const TimelineOptions &timeline,
                             const std::vector<std::string> &traces) {
    const bool twice =
        timeline.format == TimelineFormat::vcd || timeline.format == TimelineFormat::svg;
    const auto inputs = std::count(traces.begin(), traces.end(), kStandardInput);
    if (traces.empty()) {
        return "no trace named, and ZMOD4710_SIM_TRACE is not set";
    }
    if (inputs > 1) {
        return "standard input named twice";
    }
    if (inputs == 1 && platform::standard_input_is_terminal()) {
        return "standard input is a terminal, not a trace";
    }
    if (inputs == 1 && twice) {
        return "--format vcd and svg read their traces twice: name a file, not -";
    }
    if (timeline.follow &&
        (traces.size() != 1 || inputs == 1 ||
         (timeline.format != TimelineFormat::csv && timeline.format != TimelineFormat::jsonl))) {
        return "--follow follows one trace file, as csv or jsonl";
    }
    if (timeline.json && timeline.format != TimelineFormat::summary) {
        return "--json is for --format summary";
    }
    return "";
}

// The options that narrow the timeline, and say how it is read and written.
struct TimelineChoices {
    CLI::Option *slot;
    CLI::Option *channel;
    CLI::Option *from;
    CLI::Option *to;
};

TimelineChoices add_timeline_options(CLI::App &timeline, Options &options) {
    timeline
        .add_option("--format", options.format,
                    "csv (default), jsonl (one JSON object a line), vcd (GTKWave, PulseView), "
                    "svg (a picture) or summary (a table a channel)")
        ->check(CLI::Validator(
            [](std::string &name) {
                return timeline_format_named(name)
                           ? std::string()
                           : "unknown format " + name + "; " + kTimelineUsage;
            },
            "csv|jsonl|vcd|svg|summary"));
    timeline.add_flag("--json", options.timeline.json, "The summary as JSON");
    TimelineChoices choices{};
    choices.slot = timeline.add_option("--slot", options.slot, "Only this slot, 0 to 7")
                       ->transform(decimal())
                       ->check(CLI::Range(0, kSlotCount - 1));
    choices.channel =
        timeline.add_option("--channel", options.channel, "Only this channel, 0 to 7")
            ->transform(decimal())
            ->check(CLI::Range(0, 7));
    choices.from = timeline
                       .add_option("--from", options.from,
                                   "From this time: seconds from the first line, or UTC "
                                   "(2026-12-09T15:04:05.000000Z)")
                       ->check(time_text());
    choices.to =
        timeline.add_option("--to", options.to, "Up to this time, as --from")->check(time_text());
    timeline.add_flag("--follow", options.timeline.follow,
                      "Keep reading the trace as it grows, a row as it comes, until interrupted");
    timeline.add_option("TRACE", options.traces,
                        "Traces to read, - for standard input (default: $ZMOD4710_SIM_TRACE)");
    return choices;
}

void add_timeline(CLI::App &app, Options &options, Action &action) {
    CLI::App *timeline = app.add_subcommand(
        "timeline", "What each channel output over time, from traces merged by time");
    const TimelineChoices choices = add_timeline_options(*timeline, options);
    timeline->callback([&options, &action, choices] {
        options.uses_state = false;
        TimelineOptions &chosen = options.timeline;
        chosen.format = *timeline_format_named(options.format);
        chosen.slot = choices.slot->count() > 0 ? std::optional<int>(options.slot) : std::nullopt;
        chosen.channel =
            choices.channel->count() > 0 ? std::optional<int>(options.channel) : std::nullopt;
        chosen.from = choices.from->count() > 0 ? time_bound(options.from) : std::nullopt;
        chosen.to = choices.to->count() > 0 ? time_bound(options.to) : std::nullopt;
        action = [&options](const StateFile &, std::ostream &out, std::ostream &err) {
            const std::vector<std::string> traces = traces_to_read(options);
            if (const std::string mistake = timeline_mistake(options.timeline, traces);
                !mistake.empty()) {
                report(err, mistake + "; " + kTimelineUsage);
                options.status = kUsage;
                return;
            }
            try {
                const bool whole = write_timeline(traces, options.timeline, out, err);
                options.status = whole ? kDone : kRefused;
            } catch (const StateError &error) {
                report(err, error.what());
                options.status = kUsage;
            }
        };
    });
}

void add_watch(CLI::App &app, Options &options, Action &action) {
    CLI::App *watch = app.add_subcommand(
        "watch", "Show the backplane live, redrawn at each change (q or Ctrl-C: quit); a line a "
                 "change when the output is no terminal");
    watch->callback([&] {
        action = [&](const StateFile &file, std::ostream &out, std::ostream &err) {
            const char *trace = std::getenv("ZMOD4710_SIM_TRACE");
            options.status = run_watch(file.path(), trace != nullptr ? trace : "", out, err);
        };
    });
}

// The command line's parser, with every command, filling options and action.
std::unique_ptr<CLI::App> command_line(Options &options, Action &action) {
    auto app = std::make_unique<CLI::App>(
        "See and change the simulated ZM-4710 backplane that the tools talk to.", kProgram);
    app->footer(kFooter);
    app->fallthrough();
    app->require_subcommand(1);
    app->add_option("--state", options.state, "State file of the backplane")
        ->type_name("FILE")
        ->check(not_empty());
    add_show(*app, options, action);
    add_power_cycle(*app, action);
    add_insert(*app, options, action);
    add_remove(*app, options, action);
    add_calibrate(*app, options, action);
    add_drift(*app, options, action);
    add_meter(*app, options, action);
    add_reset(*app, action);
    add_refuse(*app, options, action);
    add_refusals(*app, options, action);
    add_timeline(*app, options, action);
    add_watch(*app, options, action);
    return app;
}

// Parses the command line; a status to exit with when that is all there is to do.
std::optional<int> parse(CLI::App &app, int argc, const char *const *argv, std::ostream &out,
                         std::ostream &err) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &help) {
        return app.exit(help, out, err);
    } catch (const CLI::ParseError &error) {
        const bool unknown_command = app.get_subcommands().empty() && !app.remaining().empty();
        report(err, (unknown_command ? "unknown command: " + app.remaining().front()
                                     : std::string(error.what())) +
                        " (see " + kProgram + " --help)");
        return kUsage;
    }
    return std::nullopt;
}

int run(int argc, const char *const *argv, std::ostream &out, std::ostream &err) {
    Options options;
    Action action;
    const std::unique_ptr<CLI::App> app = command_line(options, action);
    if (const std::optional<int> status = parse(*app, argc, argv, out, err)) {
        return *status;
    }
    // Only a command that uses the state resolves it: the timeline reads traces alone.
    const std::filesystem::path path = !options.uses_state ? std::filesystem::path()
                                       : options.state.empty()
                                           ? default_state_path()
                                           : std::filesystem::path(options.state);
    if (path == kMemoryState) {
        report(err, std::string(kMemoryState) +
                        " names a backplane in one program's memory, which no other program "
                        "can see: name a state file");
        return kRefused;
    }
    action(StateFile(path), out, err);
    // Output that could not be written is a failure, not something done.
    if (!out.flush()) {
        report(err, "cannot write the standard output");
        return kRefused;
    }
    return options.status;
}

} // namespace

int run_sim_cli(int argc, const char *const *argv, std::ostream &out, std::ostream &err) {
    // Everything, the parser's set-up included, within reach of one line and exit 1:
    // the state file or a change refused, the file system, memory running out.
    try {
        return run(argc, argv, out, err);
    } catch (const std::bad_alloc &) {
        report(err, "out of memory");
    } catch (const std::exception &error) {
        report(err, error.what());
    } catch (...) {
        report(err, "unexpected failure");
    }
    return kRefused;
}

} // namespace zmod4710_sim
