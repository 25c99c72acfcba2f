"""drive_channel.py's tests with pytest, on the simulated module in memory:
each starts from the factory backplane, arranges it, runs the function and
reads back what the module holds and which calls were made."""

import time

import pytest
import zmod4710_sim as sim

from drive_channel import Refused, ramp


@pytest.fixture(autouse=True)
def factory_backplane():
    sim.use_memory()
    sim.reset()
    yield
    sim.on_call(None)


def test_ramps_the_channel_of_the_first_module():
    sim.remove(0)
    sim.insert(3, "ZM-4704")
    assert ramp(2, [4.0, 8.0, 12.0]) == 3
    assert sim.output(3, 2) == (4, 12.0)
    writes = [call for call in sim.calls() if call.name == "WriteAO"]
    assert [call.value for call in writes] == [4.0, 8.0, 12.0]
    # Each call's time, in seconds from the library's time zero, never goes
    # back; its UTC is the zero's plus it.
    assert 0 < writes[0].time <= writes[1].time <= writes[2].time
    assert sim.time_zero() + writes[2].time <= time.time() + 1
    assert sim.find_call("Init", slot=3) == 3  # slots 0 to 2 did not answer first


def test_tells_the_third_write_refused_and_stops_there():
    sim.refuse("WriteAO", result=7, after=2)
    with pytest.raises(Refused, match="result 7 at 12.0 mA"):
        ramp(0, [4.0, 8.0, 12.0, 16.0])
    assert sim.output(0, 0) == (4, 8.0)
    assert sim.calls()[-1].refused_on_request
    assert sim.calls_text().splitlines()[-1] == \
        "zmod4710_WriteAO(0, 0, 4, 12) = 7 (refused on request)"


def test_tells_a_module_pulled_out_in_the_middle():
    def pull_out_at_the_second_write(call):
        if call.name == "WriteAO" and call.value == 8.0:
            sim.remove(0)

    sim.on_call(pull_out_at_the_second_write)
    with pytest.raises(Refused, match=f"result {sim.NO_MODULE} at 8.0 mA"):
        ramp(0, [4.0, 8.0, 12.0])
    with pytest.raises(sim.SimulatorError):
        sim.output(0, 0)


def test_a_callback_answers_instead_of_the_module():
    sim.on_call(lambda call: 5 if call.name == "WriteAO" else 0)
    with pytest.raises(Refused, match="result 5"):
        ramp(1, [10.0])
    assert sim.output(0, 1) == (0, 0.0)
    assert sim.calls()[-1].answered_by_callback
    assert sim.get_lib_version() == sim.LIB_VERSION
