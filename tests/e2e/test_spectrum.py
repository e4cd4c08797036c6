"""Menu key G against the simulated board: the table against the spectra the
board sent, and every failure of the handshake as the operator sees it."""
import re
import time

import pexpect
import pytest

from board_session import screen_text

SCAN_ERROR = "Scan ERROR, ret = -2\n"


def settings_line(pre_scans, data_scans, period):
    return "\nPre Scans = %d, Data Scans = %d, Data Scan Period = %dms\n" % (
        pre_scans, data_scans, period)


def expected_table(spectra):
    """One line per pixel: "%03d," then the value of each scan, comma separated."""
    lines = []
    for pixel in range(256):
        lines.append("%03d," % (pixel + 1) + ",".join(str(values[pixel]) for values in spectra))
    return "\n".join(lines) + "\n"


def last_spectra(sim, count):
    events = sim.events("spectrum")
    assert len(events) >= count
    return [event["values"] for event in events[-count:]]


def collect(session, sim, data_scans, pre_scans=3, period=650, timeout=-1):
    """One G that must succeed: the table must be the board's last spectra."""
    text = session.command("g\r", timeout=timeout)
    header = settings_line(pre_scans, data_scans, period)
    assert header in text, text[:300]
    table = text.split(header, 1)[1]
    # Everything up to the next prompt's line feed is the table.
    assert table == expected_table(last_spectra(sim, data_scans)) + "\n"
    assert session.new_stderr() == ""
    return text


def test_three_scans_with_the_default_settings(board):
    sim, session = board()
    text = collect(session, sim, 3)
    assert text.startswith("g\n\n" + settings_line(3, 3, 650))
    commands = [event["text"] for event in sim.events("command")]
    assert commands == ["E5", "P3", "R3", "I650", "S", "g", "S", "g", "S", "g"]


def test_one_scan_while_the_board_sends_noise(board):
    # Stray bytes while idle and while the scan runs never reach the table.
    sim, session = board(["--fault", "noise"])
    session.set_setting("e", 1)
    collect(session, sim, 1, timeout=30)


def test_ten_scans(board):
    sim, session = board()
    session.set_setting("e", 10)
    session.set_setting("f", 100)
    session.set_setting("d", 0)
    collect(session, sim, 10, pre_scans=0, period=100, timeout=60)
    commands = [event["text"] for event in sim.events("command")]
    assert commands[:4] == ["E5", "P0", "R10", "I100"]
    assert commands[4:] == ["S", "g"] * 10


# The failure points of the handshake: the fault that provokes it, the report's
# text (a time-out reports the milliseconds it waited) and its code.
FAULTS = [
    ("no-scan-start", r"S Command Timeout, Spectrometer CTS never asserted after (\d+) msecs",
     -206, 500),
    ("no-data-ready", r"g Command Timeout, Spectrometer CTS never asserted after (\d+) msecs",
     -207, 500),
    ("stall-at=100", r"Data Timeout, pixel = 205 val1 = -1 val2 = -1", -208, None),
    ("stall-at=3", r"Data Timeout, pixel = 254 val1 = (\d+) val2 = -1", -208, None),
    ("cts-stuck-after-data",
     r"Scan Data Sent Timeout, Spectrometer CTS never released after (\d+) msecs", -206, 500),
    ("scan-stuck",
     r"Scan Complete Timeout, Spectrometer CTS never released after (\d+) msecs", -206, 15000),
]


def check_failure(session, text, message, code, limit_ms):
    assert settings_line(3, 3, 650) + SCAN_ERROR in text
    assert not re.search(r"^\d{3},", text, re.M)
    stderr = session.new_stderr()
    match = re.fullmatch(r"ERROR: (%s)\(\) RETURNED: (-?\d+)\n" % message, stderr)
    assert match, stderr
    assert int(match.group(match.lastindex)) == code
    if limit_ms is not None:
        waited = int(match.group(2))
        assert limit_ms <= waited < limit_ms + 1500
    return match


@pytest.mark.parametrize("fault, message, code, limit_ms", FAULTS,
                         ids=[fault[0] for fault in FAULTS])
def test_failure_is_reported_and_the_next_scan_runs_clean(board, fault, message, code,
                                                          limit_ms):
    sim, session = board(["--fault", fault])
    text = session.command("g\r", timeout=60)
    match = check_failure(session, text, message, code, limit_ms)
    if fault == "stall-at=3":
        # The first byte of pixel 254 is the third of the transfer.
        assert int(match.group(2)) == sim.events("spectrum")[0]["values"][254] >> 8
    commands = [event["text"] for event in sim.events("command")]
    if fault == "no-scan-start":
        assert commands[-1] == "S"  # no "g" after a scan that never started
    collect(session, sim, 3)


def test_lost_board_is_reported_until_the_program_ends(board):
    sim, session = board(["--fault", "disconnect-at=200"])
    text = session.command("g\r")
    check_failure(session, text, r"Data Timeout, pixel = 155 val1 = -1 val2 = -1", -208, None)
    # The port stays lost: every later acquisition stops at the first handshake.
    for _ in range(2):
        text = session.command("g\r")
        check_failure(session, text,
                      r"S Command Timeout, Spectrometer CTS never asserted after (\d+) msecs",
                      -206, 500)
    started = time.monotonic()
    session.keys("\x03")
    session.child.expect(pexpect.EOF, timeout=10)
    assert "\nGot ^C Exiting...\n" in screen_text(session.child.before)
    session.child.wait()
    assert session.child.exitstatus == 1
    assert time.monotonic() - started >= 1.0


# One data scan of 100 ms through each adapter model of the simulator: the
# table, or the report the model's path leads to. None: the table must be the
# board's spectrum. ser2net's outcome follows from its sampling timer.
ADAPTERS = [
    ("ideal", None, None, None),
    ("16550", None, None, None),
    ("ftdi", None, None, None),
    ("ftdi-low-latency", None, None, None),
    ("cp210x", None, None, None),
    ("ch340", None, None, None),
    # A lone byte is never handed over: both bytes of the first pixel are missing.
    ("ch340-chunked", r"Data Timeout, pixel = 255 val1 = -1 val2 = -1", -208, None),
    # CTS reads as asserted for ever: the scan never seems to end.
    ("cdc-acm", r"Scan Complete Timeout, Spectrometer CTS never released after (\d+) msecs",
     -206, 15000),
    ("ser2net", "sampled", None, None),
]
SCAN_MS = 3 * 4 + 100  # the board's scan: pre scans x 4 ms + integration


def ser2net_outcome(sim, scan_start):
    """The report the sampling timer leads to: a tick inside the scan reports
    CTS asserted, the next one (a second later) its release, and the data-ready
    CTS after "g" comes too late; with no tick inside the scan, its start is
    never seen."""
    timer = sim.events("adapter")[0]
    first, period = timer["cts_first_tick"], timer["cts_period"]
    ticks = (first + k * period for k in range(int(scan_start / period) + 3))
    if any(scan_start <= tick < scan_start + SCAN_MS / 1000.0 for tick in ticks):
        return r"g Command Timeout, Spectrometer CTS never asserted after (\d+) msecs", -207
    return r"S Command Timeout, Spectrometer CTS never asserted after (\d+) msecs", -206


def aim_scan_at_a_tick(sim, started):
    """Waits so that the scan "S" starts half a scan before a tick of ser2net's
    timer: the key goes out 100 ms after the call (the session's pause and
    pexpect's), and the set-up takes 400 ms."""
    timer = sim.events("adapter")[0]
    now = time.monotonic() - started
    tick = timer["cts_first_tick"]
    while tick - now < 0.6:
        tick += timer["cts_period"]
    time.sleep(max(0.0, tick - SCAN_MS / 2000.0 - 0.5 - now))


@pytest.mark.parametrize("adapter, message, code, limit_ms", ADAPTERS,
                         ids=[adapter[0] for adapter in ADAPTERS])
def test_one_scan_through_each_adapter_then_the_menu_works(board, adapter, message, code,
                                                            limit_ms):
    started = time.monotonic()
    sim, session = board(["--adapter", adapter, "--seed", "3"])
    assert sim.events("adapter")[0]["name"] == adapter
    session.set_setting("e", 1)
    session.set_setting("f", 100)
    if message is None:
        collect(session, sim, 1, period=100, timeout=60)
    else:
        if message == "sampled":
            aim_scan_at_a_tick(sim, started)
        text = session.command("g\r", timeout=60)
        if message == "sampled":
            scan_start = [e["t"] for e in sim.events("command") if e["text"] == "S"][0]
            message, code = ser2net_outcome(sim, scan_start)
            limit_ms = 500
        assert settings_line(3, 1, 100) + SCAN_ERROR in text
        stderr = session.new_stderr()
        match = re.fullmatch(r"ERROR: (%s)\(\) RETURNED: (-?\d+)\n" % message, stderr)
        assert match, stderr
        assert int(match.group(match.lastindex)) == code
        if limit_ms is not None:
            assert limit_ms <= int(match.group(2)) < limit_ms + 1500
    # The menu still answers, and Ctrl+C ends the program as always.
    session.set_setting("d", 0)
    assert session.quit() == 1
