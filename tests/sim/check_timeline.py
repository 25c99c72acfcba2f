"""zmod4710-sim timeline, its cases in all three formats.

Each case's traces are converted to CSV, VCD and JSON Lines, and each format is
read back into the same rows: the rows must be the case's, the messages and the
exit status too. Every JSON line must validate against the schema, and every
VCD must go through GTKWave's vcd2fst and back with fst2vcd; the SVG is rendered
by rsvg-convert and looked at. Run with Debian's python3, python3-jsonschema,
python3-pil, librsvg2-bin and gtkwave:

    check_timeline.py SCHEMA ZMOD4710_SIM AO_POWER_ON
"""
import csv
import io
import json
import os
import pty
import queue
import re
import signal
import subprocess
import sys
import threading
import time

from PIL import Image

from schema_checks import folder_of_our_own, validator_of

schema_path, sim, power_on = sys.argv[1:4]
validator = validator_of(schema_path)
failures = []

folder = folder_of_our_own()
environment = dict(os.environ, ZMOD4710_SIM_STATE=os.path.join(folder, "backplane.json"))
environment.pop("ZMOD4710_SIM_TRACE", None)


def run(command, typed="", without=(), **variables):
    """Runs command with variables set, and those named in without unset."""
    variables = {name: value for name, value in dict(environment, **variables).items()
                 if name not in without}
    done = subprocess.run(command, input=typed, env=variables, capture_output=True, text=True)
    return done.returncode, done.stdout, done.stderr


def written(name, lines):
    path = os.path.join(folder, name)
    with open(path, "w", encoding="utf-8", errors="surrogateescape") as file:
        file.write("".join(line + "\n" for line in lines))
    return path


def traced(name, *commands):
    """A trace of the commands (program, its input), run one after the other."""
    path = os.path.join(folder, name)
    for command, typed in commands:
        run(command, typed, ZMOD4710_SIM_TRACE=path)
    return path


def t(microseconds):
    return f"2026-12-09T15:00:00.{microseconds:06d}Z"


# A row as every format can give it: seconds (None where the case's times are
# the programs' own), slot, channel ("" for a slot's event), the event, whether
# a module holds the channel ("yes", "no", "" unknown), the output in V and in
# mA, its range, the power-on value in V and in mA, its range and the mode, ""
# where unknown; and the cause, which no VCD has.
def row(seconds, slot, channel, event, module, output_v, output_ma, range_, power_on_v,
        power_on_ma, power_on_range, mode, cause):
    return (seconds, slot, channel, event, module, output_v, output_ma, range_, power_on_v,
            power_on_ma, power_on_range, mode, cause)


def number(text):
    return "" if text in ("", None) or str(text).lower() == "nan" else format(float(text), "g")


HEADER = ["time", "seconds", "slot", "channel", "event", "module", "output_V", "output_mA",
          "range", "power_on_V", "power_on_mA", "power_on_range", "power_on_mode", "process",
          "cause"]


def from_csv(text, timed):
    rows = list(csv.reader(io.StringIO(text)))
    if rows[:1] != [HEADER]:
        failures.append(f"CSV header: {rows[:1]}")
    return [row(r[1] if timed else None, r[2], r[3], r[4], r[5], number(r[6]), number(r[7]),
                r[8], number(r[9]), number(r[10]), r[11], r[12], r[14]) for r in rows[1:]]


def from_jsonl(text, timed):
    rows = []
    for line in text.splitlines():
        document = json.loads(line)
        for error in validator.iter_errors(document):
            failures.append(f"JSON line {line}: {error.message}")
        shown = {key: "" if value is None else str(value) for key, value in document.items()}
        module = {True: "yes", False: "no", None: ""}[document["module"]]
        rows.append(row(f"{document['seconds']:.6f}" if timed else None, shown["slot"],
                        shown["channel"], document["event"], module,
                        number(document["output_V"]), number(document["output_mA"]),
                        shown["range"], number(document["power_on_V"]),
                        number(document["power_on_mA"]), shown["power_on_range"],
                        shown["power_on_mode"], document["cause"]))
    return rows


def declared(vcd):
    """The VCD's variables by identifier: (scope, name, type); and its changes."""
    names, scope = {}, None
    declarations, _, changes = vcd.partition("$enddefinitions $end\n")
    for words in (line.split() for line in declarations.splitlines()):
        if words[:2] == ["$scope", "module"]:
            scope = words[2]
        elif words[:1] == ["$var"]:
            names[words[3]] = (scope, words[4], words[1])
    return names, changes


def changes_of(changes):
    """(time, identifier, value) for each value written, in order."""
    at = 0
    for line in changes.splitlines():
        if line.startswith("#"):
            at = int(line[1:])
        elif line and not line.startswith("$"):
            if line[0] in "rb":
                value, identifier = line.split(" ")
            else:
                value, identifier = line[0], line[1:]
            yield at, identifier, value


def from_vcd(text, timed):
    """The rows a VCD gives: at each time, a row for each channel that a value
    was written for, or whose slot's mode changed, with all its values then."""
    names, changes = declared(text)
    values, rows, pending = {}, [], {}

    def value(slot, channel, name):
        return values.get((slot, f"channel{channel}_{name}"), "")

    def flush(at):
        for (slot, channel), event in pending.items():
            # A channel that no module holds has no mode of its own.
            mode = "" if value(slot, channel, "module") == "0" else values.get(
                (slot, "power_on_mode"), "")
            rows.append(row(f"{at / 1e6:.6f}" if timed else None, slot, channel, event,
                            {"1": "yes", "0": "no"}.get(value(slot, channel, "module"), ""),
                            number(value(slot, channel, "output_V")),
                            number(value(slot, channel, "output_mA")),
                            value(slot, channel, "range"),
                            number(value(slot, channel, "power_on_V")),
                            number(value(slot, channel, "power_on_mA")),
                            value(slot, channel, "power_on_range"), mode, None))
        pending.clear()

    last = None
    for at, identifier, written in changes_of(changes):
        if at != last and last is not None:
            flush(last)
        last = at
        scope, name, kind = names[identifier]
        slot = scope.removeprefix("slot")
        if kind in ("integer", "wire"):
            written = "" if "x" in written else str(int(written.lstrip("b"), 2))
        else:
            written = written.lstrip("r")
        if name == "power_on_mode":
            values[(slot, name)] = written
            for key in sorted({(scope_.removeprefix("slot"), n.split("_")[0][7:])
                               for scope_, n, _ in names.values()
                               if scope_ == scope and n.startswith("channel")}):
                if value(*key, "module") == "1":
                    pending.setdefault(key, "change")
            continue
        if name in ("refused", "callback"):
            pending[(slot, "")] = name
            continue
        channel, _, field = name.removeprefix("channel").partition("_")
        if field in ("refused", "callback", "drift"):
            pending[(slot, channel)] = field
        else:
            values[(slot, name)] = written
            pending.setdefault((slot, channel), "change")
    if last is not None:
        flush(last)
    return rows


def as_a_vcd_shows(rows):
    """What a VCD can show of rows: a channel's rows at one time as one, with
    its last values and its event; no row that changed nothing (end)."""
    shown, latest = {}, None
    for r in rows:
        # Times never go back in a VCD: a line out of order is at the time before it.
        latest = r[0] if latest is None or float(r[0]) > float(latest) else latest
        r = (latest,) + r[1:]
        if r[3] == "end" or r[1] == "":
            continue
        key = (r[0], r[1], r[2])
        event = r[3] if r[3] not in ("change", "start") else (
            shown.get(key, (None,) * 4)[3] or "change")
        shown[key] = r[:3] + (event,) + r[4:-1] + (None,)
    return sorted(shown.values())


def vcd_writes_changes_only(case, vcd):
    """No variable but an event is written again with the value it holds."""
    names, changes = declared(vcd)
    held = {}
    for at, identifier, value in changes_of(changes):
        if names[identifier][2] != "event" and held.get(identifier) == value:
            failures.append(f"{case}: {names[identifier][:2]} written again as {value} at {at}")
        held[identifier] = value


def signals(vcd):
    """Each variable's values over time, by its scope and name, each a change."""
    names, changes = declared(vcd)
    values = {}
    for at, identifier, value in changes_of(changes):
        value = "rnan" if value.lower() == "rnan" else value
        seen = values.setdefault(names[identifier][:2], [])
        if not seen or seen[-1][1] != value or names[identifier][2] == "event":
            seen.append((at, value))
    return values


def vcd_goes_through_gtkwave(case, vcd):
    """GTKWave's converter takes the VCD without a word, and gives it back whole."""
    if not declared(vcd)[0]:
        return  # nothing to show: no variable, which GTKWave does not take
    vcd_path, fst_path = os.path.join(folder, "t.vcd"), os.path.join(folder, "t.fst")
    with open(vcd_path, "w", encoding="utf-8") as file:
        file.write(vcd)
    done = subprocess.run(["vcd2fst", vcd_path, fst_path], capture_output=True, text=True)
    back = subprocess.run(["fst2vcd", "-f", fst_path], capture_output=True, text=True)
    if done.returncode or done.stdout or done.stderr or back.returncode:
        failures.append(f"{case}, vcd2fst: {done.returncode} {done.stdout}{done.stderr}")
    elif signals(back.stdout) != signals(vcd):
        failures.append(f"{case}: GTKWave reads another timeline:\n{back.stdout}")


def check(case, traces, expected, errors="", status=0, timed=True, options=(), typed=None):
    """The case in CSV and JSON Lines as expected, and its VCD as the CSV's
    rows show in one; options are given to each, and typed on standard input."""
    # The timeline reads traces alone: a state in memory, or none that can be
    # named, stops it not.
    timed_rows = None
    for (format_, read), state in zip((("csv", from_csv), ("jsonl", from_jsonl),
                                       ("vcd", from_vcd)), (":memory:", "", ":memory:")):
        if format_ == "vcd" and typed is not None:
            continue  # read twice: a file, not standard input
        done = subprocess.run([sim, "timeline", "--format", format_, *options, *traces],
                              input=typed or "", capture_output=True, text=True,
                              env={name: value for name, value in dict(
                                  environment, ZMOD4710_SIM_STATE=state).items()
                                   if name not in ("HOME", "XDG_STATE_HOME")})
        code, out, err = done.returncode, done.stdout, done.stderr
        if (code, err) != (status, errors.format(*traces)):
            failures.append(f"{case}, {format_}: exit {code}, {err!r}")
        got = read(out, format_ == "vcd" or timed)
        if format_ == "csv":
            timed_rows = from_csv(out, True)
        wanted = as_a_vcd_shows(timed_rows) if format_ == "vcd" else expected
        if format_ == "vcd":
            got = sorted(got)
            vcd_goes_through_gtkwave(case, out)
            vcd_writes_changes_only(case, out)
            times = [line for line in out.splitlines() if line.startswith("#")]
            last = max((float(r[0]) for r in timed_rows), default=None)
            if last is not None and times[-1:] != [f"#{round(last * 1e6)}"]:
                failures.append(f"{case}: the VCD ends at {times[-1:]}, not at {last}")
        if got != wanted:
            failures.append(f"{case}, {format_}:\n  got    {got}\n  wanted {wanted}")


def r(seconds, slot, channel, event="change", module="yes", v="", ma="", rng="", pv="", pma="",
      prng="", mode="", cause=""):
    """A row, its fields named; numbers as text, as a CSV has them."""
    return row(seconds, str(slot), str(channel), event, module, v, ma, str(rng), pv, pma,
               str(prng), str(mode), cause)


END = "end of the traces"

# ao_power_on: 12 mA on channel 1, 4 mA at power-on, mode 1; the last values
# hold to the trace's end.
tool = (power_on, "4\n12\n1\n1\n4\n")
tool_rows = [r(None, 0, 1, ma="12", rng=4, mode=1, cause="zmod4710_WriteAO"),
             r(None, 0, 1, ma="12", rng=4, pma="4", prng=4, mode=1,
               cause="zmod4710_WritePowerOn_AO")]
check("a tool's run", [traced("tool.txt", tool)],
      tool_rows + [tool_rows[-1][:3] + ("end",) + tool_rows[-1][4:-1] + (END,)], timed=False)

# After a power cycle, every channel of the module is known; the empty slots
# were never shown, and are not now.
run([sim, "reset"])
cycled = [r(None, 0, channel, ma="4" if channel == 1 else "", v="" if channel == 1 else "0",
            rng=4 if channel == 1 else 0, pma="4" if channel == 1 else "",
            pv="" if channel == 1 else "0", prng=4 if channel == 1 else 0, mode=1,
            event="end" if cause == END else "change", cause=cause) for cause in ("power cycle", END) for channel in range(8)]
check("a power cycle", [traced("cycled.txt", tool, ([sim, "power-cycle"], ""))],
      tool_rows + cycled, timed=False)

check("an unknown start, a refusal", [written("unknown.txt", [
    f"{t(0)} 7 zmod4710_WritePowerOn_AO(2, 3, 5, 25) = 0",
    f"{t(250000)} 7 zmod4710_SetPowerOnEnStatus(2, 2) = 0",
    f"{t(500000)} 7 zmod4710_WriteAO(2, 3, 0, 1.5) = -4 (refused on request)",
    f"{t(750000)} 7 zmod4710_WriteAO(2, 3, 3, -12) = 0",
])], [
    r("0.000000", 2, 3, pma="20", prng=5, cause="zmod4710_WritePowerOn_AO"),
    r("0.250000", 2, 3, pma="20", prng=5, mode=2, cause="zmod4710_SetPowerOnEnStatus"),
    r("0.500000", 2, 3, "refused", pma="20", prng=5, mode=2,
      cause="zmod4710_WriteAO(2, 3, 0, 1.5) = -4 (refused on request)"),
    r("0.750000", 2, 3, v="-10", rng=3, pma="20", prng=5, mode=2, cause="zmod4710_WriteAO"),
    r("0.750000", 2, 3, "end", v="-10", rng=3, pma="20", prng=5, mode=2, cause=END),
])

check("two programs merged", [
    written("first.txt", [f"{t(100)} 21 zmod4710_WriteAO(0, 0, 1, 1) = 0",
                          f"{t(300)} 21 zmod4710_WriteAO(0, 0, 1, 3) = 0"]),
    written("second.txt", [f"{t(200)} 22 zmod4710_WriteAO(0, 0, 1, 2) = 0",
                           f"{t(400)} 22 ! remove 0", f"{t(400)} 22 ! slot 0 empty"]),
], [
    r("0.000000", 0, 0, v="1", rng=1, cause="zmod4710_WriteAO"),
    r("0.000100", 0, 0, v="2", rng=1, cause="zmod4710_WriteAO"),
    r("0.000200", 0, 0, v="3", rng=1, cause="zmod4710_WriteAO"),
    r("0.000300", 0, 0, module="no", cause="remove 0"),
    r("0.000300", 0, 0, "end", module="no", cause=END),
])

# A ZM-4704 in the place of a ZM-4710: channels 4 to 7 have no module.
check("a module replaced", [written("replaced.txt", [
    f"{t(0)} 8 zmod4710_WriteAO(4, 6, 1, 7) = 0",
    f"{t(10)} 9 ! insert 4 ZM-4704 firmware 3", f"{t(10)} 9 ! slot 4 ZM-4704 mode 1",
    f"{t(10)} 9 ! slot 4 channel 0 output 0 range 0 power-on 0 range 0",
])], [
    r("0.000000", 4, 6, v="7", rng=1, cause="zmod4710_WriteAO"),
    r("0.000010", 4, 6, module="no", cause="insert 4 ZM-4704 firmware 3"),
    r("0.000010", 4, 0, v="0", rng=0, pv="0", prng=0, mode=1,
      cause="insert 4 ZM-4704 firmware 3"),
    r("0.000010", 4, 0, "end", v="0", rng=0, pv="0", prng=0, mode=1, cause=END),
    r("0.000010", 4, 6, "end", module="no", cause=END),
])

# A drift changes nothing the module holds: an event on its channel, also on
# one not told yet; one beyond what a drift can be is a bad line.
check("a drift given", [written("drift.txt", [
    f"{t(0)} 5 zmod4710_WriteAO(0, 1, 4, 20) = 0",
    f"{t(100000)} 6 ! drift 0 1 gain 0.5 offset -0.01",
    f"{t(200000)} 6 ! drift 0 2 gain -1 offset 0",
    f"{t(200000)} 6 ! drift 0 2 gain 101 offset 0",
])], [
    r("0.000000", 0, 1, ma="20", rng=4, cause="zmod4710_WriteAO"),
    r("0.100000", 0, 1, "drift", ma="20", rng=4, cause="drift 0 1 gain 0.5 offset -0.01"),
    r("0.200000", 0, 2, "drift", module="", cause="drift 0 2 gain -1 offset 0"),
    r("0.200000", 0, 1, "end", ma="20", rng=4, cause=END),
], errors="zmod4710-sim: {0}:4: not a trace line, skipped\n", status=1)

# Both units on one channel, its module taken out and put back, a call refused
# for want of a module (on a slot never told of: it has none), and the
# callback's answer, an event of the slot's.
out_and_back = written("out-and-back.txt", [
    f"{t(0)} 9 zmod4710_WriteAO(1, 2, 4, 12) = 0",
    f"{t(50000)} 9 zmod4710_WriteAO(6, 0, 0, 1) = -2",
    f"{t(100000)} 9 zmod4710_WriteAO(1, 2, 1, 2.5) = 0",
    f"{t(200000)} 9 ! remove 1", f"{t(200000)} 9 ! slot 1 empty",
    f"{t(300000)} 9 zmod4710_WriteAO(1, 2, 1, 3) = -2",
    f"{t(400000)} 9 ! insert 1 ZM-4710 firmware 3", f"{t(400000)} 9 ! slot 1 ZM-4710 mode 2",
    f"{t(400000)} 9 ! slot 1 channel 2 output 0 range 0 power-on 0 range 0",
    f"{t(500000)} 9 zmod4710_GetFirmwareVersion(1) = 7 (answered by the callback)",
    f"{t(600000)} 9 zmod4710_WriteAO(1, 2, 5, 30) = 0",
])
inserted = dict(v="0", rng=0, pv="0", prng=0, mode=2)
out_and_back_rows = [
    r("0.000000", 1, 2, ma="12", rng=4, cause="zmod4710_WriteAO"),
    r("0.050000", 6, 0, "refused", module="no", cause="zmod4710_WriteAO(6, 0, 0, 1) = -2"),
    r("0.100000", 1, 2, v="2.5", rng=1, cause="zmod4710_WriteAO"),
    r("0.200000", 1, 2, module="no", cause="remove 1"),
    r("0.300000", 1, 2, "refused", module="no", cause="zmod4710_WriteAO(1, 2, 1, 3) = -2"),
    r("0.400000", 1, 2, **inserted, cause="insert 1 ZM-4710 firmware 3"),
    r("0.500000", 1, "", "callback", module="", mode=2,
      cause="zmod4710_GetFirmwareVersion(1) = 7 (answered by the callback)"),
    r("0.600000", 1, 2, ma="20", rng=5, pv="0", prng=0, mode=2, cause="zmod4710_WriteAO"),
    r("0.600000", 1, 2, "end", ma="20", rng=5, pv="0", prng=0, mode=2, cause=END),
]
check("out and back, in two units, with faults", [out_and_back], out_and_back_rows)
with open(out_and_back, encoding="utf-8") as piped:
    check("standard input", ["-"], out_and_back_rows, typed=piped.read())

def check_picture(case, trace, seen, unseen):
    """The SVG rendered as rsvg-convert draws it: each (what, seconds, where,
    colour) in seen is drawn there, none in unseen. where is a value on the V
    or mA panel, or a lane's label; seconds from the first line, which the
    plots span to the last, and a fiftieth more."""
    svg, png = os.path.join(folder, "t.svg"), os.path.join(folder, "t.png")
    with open(svg, "w", encoding="utf-8") as file:
        file.write(run([sim, "timeline", "--format", "svg", trace])[1])
    done = subprocess.run(["rsvg-convert", svg, "-o", png], capture_output=True, text=True)
    if done.returncode or done.stderr:
        failures.append(f"{case}: rsvg-convert: {done.stderr}")
        return
    with open(svg, encoding="utf-8") as file:
        text = file.read()
    tops = {unit: int(y) + 6 for y, unit in re.findall(r'y="(\d+)" font-size="13">Output, (V|mA)<',
                                                       text)}
    lanes = {label: int(y) - 4 for y, label in re.findall(r'y="(\d+)" text-anchor="end" '
                                                          r'font-size="11">([^<]+)<', text)}
    last = max(float(value) for value in re.findall(r">end ([0-9.]+)<", text))
    picture = Image.open(png).convert("RGB")

    def place(seconds, where):
        x = 120 + round(seconds * 800 / (last * 1.02))
        if isinstance(where, str):
            return x, lanes[where]
        value, unit = where
        low, high = (0, 20) if unit == "mA" else (0, 10)
        return x, tops[unit] + 220 - round((value - low) / (high - low) * 220)

    def drawn(x, y, colour):
        return any(sum(abs(a - b) for a, b in zip(picture.getpixel((x + dx, y + dy)), colour)) < 90
                   for dx in range(-3, 4) for dy in range(-3, 4))

    for what, seconds, where, colour in seen:
        if not drawn(*place(seconds, where), colour):
            failures.append(f"{case}: the picture does not show {what}")
    for what, seconds, where, colour in unseen:
        if drawn(*place(seconds, where), colour):
            failures.append(f"{case}: the picture shows {what}")


GREEN, DARK, GREY, RED, ORANGE = (44, 160, 44), (68, 68, 68), (204, 204, 204), (224, 0, 0), \
    (255, 140, 0)
check_picture("the picture of out and back", out_and_back, [
    ("12 mA at first", 0.05, (12, "mA"), GREEN),
    ("2.5 V after", 0.15, (2.5, "V"), GREEN),
    ("0 V once put back", 0.45, (0, "V"), GREEN),
    ("the last 20 mA", 0.605, (20, "mA"), GREEN),
    ("the module held", 0.1, "slot 1 CH 2", DARK),
    ("no module", 0.25, "slot 1 CH 2", GREY),
    ("the refused write", 0.3, "slot 1 CH 2", RED),
    ("the refusal on an empty slot", 0.05, "slot 6 CH 0", RED),
    ("the callback's answer", 0.5, "slot 1", ORANGE),
], [
    ("an output while no module held it (mA)", 0.3, (12, "mA"), GREEN),
    ("an output while no module held it (V)", 0.3, (2.5, "V"), GREEN),
    ("12 mA after the unit changed", 0.15, (12, "mA"), GREEN),
])

# The summary: a channel's first and last output, its least and most in each
# unit, the writes it took, its events, and how long no module held it.
summary = json.loads(run([sim, "timeline", "--format", "summary", "--json", out_and_back])[1])
nothing = dict(first=None, last=None, min_V=None, max_V=None, min_mA=None, max_mA=None, writes=0,
               refused=0, callback=0)
expected_summary = [
    dict(nothing, slot=1, channel=None, module_at_end=None, callback=1,
         seconds_without_module=0),
    dict(slot=1, channel=2, first={"value": 12, "unit": "mA"}, last={"value": 20, "unit": "mA"},
         module_at_end=True, min_V=0, max_V=2.5, min_mA=12, max_mA=20, writes=3, refused=1,
         callback=0, seconds_without_module=0.2),
    dict(nothing, slot=6, channel=0, module_at_end=False, refused=1, seconds_without_module=0.55),
]
if summary != expected_summary:
    failures.append(f"summary:\n  got    {summary}\n  wanted {expected_summary}")

# Narrowed: a slot, a channel, a window in seconds or in UTC; the channels as
# they stood when it opened, and at the last line in it.
check("a slot", [out_and_back], out_and_back_rows[1:2], options=("--slot", "6"))
check("a channel in a window", [out_and_back], [
    r("0.150000", 1, 2, "start", v="2.5", rng=1, cause="start of the window"),
    *out_and_back_rows[3:6],
    r("0.400000", 1, 2, "end", **inserted, cause=END),
], options=("--channel", "2", "--from", "0.15", "--to", "0.45"))
check("a window from a time in UTC", [out_and_back], [
    r("0.550000", 1, 2, "start", **inserted, cause="start of the window"),
    *out_and_back_rows[-2:],
], options=("--slot", "1", "--from", t(550000)))
check("an empty window", [out_and_back], [], options=("--from", "0.61"))

# A line whose time goes back is drawn at the time before it in a VCD. Lines
# that tell what cannot be are bad lines: a value that is no number, a mode no
# module has, a change's text that holds a control character or is no UTF-8,
# a day no calendar has, a value no module takes, taken.
check("odd lines", [written("odd.txt", [
    f"{t(500000)} 4 zmod4710_WriteAO(3, 0, 0, 1) = 0",
    f"{t(0)} 4 zmod4710_WriteAO(3, 0, 0, 2) = 0",
    f"{t(600000)} 4 ! slot 3 channel 1 output nan range 0 power-on 0 range 0",
    f"{t(600000)} 4 ! slot 3 ZM-4710 mode 7",
    f"{t(600000)} 4 ! \x1b[31mred",
    f"{t(600000)} 4 ! caf\udce9",
    "2026-02-31T15:00:00.000000Z 4 zmod4710_WriteAO(3, 0, 0, 3) = 0",
    f"{t(700000)} 4 zmod4710_WriteAO(3, 0, 0, inf) = 0",
])], [
    r("0.000000", 3, 0, v="1", rng=0, cause="zmod4710_WriteAO"),
    r("-0.500000", 3, 0, v="2", rng=0, cause="zmod4710_WriteAO"),
    r("-0.500000", 3, 0, "end", v="2", rng=0, cause=END),
], errors="".join(f"zmod4710-sim: {{0}}:{line}: not a trace line, skipped\n"
                  for line in range(3, 8)) +
   "zmod4710-sim: {0}: 6 lines that are no trace lines skipped in all\n", status=1)

def check_following():
    """--follow writes a row for each line appended, soon; a trace cut back is
    read again from its start, said once; an interrupt ends it with the last
    rows, and status 0."""
    trace = written("followed.txt", [f"{t(0)} 3 zmod4710_WriteAO(0, 0, 0, 1) = 0"])
    follower = subprocess.Popen([sim, "timeline", "--follow", "--format", "jsonl", trace],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                env=environment)
    rows = queue.Queue()
    threading.Thread(target=lambda: [rows.put(line) for line in follower.stdout],
                     daemon=True).start()

    def next_output(what):
        try:
            return json.loads(rows.get(timeout=5))["output_V"]
        except queue.Empty:
            failures.append(f"following: no row within 5 s for {what}")
            return None

    def append(line, mode="a"):
        with open(trace, mode, encoding="utf-8") as file:
            file.write(line + "\n")

    first = next_output("the first line")
    started = time.monotonic()
    append(f"{t(1000)} 3 zmod4710_WriteAO(0, 0, 0, 2) = 0")
    second = next_output("a line appended")
    took = time.monotonic() - started
    append(f"{t(2000)} 3 zmod4710_WriteAO(0, 0, 0, 3) = 0", "w")  # cut back, then written
    third = next_output("a line after the trace was cut back")
    follower.send_signal(signal.SIGINT)
    last = next_output("the end")
    status = follower.wait(timeout=5)
    errors = follower.stderr.read()
    if [first, second, third, last] != [1, 2, 3, 3] or status != 0 or errors != (
            f"zmod4710-sim: {trace}: cut back while followed; read again from its start\n"):
        failures.append(f"following: {[first, second, third, last]}, exit {status}, {errors!r}")
    if took > 0.25:
        failures.append(f"following: a line appended was shown {took:.3f} s later")


check_following()

# What is refused: one line, exit 2, nothing written.
USAGE = ("usage: zmod4710-sim timeline [--format csv|jsonl|vcd|svg|summary] [--json] "
         "[--slot SLOT] [--channel CHANNEL] [--from TIME] [--to TIME] [--follow] [TRACE...|-]")
fifo = os.path.join(folder, "fifo")
os.mkfifo(fifo)
for command, message in (
        ([folder], f"cannot read {folder}: not a regular file"),
        ([fifo], f"cannot read {fifo}: not a regular file"),
        (["/dev/null"], "cannot read /dev/null: not a regular file"),
        (["--format", "png", fifo], f"--format: unknown format png; {USAGE} (see zmod4710-sim "
                                    "--help)"),
        ([], f"no trace named, and ZMOD4710_SIM_TRACE is not set; {USAGE}"),
        (["--slot", "8", fifo], "--slot: Value 8 not in range 0 to 7 (see zmod4710-sim --help)"),
        (["--channel", "-1", fifo],
         "--channel: Value -1 not in range 0 to 7 (see zmod4710-sim --help)"),
        (["--from", "yesterday", fifo], "--from: expected seconds from the first line, or a time "
                                        f"in UTC as a trace writes it, got yesterday; {USAGE} "
                                        "(see zmod4710-sim --help)"),
        (["-", "-"], f"standard input named twice; {USAGE}"),
        (["--format", "vcd", "-"],
         f"--format vcd and svg read their traces twice: name a file, not -; {USAGE}"),
        (["--follow", fifo, fifo], f"--follow follows one trace file, as csv or jsonl; {USAGE}"),
        (["--follow", "-"], f"--follow follows one trace file, as csv or jsonl; {USAGE}"),
        (["--follow", "--format", "summary", fifo],
         f"--follow follows one trace file, as csv or jsonl; {USAGE}"),
        (["--json", fifo], f"--json is for --format summary; {USAGE}")):
    code, out, err = run([sim, "timeline", *command])
    if (code, out, err) != (2, "", f"zmod4710-sim: {message}\n"):
        failures.append(f"{command}: exit {code}, {out!r}, {err!r}")

# Standard input that is a terminal is no trace.
leader, terminal = pty.openpty()
done = subprocess.run([sim, "timeline", "-"], stdin=terminal, capture_output=True, text=True,
                      env=environment, timeout=10)
if (done.returncode, done.stdout, done.stderr) != (
        2, "", f"zmod4710-sim: standard input is a terminal, not a trace; {USAGE}\n"):
    failures.append(f"- on a terminal: exit {done.returncode}, {done.stdout!r}, {done.stderr!r}")
os.close(leader)
os.close(terminal)

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
