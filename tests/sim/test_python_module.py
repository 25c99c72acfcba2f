"""The Python module as its users meet it, under Debian's pytest: loaded from
the build tree with no variable set, a callback's failure raised to the test,
and what C cannot take refused before C is called.

    python3 -m pytest test_python_module.py   (with PYTHONPATH naming the build's python/)
"""
import inspect
import os
import re

import pytest
import zmod4710_sim as sim


@pytest.fixture(autouse=True)
def backplane():
    sim.use_memory()
    sim.reset()
    assert sim.init(0) == sim.OK
    sim.clear_calls()
    yield
    sim.on_call(None)


def test_the_library_is_the_build_trees_own():
    assert "ZMOD4710_LIBRARY" not in os.environ
    here = os.path.dirname(os.path.abspath(sim.__file__))
    assert os.path.realpath(sim.library._name).startswith(os.path.dirname(here))


def fails(exception):
    def callback(call):
        if call.name == "WriteAO":
            raise exception
    return callback


def answers(answer):
    return lambda call: answer if call.name == "WriteAO" else None


@pytest.mark.parametrize("callback, raised", [
    (fails(AssertionError("the test's own")), AssertionError),
    (fails(SystemExit(3)), SystemExit),
    (fails(KeyboardInterrupt()), KeyboardInterrupt),
    (answers("refused"), TypeError),
    (answers(2**40), ValueError),
])
def test_a_callbacks_failure_is_raised_from_the_call_and_the_call_goes_on(callback, raised):
    sim.on_call(callback)
    with pytest.raises(raised):
        sim.write_ao(0, 1, 4, 12.0)
    assert sim.output(0, 1) == (4, 12.0)  # answered as if the callback had let it
    assert sim.calls()[-1].result == sim.OK
    assert sim.init(0) == sim.OK  # raised once, not again


@pytest.mark.parametrize("call, raised", [
    (lambda: sim.init(2**32), ValueError),
    (lambda: sim.init(-2**31 - 1), ValueError),
    (lambda: sim.write_ao(0, 1, 65540, 12.0), ValueError),
    (lambda: sim.write_ao(0, 1.0, 4, 12.0), TypeError),
    (lambda: sim.write_ao(0, 1, 4, "12"), TypeError),
    (lambda: sim.set_power_on_en_status(0, 65537), ValueError),
    (lambda: sim.insert(1, firmware=65541), ValueError),
    (lambda: sim.calibrate(0, 0, 0, -1, 0), ValueError),
    (lambda: sim.calibrate(0, 0, 0, 65536, 0), ValueError),
    (lambda: sim.refuse("WriteAO", times=2**31), ValueError),
    (lambda: sim.refuse("Write\0AO"), ValueError),
    (lambda: sim.use_state("a.json\0b"), ValueError),
    (lambda: sim.insert(1, module="ZM-4710\0"), ValueError),
    (lambda: sim.refuse("WriteAO", 0), TypeError),  # slot, channel, ... by keyword only
    (lambda: sim.drift(0, 0, "1", 0), TypeError),
])
def test_what_c_cannot_take_is_refused_before_c_is_called(call, raised, tmp_path):
    os.chdir(tmp_path)
    with pytest.raises(raised):
        call()
    assert sim.calls() == [] and not os.path.exists(tmp_path / "a.json")
    assert sim.power_on_mode(0) == 1 and sim.get_firmware_version(0) == (sim.OK, 3)


def test_refusals_take_their_arguments_by_keyword():
    sim.refuse("WriteAO", slot=0, channel=2, result=7, after=1, times=sim.ALWAYS)
    assert [sim.write_ao(0, 2, 0, 1.0) for _ in range(3)] == [sim.OK, 7, 7]
    assert sim.write_ao(0, 3, 0, 1.0) == sim.OK


def test_a_meter_reads_the_output_with_the_channels_drift():
    assert sim.init(0) == sim.OK and sim.write_ao(0, 1, 4, 20.0) == sim.OK
    assert sim.meter(0, 1) == 20.0
    sim.drift(0, 1, 0.5, -0.01)
    assert sim.meter(0, 1) == pytest.approx(20.09)  # 20.090 shown as 20.09 on its 200 mA range
    sim.power_cycle()  # kept; the channel takes its power-on value, 0 V
    assert sim.meter(0, 1) == pytest.approx(-0.01)
    with pytest.raises(sim.SimulatorError):
        sim.meter(1, 0)  # no module in slot 1
    with pytest.raises(sim.SimulatorError):
        sim.drift(0, 1, 100.5, 0)


def test_every_function_is_told_in_pydoc_and_on_its_page():
    page = open(os.environ["ZMOD4710_PYTHON_PAGE"], encoding="utf-8").read()
    functions = [name for name, value in vars(sim).items()
                 if inspect.isfunction(value) and not name.startswith("_")
                 and value.__module__ == sim.__name__]
    assert len(functions) > 25
    for name in functions:
        assert getattr(sim, name).__doc__, f"{name} has no docstring"
        assert re.search(rf"`{name}\(", page), f"{name} is not on the page"
