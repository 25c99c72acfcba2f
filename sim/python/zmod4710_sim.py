"""The simulated ZM-4710 module library, from Python, through ctypes.

The module library's calls (init, write_ao, ...) answer as the C functions of
zmod4710.h do, with the same results; the control interface of zmod4710_sim.h
arranges the backplane, reads back what the module holds, and gives the calls
this process made (zmod4710_sim(3)). No compiler is needed: the library is the
kit's own, found beside this file (the kit's lib folder, or on Windows its bin
folder), else where ZMOD4710_LIBRARY names it, else by the system's loader.

    import zmod4710_sim as sim
    sim.use_memory()
    sim.init(0)
    sim.write_ao(0, 1, 4, 12.0)
    assert sim.output(0, 1) == (4, 12.0)
"""

import ctypes
import ctypes.util
import glob
import os
import sys
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
        # The ZIP: python\ beside bin\.
        return [os.path.join(here, "..", "bin", "zmod4710.dll"), "zmod4710.dll"]
    # Installed in PREFIX/lib/python3/dist-packages, the library in PREFIX/lib or
    # in a folder of the machine's within it (Debian's /usr/lib/x86_64-linux-gnu).
    lib = os.path.normpath(os.path.join(here, "..", ".."))
    beside = [os.path.join(lib, "libzmod4710.so")]
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


# The module library's calls, answering as in C.

def init(slot):
    return library.zmod4710_Init(slot)


def write_ao(slot, channel, range_code, value):
    return library.zmod4710_WriteAO(slot, channel, range_code, value)


def set_power_on_en_status(slot, mode):
    return library.zmod4710_SetPowerOnEnStatus(slot, mode)


def write_power_on_ao(slot, channel, range_code, value):
    return library.zmod4710_WritePowerOn_AO(slot, channel, range_code, value)


def read_ao_gain_offset(slot, channel, range_code):
    """(result, gain, offset)."""
    gain, offset = ctypes.c_ushort(), ctypes.c_short()
    result = library.zmod4710_ReadAO_GainOffset(slot, channel, range_code, ctypes.byref(gain),
                                                ctypes.byref(offset))
    return result, gain.value, offset.value


def get_firmware_version(slot):
    """(result, version)."""
    version = ctypes.c_short()
    return library.zmod4710_GetFirmwareVersion(slot, ctypes.byref(version)), version.value


def get_lib_date():
    """(result, date)."""
    date = ctypes.create_string_buffer(LIB_DATE_SIZE)
    return library.zmod4710_GetLibDate(date), date.value.decode()


def get_lib_version():
    return library.zmod4710_GetLibVersion()


# The control interface: each raises SimulatorError when it refuses.

def _done(function, result):
    if result != OK:
        raise SimulatorError(function, result)


def _text(value):
    return None if value is None else os.fsencode(value)


def use_memory():
    """From now on, a factory backplane in this process's memory."""
    _done("use_memory", library.zmod4710_sim_use_memory())


def use_state(path=None):
    """From now on, the state file at path; with None, as ZMOD4710_SIM_STATE says."""
    _done("use_state", library.zmod4710_sim_use_state(_text(path)))


def reset():
    _done("reset", library.zmod4710_sim_reset())


def insert(slot, module="ZM-4710", firmware=3):
    """A factory-fresh module in place of whatever the slot holds."""
    _done("insert", library.zmod4710_sim_insert(slot, module.encode(), firmware))


def remove(slot):
    _done("remove", library.zmod4710_sim_remove(slot))


def power_cycle():
    _done("power_cycle", library.zmod4710_sim_power_cycle())


def calibrate(slot, channel, range_code, gain, offset):
    _done("calibrate", library.zmod4710_sim_calibrate(slot, channel, range_code, gain, offset))


def refuse(call, slot=ANY, channel=ANY, result=REFUSED_ON_REQUEST, times=1, after=0):
    """Once after calls have gone through, the next times matching calls return result."""
    _done("refuse", library.zmod4710_sim_refuse_after(call.encode(), slot, channel, result,
                                                      after, times))


def clear_refusals():
    _done("clear_refusals", library.zmod4710_sim_clear_refusals())


def _read_channel(function, name, slot, channel):
    range_code, value = ctypes.c_short(), ctypes.c_float()
    _done(name, function(slot, channel, ctypes.byref(range_code), ctypes.byref(value)))
    return range_code.value, value.value


def output(slot, channel):
    """(range, value) that the channel outputs."""
    return _read_channel(library.zmod4710_sim_output, "output", slot, channel)


def power_on_value(slot, channel):
    """(range, value) that the channel takes at power-up in mode 1."""
    return _read_channel(library.zmod4710_sim_power_on_value, "power_on_value", slot, channel)


def power_on_mode(slot):
    mode = ctypes.c_short()
    _done("power_on_mode", library.zmod4710_sim_power_on_mode(slot, ctypes.byref(mode)))
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
    """The index of the first call at or after start that matches, or None."""
    index = library.zmod4710_sim_find_call(start, call.encode(), slot, channel)
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
    _done("clear_calls", library.zmod4710_sim_clear_calls())


def calls_dropped():
    return library.zmod4710_sim_calls_dropped()


def time_zero():
    """The UTC of the library's time zero, in seconds since 1970-01-01: a call's
    line in the trace tells time_zero() + its time."""
    return library.zmod4710_sim_time_zero()


# The callback given last, kept while the library may call it: once on_call
# returns, no thread runs the one it replaced.
_callback_kept = None


def on_call(function):
    """Calls function(ModuleCall) before each module call is answered; it returns
    0 or None to let the call go on, or the result to answer with instead. An
    exception in it is printed, and the call goes on. None removes it."""
    def called(call, _context):
        try:
            return function(call.contents.made()) or OK
        except Exception:  # the C caller cannot take it
            sys.excepthook(*sys.exc_info())
            return OK

    global _callback_kept
    callback = _CALLBACK() if function is None else _CALLBACK(called)
    _done("on_call", library.zmod4710_sim_on_call(callback, None))
    _callback_kept = callback
