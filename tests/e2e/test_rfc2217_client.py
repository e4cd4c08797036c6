"""The serial service's RFC 2217 endpoint, driven through serial_probe, against an
independent server (pyserial's PortManager around loop://) and against the
simulated board, on Unix sockets and on TCP through port files; the program
itself on a TCP board; and the port scan over served and unserved ports."""
import os
import select
import shutil
import socket
import subprocess
import threading
import time

import pytest
import serial
import serial.rfc2217

from conftest import run_program, write_port_file
from serial_probe import PROBE, Probe, transfer_bytes
from test_spectrum import check_failure, collect

pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning")


class LoopServer:
    """pyserial's RFC 2217 server class wrapped around loop:// (CTS follows RTS,
    data comes back), on a Unix socket at `path`, or on loopback TCP (`port`)
    without one. PortManager never polls the modem lines itself:
    check_modem_lines() runs after every chunk it handles."""

    def __init__(self, path=None):
        if path is None:
            self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            self.listener.bind(("127.0.0.1", 0))
            self.port = self.listener.getsockname()[1]
        else:
            self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            self.listener.bind(path)
        self.listener.listen(1)
        self.stopping = False
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        ready, _, _ = select.select([self.listener], [], [], 10)
        if not ready:
            return
        connection, _ = self.listener.accept()
        line = serial.serial_for_url("loop://", timeout=0)

        class Writer:
            def write(self, data):
                connection.sendall(data)

        manager = serial.rfc2217.PortManager(line, Writer())
        try:
            while not self.stopping:
                ready, _, _ = select.select([connection], [], [], 0.002)
                if ready:
                    data = connection.recv(4096)
                    if not data:
                        break
                    line.write(b"".join(manager.filter(data)))
                if line.in_waiting:
                    connection.sendall(b"".join(manager.escape(line.read(line.in_waiting))))
                manager.check_modem_lines()
        except OSError:
            pass
        finally:
            connection.close()

    def stop(self):
        self.stopping = True
        self.thread.join(timeout=5)
        self.listener.close()


@pytest.fixture
def probe(port_dir):
    probes = []

    def start():
        started = Probe(port_dir)
        probes.append(started)
        return started

    yield start
    for started in probes:
        started.close()


@pytest.mark.parametrize("transport", ["unix", "tcp"])
def test_against_pyserial_portmanager_data_and_both_edges_of_cts(port_dir, probe, transport):
    if transport == "tcp":
        server = LoopServer()
        write_port_file(port_dir, 1, "rfc2217://127.0.0.1:%d" % server.port)
    else:
        server = LoopServer(os.path.join(port_dir, "COM1"))
    try:
        port = probe()
        assert port.do("open 1") == "0"
        assert port.do("baud 9600") == "0"
        assert port.do("baud 0") == "-12"
        assert port.do("baud 12345") == "-12"
        # The open asserted RTS (service default), and loop:// mirrors it on CTS.
        assert port.do("wait-cts 1 1000").startswith("1 ")
        payload = "00ff0d0aff41ff"
        assert port.do("send " + payload) == "0"
        assert port.do("read 7 1000") == payload
        assert port.do("rts C") == "0"
        assert port.do("wait-cts 0 1000").startswith("0 ")
        assert port.do("rts S") == "0"
        assert port.do("wait-cts 1 1000").startswith("1 ")
        assert port.do("close") == "0"
    finally:
        server.stop()


def acquire(port, settings="E5\rP0\rR1\rI10\r"):
    """One scan and its RTS-paced transfer, as the acquisition runs it."""
    assert port.do("rts C") == "0"
    assert port.do("send " + (settings + "S\r").encode().hex()) == "0"
    assert port.do("wait-cts 1 500").startswith("1 ")
    assert port.do("wait-cts 0 2000").startswith("0 ")
    assert port.do("send " + b"g\r".hex()) == "0"
    assert port.do("wait-cts 1 500").startswith("1 ")
    assert port.do("clear") == "0"
    return port.do("transfer 512").split()


def test_against_the_simulator_transfer_line_bytes_and_receive_clear(port_dir, simulator, probe):
    sim = simulator()
    port = probe()
    assert port.do("open 1") == "0"
    assert port.do("baud 115200") == "0"
    assert port.do("cts") == "0"  # not asserted until the board says so

    received, per_byte_us = acquire(port)
    spectrum = sim.wait_for_event(lambda e: e["event"] == "spectrum")
    expected = transfer_bytes(spectrum["values"])
    assert bytes.fromhex(received) == expected
    for byte in (0x00, 0x0A, 0x0D, 0xFF):
        assert byte in expected
    assert port.do("wait-cts 0 500").startswith("0 "), "CTS not released after the last byte"
    print("RTS-paced transfer: %s us per byte" % per_byte_us)

    # A reply still in the socket when the receive clear runs is gone after it.
    assert port.do("send " + b"V\r".hex()) == "0"
    assert port.do("sleep 30") == ""
    assert port.do("clear") == "0"
    assert port.do("count") == "0"
    assert port.do("send " + b"V\r".hex()) == "0"
    reply = bytes.fromhex(port.do("read 100 300"))
    assert reply == b"ZORVI DLK firmware 2.3.1\r\n"


def test_busy_refused_and_unserved_ports(port_dir, simulator, probe):
    simulator(com=1)
    first = probe()
    assert first.do("open 1") == "0"
    second = probe()
    assert second.do("open 1") == "-2"  # the board serves one client at a time
    assert first.do("close") == "0"
    assert second.do("open 1") == "0"

    unserved = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    unserved.bind(os.path.join(port_dir, "COM2"))
    unserved.close()  # the file stays, nobody listens
    assert second.do("open 2") == "-13"

    silent = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    silent.bind(os.path.join(port_dir, "COM3"))
    silent.listen(1)  # accepts, never answers the negotiation
    try:
        assert second.do("open 3") == "-13"
    finally:
        silent.close()


def test_a_socket_path_too_long_for_an_address_is_an_os_error(port_dir, probe):
    # Inside the port directory, which the fixture removes (pytest's own
    # temporary directories would stay behind in /tmp).
    deep = os.path.join(port_dir, "d" * 60, "e" * 60)
    os.makedirs(deep)
    here = os.getcwd()
    holder = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    os.chdir(deep)
    try:
        holder.bind("COM1")  # a relative name gets round the address limit
        holder.listen(1)
    finally:
        os.chdir(here)
    try:
        port = Probe(deep)
        try:
            assert port.do("open 1") == "-103"
            assert port.do("error") == "File name too long"
        finally:
            port.close()
    finally:
        holder.close()


def test_peer_going_away_reads_as_no_data_and_no_cts(port_dir, simulator, probe):
    sim = simulator(args=["--fault", "disconnect-at=10"])
    port = probe()
    assert port.do("open 1") == "0"
    received, _ = acquire(port)
    assert len(received) == 20  # ten bytes, then the board hung up
    assert sim.wait_for_event(lambda e: e["event"] == "fault" and e["name"] == "disconnect-at")
    assert port.do("cts") == "0"
    assert port.do("count") == "0"
    assert port.do("send " + b"V\r".hex()) == "0"  # no SIGPIPE, nothing left queued
    assert port.do("rts S") == "0"
    assert port.do("read 1 100") == ""
    assert port.do("close") == "0"

    # The board itself ending mid-run: the same.
    assert port.do("open 1") == "0"
    sim.stop()
    assert port.do("wait-cts 1 200") == "timeout"
    assert port.do("count") == "0"


def test_port_scan_lists_a_served_socket_and_a_not_ready_one(port_dir, simulator):
    sim = simulator(com=1)
    unserved = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    unserved.bind(os.path.join(port_dir, "COM2"))
    unserved.close()
    result = run_program(["-l"], port_dir)
    out = result.stdout.decode()
    assert result.returncode == 0
    assert "COM1: OK, port exists\n" in out
    assert "COM2: Port exists but not enabled (event I/O error -13)\n" in out
    assert "\n1 port(s) found\n" in out
    assert "1 'not ready' port(s) found (virtual port not ready?)\n" in out
    # The probe connected and left again; the board is free for the next client.
    assert sim.wait_for_event(lambda e: e["event"] == "client" and e["state"] == "gone")


class ScriptedTcpServer:
    """One connection on loopback TCP, handled as `behaviour` says:
    "silent" listens and never accepts, "hang-up" accepts, reads the client's
    first bytes and closes, "refuse-binary" agrees to COM-PORT-OPTION and
    answers the rate but keeps NVT mode (DONT and WONT BINARY)."""

    def __init__(self, behaviour):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.port = self.listener.getsockname()[1]
        self.thread = None
        if behaviour != "silent":
            self.thread = threading.Thread(target=self.serve, args=(behaviour,), daemon=True)
            self.thread.start()

    def serve(self, behaviour):
        ready, _, _ = select.select([self.listener], [], [], 10)
        if not ready:
            return
        connection, _ = self.listener.accept()
        connection.settimeout(3)
        try:
            connection.recv(256)
            if behaviour == "refuse-binary":
                connection.sendall(b"\xff\xfd\x2c\xff\xfe\x00\xff\xfc\x00"
                                   b"\xff\xfa\x2c\x65\x00\x01\xc2\x00\xff\xf0")
                while connection.recv(256):
                    pass
        except OSError:
            pass
        finally:
            connection.close()

    def close(self):
        if self.thread:
            self.thread.join(timeout=5)
        self.listener.close()


def refused_tcp_port():
    """A loopback port nobody listens on (bound once, then let go)."""
    holder = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    holder.bind(("127.0.0.1", 0))
    port = holder.getsockname()[1]
    holder.close()
    return port


@pytest.mark.parametrize("behaviour, code", [
    ("refused", "-13"),
    ("silent", "-13"),          # connected, never negotiated: the 1 s limit
    ("hang-up", "-2"),          # busy with another client
    ("refuse-binary", "-13"),   # NVT mode would turn CR bytes into CR NUL
    ("malformed", "-10"),
    ("too-long", "-10"),
    ("not-a-file", "-10"),
])
def test_port_file_failures(port_dir, probe, behaviour, code):
    server = None
    path = os.path.join(port_dir, "port1.rfc2217")
    if behaviour in ("silent", "hang-up", "refuse-binary"):
        server = ScriptedTcpServer(behaviour)
        write_port_file(port_dir, 1, "rfc2217://127.0.0.1:%d\r\n" % server.port)
    elif behaviour == "refused":
        write_port_file(port_dir, 1, "rfc2217://localhost:%d" % refused_tcp_port())
    elif behaviour == "malformed":
        write_port_file(port_dir, 1, "rfc2217://127.0.0.1\n")
    elif behaviour == "too-long":
        write_port_file(port_dir, 1, "rfc2217://127.0.0.1:4001\n" + " " * 240)
    else:
        os.mkdir(path)
    try:
        port = probe()
        started = time.monotonic()
        assert port.do("open 1") == code
        assert time.monotonic() - started < 5
    finally:
        if server:
            server.close()


def test_a_name_that_does_not_resolve_is_not_ready(port_dir):
    # In a network namespace of its own the look-up fails at once and no query
    # leaves the machine.
    unshare = shutil.which("unshare")
    if unshare is None or subprocess.run([unshare, "-n", "true"]).returncode != 0:
        pytest.skip("no network namespace for a hermetic name look-up")
    write_port_file(port_dir, 1, "rfc2217://no-such-board.invalid:4001\n")
    env = dict(os.environ, ZORVIDLK_PORT_DIR=port_dir)
    result = subprocess.run([unshare, "-n", PROBE], input="open 1\n", capture_output=True,
                            text=True, env=env, timeout=30)
    assert result.stdout == "open -13\n"


def test_a_com_entry_wins_over_the_port_file(port_dir, simulator, probe):
    simulator(com=1)
    write_port_file(port_dir, 1, "rfc2217://127.0.0.1:%d" % refused_tcp_port())
    port = probe()
    assert port.do("open 1") == "0"


def test_the_program_on_a_tcp_board_firmware_and_three_scans(board):
    sim, session = board(tcp=True)
    assert "\nSpectrometer Firmware = ZORVI DLK firmware" in session.command("a\r")
    collect(session, sim, 3)


def test_the_program_on_a_tcp_board_that_goes_away(board):
    _, session = board(["--fault", "disconnect-at=200"], tcp=True)
    text = session.command("g\r")
    check_failure(session, text, r"Data Timeout, pixel = 155 val1 = -1 val2 = -1", -208, None)


def test_port_scan_lists_port_files_with_the_same_answers(port_dir, simulator):
    sim = simulator(com=9, tcp=True)
    write_port_file(port_dir, 1, "rfc2217://127.0.0.1:%d\n" % sim.tcp_port)
    write_port_file(port_dir, 2, "rfc2217://127.0.0.1:%d\n" % refused_tcp_port())
    write_port_file(port_dir, 3, "no port\n")
    result = run_program(["-l"], port_dir)
    out = result.stdout.decode()
    assert result.returncode == 0
    assert ("COM1: OK, port exists\n"
            "COM2: Port exists but not enabled (event I/O error -13)\n"
            "COM9: OK, port exists\n"
            "\n2 port(s) found\n"
            "1 'not ready' port(s) found (virtual port not ready?)\n") in out
