"""The Python package's suites: the package from the build tree (PYTHONPATH),
the library through ZORVIDLK_LIBRARY, and the black-box suites' simulated
board and port directory."""
import importlib.util
import os
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))


def _load_e2e_helpers():
    path = os.path.join(HERE, "..", "e2e", "conftest.py")
    found = importlib.util.spec_from_file_location("e2e_helpers", path)
    module = importlib.util.module_from_spec(found)
    sys.modules["e2e_helpers"] = module
    found.loader.exec_module(module)
    return module


e2e = _load_e2e_helpers()
# The fixtures, under their own names, for this suite's tests.
port_dir = e2e.port_dir
simulator = e2e.simulator
pty_port = e2e.pty_port
write_port_file = e2e.write_port_file


def commands(sim):
    """The commands the simulated board received, in order."""
    return [event["text"] for event in sim.events("command")]


def last_spectra(sim, count):
    """The values of the last `count` spectra the board sent, oldest first."""
    events = sim.events("spectrum")
    assert len(events) >= count
    return [event["values"] for event in events[-count:]]


@pytest.fixture
def board(port_dir, simulator, monkeypatch):
    """Factory: board(sim_args) starts the simulated board on COM1 of a port
    directory of the test's own and opens it; returns (sim, Board). Boards
    are closed before the simulators stop."""
    import zorvidlk

    monkeypatch.setenv("ZORVIDLK_PORT_DIR", port_dir)
    opened = []

    def start(sim_args=(), **open_args):
        # Three times the time-outs: a loaded machine is not a failing board.
        open_args.setdefault("timeout_scale", 300)
        sim = simulator(1, list(sim_args))
        board = zorvidlk.open("1", **open_args)
        opened.append(board)
        return sim, board

    yield start
    for board in opened:
        board.close()
