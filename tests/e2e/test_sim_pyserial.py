"""The simulated board checked by an independent RFC 2217 client: pyserial's
rfc2217:// over loopback TCP."""
import time

import pytest
import serial

from serial_probe import transfer_bytes

pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning")


def wait_cts(port, wanted, limit=2.0):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if port.cts == wanted:
            return True
        time.sleep(0.002)
    return False


def test_pyserial_client_reads_the_reply_and_an_rts_paced_transfer(simulator):
    # 0xFF inside the reply crosses the Telnet escaping in both programs.
    sim = simulator(tcp=True, args=[b"--firmware", b"ZORVI \xff test board"])
    assert sim.tcp_port
    port = serial.serial_for_url("rfc2217://127.0.0.1:%d" % sim.tcp_port, baudrate=115200,
                                 timeout=2)
    try:
        port.baudrate = 9600  # waits for the SET-BAUDRATE acknowledgement
        started = time.monotonic()
        port.write(b"V\r")
        assert port.readline() == b"ZORVI \xff test board\r\n"
        # 22 bytes at 9600 baud take 23 ms on a real line.
        assert time.monotonic() - started >= 0.020
        assert not port.cts

        port.rts = False
        port.write(b"E5\rP0\rR1\rI30\rS\r")
        assert wait_cts(port, True), "CTS not asserted after S"
        assert wait_cts(port, False), "CTS not released at the end of the scan"
        port.write(b"g\r")
        assert wait_cts(port, True), "CTS not asserted after g"
        port.reset_input_buffer()
        received = b""
        for _ in range(6):
            port.rts = True
            received += port.read(1)
            port.rts = False
        assert port.in_waiting == 0, "a byte came without an RTS edge"
        spectrum = sim.wait_for_event(lambda e: e["event"] == "spectrum")
        assert received == transfer_bytes(spectrum["values"])[:6]

        port.write(b"E5\r")
        assert wait_cts(port, False), "E5 did not release CTS"
    finally:
        port.close()
    assert sim.wait_for_event(lambda e: e["event"] == "client" and e["state"] == "gone")
    commands = [e["text"] for e in sim.events("command")]
    assert commands == ["V", "E5", "P0", "R1", "I30", "S", "g", "E5"]
