"""zmod4710-sim timeline, its cases in all three formats.

Each case's traces are converted to CSV, VCD and JSON Lines, and each format is
read back into the same rows: the rows must be the case's, the messages and the
exit status too. Every JSON line must validate against the schema, and every
VCD must go through GTKWave's vcd2fst and back with fst2vcd. Run with Debian's
python3, python3-jsonschema and gtkwave:

    check_timeline.py SCHEMA ZMOD4710_SIM AO_POWER_ON
"""
import csv
import io
import json
import os
import subprocess
import sys

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
    with open(path, "w", encoding="utf-8") as file:
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
# the programs' own), slot, channel, output, unit, range, power-on value, its
# unit, its range and the mode, "" where unknown; and the cause, which no VCD has.
def row(seconds, slot, channel, output, unit, range_, power_on, power_on_unit, power_on_range,
        mode, cause):
    return (seconds, slot, channel, output, unit, range_, power_on, power_on_unit,
            power_on_range, mode, cause)


def number(text):
    return "" if text in ("", None) or str(text).lower() == "nan" else format(float(text), "g")


def from_csv(text, timed):
    rows = list(csv.reader(io.StringIO(text)))
    if rows[:1] != [["time", "seconds", "slot", "channel", "output", "unit", "range",
                     "power_on_value", "power_on_unit", "power_on_range", "power_on_mode",
                     "process", "cause"]]:
        failures.append(f"CSV header: {rows[:1]}")
    return [row(r[1] if timed else None, int(r[2]), int(r[3]), number(r[4]), r[5], r[6],
                number(r[7]), r[8], r[9], r[10], r[12]) for r in rows[1:]]


def from_jsonl(text, timed):
    rows = []
    for line in text.splitlines():
        document = json.loads(line)
        for error in validator.iter_errors(document):
            failures.append(f"JSON line {line}: {error.message}")
        shown = {key: "" if value is None else str(value) for key, value in document.items()}
        rows.append(row(f"{document['seconds']:.6f}" if timed else None, document["slot"],
                        document["channel"], number(document["output"]), shown["unit"],
                        shown["range"], number(document["power_on_value"]),
                        shown["power_on_unit"], shown["power_on_range"],
                        shown["power_on_mode"], document["cause"]))
    return rows


def from_vcd(text, timed):
    """The rows a VCD gives: the variables written at one time for one channel,
    in the order written, each with the slot's mode written after it."""
    names, rows, at, pending, unmoded = {}, [], 0, {}, []
    declarations, _, changes = text.partition("$enddefinitions $end\n")
    scope = None
    for words in (line.split() for line in declarations.splitlines()):
        if words[:2] == ["$scope", "module"]:
            scope = int(words[2].removeprefix("slot"))
        elif words[:1] == ["$var"]:
            names[words[3]] = (scope, words[4])

    def flush():
        for (slot, channel), values in pending.items():
            get = lambda name: values.get(name, "")
            rows.append(row(f"{at / 1e6:.6f}" if timed else None, slot, channel,
                            number(get("output")), get("unit").replace("unknown", ""),
                            get("range"), number(get("power_on_value")),
                            get("power_on_unit").replace("unknown", ""), get("power_on_range"),
                            get("mode"), None))
        pending.clear()

    for line in changes.splitlines():
        if line.startswith("$"):
            continue
        if line.startswith("#"):
            flush()
            at = int(line[1:])
            continue
        value, identifier = line.split(" ")
        slot, name = names[identifier]
        kind, value = value[0], value[1:]
        if kind == "b":
            value = "" if "x" in value else str(int(value, 2))
        if name == "power_on_mode":
            for key in [key for key in unmoded if key[0] == slot]:
                pending[key]["mode"] = number(value)
                unmoded.remove(key)
            continue
        channel, _, field = name.removeprefix("channel").partition("_")
        key = (slot, int(channel))
        pending.setdefault(key, {})[field] = value
        if key not in unmoded:
            unmoded.append(key)
    flush()
    return rows


def signals(vcd):
    """Each variable's values over time, by its scope and name, each a change."""
    names, at, values = {}, 0, {}
    declarations, _, changes = vcd.partition("$enddefinitions $end\n")
    scope = None
    for words in (line.split() for line in declarations.splitlines()):
        if words[:2] == ["$scope", "module"]:
            scope = words[2]
        elif words[:1] == ["$var"]:
            names[words[3]] = (scope, words[4])
    for line in changes.splitlines():
        if line.startswith("#"):
            at = int(line[1:])
        elif not line.startswith("$"):
            value, identifier = line.split(" ")
            value = "rnan" if value.lower() == "rnan" else value
            seen = values.setdefault(names[identifier], [])
            if not seen or seen[-1][1] != value:
                seen.append((at, value))
    return values


def vcd_goes_through_gtkwave(case, vcd):
    """GTKWave's converter takes the VCD without a word, and gives it back whole."""
    vcd_path, fst_path = os.path.join(folder, "t.vcd"), os.path.join(folder, "t.fst")
    with open(vcd_path, "w", encoding="utf-8") as file:
        file.write(vcd)
    done = subprocess.run(["vcd2fst", vcd_path, fst_path], capture_output=True, text=True)
    back = subprocess.run(["fst2vcd", "-f", fst_path], capture_output=True, text=True)
    if done.returncode or done.stdout or done.stderr or back.returncode:
        failures.append(f"{case}, vcd2fst: {done.returncode} {done.stdout}{done.stderr}")
    elif signals(back.stdout) != signals(vcd):
        failures.append(f"{case}: GTKWave reads another timeline:\n{back.stdout}")


def check(case, traces, expected, errors="", status=0, timed=True):
    # The timeline reads traces alone: a state in memory, or none that can be
    # named, stops it not.
    for (format_, read), state in zip((("csv", from_csv), ("jsonl", from_jsonl),
                                       ("vcd", from_vcd)), (":memory:", "", ":memory:")):
        code, out, err = run([sim, "timeline", "--format", format_, *traces],
                             without=("HOME", "XDG_STATE_HOME"), ZMOD4710_SIM_STATE=state)
        if (code, err) != (status, errors.format(*traces)):
            failures.append(f"{case}, {format_}: exit {code}, {err!r}")
        got = read(out, timed)
        wanted = [r[:-1] + (None,) for r in expected] if format_ == "vcd" else expected
        if got != wanted:
            failures.append(f"{case}, {format_}:\n  got    {got}\n  wanted {wanted}")
        if format_ == "vcd":
            vcd_goes_through_gtkwave(case, out)


# ao_power_on: 12 mA on channel 1, 4 mA at power-on, mode 1.
tool = (power_on, "4\n12\n1\n1\n4\n")
check("a tool's run", [traced("tool.txt", tool)], [
    row(None, 0, 1, "12", "mA", "4", "", "", "", "1", "zmod4710_WriteAO"),
    row(None, 0, 1, "12", "mA", "4", "4", "mA", "4", "1", "zmod4710_WritePowerOn_AO"),
], timed=False)

run([sim, "reset"])
power_cycled = [row(None, 0, 1, "12", "mA", "4", "", "", "", "1", "zmod4710_WriteAO"),
                row(None, 0, 1, "12", "mA", "4", "4", "mA", "4", "1", "zmod4710_WritePowerOn_AO")]
for channel in range(8):
    power_cycled.append(row(None, 0, channel, "4" if channel == 1 else "0",
                            "mA" if channel == 1 else "V", "4" if channel == 1 else "0",
                            "4" if channel == 1 else "0", "mA" if channel == 1 else "V",
                            "4" if channel == 1 else "0", "1", "power cycle"))
check("a power cycle", [traced("cycled.txt", tool, ([sim, "power-cycle"], ""))],
      power_cycled, timed=False)

check("an unknown start", [written("unknown.txt", [
    f"{t(0)} 7 zmod4710_WritePowerOn_AO(2, 3, 5, 25) = 0",
    f"{t(250000)} 7 zmod4710_SetPowerOnEnStatus(2, 2) = 0",
    f"{t(500000)} 7 zmod4710_WriteAO(2, 3, 0, 1.5) = -4 (refused on request)",
    f"{t(750000)} 7 zmod4710_WriteAO(2, 3, 3, -12) = 0",
])], [
    row("0.000000", 2, 3, "", "", "", "20", "mA", "5", "", "zmod4710_WritePowerOn_AO"),
    row("0.250000", 2, 3, "", "", "", "20", "mA", "5", "2", "zmod4710_SetPowerOnEnStatus"),
    row("0.750000", 2, 3, "-10", "V", "3", "20", "mA", "5", "2", "zmod4710_WriteAO"),
])

check("two programs merged", [
    written("first.txt", [f"{t(100)} 21 zmod4710_WriteAO(0, 0, 1, 1) = 0",
                          f"{t(300)} 21 zmod4710_WriteAO(0, 0, 1, 3) = 0"]),
    written("second.txt", [f"{t(200)} 22 zmod4710_WriteAO(0, 0, 1, 2) = 0",
                           f"{t(400)} 22 ! remove 0", f"{t(400)} 22 ! slot 0 empty"]),
], [
    row("0.000000", 0, 0, "1", "V", "1", "", "", "", "", "zmod4710_WriteAO"),
    row("0.000100", 0, 0, "2", "V", "1", "", "", "", "", "zmod4710_WriteAO"),
    row("0.000200", 0, 0, "3", "V", "1", "", "", "", "", "zmod4710_WriteAO"),
    row("0.000300", 0, 0, "", "", "", "", "", "", "", "remove 0"),
])

# A ZM-4704 in the place of a ZM-4710: channels 4 to 7 are no more.
check("a module replaced", [written("replaced.txt", [
    f"{t(0)} 8 zmod4710_WriteAO(4, 6, 1, 7) = 0",
    f"{t(10)} 9 ! insert 4 ZM-4704 firmware 3", f"{t(10)} 9 ! slot 4 ZM-4704 mode 1",
    f"{t(10)} 9 ! slot 4 channel 0 output 0 range 0 power-on 0 range 0",
])], [
    row("0.000000", 4, 6, "7", "V", "1", "", "", "", "", "zmod4710_WriteAO"),
    row("0.000010", 4, 6, "", "", "", "", "", "", "", "insert 4 ZM-4704 firmware 3"),
    row("0.000010", 4, 0, "0", "V", "0", "0", "V", "0", "1", "insert 4 ZM-4704 firmware 3"),
])

check("a bad line", [written("bad.txt", [
    f"{t(0)} 5 zmod4710_WriteAO(1, 0, 4, 20) = 0",
    "this is not a trace line",
    "2026-12-09T15:00:00.5Z 5 zmod4710_WriteAO(1, 0, 4, 8) = 0",
    f"{t(900000)} 5 zmod4710_WriteAO(1, 0, 4, 8) = 0",
])], [
    row("0.000000", 1, 0, "20", "mA", "4", "", "", "", "", "zmod4710_WriteAO"),
    row("0.900000", 1, 0, "8", "mA", "4", "", "", "", "", "zmod4710_WriteAO"),
], errors="zmod4710-sim: {0}:2: not a trace line, skipped\n"
          "zmod4710-sim: {0}:3: not a trace line, skipped\n", status=1)

# What is refused: one line, exit 2, nothing written.
fifo = os.path.join(folder, "fifo")
os.mkfifo(fifo)
for command, message in (
        ([sim, "timeline", folder], f"cannot read {folder}: not a regular file"),
        ([sim, "timeline", fifo], f"cannot read {fifo}: not a regular file"),
        ([sim, "timeline", "/dev/null"], "cannot read /dev/null: not a regular file"),
        ([sim, "timeline", "--format", "svg", fifo],
         "--format: unknown format svg; usage: zmod4710-sim timeline [--format csv|vcd|jsonl] "
         "[TRACE...] (see zmod4710-sim --help)"),
        ([sim, "timeline"], "no trace named, and ZMOD4710_SIM_TRACE is not set; usage: "
                            "zmod4710-sim timeline [--format csv|vcd|jsonl] [TRACE...]")):
    code, out, err = run(command)
    if (code, out, err) != (2, "", f"zmod4710-sim: {message}\n"):
        failures.append(f"{command[1:]}: exit {code}, {out!r}, {err!r}")

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
