"""The serial service's RFC 2217 endpoint, driven through serial_probe, against an
independent server (pyserial's PortManager around loop://) and against the
simulated board; and the port scan over a served and an unserved socket."""
import os
import select
import socket
import threading

import pytest
import serial
import serial.rfc2217

from conftest import run_program
from serial_probe import Probe, transfer_bytes

pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning")


class LoopServer:
    """pyserial's RFC 2217 server class wrapped around loop:// (CTS follows RTS,
    data comes back), on a Unix socket. PortManager never polls the modem
    lines itself: check_modem_lines() runs after every chunk it handles."""

    def __init__(self, path):
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


def test_against_pyserial_portmanager_data_and_both_edges_of_cts(port_dir, probe):
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
