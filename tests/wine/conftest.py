"""Shared fixtures for the Windows build's black-box suites, run under wine.

Every suite runs through scripts/wine-session.sh, which makes the private
mount namespace with the serial device nodes masked and starts the wine server
and session first; outside it nothing here starts wine. zorvidlk.exe gets its
keys on a pseudo-terminal (wine's console reads it) and writes standard output
and standard error to pipes, which wine passes on byte for byte (the CRT's
text mode writes "\\n" as "\\r\\n", as on Windows)."""
import fcntl
import importlib.util
import os
import pty
import re
import select
import shutil
import subprocess
import sys
import tempfile
import termios
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
WINDOWS_BIN = os.environ.get("ZORVIDLK_WINDOWS_BIN_DIR", os.path.join(ROOT, "build-windows", "bin"))
LINUX_BIN = os.environ.get("ZORVIDLK_BIN_DIR", os.path.join(ROOT, "build", "bin"))
PROGRAM = os.path.join(WINDOWS_BIN, "zorvidlk.exe")
PROBE = os.path.join(WINDOWS_BIN, "serial_probe.exe")
SIMULATOR = os.path.join(LINUX_BIN, "zorvidlk-sim")
WINE = "/usr/bin/wine"

# The first start of a program after the session started was seen to hang once:
# it gets a bounded wait and one retry.
FIRST_START_TIMEOUT = 30


def pytest_configure(config):
    if not os.environ.get("ZORVIDLK_WINE_NAMESPACE") or not os.environ.get("WINEPREFIX"):
        raise pytest.UsageError("the wine suites run only through scripts/wine-session.sh")


def load_e2e(name):
    """A module of the Linux build's black-box suites (tests/e2e), for the
    expected texts both builds share; its own `conftest` import is the e2e one."""
    e2e = os.path.join(ROOT, "tests", "e2e")
    ours = sys.modules.get("conftest")
    spec_conftest = importlib.util.spec_from_file_location("conftest", os.path.join(e2e, "conftest.py"))
    theirs = importlib.util.module_from_spec(spec_conftest)
    sys.modules["conftest"] = theirs
    try:
        spec_conftest.loader.exec_module(theirs)
        module_spec = importlib.util.spec_from_file_location("e2e_" + name, os.path.join(e2e, name + ".py"))
        module = importlib.util.module_from_spec(module_spec)
        module_spec.loader.exec_module(module)
    finally:
        sys.modules["conftest"] = ours
    return module


def windows_path(path):
    out = subprocess.run(["winepath", "-w", path], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, timeout=30, check=True)
    return out.stdout.decode().strip()


@pytest.fixture
def port_dir():
    """A short private directory; the program gets it as a Windows path."""
    path = tempfile.mkdtemp(prefix="zv", dir="/tmp")
    yield path
    shutil.rmtree(path, ignore_errors=True)


def program_env(port_dir):
    env = dict(os.environ)
    env["ZORVIDLK_PORT_DIR"] = windows_path(port_dir)
    return env


def scan_start_wait_ms(err):
    """The milliseconds an S Command Timeout report on standard error says it
    waited, or None when standard error is not exactly that report."""
    match = re.fullmatch(rb"ERROR: S Command Timeout, Spectrometer CTS never asserted after "
                         rb"(\d+) msecs\(\) RETURNED: -206\r\n", err)
    return int(match.group(1)) if match else None


class PtyBoard:
    """A pseudo-terminal at COM<n> of the port directory: the test plays the
    board on its master side."""

    def __init__(self, port_dir, com):
        self.master, slave = pty.openpty()
        self.slave_path = os.ttyname(slave)
        os.close(slave)
        os.symlink(self.slave_path, os.path.join(port_dir, "COM%d" % com))
        self.received = b""

    def read_until(self, text, timeout=15.0):
        deadline = time.monotonic() + timeout
        while text not in self.received and time.monotonic() < deadline:
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if ready:
                try:
                    self.received += os.read(self.master, 1024)
                except OSError:
                    break
        return text in self.received

    def send(self, data):
        os.write(self.master, data)

    def close(self):
        try:
            os.close(self.master)
        except OSError:
            pass


@pytest.fixture
def pty_board(port_dir):
    boards = []

    def make(com):
        board = PtyBoard(port_dir, com)
        boards.append(board)
        return board

    yield make
    for board in boards:
        board.close()


def _own_terminal():
    """In the child: a session of its own whose controlling terminal is the
    keys' pseudo-terminal (standard input), so that Ctrl+C there reaches wine
    as SIGINT, which wine raises as the console's CTRL_C_EVENT."""
    os.setsid()
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


class WinProgram:
    """zorvidlk.exe under wine: keys on a pseudo-terminal, both outputs on pipes."""

    def __init__(self, args, port_dir):
        self.keys_master, keys_slave = pty.openpty()
        self.process = subprocess.Popen([WINE, PROGRAM] + list(args), stdin=keys_slave,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        env=program_env(port_dir), preexec_fn=_own_terminal)
        os.close(keys_slave)
        self.out = b""
        self.err = b""
        self.open_streams = [self.process.stdout, self.process.stderr]

    def _pump(self, wait):
        ready, _, _ = select.select(self.open_streams, [], [], wait)
        for stream in ready:
            data = os.read(stream.fileno(), 65536)
            if not data:
                self.open_streams.remove(stream)
            elif stream is self.process.stdout:
                self.out += data
            else:
                self.err += data

    def expect(self, text, timeout=15.0):
        """Waits for `text` on standard output; returns what came before and
        with it since the last expect, and drops it from the buffer."""
        deadline = time.monotonic() + timeout
        while text not in self.out:
            left = deadline - time.monotonic()
            if left <= 0 or not self.open_streams:
                raise AssertionError("%r not seen; output so far %r, errors %r"
                                     % (text, self.out, self.err))
            self._pump(min(left, 0.2))
        end = self.out.index(text) + len(text)
        seen, self.out = self.out[:end], self.out[end:]
        return seen

    def keys(self, data, pause=0.0):
        os.write(self.keys_master, data)
        if pause:
            time.sleep(pause)

    def answer(self, data, until=b"\r\nZORVI_DLK>", timeout=15.0):
        self.keys(data)
        return self.expect(until, timeout)

    def finish(self, timeout=30.0):
        """Waits for the end; returns (status, the rest of standard output)."""
        deadline = time.monotonic() + timeout
        while self.open_streams and time.monotonic() < deadline:
            self._pump(0.2)
        status = self.process.wait(timeout=max(deadline - time.monotonic(), 10))
        rest, self.out = self.out, b""
        return status, rest

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        for stream in (self.process.stdout, self.process.stderr):
            stream.close()
        try:
            os.close(self.keys_master)
        except OSError:
            pass


@pytest.fixture
def program(port_dir):
    """Factory: program(args) starts zorvidlk.exe with the port directory."""
    started = []

    def start(args):
        run = WinProgram(args, port_dir)
        started.append(run)
        return run

    yield start
    for run in started:
        run.close()


def run_program(args, port_dir, timeout=60):
    """Runs zorvidlk.exe to its end with no keys; (status, stdout, stderr) bytes."""
    for attempt in (1, 2):
        try:
            done = subprocess.run([WINE, PROGRAM] + list(args), stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  env=program_env(port_dir),
                                  timeout=FIRST_START_TIMEOUT if attempt == 1 else timeout)
            return done.returncode, done.stdout, done.stderr
        except subprocess.TimeoutExpired:
            if attempt == 2:
                raise
    raise AssertionError("unreachable")


class WinProbe:
    """serial_probe.exe (tests/tools) under wine: the serial service driven one
    operation a line, its result lines read with a bound."""

    def __init__(self, port_dir):
        self.process = subprocess.Popen([WINE, PROBE], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        env=program_env(port_dir))
        self.pending = b""

    def send(self, operation):
        self.process.stdin.write(operation.encode() + b"\n")
        self.process.stdin.flush()

    def result(self, name, timeout=FIRST_START_TIMEOUT):
        """The next result line, without the operation's name."""
        deadline = time.monotonic() + timeout
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            ready, _, _ = select.select([self.process.stdout], [], [], max(left, 0))
            if not ready:
                raise AssertionError("no result of %s within %.0f s" % (name, timeout))
            data = os.read(self.process.stdout.fileno(), 4096)
            if not data:
                raise AssertionError("serial_probe ended before the result of " + name)
            self.pending += data
        line, self.pending = self.pending.split(b"\n", 1)
        found, _, rest = line.decode().strip().partition(" ")
        assert found == name, line
        return rest

    def do(self, operation):
        self.send(operation)
        return self.result(operation.split()[0])

    def close(self):
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()


@pytest.fixture
def probe(port_dir):
    started = []

    def start():
        run = WinProbe(port_dir)
        started.append(run)
        return run

    yield start
    for run in started:
        run.close()
