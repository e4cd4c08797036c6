"""The simulated board's own behaviour seen through the serial service: line
rate, the faults (each acts once, E5 clears what it leaves) and noise that
never reaches a reply or a transfer."""
import os
import select
import signal
import socket
import subprocess
import time

import pytest

from conftest import SIMULATOR, Simulator
from serial_probe import Probe, transfer_bytes

V = b"V\r".hex()
REPLY = b"ZORVI DLK firmware 2.3.1\r\n"


@pytest.fixture
def board_port(port_dir, simulator):
    """Factory: board_port(args) starts a simulator and a probe port opened on it."""
    probes = []

    def start(args=()):
        sim = simulator(args=list(args))
        port = Probe(port_dir)
        probes.append(port)
        assert port.do("open 1") == "0"
        assert port.do("rts C") == "0"
        return sim, port

    yield start
    for port in probes:
        port.close()


def scan(port, settings=b"P0\rR1\rI10\r"):
    """E5, the settings and S; the outcome of the two CTS waits of a scan. The
    release E5 gives to a CTS left asserted is awaited first: seen late, it
    would pass for the end of the scan."""
    assert port.do("send " + b"E5\r".hex()) == "0"
    assert port.do("wait-cts 0 1000") != "timeout"
    assert port.do("send " + (settings + b"S\r").hex()) == "0"
    started = port.do("wait-cts 1 300")
    if started == "timeout":
        return "no start"
    return "done" if port.do("wait-cts 0 300") != "timeout" else "stuck"


def data_ready(port):
    assert port.do("send " + b"g\r".hex()) == "0"
    ready = port.do("wait-cts 1 300") != "timeout"
    assert port.do("clear") == "0"
    return ready


def transfer(port):
    received, _ = port.do("transfer 512").split()
    return b"" if received == "-" else bytes.fromhex(received)


def released_after_data(port):
    return port.do("wait-cts 0 300") != "timeout"


def full_acquisition_is_clean(sim, port):
    if scan(port) != "done" or not data_ready(port):
        return False
    data = transfer(port)
    last = sim.events("spectrum")[-1]
    return data == transfer_bytes(last["values"]) and released_after_data(port)


def test_bytes_leave_at_the_line_rate_of_the_client_baud(board_port):
    _, port = board_port()
    assert port.do("baud 1200") == "0"
    started = time.monotonic()
    assert port.do("send " + V) == "0"
    assert bytes.fromhex(port.do("read 26 2000")) == REPLY
    # 26 bytes of ten bit times at 1200 baud: 217 ms.
    assert time.monotonic() - started >= 0.20


@pytest.mark.parametrize("fault, first_run", [
    ("no-scan-start", lambda sim, port: scan(port) == "no start"),
    ("scan-stuck", lambda sim, port: scan(port) == "stuck"),
    ("no-data-ready", lambda sim, port: scan(port) == "done" and not data_ready(port)),
    ("stall-at=7", lambda sim, port: scan(port) == "done" and data_ready(port)
     and len(transfer(port)) == 7 and not released_after_data(port)),
    ("cts-stuck-after-data", lambda sim, port: scan(port) == "done" and data_ready(port)
     and len(transfer(port)) == 512 and not released_after_data(port)),
])
def test_each_fault_acts_once_and_e5_clears_it(board_port, fault, first_run):
    sim, port = board_port(["--fault", fault])
    assert first_run(sim, port)
    assert [e["name"] for e in sim.events("fault")] == [fault.split("=")[0]]
    assert full_acquisition_is_clean(sim, port)  # begins with E5
    assert full_acquisition_is_clean(sim, port)


def test_silent_then_slow_reply(board_port):
    sim, port = board_port(["--fault", "silent", "--fault", "slow-reply=300"])
    assert port.do("send " + V) == "0"
    assert port.do("read 26 400") == ""
    started = time.monotonic()
    assert port.do("send " + V) == "0"
    assert bytes.fromhex(port.do("read 26 1000")) == REPLY
    assert time.monotonic() - started >= 0.28
    assert port.do("send " + V) == "0"
    assert bytes.fromhex(port.do("read 26 300")) == REPLY
    assert [e["name"] for e in sim.events("fault")] == ["silent", "slow-reply"]


def wait_for_quiet_line(port):
    """Waits until the burst that follows every command has arrived: stray
    bytes waiting and none new for 20 ms. A fixed pause is not enough on a
    loaded machine, where the burst can still be in flight when the queue is
    cleared and then arrive ahead of the next reply."""
    deadline = time.monotonic() + 5
    last = 0
    while time.monotonic() < deadline:
        assert port.do("sleep 20") == ""
        waiting = int(port.do("count"))
        if waiting > 0 and waiting == last:
            return
        last = waiting
    raise AssertionError("no stray bytes after a command, or they never stopped")


def test_noise_between_commands_and_during_scans_never_in_a_reply_or_a_transfer(board_port):
    sim, port = board_port(["--fault", "noise"])
    assert port.do("send " + b"L2\r".hex()) == "0"
    assert port.do("sleep 50") == ""
    assert int(port.do("count")) > 0, "no stray bytes after a command"
    for _ in range(20):
        # As between two queries of the program: the burst after the last
        # reply has left the line before the receive queue is cleared.
        wait_for_quiet_line(port)
        assert port.do("clear") == "0"
        assert port.do("send " + V) == "0"
        assert bytes.fromhex(port.do("read 26 300")) == REPLY
    assert port.do("send " + b"E5\rP0\rR1\rI400\rS\r".hex()) == "0"
    assert port.do("wait-cts 1 300") != "timeout"
    assert port.do("clear") == "0"
    assert port.do("sleep 300") == ""
    assert int(port.do("count")) > 0, "no stray bytes while the scan runs"
    assert port.do("wait-cts 0 500") != "timeout"
    assert data_ready(port)
    assert transfer(port) == transfer_bytes(sim.events("spectrum")[-1]["values"])
    assert [e["name"] for e in sim.events("fault")] == ["noise"]


def rss_kib(pid, field="VmRSS"):
    """Resident memory now, or its peak with field="VmHWM"."""
    with open("/proc/%d/status" % pid) as stream:
        for line in stream:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def raw_client(sim):
    """A client that speaks no Telnet: every byte it sends is data for the board."""
    client = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    client.connect(sim.socket_path)
    return client


def test_a_burst_of_queries_is_answered_in_full_at_the_line_rate(simulator):
    # 400 queries hold ten times the replies the simulator lets wait: it stops
    # reading until they drain, and drops nothing.
    sim = simulator()
    client = raw_client(sim)
    client.sendall(b"V\r" * 400)
    received = b""
    client.settimeout(10)
    while received.count(REPLY) < 400:
        chunk = client.recv(65536)
        assert chunk, "the simulator hung up"
        received += chunk
    client.close()
    assert received.count(REPLY) == 400
    assert len(sim.events("command")) == 400


def test_a_flooding_client_that_never_reads_cannot_grow_the_simulator(simulator):
    sim = simulator()
    client = raw_client(sim)
    client.setblocking(False)
    assert sim.wait_for_event(lambda e: e.get("state") == "connected")
    before = rss_kib(sim.process.pid)
    flood = b"V\r" * 50000
    sent = 0
    deadline = time.monotonic() + 3
    while time.monotonic() < deadline:
        try:
            sent += client.send(flood)
        except BlockingIOError:
            time.sleep(0.01)
    grown = rss_kib(sim.process.pid) - before
    assert grown < 8 * 1024, "%d KiB more after %d bytes" % (grown, sent)
    assert sim.process.poll() is None
    started = time.monotonic()
    sim.process.send_signal(signal.SIGTERM)
    assert sim.process.wait(timeout=5) == 0
    assert time.monotonic() - started < 1.0
    assert not os.path.exists(sim.socket_path)
    client.close()


def stale_socket(path):
    # A socket file whose server is gone: bound, never listening, closed.
    dead = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    dead.bind(path)
    dead.close()


def served_socket(path):
    return Simulator(os.path.dirname(path), 1)


def plain_file(path):
    with open(path, "w") as stream:
        stream.write("not a socket\n")


def serves(port_dir):
    probe = Probe(port_dir)
    try:
        return probe.do("open 1") == "0"
    finally:
        probe.close()


@pytest.mark.parametrize("leave, line", [
    (stale_socket, None),
    (served_socket, ": another server already serves this socket"),
    (plain_file, ": exists and is not a socket"),
])
def test_what_the_socket_path_holds_at_start(port_dir, leave, line):
    """A stale socket is replaced; a served one or another file is left as it
    is, and the new simulator ends with status 1 and one line saying why."""
    path = os.path.join(port_dir, "COM1")
    first = leave(path)
    try:
        if line is None:
            sim = Simulator(port_dir, 1)
            try:
                assert serves(port_dir)
            finally:
                sim.stop()
            return
        started = subprocess.run([SIMULATOR, "--socket", path, "--events", os.devnull],
                                 stdin=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=5)
        assert started.returncode == 1
        assert started.stderr.decode() == "zorvidlk-sim: " + path + line + "\n"
        assert os.path.exists(path)
        assert serves(port_dir) == (first is not None)
    finally:
        if first is not None:
            first.stop()


# RFC 2217 as a raw client writes it: IAC SB COM-PORT-OPTION command value IAC SE.
def com_port(command, value):
    return bytes([0xFF, 0xFA, 44, command, value, 0xFF, 0xF0])


MODEMSTATE_QUERY = com_port(7, 0)
MODEMSTATE_ANSWER = bytes([0xFF, 0xFA, 44, 107])
RTS_ON_OFF = com_port(5, 11) + com_port(5, 12)
# The adapters whose RTS changes take a control transfer each.
RTS_DELAYING_ADAPTERS = ["ftdi", "ftdi-low-latency", "cp210x", "ch340", "ch340-chunked",
                         "cdc-acm", "ser2net"]


def read_until_reply(client, deadline):
    """Reads until the firmware reply has come, by the monotonic `deadline`;
    what was received, or None."""
    received = b""
    while REPLY not in received:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([client], [], [], left)[0]:
            return None
        chunk = client.recv(65536)
        if not chunk:
            return None
        received += chunk
    return received


def flood(clients, pattern, seconds, byte_limit, own_buffer=None):
    """Sends `pattern` over and over on every client for `seconds`, at most
    `byte_limit` bytes each, reading what comes back; each flood ends on a
    whole pattern. `own_buffer` sets the clients' send buffers. Returns how
    many bytes each client received."""
    chunk = pattern * (4096 // len(pattern))
    sent = {client: 0 for client in clients}
    received = {client: 0 for client in clients}
    for client in clients:
        if own_buffer is not None:
            client.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, own_buffer)
        client.setblocking(False)
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        writers = [c for c in clients if sent[c] < byte_limit]
        readable, writable, _ = select.select(clients, writers, [], 0.05)
        for client in readable:
            try:
                got = len(client.recv(65536))
                assert got, "the simulator hung up"
                received[client] += got
            except BlockingIOError:
                pass
        for client in writable:
            try:
                sent[client] += client.send(chunk)
            except BlockingIOError:
                pass
    for client in clients:
        client.setblocking(True)
        client.sendall(pattern[sent[client] % len(pattern):])
    return received


def test_a_burst_of_modem_state_queries_then_a_command_gets_every_answer(simulator):
    sim = simulator()
    client = raw_client(sim)
    client.sendall(MODEMSTATE_QUERY * 2000 + b"V\r")
    received = read_until_reply(client, time.monotonic() + 2.0)
    client.close()
    assert received is not None, "no reply after the queries"
    # The first COM-PORT command also brings the greeting's modem state.
    assert received.count(MODEMSTATE_ANSWER) == 2001


# Two replies: ch340-chunked hands bytes over only in chunks of 32.
QUERIES = b"V\r" * 2
# The answer to one SET-CONTROL; the shortest RTS change of the adapters.
CONTROL_ANSWER_BYTES = 7
SHORTEST_RTS_CHANGE = 0.0005


@pytest.mark.parametrize("adapters, seconds, own_buffer", [
    # RTS at once: the answers pile up, on a client that sent no data before
    # and on one that did.
    ([("ideal", False), ("16550", True)], 4.0, None),
    # RTS a control transfer each: the changes pile up. The clients' own
    # buffers are small: once a flood stops, what the simulator has not
    # taken yet goes through at the adapter's pace, and a default buffer
    # holds a minute of that.
    ([(name, True) for name in RTS_DELAYING_ADAPTERS], 8.0, 4096),
])
def test_after_an_rts_flood_a_command_is_answered(simulator, adapters, seconds, own_buffer):
    """The simulator holds a bounded amount for a flooding client and reads it
    again once that drains. The boards of a row are flooded together."""
    sims = [simulator(com, ["--adapter", name]) for com, (name, _) in enumerate(adapters, 1)]
    clients = [raw_client(sim) for sim in sims]
    for (_, answered_first), client in zip(adapters, clients):
        if answered_first:
            client.sendall(QUERIES)
            assert read_until_reply(client, time.monotonic() + 2.0) is not None
    # A simulator that took every change at once would hold well over
    # 64 MiB before the bound in bytes.
    received = flood(clients, RTS_ON_OFF, seconds, 48 << 20, own_buffer)
    for client in clients:
        client.sendall(QUERIES)
    deadline = time.monotonic() + 5.0
    for (name, _), sim, client in zip(adapters, sims, clients):
        assert read_until_reply(client, deadline) is not None, name
        peak = rss_kib(sim.process.pid, "VmHWM")
        assert peak < 64 * 1024, "%s: peak %d KiB" % (name, peak)
        if own_buffer is not None:
            # Changes are answered as they are taken: no faster than the
            # adapter passes them on, give or take what it may hold.
            answers = received[client] // CONTROL_ANSWER_BYTES
            assert answers < 1.5 * seconds / SHORTEST_RTS_CHANGE + 1000, name
        client.close()


@pytest.mark.parametrize("address, family, ready", [
    ("0.0.0.0:0", None, None),
    ("192.0.2.1:0", None, None),
    ("[::]:0", None, None),
    ("board.example:0", None, None),
    ("localhost:0", socket.AF_INET, "127.0.0.1"),
    ("127.1.2.3:0", socket.AF_INET, "127.1.2.3"),
    ("[::1]:0", socket.AF_INET6, "[::1]"),
])
def test_tcp_serves_this_machine_only(port_dir, address, family, ready):
    """Any other address is a usage error with one line saying why, before
    anything listens."""
    path = os.path.join(port_dir, "COM1")
    process = subprocess.Popen([SIMULATOR, "--socket", path, "--tcp", address],
                               stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        line = process.stderr.readline().decode()
        if ready is None:
            assert process.wait(timeout=5) == 2
            assert line.startswith("zorvidlk-sim: --tcp serves this machine only: ")
            assert line.endswith(" not " + address.rsplit(":", 1)[0] + "\n")
            assert process.stderr.read() == b""
            assert not os.path.exists(path)
            return
        assert " tcp %s:" % ready in line
        port = int(line.rsplit(":", 1)[1])
        host = ready.strip("[]")
        with socket.socket(family, socket.SOCK_STREAM) as client:
            client.settimeout(5)
            client.connect((host, port))
            assert client.recv(1) == b"\xff"  # the server's Telnet negotiation
    finally:
        if process.poll() is None:
            process.terminate()
            process.wait(timeout=5)
