"""The state file's schema against the program that reads and writes the file.

Every state zmod4710-sim and the tools write must validate, and a state the
reader refuses must not: the schema tells a program no more and no less than
the reader takes. Run with Debian's python3 and python3-jsonschema:

    check_state_schema.py SCHEMA ZMOD4710_SIM AO_POWER_ON
"""
import json
import os
import subprocess
import sys

from schema_checks import folder_of_our_own, validator_of

schema_path, sim, power_on = sys.argv[1:4]
validator = validator_of(schema_path)
schema = validator.schema
failures = []

folder = folder_of_our_own()
state = os.path.join(folder, "backplane.json")
environment = dict(os.environ, ZMOD4710_SIM_STATE=state)


def run(command, typed=""):
    done = subprocess.run(command, input=typed, env=environment, capture_output=True, text=True)
    return done.returncode, done.stderr


def problems(document):
    return [f"{'/'.join(map(str, error.absolute_path))}: {error.message}"
            for error in validator.iter_errors(document)]


# The factory state, then each kind of change in turn on one backplane: what
# zmod4710-sim shows and what the file holds validate after each.
changes = [
    ("the factory state", [sim, "show"]),
    ("a ZM-4704 inserted", [sim, "insert", "3", "--module", "ZM-4704", "--firmware", "32767"]),
    ("a module of another kind", [sim, "insert", "7", "--module", "other"]),
    ("a module removed", [sim, "remove", "7"]),
    ("extreme calibrations", [sim, "calibrate", "3", "3", "5", "--gain", "65535", "--offset", "-32768"]),
    ("a counted refusal", [sim, "refuse", "WriteAO", "--slot", "3", "--channel", "2", "--times", "2"]),
    ("a lasting refusal", [sim, "refuse", "GetLibDate", "--result", "-2147483648", "--always"]),
    ("an Init refusal", [sim, "refuse", "zmod4710_Init", "--slot", "0", "--result", "2147483647"]),
    ("a slot going silent", [sim, "refuse", "any", "--slot", "3", "--after", "2", "--always", "--result", "-2"]),
    ("outputs and power-on values", [power_on], "4\n12\n0\n1\n4\n\n"),
    ("a saturated output, retentive", [power_on], "3\n-99\n7\n2\n\n"),
    ("a drift at its ends", [sim, "drift", "3", "3", "--gain", "-100", "--offset", "100"]),
    ("a power cycle", [sim, "power-cycle"]),
    ("refusals cleared", [sim, "refuse", "--clear"]),
    ("a reset", [sim, "reset"]),
]
for name, command, *typed in changes:
    status, errors = run(command, *typed)
    shown = subprocess.run([sim, "show", "--json"], env=environment, capture_output=True, text=True)
    if status != 0 or shown.returncode != 0:
        failures.append(f"{name}: {' '.join(command)} failed: {errors}{shown.stderr}")
        continue
    documents = [("shown", json.loads(shown.stdout))]
    if os.path.exists(state):
        with open(state, encoding="utf-8") as file:
            documents.append(("in the file", json.load(file)))
    for where, document in documents:
        found = problems(document)
        if found:
            failures.append(f"{name}: the state {where} does not validate: {found}")

# States the reader refuses, each one change away from a valid one.
with open(state, encoding="utf-8") as file:
    valid = json.load(file)


def changed(change):
    document = json.loads(json.dumps(valid))
    change(document)
    return document


channel = lambda document: document["slots"][0]["channels"][0]
refused = [
    ("an unknown field", lambda d: d.update(comment="x")),
    ("an unknown field in a channel", lambda d: channel(d).update(colour="red")),
    ("no slots", lambda d: d.pop("slots")),
    ("slot 8", lambda d: d["slots"][0].update(slot=8)),
    ("a module of no known kind", lambda d: d["slots"][0].update(module="ZM-4711")),
    ("a ZM-4710 with 4 channels", lambda d: d["slots"][0]["channels"].__delitem__(slice(4, 8))),
    ("channels out of order", lambda d: d["slots"][0]["channels"].reverse()),
    ("power-on mode 3", lambda d: d["slots"][0].update(power_on_mode=3)),
    ("range 6", lambda d: channel(d).update(range=6)),
    ("an output beyond its range", lambda d: channel(d).update(output=5.5)),
    ("a power-on value beyond its range",
     lambda d: channel(d).update(power_on_range=4, power_on_value=3.9)),
    ("a gain too large", lambda d: channel(d)["calibration"][0].update(gain=65536)),
    ("a drift beyond 100 %", lambda d: channel(d).update(drift={"gain_percent": 100.5, "offset": 0})),
    ("a drift without its offset", lambda d: channel(d).update(drift={"gain_percent": 1})),
    ("an insertion below 0", lambda d: d["slots"][0].update(insertion=-1)),
    ("insertions beyond 32 bits", lambda d: d.update(insertions=4294967296)),
    ("five calibrations", lambda d: channel(d)["calibration"].pop()),
    ("a result of 0", lambda d: d.update(refusals=[{"call": "WriteAO", "result": 0}])),
    ("times 0", lambda d: d.update(refusals=[{"call": "WriteAO", "result": 7, "times": 0}])),
    ("after -1", lambda d: d.update(refusals=[{"call": "WriteAO", "result": 7, "after": -1}])),
    ("any on a channel", lambda d: d.update(refusals=[{"call": "any", "channel": 0, "result": 7}])),
    ("GetLibVersion refused", lambda d: d.update(refusals=[{"call": "GetLibVersion", "result": 7}])),
    ("a channel on Init", lambda d: d.update(refusals=[{"call": "Init", "channel": 0, "result": 7}])),
    ("a slot on GetLibDate", lambda d: d.update(refusals=[{"call": "GetLibDate", "slot": 0, "result": 7}])),
]
for name, change in refused:
    document = changed(change)
    with open(state, "w", encoding="utf-8") as file:
        json.dump(document, file)
    status, _ = run([sim, "show"])
    if status == 0:
        failures.append(f"{name}: zmod4710-sim reads it, so it is no case of a refused state")
    if not problems(document):
        failures.append(f"{name}: the reader refuses it, yet it validates")


# Every field says what it is.
for name, definition in [("#", schema)] + [(f"#/$defs/{n}", d) for n, d in schema["$defs"].items()]:
    for key, field in definition.get("properties", {}).items():
        if "description" not in field:
            failures.append(f"{name}/properties/{key} has no description")

for failure in failures:
    print(failure, file=sys.stderr)
print(f"{len(changes)} states written validate, {len(refused)} refused do not: "
      f"{'FAILED' if failures else 'ok'}")
sys.exit(1 if failures else 0)
