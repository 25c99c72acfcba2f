"""The simulated ZM-4710 module library, from Python, through ctypes.

The module library's calls (init, write_ao, ...) answer as the C functions of
zmod4710.h do, with the same results; the control interface of zmod4710_sim.h
arranges the backplane, reads back what the module holds, and gives the calls
this process made (zmod4710_sim(3)). No compiler is needed: the library is the
kit's own, found beside this file (the kit's lib folder, or on Windows its bin
folder; in a build tree, the build's), else where ZMOD4710_LIBRARY names it,
else by the system's loader.

    import zmod4710_sim as sim
    sim.use_memory()
    sim.init(0)
    sim.write_ao(0, 1, 4, 12.0)
    assert sim.output(0, 1) == (4, 12.0)

Where it differs from C, once:
- What C gives back through pointers is returned: read_ao_gain_offset() gives
  (result, gain, offset), output() gives (range, value).
- The control functions raise SimulatorError where C returns a result other
  than ZMOD4710_SIM_OK; the module's calls return their results, as in C.
- refuse() takes slot, channel, result, times and after by keyword, with C's
  defaults; find_call() takes the call's name first and start last.
- An integer that the C type of its argument cannot hold, and a text or path
  with a NUL byte in it, raise ValueError (a value that is no integer,
  TypeError) before C is called: nothing is wrapped round or cut short.
- An exception raised in the on_call() function, or a result that is no
  integer, is raised again from the module call during which it happened; the
  C call meanwhile went on as if the function had let it (answered 0).
"""

import ctypes
import ctypes.util
import glob
import os
import sys
import threading
from dataclasses import dataclass

# The results, as zmod4710_sim.h names them.
OK = 0
BAD_ARGUMENT = -1
NO_MODULE = -2
STATE_PROBLEM = -3
REFUSED_ON_REQUEST = -4

ANY = -1  # any slot or channel, in a refusal or a search
ALWAYS = 0  # times: every matching call until the refusals are cleared
HISTORY_SIZE = 65536
LIB_VERSION = 0x0100
LIB_DATE = "2026-12-08"
LIB_DATE_SIZE = 20

# What each C type of the interface holds.
_INT = (-2**31, 2**31 - 1, "int")
_SHORT = (-2**15, 2**15 - 1, "short")
_USHORT = (0, 2**16 - 1, "unsigned short")


def _integer(name, value, kind=_INT):
    """value, when the C type kind holds it; else TypeError or ValueError."""
    low, high, type_name = kind
    if not isinstance(value, int) or isinstance(value, bool):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    if not low <= value <= high:
        raise ValueError(f"{name} {value} is not a C {type_name} ({low} to {high})")
    return value


def _number(name, value):
    """value as a float, for a C float."""
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    return float(value)


def _bytes(name, value):
    """A text or path as C takes it: bytes without a NUL, which would end it early."""
    encoded = os.fsencode(value)
    if b"\0" in encoded:
        raise ValueError(f"{name} holds a NUL byte: {value!r}")
    return encoded


class SimulatorError(Exception):
    """A control function refused: result says why (BAD_ARGUMENT, NO_MODULE, STATE_PROBLEM)."""

    def __init__(self, function, result):
        super().__init__(f"{function} returned {result}")
        self.result = result


@dataclass(frozen=True)
class ModuleCall:
    """One call of the module library that this process made."""

    name: str  # "WriteAO": the call's name without zmod4710_
    slot: int  # -1 for a call made on no slot
    channel: int  # -1 for a call made on no channel
    range: int  # -1 where the call takes none
    mode: int  # SetPowerOnEnStatus's mode, else 0
    value: float  # WriteAO's and WritePowerOn_AO's value, else 0
    result: int  # what it returned (0, not known yet, in a callback)
    refused_on_request: bool
    answered_by_callback: bool
    time: float  # seconds from the library's time zero (time_zero()), when it was answered


class _Call(ctypes.Structure):
    _fields_ = [
        ("name", ctypes.c_char_p),
        ("slot", ctypes.c_int),
        ("channel", ctypes.c_int),
        ("range", ctypes.c_short),
        ("mode", ctypes.c_short),
        ("value", ctypes.c_float),
        ("result", ctypes.c_int),
        ("refused_on_request", ctypes.c_int),
        ("answered_by_callback", ctypes.c_int),
        ("time", ctypes.c_double),
    ]

    def made(self):
        return ModuleCall(self.name.decode(), self.slot, self.channel, self.range, self.mode,
                          self.value, self.result, bool(self.refused_on_request),
                          bool(self.answered_by_callback), self.time)


_CALLBACK = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(_Call), ctypes.c_void_p)


def _library_paths():
    """Where the library may be, in the order tried."""
    named = os.environ.get("ZMOD4710_LIBRARY")
    if named:
        return [named]
    here = os.path.dirname(os.path.abspath(__file__))
    if sys.platform == "win32":
        # The ZIP, and a build tree: python\ beside bin\.
        return [os.path.join(here, "..", "bin", "zmod4710.dll"), "zmod4710.dll"]
    # Installed in PREFIX/lib/python3/dist-packages, the library in PREFIX/lib or
    # in a folder of the machine's within it (Debian's /usr/lib/x86_64-linux-gnu);
    # in a build tree, python/ beside lib/.
    beside = []
    for lib in (os.path.join(here, "..", ".."), os.path.join(here, "..", "lib")):
        lib = os.path.normpath(lib)
        beside += [os.path.join(lib, "libzmod4710.so")]
        beside += sorted(glob.glob(os.path.join(lib, "*", "libzmod4710.so")))
    return beside + [ctypes.util.find_library("zmod4710") or "libzmod4710.so"]


def _load():
    tried = []
    for path in _library_paths():
        try:
            return ctypes.CDLL(path)
        except OSError as error:
            tried.append(f"{path}: {error}")
    raise ImportError("the simulated module library was not found (set ZMOD4710_LIBRARY): " +
                      "; ".join(tried))


library = _load()

_SIGNATURES = {
    "zmod4710_Init": [ctypes.c_int],
    "zmod4710_WriteAO": [ctypes.c_int, ctypes.c_int, ctypes.c_short, ctypes.c_float],
    "zmod4710_SetPowerOnEnStatus": [ctypes.c_int, ctypes.c_short],
    "zmod4710_WritePowerOn_AO": [ctypes.c_int, ctypes.c_int, ctypes.c_short, ctypes.c_float],
    "zmod4710_ReadAO_GainOffset": [ctypes.c_int, ctypes.c_int, ctypes.c_short,
                                   ctypes.POINTER(ctypes.c_ushort),
                                   ctypes.POINTER(ctypes.c_short)],
    "zmod4710_GetFirmwareVersion": [ctypes.c_int, ctypes.POINTER(ctypes.c_short)],
    "zmod4710_GetLibDate": [ctypes.c_char_p],
    "zmod4710_GetLibVersion": [],
    "zmod4710_sim_use_memory": [],
    "zmod4710_sim_use_state": [ctypes.c_char_p],
    "zmod4710_sim_reset": [],
    "zmod4710_sim_insert": [ctypes.c_int, ctypes.c_char_p, ctypes.c_short],
    "zmod4710_sim_remove": [ctypes.c_int],
    "zmod4710_sim_power_cycle": [],
    "zmod4710_sim_calibrate": [ctypes.c_int, ctypes.c_int, ctypes.c_short, ctypes.c_ushort,
                               ctypes.c_short],
    "zmod4710_sim_drift": [ctypes.c_int, ctypes.c_int, ctypes.c_float, ctypes.c_float],
    "zmod4710_sim_meter": [ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.c_double)],
    "zmod4710_sim_refuse": [ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                            ctypes.c_int],
    "zmod4710_sim_refuse_after": [ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                  ctypes.c_int, ctypes.c_int],
    "zmod4710_sim_clear_refusals": [],
    "zmod4710_sim_output": [ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.c_short),
                            ctypes.POINTER(ctypes.c_float)],
    "zmod4710_sim_power_on_value": [ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.c_short),
                                    ctypes.POINTER(ctypes.c_float)],
    "zmod4710_sim_power_on_mode": [ctypes.c_int, ctypes.POINTER(ctypes.c_short)],
    "zmod4710_sim_on_call": [_CALLBACK, ctypes.c_void_p],
    "zmod4710_sim_call_count": [],
    "zmod4710_sim_call_at": [ctypes.c_int, ctypes.POINTER(_Call)],
    "zmod4710_sim_call_text": [ctypes.c_int, ctypes.c_char_p, ctypes.c_int],
    "zmod4710_sim_find_call": [ctypes.c_int, ctypes.c_char_p, ctypes.c_int, ctypes.c_int],
    "zmod4710_sim_calls_text": [ctypes.c_char_p, ctypes.c_int],
    "zmod4710_sim_clear_calls": [],
    "zmod4710_sim_calls_dropped": [],
}

for _name, _arguments in _SIGNATURES.items():
    _function = getattr(library, _name)
    _function.argtypes = _arguments
    _function.restype = ctypes.c_int
library.zmod4710_sim_calls_dropped.restype = ctypes.c_ulong
library.zmod4710_sim_time_zero.argtypes = []
library.zmod4710_sim_time_zero.restype = ctypes.c_double


# The module library's calls, answering as in C. A failure raised in the
# on_call() function during the call is raised again when it returns.

_pending = threading.local()


def _answered(result):
    """result, or the failure the callback raised while the call was made."""
    failure = getattr(_pending, "failure", None)
    if failure is not None:
        _pending.failure = None
        raise failure
    return result


def init(slot):
    """zmod4710_Init: the module in slot made ready. Returns the result."""
    return _answered(library.zmod4710_Init(_integer("slot", slot)))


def write_ao(slot, channel, range_code, value):
    """zmod4710_WriteAO: the channel outputs value in range_code. Returns the result."""
    return _answered(library.zmod4710_WriteAO(_integer("slot", slot),
                                              _integer("channel", channel),
                                              _integer("range_code", range_code, _SHORT),
                                              _number("value", value)))


def set_power_on_en_status(slot, mode):
    """zmod4710_SetPowerOnEnStatus: 1, the power-on values at power-up; 2, retentive.
    Returns the result."""
    return _answered(library.zmod4710_SetPowerOnEnStatus(_integer("slot", slot),
                                                         _integer("mode", mode, _SHORT)))


def write_power_on_ao(slot, channel, range_code, value):
    """zmod4710_WritePowerOn_AO: the value the channel takes at power-up in mode 1.
    Returns the result."""
    return _answered(library.zmod4710_WritePowerOn_AO(_integer("slot", slot),
                                                      _integer("channel", channel),
                                                      _integer("range_code", range_code, _SHORT),
                                                      _number("value", value)))


def read_ao_gain_offset(slot, channel, range_code):
    """zmod4710_ReadAO_GainOffset: (result, gain, offset) of the channel in range_code."""
    gain, offset = ctypes.c_ushort(), ctypes.c_short()
    result = library.zmod4710_ReadAO_GainOffset(_integer("slot", slot),
                                                _integer("channel", channel),
                                                _integer("range_code", range_code, _SHORT),
                                                ctypes.byref(gain), ctypes.byref(offset))
    return _answered(result), gain.value, offset.value


def get_firmware_version(slot):
    """zmod4710_GetFirmwareVersion: (result, version)."""
    version = ctypes.c_short()
    result = library.zmod4710_GetFirmwareVersion(_integer("slot", slot), ctypes.byref(version))
    return _answered(result), version.value


def get_lib_date():
    """zmod4710_GetLibDate: (result, date)."""
    date = ctypes.create_string_buffer(LIB_DATE_SIZE)
    result = library.zmod4710_GetLibDate(date)
    return _answered(result), date.value.decode()


def get_lib_version():
    """zmod4710_GetLibVersion: the library's version, 0x0100 for 1.00."""
    return _answered(library.zmod4710_GetLibVersion())


# The control interface: each raises SimulatorError when it refuses.

def _done(function, result):
    if result != OK:
        raise SimulatorError(function, result)


def use_memory():
    """From now on, a factory backplane in this process's memory. Raises
    SimulatorError when it refuses."""
    _done("use_memory", library.zmod4710_sim_use_memory())


def use_state(path=None):
    """From now on, the state file at path (a str, bytes or os.PathLike); with None,
    as ZMOD4710_SIM_STATE says. Raises ValueError for a path with a NUL byte."""
    _done("use_state", library.zmod4710_sim_use_state(None if path is None else
                                                      _bytes("path", path)))


def reset():
    """The factory backplane: one ZM-4710 in slot 0, every other slot empty."""
    _done("reset", library.zmod4710_sim_reset())


def insert(slot, module="ZM-4710", firmware=3):
    """A factory-fresh module ("ZM-4710", "ZM-4704" or "other") with its firmware
    in place of whatever the slot holds."""
    _done("insert", library.zmod4710_sim_insert(_integer("slot", slot), _bytes("module", module),
                                                _integer("firmware", firmware, _SHORT)))


def remove(slot):
    """The slot emptied."""
    _done("remove", library.zmod4710_sim_remove(_integer("slot", slot)))


def power_cycle():
    """The backplane powered off and on: each module's power-on mode applied."""
    _done("power_cycle", library.zmod4710_sim_power_cycle())


def calibrate(slot, channel, range_code, gain, offset):
    """The channel's calibration in range_code: gain (0 to 65535) and offset (a short)."""
    _done("calibrate", library.zmod4710_sim_calibrate(
        _integer("slot", slot), _integer("channel", channel),
        _integer("range_code", range_code, _SHORT), _integer("gain", gain, _USHORT),
        _integer("offset", offset, _SHORT)))


def drift(slot, channel, gain_percent, offset):
    """The channel's own error, which only a meter sees: from now on it reads the
    output times (1 + gain_percent / 100), plus offset (each -100 to 100)."""
    _done("drift", library.zmod4710_sim_drift(
        _integer("slot", slot), _integer("channel", channel),
        _number("gain_percent", gain_percent), _number("offset", offset)))


def meter(slot, channel):
    """What a 4 1/2-digit meter on the channel's terminals reads, in the unit of
    its range: its output with its drift, to the meter's resolution."""
    reading = ctypes.c_double()
    _done("meter", library.zmod4710_sim_meter(_integer("slot", slot),
                                              _integer("channel", channel),
                                              ctypes.byref(reading)))
    return reading.value


def refuse(call, *, slot=ANY, channel=ANY, result=REFUSED_ON_REQUEST, times=1, after=0):
    """Once after matching calls have gone through, the next times matching calls
    (ALWAYS: every one) return result. call is a call's name ("WriteAO") or "any";
    slot and channel narrow it (ANY: any)."""
    _done("refuse", library.zmod4710_sim_refuse_after(
        _bytes("call", call), _integer("slot", slot), _integer("channel", channel),
        _integer("result", result), _integer("after", after), _integer("times", times)))


def clear_refusals():
    """Every refusal pending cleared."""
    _done("clear_refusals", library.zmod4710_sim_clear_refusals())


def _read_channel(function, name, slot, channel):
    range_code, value = ctypes.c_short(), ctypes.c_float()
    _done(name, function(_integer("slot", slot), _integer("channel", channel),
                         ctypes.byref(range_code), ctypes.byref(value)))
    return range_code.value, value.value


def output(slot, channel):
    """(range, value) that the channel outputs."""
    return _read_channel(library.zmod4710_sim_output, "output", slot, channel)


def power_on_value(slot, channel):
    """(range, value) that the channel takes at power-up in mode 1."""
    return _read_channel(library.zmod4710_sim_power_on_value, "power_on_value", slot, channel)


def power_on_mode(slot):
    """The module's power-on mode: 1, the power-on values; 2, retentive."""
    mode = ctypes.c_short()
    _done("power_on_mode", library.zmod4710_sim_power_on_mode(_integer("slot", slot),
                                                              ctypes.byref(mode)))
    return mode.value


# The calls this process made.

def calls():
    """Every call kept, oldest first, as ModuleCall objects."""
    kept = []
    call = _Call()
    for index in range(library.zmod4710_sim_call_count()):
        if library.zmod4710_sim_call_at(index, ctypes.byref(call)) == OK:
            kept.append(call.made())
    return kept


def find_call(call="any", slot=ANY, channel=ANY, start=0):
    """The index in calls() of the first call at or after start that matches, or
    None. (C takes start first.)"""
    index = library.zmod4710_sim_find_call(_integer("start", start), _bytes("call", call),
                                           _integer("slot", slot), _integer("channel", channel))
    return None if index < 0 else index


def calls_text():
    """Every call kept, a line each, as the trace tells it."""
    size = 4096
    while True:
        text = ctypes.create_string_buffer(size)
        written = library.zmod4710_sim_calls_text(text, size)
        if written >= library.zmod4710_sim_call_count() or written < 0:
            return text.value.decode()
        size *= 4


def clear_calls():
    """The calls kept forgotten."""
    _done("clear_calls", library.zmod4710_sim_clear_calls())


def calls_dropped():
    """How many calls were dropped, the oldest first, when more than HISTORY_SIZE were kept."""
    return library.zmod4710_sim_calls_dropped()


def time_zero():
    """The UTC of the library's time zero, in seconds since 1970-01-01: a call's
    line in the trace tells time_zero() + its time."""
    return library.zmod4710_sim_time_zero()


# The callback given last, kept while the library may call it: once on_call
# returns, no thread runs the one it replaced.
_callback_kept = None


def _result_of(answer):
    """What the function's answer makes the C call answer; TypeError or
    ValueError for one that is no result."""
    if answer is None:
        return OK
    return _integer("the on_call function's answer", answer)


def on_call(function):
    """Calls function(ModuleCall) before each module call is answered; it returns
    0 or None to let the call go on, or the result (an int) to answer with
    instead. None removes it. Whatever it raises (an assertion, SystemExit,
    KeyboardInterrupt), and an answer that is no result, is raised again from
    the module call during which it happened; that call goes on meanwhile, as if
    the function had let it. The function replaced is let go once no call can
    run it."""
    def called(call, _context):
        try:
            return _result_of(function(call.contents.made()))
        except BaseException as failure:  # noqa: B036 -- the C caller cannot take it
            if getattr(_pending, "failure", None) is None:
                _pending.failure = failure
            return OK

    global _callback_kept
    callback = _CALLBACK() if function is None else _CALLBACK(called)
    _done("on_call", library.zmod4710_sim_on_call(callback, None))
    _callback_kept = callback
