"""The zorvidlk package against the simulated board: opening, the firmware,
the LEDs, acquisitions value for value, every failure as a BoardError, argument
checks before anything is sent, Ctrl+C, closing, and finding the library."""
import datetime
import os
import re
import signal
import subprocess
import sys
import threading
import time

import numpy
import pytest

import zorvidlk
from zorvidlk import _library
from conftest import commands, last_spectra, write_port_file

FIRMWARE = re.compile(r"ZORVI DLK firmware \S+")


@pytest.mark.parametrize("how", ["com-number", "com-name", "port-file", "rfc2217-url"])
def test_open_and_firmware(port_dir, simulator, monkeypatch, how):
    monkeypatch.setenv("ZORVIDLK_PORT_DIR", port_dir)
    if how.startswith("com"):
        sim = simulator(1)
        port = "1" if how == "com-number" else "COM1"
    else:
        # The board's own socket at a COM number nobody opens.
        sim = simulator(200, tcp=True)
        url = "rfc2217://127.0.0.1:%d" % sim.tcp_port
        if how == "port-file":
            write_port_file(port_dir, 4, url + "\n")
            port = "COM4"
        else:
            port = url
    with zorvidlk.open(port) as board:
        assert board.port == port
        assert FIRMWARE.fullmatch(board.firmware), board.firmware
        assert board.firmware == board.firmware
    # Queried once, then cached.
    assert commands(sim) == ["V"]


def test_opening_a_port_twice_is_refused_with_the_service_text(board):
    _, first = board()
    with pytest.raises(zorvidlk.BoardError) as raised:
        zorvidlk.open("1")
    assert raised.value.code == -2
    assert raised.value.text == "1: COM port already open"
    assert "close it first" in str(raised.value)


def test_leds_and_blink_as_the_board_sees_them(board):
    sim, board_ = board()
    board_.led(1, True)
    board_.led(1, False)
    board_.led(2, True)
    board_.led(2, False)
    board_.blink(2, count=3, period_ms=50)
    # LED n on is L(2n), off L(2n-1).
    assert commands(sim) == ["L2", "L1", "L4", "L3"] + ["L4", "L3"] * 3
    leds = [(event["led"], event["on"]) for event in sim.events("led")]
    assert leds == [(1, True), (1, False), (2, True), (2, False)] + [(2, True), (2, False)] * 3


def milliseconds_floor(seconds):
    return datetime.datetime.fromtimestamp(int(seconds * 1000) / 1000, datetime.timezone.utc)


@pytest.mark.parametrize("pre_scans, data_scans, period_ms", [(3, 1, 100), (0, 3, 650)])
def test_acquire_value_for_value(board, pre_scans, data_scans, period_ms):
    sim, board_ = board()
    assert board_.last_acquisition is None
    before = time.time()
    scans = board_.acquire(pre_scans=pre_scans, data_scans=data_scans, period_ms=period_ms)
    after = time.time()
    assert scans.dtype == numpy.uint16
    assert scans.shape == (data_scans, 256)
    assert scans.tolist() == last_spectra(sim, data_scans)
    assert commands(sim) == ["E5", "P%d" % pre_scans, "R%d" % data_scans,
                             "I%d" % period_ms] + ["S", "g"] * data_scans
    meta = board_.last_acquisition
    assert meta.settings == zorvidlk.AcquisitionSettings(pre_scans, data_scans, period_ms)
    assert meta.start.tzinfo is not None and meta.start.utcoffset() == datetime.timedelta(0)
    assert milliseconds_floor(before) <= meta.start <= meta.end
    assert meta.end <= datetime.datetime.fromtimestamp(after, datetime.timezone.utc)
    # At least the integration time of every data scan lies between the two.
    assert (meta.end - meta.start).total_seconds() >= data_scans * period_ms / 1000


# The board's failures: the simulator's fault, the call, the code and the
# library's text.
def acquire_default(board):
    return board.acquire()


def firmware(board):
    return board.firmware


FAILURES = [
    ("no-scan-start", acquire_default, -206,
     r"S Command Timeout, Spectrometer CTS never asserted after (\d+) msecs"),
    ("no-data-ready", acquire_default, -207,
     r"g Command Timeout, Spectrometer CTS never asserted after (\d+) msecs"),
    ("stall-at=100", acquire_default, -208, r"Data Timeout, pixel = 205 val1 = -1 val2 = -1"),
    ("cts-stuck-after-data", acquire_default, -206,
     r"Scan Data Sent Timeout, Spectrometer CTS never released after (\d+) msecs"),
    ("scan-stuck", acquire_default, -206,
     r"Scan Complete Timeout, Spectrometer CTS never released after (\d+) msecs"),
    ("silent", firmware, -305, r"Spectrometer Firmware = Timeout!"),
    ("slow-reply=2500", firmware, -305, r"Spectrometer Firmware = Timeout!"),
]


@pytest.mark.parametrize("fault, call, code, text", FAILURES, ids=[f[0] for f in FAILURES])
def test_failure_raises_board_error_and_the_board_stays_usable(board, fault, call, code, text):
    # The time-outs under test at their own length: the scan's 15 s, the
    # firmware's 2 s (a reply after 2.5 s must be too late).
    scale = 100 if fault == "scan-stuck" or call is firmware else 300
    sim, board_ = board(["--fault", fault], timeout_scale=scale)
    with pytest.raises(zorvidlk.BoardError) as raised:
        call(board_)
    assert raised.value.code == code
    match = re.fullmatch(text, raised.value.text)
    assert match, raised.value.text
    if match.groups():
        # The limit, lengthened by the board's timeout_scale.
        assert int(match.group(1)) >= (15000 if fault == "scan-stuck" else 500) * scale / 100
    assert raised.value.text in str(raised.value)
    if call is acquire_default:
        assert board_.last_acquisition is None
        scans = board_.acquire(data_scans=1)
        assert scans.tolist() == last_spectra(sim, 1)
    else:
        # Nothing cached: the next use asks the board again, which answers.
        assert FIRMWARE.fullmatch(board_.firmware)
        assert commands(sim) == ["V", "V"]


def test_an_answer_without_the_signature(board):
    _, board_ = board(["--firmware", "zorvi dlk 2.1"])
    with pytest.raises(zorvidlk.BoardError) as raised:
        board_.firmware
    assert (raised.value.code, raised.value.text) == (-306,
                                                      "Spectrometer Firmware = Can't find ZORVI!")


def test_a_lost_port_stays_lost(board):
    _, board_ = board(["--fault", "disconnect-at=200"])
    for call in (acquire_default, firmware, lambda b: b.led(1, True)):
        with pytest.raises(zorvidlk.BoardError) as raised:
            call(board_)
        assert raised.value.code == -304
        assert raised.value.text.startswith("port 1 lost"), raised.value.text
        assert "open it again" in str(raised.value)


BAD_ARGUMENTS = [
    ("acquire", dict(pre_scans=11)), ("acquire", dict(pre_scans=-1)),
    ("acquire", dict(data_scans=0)), ("acquire", dict(data_scans=11)),
    ("acquire", dict(period_ms=99)), ("acquire", dict(period_ms=1501)),
    ("led", dict(led=0, on=True)), ("led", dict(led=3, on=False)),
    ("blink", dict(led=3)), ("blink", dict(led=1, count=0)),
    ("blink", dict(led=1, count=10001)), ("blink", dict(led=1, period_ms=0)),
    ("blink", dict(led=1, period_ms=10001)),
]


@pytest.mark.parametrize("method, arguments", BAD_ARGUMENTS)
def test_out_of_range_arguments_send_nothing(board, method, arguments):
    sim, board_ = board()
    with pytest.raises(ValueError):
        getattr(board_, method)(**arguments)
    time.sleep(0.2)
    assert commands(sim) == []


@pytest.mark.parametrize("arguments", [dict(timeout_scale=99), dict(timeout_scale=1001),
                                       dict(baud=0)])
def test_out_of_range_open_arguments(board, arguments):
    _, board_ = board()
    with pytest.raises(ValueError):
        zorvidlk.open("1", **arguments)
    if "timeout_scale" in arguments:
        with pytest.raises(ValueError):
            board_.timeout_scale = arguments["timeout_scale"]
        assert board_.timeout_scale == 300


def interrupt_after(delay):
    """Sends SIGINT to this process after `delay` s; returns the monotonic time
    of the sending in a list, once sent."""
    sent = []

    def fire():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    timer = threading.Timer(delay, fire)
    timer.start()
    return timer, sent


@pytest.mark.parametrize("operation", ["acquire", "blink"])
def test_ctrl_c_cancels_within_100_ms(board, operation):
    sim, board_ = board()
    timer, sent = interrupt_after(1.0)
    try:
        with pytest.raises(KeyboardInterrupt):
            if operation == "acquire":
                board_.acquire(pre_scans=0, data_scans=10, period_ms=1500)
            else:
                board_.blink(1, count=100, period_ms=100)
        took = time.monotonic() - sent[0]
    finally:
        timer.cancel()
    print("KeyboardInterrupt after %.1f ms" % (took * 1000))
    assert took < 0.5
    if operation == "blink":
        # The LED is left off.
        deadline = time.monotonic() + 5
        while commands(sim)[-1] != "L1" and time.monotonic() < deadline:
            time.sleep(0.02)
        assert commands(sim)[-1] == "L1"
    scans = board_.acquire(data_scans=1)
    assert scans.tolist() == last_spectra(sim, 1)


def test_cancel_from_another_thread(board):
    sim, board_ = board()
    timer = threading.Timer(1.0, board_.cancel)
    timer.start()
    started = time.monotonic()
    with pytest.raises(zorvidlk.BoardError) as raised:
        board_.acquire(pre_scans=0, data_scans=10, period_ms=1500)
    assert raised.value.code == -303
    assert time.monotonic() - started < 5
    scans = board_.acquire(data_scans=1)
    assert scans.tolist() == last_spectra(sim, 1)


def test_an_interrupt_cancels_until_the_call_has_ended():
    # A cancel that comes before the library marks the call as running is
    # lost: the waiting side must cancel again until the call returns.
    from zorvidlk._interruptible import run_interruptible

    cancels = []

    def call():
        while len(cancels) < 3:
            time.sleep(0.001)
        return "ended"

    timer, _ = interrupt_after(0.1)
    with pytest.raises(KeyboardInterrupt):
        run_interruptible(call, lambda: cancels.append(time.monotonic()))
    timer.join()
    assert len(cancels) == 3


def test_context_manager_closes_on_an_exception(port_dir, pty_port, monkeypatch):
    # A local device: the port is free again as soon as close returns (the
    # simulator's server needs a moment to see its client go).
    monkeypatch.setenv("ZORVIDLK_PORT_DIR", port_dir)
    pty_port(2)
    with pytest.raises(RuntimeError):
        with zorvidlk.open("2") as first:
            with pytest.raises(zorvidlk.BoardError) as raised:
                zorvidlk.open("2")
            assert raised.value.code == -2
            raise RuntimeError("body failed")
    assert first.closed
    with zorvidlk.open("2") as again:
        assert not again.closed


USES = {
    "firmware": lambda b: b.firmware, "last_acquisition": lambda b: b.last_acquisition,
    "port": lambda b: b.port, "led": lambda b: b.led(1, True), "blink": lambda b: b.blink(1),
    "acquire": lambda b: b.acquire(), "with": lambda b: b.__enter__(),
    "timeout_scale": lambda b: b.timeout_scale,
}


@pytest.mark.parametrize("use", USES.values(), ids=USES.keys())
def test_use_after_close_raises(board, use):
    sim, board_ = board()
    board_.close()
    board_.close()
    assert board_.closed
    with pytest.raises(ValueError, match="closed"):
        use(board_)
    assert commands(sim) == []


def run_python(code, **env):
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env=dict(os.environ, **env), timeout=60)


def test_a_missing_library_is_one_clear_import_error(tmp_path):
    missing = str(tmp_path / "libzorvidlk.so.1")
    result = run_python("import zorvidlk", ZORVIDLK_LIBRARY=missing)
    assert result.returncode != 0
    last = result.stderr.strip().splitlines()[-1]
    assert last.startswith("ImportError: zorvidlk: the board's C library is missing: "
                           "ZORVIDLK_LIBRARY names %s" % missing), last
    assert "apt install libzorvidlk1" in last
    assert "build the project" in last


def test_importing_the_package_leaves_pymeasure_out():
    result = run_python("import sys, zorvidlk; print('pymeasure' in sys.modules)")
    assert result.stdout == "False\n", result.stderr


def test_library_search_order():
    environ = {"PATH": r'C:\Windows\system32;"C:\Program Files\zorvidlk\bin";;C:\tools'}
    assert _library.library_candidates("nt", environ, r"C:\py\zorvidlk") == [
        r"C:\py\zorvidlk\zorvidlk.dll", r"C:\Windows\system32\zorvidlk.dll",
        r"C:\Program Files\zorvidlk\bin\zorvidlk.dll", r"C:\tools\zorvidlk.dll"]
    assert _library.library_candidates("posix", environ) == ["libzorvidlk.so.1"]
    named = dict(environ, ZORVIDLK_LIBRARY=r"D:\lib\zorvidlk.dll")
    assert _library.library_candidates("nt", named) == [r"D:\lib\zorvidlk.dll"]
    assert _library.library_candidates("posix", named) == [r"D:\lib\zorvidlk.dll"]


def test_windows_loads_the_first_dll_that_exists():
    environ = {"PATH": r"C:\a;C:\b;C:\c"}
    present = {r"C:\b\zorvidlk.dll", r"C:\c\zorvidlk.dll"}
    loaded = []

    def loader(path):
        loaded.append(path)
        return path

    found = _library.load_library("nt", environ, loader, present.__contains__)
    assert (found, loaded) == (r"C:\b\zorvidlk.dll", [r"C:\b\zorvidlk.dll"])
    with pytest.raises(ImportError, match="zorvidlk.dll is neither beside the zorvidlk package "
                       "nor on PATH"):
        _library.load_library("nt", environ, loader, lambda path: False)
