"""The black-box suites' fixtures (tests/e2e/conftest.py) for the C API's
suites, and the C driver that exercises the library."""
import importlib.util
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
E2E = os.path.normpath(os.path.join(HERE, "..", "e2e"))
sys.path.insert(0, E2E)


def load(name, path):
    found = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


e2e = load("e2e_conftest", os.path.join(E2E, "conftest.py"))
# test_spectrum's table of handshake failures; its own imports see the e2e conftest.
_ours = sys.modules.get("conftest")
sys.modules["conftest"] = e2e
try:
    spectrum = load("e2e_spectrum", os.path.join(E2E, "test_spectrum.py"))
finally:
    if _ours is None:
        del sys.modules["conftest"]
    else:
        sys.modules["conftest"] = _ours

port_dir = e2e.port_dir
pty_port = e2e.pty_port
simulator = e2e.simulator
Simulator = e2e.Simulator
write_port_file = e2e.write_port_file
DRIVER = os.path.join(e2e.BIN_DIR, "api_driver")


def driver_env(port_dir):
    env = dict(os.environ)
    env["ZORVIDLK_PORT_DIR"] = port_dir
    return env


def run_driver(port_dir, *args, timeout=60, prefix=()):
    """Runs the driver (after `prefix`, a command that runs the rest) to its
    end; returns its standard output's lines."""
    done = subprocess.run(list(prefix) + [DRIVER] + [str(arg) for arg in args],
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, env=driver_env(port_dir), timeout=timeout)
    assert done.returncode == 0 and done.stderr == b"", (done.returncode, done.stderr)
    return done.stdout.decode().splitlines()


def acquisitions(lines, tag=""):
    """The driver's acquisition reports: dicts of status, text, clock, info, values."""
    runs = []
    for line in lines:
        if not line.startswith(tag):
            continue
        word, _, rest = line[len(tag):].partition(" ")
        if word == "acquire":
            runs.append({"status": int(rest), "values": []})
        elif word == "text" and runs:
            runs[-1]["text"] = rest
        elif word in ("clock", "info"):
            runs[-1][word] = [int(field) for field in rest.split()]
        elif word == "values":
            runs[-1]["values"].append([int(field) for field in rest.split()[1:]])
    return runs
