"""zorvidlk.exe under wine against the Linux build's simulated board, reached by
TCP through a port file (port1.rfc2217): firmware, LEDs, acquisitions compared
value for value with the board's spectra, and a failure of the handshake."""
import os
import shutil
import tempfile

import pytest

from conftest import load_e2e, scan_start_wait_ms

e2e = load_e2e("conftest")
menu = load_e2e("test_menu")
START = (b"\r\n\r\n***Initializing Communications***\r\nWin64 ZVS Version 1.0.0 (Build 1)\r\n"
         b"Win32 comm and RFC 2217 serial service\r\nOverlapped I/O is disabled\r\n"
         b"Setting DTR & RTS on\r\nSetting no parity, 8 data bits, & one stop bit (8N1)\r\n"
         b"Port 1 Flow control not set\r\n" + menu.BANNER + menu.PROMPT)


@pytest.fixture
def board(port_dir, program):
    """Factory: board(sim_args) starts the simulated board on TCP, names it in
    port1.rfc2217 and starts the program on COM1; returns (sim, program)."""
    socket_dir = tempfile.mkdtemp(prefix="zv", dir="/tmp")
    boards = []

    def start(sim_args=()):
        # The board's own Unix socket stays out of the port directory.
        sim = e2e.Simulator(socket_dir, 9, list(sim_args), tcp=True)
        boards.append(sim)
        with open(os.path.join(port_dir, "port1.rfc2217"), "w") as port_file:
            port_file.write("rfc2217://127.0.0.1:%d\n" % sim.tcp_port)
        run = program(["-p", "1", "-b", "115200"])
        assert run.expect(menu.PROMPT, timeout=30) == START
        return sim, run

    yield start
    for sim in boards:
        sim.stop()
    shutil.rmtree(socket_dir, ignore_errors=True)


def commands(sim):
    return [event["text"] for event in sim.events("command")]


def table(spectra):
    lines = [b"%03d," % (pixel + 1) + b",".join(b"%d" % values[pixel] for values in spectra)
             for pixel in range(256)]
    return b"\r\n".join(lines) + b"\r\n"


def settings_line(pre_scans, data_scans, period):
    return b"\r\nPre Scans = %d, Data Scans = %d, Data Scan Period = %dms\r\n" % (
        pre_scans, data_scans, period)


def set_data_scans(run, count):
    for key in b"ey":
        run.keys(bytes([key]), pause=0.1)
        run.keys(b"\r", pause=0.1)
    run.answer(b"%d\r" % count)


@pytest.mark.parametrize("data_scans", [1, 3])
def test_acquisition_matches_the_boards_spectra(board, data_scans):
    sim, run = board()
    if data_scans != 3:
        set_data_scans(run, data_scans)
    text = run.answer(b"g\r", timeout=60)
    header = b"g\r\n\r\n" + settings_line(3, data_scans, 650)
    assert text.startswith(header)
    spectra = [event["values"] for event in sim.events("spectrum")]
    assert len(spectra) == data_scans
    assert text[len(header):] == table(spectra) + menu.PROMPT
    assert commands(sim) == ["E5", "P3", "R%d" % data_scans, "I650"] + ["S", "g"] * data_scans
    assert run.err == b""
    run.keys(b"\x03")
    assert run.finish() == (1, menu.EXIT_TEXT)


def test_firmware_and_leds(board):
    sim, run = board()
    assert run.answer(b"a\r") == (b"a\r\n\r\nSpectrometer Firmware = ZORVI DLK firmware 2.3.1"
                                  b"\r\nFirmware String Found\r\n" + menu.PROMPT)
    run.keys(b"b\r")
    run.expect(b"Enter>")
    run.answer(b"a\r")
    assert sim.wait_for_event(lambda event: event.get("event") == "led")
    assert commands(sim) == ["V", "L2"]
    run.keys(b"\x03")
    assert run.finish() == (1, menu.EXIT_TEXT)


def test_a_scan_that_never_starts_is_reported(board):
    sim, run = board(["--fault", "no-scan-start"])
    text = run.answer(b"g\r", timeout=60)
    assert text == b"g\r\n\r\n" + settings_line(3, 3, 650) + b"Scan ERROR, ret = -2\r\n" + menu.PROMPT
    assert 500 <= (scan_start_wait_ms(run.err) or 0) < 2000, run.err
    run.keys(b"\x03")
    assert run.finish() == (1, menu.EXIT_TEXT)
