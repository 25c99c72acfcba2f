"""A small program of one's own in Python: finds the first analog-output module
and ramps one of its channels, in 4 ~ 20 mA, through the module library's
calls. It takes any result but 0 as a refusal, as a program for the controller
does."""

import zmod4710_sim as module

CURRENT_RANGE = 4  # 4 ~ 20 mA


class Refused(Exception):
    pass


def first_module():
    """The first slot whose Init answers."""
    for slot in range(8):
        if module.init(slot) == module.OK:
            return slot
    raise Refused("no analog-output module on the backplane")


def ramp(channel, milliamps):
    """Drives channel through each value of milliamps in turn; returns the slot."""
    slot = first_module()
    for value in milliamps:
        result = module.write_ao(slot, channel, CURRENT_RANGE, value)
        if result != module.OK:
            raise Refused(f"zmod4710_WriteAO refused with result {result} at {value} mA")
    return slot
