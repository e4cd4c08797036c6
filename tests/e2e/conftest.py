"""Shared fixtures for the black-box suites: the real binaries, a port directory
of the test's own, pseudo-terminal ports and the simulated board."""
import json
import os
import pty
import shutil
import subprocess
import tempfile
import time

import pexpect
import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
BIN_DIR = os.environ.get("ZORVIDLK_BIN_DIR", os.path.join(HERE, "..", "..", "build", "bin"))
PROGRAM = os.path.join(BIN_DIR, "zorvidlk")
SIMULATOR = os.path.join(BIN_DIR, "zorvidlk-sim")
PLOT = os.path.join(BIN_DIR, "zorvidlk-plot")


@pytest.fixture
def port_dir():
    """A short private directory that serves as ZORVIDLK_PORT_DIR."""
    path = tempfile.mkdtemp(prefix="zv", dir="/tmp")
    yield path
    shutil.rmtree(path, ignore_errors=True)


def program_env(port_dir, **extra):
    env = dict(os.environ)
    env["ZORVIDLK_PORT_DIR"] = port_dir
    env.setdefault("TERM", "xterm")
    env.update(extra)
    return env


class PtyPort:
    """A pseudo-terminal placed in the port directory as COM<n>; the test holds the master."""

    def __init__(self, port_dir, com):
        self.master, slave = pty.openpty()
        self.slave_path = os.ttyname(slave)
        os.close(slave)
        self.path = os.path.join(port_dir, "COM%d" % com)
        os.symlink(self.slave_path, self.path)

    def close(self):
        try:
            os.close(self.master)
        except OSError:
            pass


@pytest.fixture
def pty_port(port_dir):
    """Factory: pty_port(n) puts a pseudo-terminal at COM<n>."""
    ports = []

    def make(com=1):
        port = PtyPort(port_dir, com)
        ports.append(port)
        return port

    yield make
    for port in ports:
        port.close()


def run_program(args, port_dir, timeout=30, input_bytes=None):
    """Runs the program to its end without a terminal; returns CompletedProcess (bytes)."""
    return subprocess.run([PROGRAM] + list(args), input=input_bytes,
                          stdin=None if input_bytes is not None else subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          env=program_env(port_dir), timeout=timeout)


def spawn_program(args, port_dir, timeout=10, **kwargs):
    """Starts the program on a pseudo-terminal (pexpect, bytes mode)."""
    return pexpect.spawn(PROGRAM, list(args), env=program_env(port_dir), timeout=timeout,
                         **kwargs)


class Simulator:
    """zorvidlk-sim serving COM<n> of a port directory, with its event log."""

    def __init__(self, port_dir, com=1, args=(), tcp=False):
        self.socket_path = os.path.join(port_dir, "COM%d" % com)
        self.events_path = os.path.join(port_dir, "events-%d.jsonl" % com)
        command = [SIMULATOR, "--socket", self.socket_path, "--events", self.events_path]
        if tcp:
            command += ["--tcp", "127.0.0.1:0"]
        command += list(args)
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        line = self.process.stderr.readline().decode(errors="replace")
        if "ready on" not in line:
            self.stop()
            raise RuntimeError("simulator did not start: %r" % line)
        self.ready_line = line.strip()
        self.tcp_port = None
        if tcp and "tcp 127.0.0.1:" in line:
            self.tcp_port = int(line.rsplit(":", 1)[1].split()[0])

    def events(self, kind=None):
        result = []
        try:
            with open(self.events_path) as stream:
                for line in stream:
                    line = line.strip()
                    if line:
                        event = json.loads(line)
                        if kind is None or event.get("event") == kind:
                            result.append(event)
        except FileNotFoundError:
            pass
        return result

    def wait_for_event(self, predicate, timeout=5.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for event in self.events():
                if predicate(event):
                    return event
            time.sleep(0.02)
        return None

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


@pytest.fixture
def simulator(port_dir):
    """Factory: simulator(com=1, args=[...]) starts a board on COM<com>."""
    started = []

    def start(com=1, args=(), tcp=False):
        sim = Simulator(port_dir, com, args, tcp)
        started.append(sim)
        return sim

    yield start
    for sim in started:
        sim.stop()


def run_programs_together(runs, timeout=60):
    """Runs several (args, port_dir) invocations at once, without a terminal, so
    that their exit sequences (~2.7 s each) overlap. Returns, in order, tuples of
    (returncode, stdout bytes, stderr bytes, seconds taken)."""
    started = []
    for args, directory in runs:
        begin = time.monotonic()
        process = subprocess.Popen([PROGRAM] + list(args), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   env=program_env(directory))
        started.append((process, begin))
    results = []
    for process, begin in started:
        out, err = process.communicate(timeout=timeout)
        results.append((process.returncode, out, err, time.monotonic() - begin))
    return results


# Where board(tcp=True) puts the simulator's Unix socket.
TCP_BOARD_COM = 200


def write_port_file(port_dir, com, content):
    """Names COM<com> by a port file port<com>.rfc2217 holding `content` (str or bytes)."""
    data = content.encode() if isinstance(content, str) else content
    with open(os.path.join(port_dir, "port%d.rfc2217" % com), "wb") as stream:
        stream.write(data)


@pytest.fixture
def board(port_dir, simulator):
    """Factory: board(sim_args, baud, tcp) starts the simulated board on COM1 and
    the program on it (board_session.BoardSession); returns (sim, session).
    With tcp, COM1 is a port file naming the board's TCP port.
    Sessions are closed before the boards stop."""
    from board_session import BoardSession

    sessions = []

    def start(sim_args=(), baud="115200", tcp=False, capture=None):
        if tcp:
            # Served on TCP only as far as COM1 goes: the board's own socket
            # sits at a COM number the session does not use.
            sim = simulator(TCP_BOARD_COM, list(sim_args), tcp=True)
            write_port_file(port_dir, 1, "rfc2217://127.0.0.1:%d\n" % sim.tcp_port)
        else:
            sim = simulator(1, list(sim_args))
        session = BoardSession(port_dir, 1, baud, capture=capture)
        sessions.append(session)
        return sim, session

    yield start
    for session in sessions:
        session.close()
