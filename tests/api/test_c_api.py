"""The C API from a C program (api_driver) against the simulated board: every
way to name a port, firmware, LEDs, acquisitions value for value, each fault's
code and text, refusals that send nothing, cancel from a second thread, two
boards at once, a lost board, the reserved terminals and the status texts."""
import os
import re
import select
import subprocess
import threading
import time

import pexpect
import pytest

from conftest import (DRIVER, HERE, acquisitions, driver_env, run_driver, spectrum,
                      write_port_file)

HEADER = os.path.join(HERE, "..", "..", "include", "zorvidlk", "zorvidlk.h")
ALREADY_OPEN = "COM port already open"


def commands(sim):
    return [event["text"] for event in sim.events("command")]


def last_spectra(sim, count):
    return [event["values"] for event in sim.events("spectrum")[-count:]]


def check_acquisition(run, sim, pre, data, period):
    """A successful run: the board's last spectra, times within the driver's
    own clock readings, the settings echoed."""
    assert run["status"] == 0, run.get("text")
    assert run["text"] == ""
    assert run["values"] == last_spectra(sim, data)
    before, after = run["clock"]
    start, end, size, *settings = run["info"]
    assert before <= start < end <= after
    assert end - start >= data * period
    assert size == 12 and settings == [pre, data, period]


class PlayedBoard(threading.Thread):
    """Answers the firmware query on a pseudo-terminal's master side."""

    def __init__(self, master, reply):
        super().__init__(daemon=True)
        self.master, self.reply, self.received = master, reply, b""

    def run(self):
        deadline = time.monotonic() + 10
        while b"V\r" not in self.received and time.monotonic() < deadline:
            try:
                if select.select([self.master], [], [], 0.05)[0]:
                    self.received += os.read(self.master, 256)
            except OSError:  # the driver has not opened its side yet
                time.sleep(0.02)
        os.write(self.master, self.reply)


def test_a_port_by_each_kind_of_name(port_dir, simulator, pty_port):
    simulator(1)
    tcp = simulator(200, tcp=True)
    write_port_file(port_dir, 3, "rfc2217://127.0.0.1:%d\n" % tcp.tcp_port)
    pty = pty_port(5)
    url = "rfc2217://127.0.0.1:%d" % tcp.tcp_port
    names = ["1", "COM1", "com3", "3", url, pty.slave_path, pty.path,
             "0", "257", "7", os.path.join(port_dir, "nothing")]
    lines = run_driver(port_dir, "open", *names)
    assert lines == ["open 0 ", "close 0"] * 7 + [
        "open -1 0: Invalid COM port",
        "open -1 257: Invalid COM port",
        "open -10 7: COM port hardware not present",
        "open -10 %s: COM port hardware not present" % os.path.join(port_dir, "nothing"),
    ]
    # The pseudo-terminal by its path, the test playing the board.
    board = PlayedBoard(pty.master, b"Board rev 7 ZORVI DLK 2.1\r\n")
    board.start()
    assert run_driver(port_dir, "firmware", pty.slave_path) == ["firmware 0 ZORVI DLK 2.1"]
    board.join()
    assert board.received == b"V\r"


@pytest.mark.parametrize("args, expected", [
    (["--firmware", "Board rev 7 ZORVI DLK 2.1"], "firmware 0 ZORVI DLK 2.1"),
    (["--firmware", "zorvi dlk 2.1"], "firmware -306 Spectrometer Firmware = Can't find ZORVI!"),
    (["--fault", "silent"], "firmware -305 Spectrometer Firmware = Timeout!"),
    (["--fault", "slow-reply=2500"], "firmware -305 Spectrometer Firmware = Timeout!"),
], ids=["found", "no-signature", "silent", "slow-reply"])
def test_firmware(port_dir, simulator, args, expected):
    simulator(1, args)
    assert run_driver(port_dir, "firmware", "1") == [expected]


def test_leds_and_a_short_blink(port_dir, simulator):
    sim = simulator(1)
    lines = run_driver(port_dir, "leds", "1", 3, 50)
    assert lines[:4] == ["led 1 1 0", "led 2 1 0", "led 1 0 0", "led 2 0 0"]
    _, status, took = lines[4].split()
    assert int(status) == 0
    assert float(took) >= 3 * 2 * 50
    assert commands(sim) == ["L2", "L4", "L1", "L3"] + ["L4", "L3"] * 3
    leds = sim.events("led")
    assert [(event["led"], event["on"]) for event in leds] == (
        [(1, True), (2, True), (1, False), (2, False)] + [(2, True), (2, False)] * 3)
    # Each blink's on and off phases last about the period.
    times = [event["t"] for event in leds[4:]]
    for earlier, later in zip(times, times[1:]):
        assert 0.035 <= later - earlier < 1.0


@pytest.mark.parametrize("pre, data, period, sim_args", [
    (0, 1, 100, []),
    (3, 3, 650, []),
    (0, 1, 100, ["--fault", "noise"]),
], ids=["one-scan", "three-scans", "one-scan-with-noise"])
def test_acquisition_value_for_value(port_dir, simulator, pre, data, period, sim_args):
    sim = simulator(1, sim_args)
    lines = run_driver(port_dir, "acquire", "1", pre, data, period, 1)
    (run,) = acquisitions(lines)
    check_acquisition(run, sim, pre, data, period)
    assert commands(sim) == ["E5", "P%d" % pre, "R%d" % data, "I%d" % period] + ["S", "g"] * data


@pytest.mark.parametrize("fault, message, code, limit_ms", spectrum.FAULTS,
                         ids=[fault[0] for fault in spectrum.FAULTS])
def test_fault_gives_its_code_and_text_and_the_next_acquisition_runs_clean(
        port_dir, simulator, fault, message, code, limit_ms):
    sim = simulator(1, ["--fault", fault])
    failed, clean = acquisitions(run_driver(port_dir, "acquire", "1", 3, 3, 650, 2))
    assert failed["status"] == code
    match = re.fullmatch(message, failed["text"])
    assert match, failed["text"]
    if limit_ms is not None:
        assert limit_ms <= int(match.group(1)) < limit_ms + 1500
    check_acquisition(clean, sim, 3, 3, 650)


def test_refused_calls_send_nothing(port_dir, simulator):
    sim = simulator(1)
    lines = run_driver(port_dir, "refuse", "1")
    refused = dict(line.split()[1:] for line in lines if line.startswith("refuse "))
    buffer_short = {"count=3x256-1", "default-count=3x256-1", "firmware-size=0"}
    assert len(refused) == 31
    for name, status in refused.items():
        if name == "cancel-board=NULL":
            assert status == "-301"
        elif name == "open-port=NULL-handle":
            assert status == "NULL"
        else:
            assert int(status) == (-302 if name in buffer_short else -301), name
    # The handle's text says what the last refusal on it wanted.
    assert "text zv_set_timeout_scale: percent must be 100..1000" in lines
    assert lines[-1] == "firmware 0"
    # Only the last line's query reached the board.
    assert commands(sim) == ["V"]


def test_cancel_from_another_thread_ends_a_long_acquisition(port_dir, simulator):
    sim = simulator(1)
    lines = run_driver(port_dir, "cancel", "1", 2000)
    assert lines[0] == "cancel 0"
    match = re.fullmatch(r"cancelled -303 (\d+\.\d) ms", lines[1])
    assert match, lines
    print("zv_cancel to zv_acquire's return: %s ms" % match.group(1))
    assert float(match.group(1)) < 250
    assert lines[2] == "text cancelled"
    assert sim.wait_for_event(lambda event: event.get("text") == "R10", timeout=1)
    (after,) = acquisitions(lines[3:])
    check_acquisition(after, sim, 0, 1, 100)
    assert commands(sim)[-6:] == ["E5", "P0", "R1", "I100", "S", "g"]


def test_two_boards_in_two_threads(port_dir, simulator):
    boards = [simulator(1), simulator(2, ["--seed", "2"])]
    lines = run_driver(port_dir, "two", "1", "2")
    runs = [acquisitions(lines, "%d " % n)[0] for n in (1, 2)]
    for run, sim in zip(runs, boards):
        check_acquisition(run, sim, 3, 3, 650)
    assert runs[0]["values"] != runs[1]["values"]
    # Both ran at once: each board's scans overlap the other's.
    (first_start, first_end), (second_start, second_end) = [run["info"][:2] for run in runs]
    assert first_start < second_end and second_start < first_end


@pytest.mark.parametrize("how", ["killed", "disconnect-at=200"])
def test_a_lost_board(port_dir, simulator, how):
    sim = simulator(1, ["--fault", how] if how != "killed" else [])
    process = subprocess.Popen([DRIVER, "lost", "1"], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               env=driver_env(port_dir))
    try:
        assert process.stdout.readline() == b"firmware 0\n"
        assert process.stdout.readline() == b"ready\n"
        if how == "killed":
            sim.stop()
        out, err = process.communicate(b"go\n", timeout=60)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    assert err == b""
    lines = out.decode().splitlines()
    lost = "port 1 lost (device removed or connection closed)"
    assert re.fullmatch(r"acquire -304 %s(: .*)?" % re.escape(lost), lines[0]), lines
    if how != "killed":
        assert lines[0].endswith(": Data Timeout, pixel = 155 val1 = -1 val2 = -1")
    assert lines[1:] == ["firmware -304 " + lost, "led -304", "close 0"]


def reserved_terminal_run(port_dir, target, redirected):
    """The driver on a pseudo-terminal of its own (its controlling terminal and,
    unless redirected, its standard streams), opening `target` as COM1 and by path."""
    out_path = os.path.join(port_dir, "out.txt")
    script = 'ln -s %s "%s/COM1" && "$0" open 1 %s' % (target, port_dir, target)
    script += ' </dev/null >"%s" 2>&1' % out_path if redirected else ""
    script += '; echo "ended $?"'
    child = pexpect.spawn("/bin/sh", ["-c", script, DRIVER], env=driver_env(port_dir),
                          timeout=15)
    child.expect(rb"ended (\d+)")
    status = int(child.match.group(1))
    output = child.before.replace(b"\r\n", b"\n")
    child.expect(pexpect.EOF)
    child.close()
    if redirected:
        assert output == b""
        with open(out_path, "rb") as stream:
            output = stream.read()
    return status, output.decode()


@pytest.mark.parametrize("redirected", [False, True], ids=["streams", "streams-redirected"])
def test_the_callers_own_terminal_is_refused(port_dir, redirected):
    status, output = reserved_terminal_run(port_dir, "$(tty)", redirected)
    assert status == 0
    lines = output.splitlines()
    assert len(lines) == 2 and lines[0] == "open -2 1: " + ALREADY_OPEN
    assert re.fullmatch(r"open -2 /dev/pts/\d+: " + ALREADY_OPEN, lines[1]), lines


def test_the_system_console_is_refused(port_dir, pty_port):
    # A pseudo-terminal of the test's own listed as the console: the kernel's
    # list is replaced in a mount namespace of the driver's own.
    port = pty_port(1)
    consoles = os.path.join(port_dir, "consoles")
    with open(consoles, "w") as stream:
        stream.write("tty0 %s\n" % port.slave_path[len("/dev/"):])
    names = ["1", port.slave_path]
    assert run_driver(port_dir, "open", *names) == ["open 0 ", "close 0"] * 2
    namespace = ["unshare", "-m", "/bin/sh", "-c",
                 'mount --bind "$0" /sys/class/tty/console/active && exec "$@"', consoles]
    lines = run_driver(port_dir, "open", *names, prefix=namespace)
    assert lines == ["open -2 %s: %s" % (name, ALREADY_OPEN) for name in names]


def test_every_status_has_its_own_text(port_dir):
    with open(HEADER) as stream:
        codes = [int(code) for code in
                 re.findall(r"^#define ZV_(?:OK|ERR_\w+) \(?(-?\d+)\)?$", stream.read(), re.M)]
    assert len(codes) == 21
    lines = run_driver(port_dir, "status", *codes, -999)
    texts = [line.split(" ", 2)[2] for line in lines]
    assert texts[-1] == "Unknown code"
    assert "Unknown code" not in texts[:-1] and "" not in texts[:-1]
    assert len(set(texts[:-1])) == len(codes)
