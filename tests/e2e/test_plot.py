"""zorvidlk-plot: the acquisitions of a real captured session, captures that hold
no usable table, and a capture followed while it grows."""
import os
import random
import re
import subprocess
import time

import pexpect
import pytest

from board_session import screen_text
from conftest import PLOT


def run_plot(args, cwd, input_bytes=b"", env=None):
    return subprocess.run([PLOT] + list(args), input=input_bytes, capture_output=True,
                          cwd=cwd, timeout=120, env=env)


def svg_curves(path):
    """The points of each curve in a gnuplot SVG, in plot order: [[(x, y), ...], ...].
    A curve's group starts with the two points of its sample line in the key."""
    with open(path) as stream:
        svg = stream.read()
    curves = []
    for group in re.findall(r'<g id="gnuplot_plot_\d+" >.*?</g>\n\t</g>', svg, re.S):
        points = []
        for path_data in re.findall(r"<path [^>]*d='([^']*)'", group):
            points += [(float(x), float(y))
                       for x, y in re.findall(r"[ML](-?[\d.]+),(-?[\d.]+)", path_data)]
        curves.append(points[2:])
    return curves


def check_svg(path, spectra):
    """One curve a spectrum, 256 points from left to right, each at the height of
    its pixel's value (the y coordinate an affine function of the value)."""
    curves = svg_curves(path)
    assert len(curves) == len(spectra)
    for points, values in zip(curves, spectra):
        assert len(points) == 256
        xs = [x for x, _ in points]
        assert xs == sorted(xs) and len(set(xs)) == 256
        low = values.index(min(values))
        high = values.index(max(values))
        scale = (points[high][1] - points[low][1]) / (values[high] - values[low])
        for (_, y), value in zip(points, values):
            assert abs(points[low][1] + (value - values[low]) * scale - y) < 0.1


def test_a_captured_session_through_tee(board, port_dir):
    capture = os.path.join(port_dir, "run.txt")
    sim, session = board(["--fault", "no-data-ready"], capture=capture)
    assert "Scan ERROR, ret = -2" in session.command("g\r", timeout=60)
    session.set_setting("e", "3\b2")  # the backspace is echoed into the capture
    session.set_setting("f", 100)
    session.command("g\r", timeout=60)
    session.set_setting("e", 1)
    session.command("g\r", timeout=60)
    assert session.quit() == 1
    # The terminal showed what tee wrote: every prompt reached it before the key read.
    with open(capture, "rb") as stream:
        captured = stream.read().decode("latin-1")
    assert screen_text(session.screen.getvalue()) == captured
    assert "\b" in captured

    listing = run_plot(["--list", capture], port_dir)
    assert listing.returncode == 0, listing.stderr
    lines = listing.stdout.decode().splitlines()
    assert len(lines) == 3, lines
    expected = [
        (1, 3, 3, 650, "skipped: Scan ERROR, ret = -2"),
        (2, 3, 2, 100, "2 curves, 256 points"),
        (3, 3, 1, 100, "1 curve, 256 points"),
    ]
    for line, (number, pre_scans, data_scans, period, summary) in zip(lines, expected):
        assert re.fullmatch(r"%d  line \d+  Pre Scans = %d, Data Scans = %d, "
                            r"Data Scan Period = %dms  %s" % (
                                number, pre_scans, data_scans, period, re.escape(summary)),
                            line), line

    spectra = [event["values"] for event in sim.events("spectrum")]
    assert len(spectra) == 3
    every = run_plot(["-n", "all", "-o", "run.svg", capture], port_dir)
    assert every.returncode == 0
    assert every.stderr.decode() == (
        "zorvidlk-plot: acquisition 1 (line %s) skipped: Scan ERROR, ret = -2\n"
        % lines[0].split()[2])
    assert not os.path.exists(os.path.join(port_dir, "run-1.svg"))
    check_svg(os.path.join(port_dir, "run-2.svg"), spectra[0:2])
    check_svg(os.path.join(port_dir, "run-3.svg"), spectra[2:3])
    # Without -n: the last acquisition.
    last = run_plot(["-o", "last.svg", capture], port_dir)
    assert last.returncode == 0 and last.stderr == b""
    check_svg(os.path.join(port_dir, "last.svg"), spectra[2:3])
    with open(os.path.join(port_dir, "last.svg")) as stream:
        svg = stream.read()
    assert "<text>acquisition 3 of run.txt</text>" in svg
    assert "<text>Pre Scans = 3, Data Scans = 1, Data Scan Period = 100ms</text>" in svg


def settings(pre_scans=3, data_scans=3, period=650):
    return "\nPre Scans = %d, Data Scans = %d, Data Scan Period = %dms\n" % (
        pre_scans, data_scans, period)


def table(data_scans=3, first=1, last=256):
    """Table lines of pixels first to last, every value its own."""
    return "".join("%03d,%s\n" % (pixel, ",".join(
        str((pixel * 251 + scan * 4099) % 65536) for scan in range(data_scans)))
        for pixel in range(first, last + 1))


MENU = "\n\n*** ZORVI DLK Demo [?] for Help [^C] to Exit ***\n\n\nZORVI_DLK>g\n"
PROMPT = "\nZORVI_DLK>"
GARBAGE = bytes(random.Random(7).randrange(256) for _ in range(20000))
GOOD = (MENU + settings() + table() + PROMPT).encode()

# Captures and what becomes of them: exit status and a line of the output
# (standard output for --list, standard error otherwise).
CAPTURES = [
    ("empty", b"", [], 1, 'no acquisition in capture.txt (no "Pre Scans = ..." settings line)'),
    ("menus only", (MENU + " Menu Selections:\n [A] Firmware String\n" + PROMPT).encode(),
     [], 1, "no acquisition in capture.txt"),
    ("settings without a table", (MENU + settings() + PROMPT + "e\n").encode(), [], 1,
     "acquisition 1 (line 8) skipped: no table (line 10 is no table line)"),
    ("half-written table", (MENU + settings() + table(3, 1, 130) + "131,4").encode(), [], 1,
     "skipped: table incomplete, 130 of 256 lines (the capture ends inside line 139)"),
    ("table cut by the next acquisition", (MENU + settings() + table(3, 1, 20) + MENU +
                                           settings(0, 1, 100) + table(1)).encode(),
     ["--list"], 0, "1  line 8  Pre Scans = 3, Data Scans = 3, Data Scan Period = 650ms  "
     "skipped: table incomplete, 20 of 256 lines (line 29 is no table line)"),
    ("a line with a value missing", (MENU + settings() + table(3, 1, 99) + "100,1,2\n" +
                                     table(3, 101, 256)).encode(), [], 1,
     "table incomplete, 99 of 256 lines (line 108 has 2 values where the settings give 3 "
     "data scans)"),
    ("columns other than the settings", (MENU + settings() + table(2)).encode(), [], 1,
     "table incomplete, 0 of 256 lines (line 9 has 2 values where the settings give 3"),
    ("a pixel skipped", (MENU + settings(data_scans=1) + table(1, 1, 50) + table(1, 52, 256)
                         ).encode(), [], 1, "(line 59 holds pixel 052 where 051 was due)"),
    ("a value above 65535", (MENU + settings(data_scans=1) + "001,65536\n").encode(), [], 1,
     "(line 9 has a value above 65535)"),
    ("a line of 60000 digits", (MENU + settings(data_scans=1) + "001," + "9" * 60000 +
                                "\n").encode(), [], 1, "(line 9 is no table line)"),
    ("settings wider than the program's", (MENU + settings(3, 70000) + table(1)).encode(),
     [], 1, "no acquisition in capture.txt"),
    ("binary garbage", GARBAGE, [], 1, "no acquisition in capture.txt"),
    ("garbage inside the table", GOOD[:900] + GARBAGE[:300] + GOOD[900:], [], 1,
     "skipped: table incomplete, 38 of 256 lines (line 47 is no table line)"),
    ("garbage and an endless line around a table", GARBAGE + b"\0" * 100000 + b"\n" + GOOD +
     GARBAGE, ["--list"], 0, "  Pre Scans = 3, Data Scans = 3, Data Scan Period = 650ms  "
     "3 curves, 256 points"),
    ("CR LF and echoed backspaces", (MENU + "ZORVI_DLK>x\bg\n" + settings() + table() +
                                     "  Enter number of data scans [3] ? 3\b2\n" + PROMPT
                                     ).replace("\n", "\r\n").encode(), ["--list"], 0,
     "1  line 9  Pre Scans = 3, Data Scans = 3, Data Scan Period = 650ms  3 curves, 256 points"),
    # A failure report is quoted for its own acquisition only (the second one's
    # capture lacks it; the report before it came from a firmware query).
    ("failed acquisitions", (MENU + settings() + "ERROR: g Command Timeout, Spectrometer CTS "
                             "never asserted after 501 msecs() RETURNED: -207\n"
                             "Scan ERROR, ret = -2\n" + PROMPT + "a\n"
                             "ERROR: Firmware Timeout() RETURNED: -205\n" + settings() +
                             "Scan ERROR, ret = -2\n" + PROMPT).encode(), [], 1,
     "acquisition 1 (line 8) skipped: Scan ERROR, ret = -2 (ERROR: g Command Timeout, "
     "Spectrometer CTS never asserted after 501 msecs() RETURNED: -207)\n"
     "zorvidlk-plot: acquisition 2 (line 15) skipped: Scan ERROR, ret = -2\n"),
    ("the last acquisition failed", GOOD + (settings() + "Scan ERROR, ret = -2\n").encode(),
     [], 0, "acquisition 1 of capture.txt"),
    ("-n names a failed acquisition", GOOD + (settings() + "Scan ERROR, ret = -2\n").encode(),
     ["-n", "2"], 1, "acquisition 2 (line 267) skipped: Scan ERROR, ret = -2"),
    ("-n beyond the capture", GOOD, ["-n", "2"], 1, "no acquisition 2: the capture holds 1"),
]


@pytest.mark.parametrize("capture, args, status, line",
                         [case[1:] for case in CAPTURES], ids=[case[0] for case in CAPTURES])
def test_what_a_capture_gives(port_dir, capture, args, status, line):
    with open(os.path.join(port_dir, "capture.txt"), "wb") as stream:
        stream.write(capture)
    done = run_plot(args + ["capture.txt"], port_dir)
    assert done.returncode == status, done.stderr
    stdout, stderr = done.stdout.decode("latin-1"), done.stderr.decode("latin-1")
    assert line in (stdout if "--list" in args or status == 0 else stderr), (stdout, stderr)
    assert "Traceback" not in stderr


def test_standard_input_and_what_fails_around_the_capture(port_dir):
    assert b"acquisition 1 of standard input" in run_plot(["-"], port_dir, GOOD).stdout
    failures = [
        (["nothing.txt"], None, "cannot read nothing.txt: No such file or directory"),
        (["-o", "no/run.png", "-"], None, "cannot write no/run.png: No such file or directory"),
        (["-"], dict(os.environ, PATH=port_dir), "gnuplot not found (Debian package gnuplot-nox)"),
    ]
    for args, env, message in failures:
        done = run_plot(args, port_dir, GOOD, env)
        assert (done.returncode, done.stdout) == (1, b"")
        assert done.stderr.decode() == "zorvidlk-plot: %s\n" % message


@pytest.mark.parametrize("args", [
    ["-n", "0"], ["-n", "last"], ["-o", "run.jpg"], ["--list", "-n", "1"],
    ["--follow", "-o", "run.png"], ["--follow", "-n", "all"], ["--colour"], ["a", "b"]])
def test_bad_options(port_dir, args):
    done = run_plot(args, port_dir, GOOD)
    assert done.returncode == 2
    assert done.stdout == b"" and b"usage: zorvidlk-plot" in done.stderr
    assert not os.path.exists(os.path.join(port_dir, "run.png"))


def append(path, text):
    with open(path, "a") as stream:
        stream.write(text)


def test_follow_redraws_after_each_complete_table(port_dir):
    capture = os.path.join(port_dir, "live.txt")
    append(capture, MENU)
    plot = pexpect.spawn(PLOT, ["--follow", capture], dimensions=(30, 100), timeout=10)
    try:
        plot.expect("following")
        append(capture, settings(3, 2, 100) + table(2))
        plot.expect(r"acquisition 1 of live\.txt")
        plot.expect("Pre Scans = 3, Data Scans = 2, Data Scan Period = 100ms")
        plot.expect("acquisition 1 drawn at ")
        # Half a table draws nothing; its last line completes it.
        append(capture, MENU + settings(0, 1, 1500) + table(1, 1, 255) + "256,1")
        with pytest.raises(pexpect.TIMEOUT):
            plot.expect("acquisition 2", timeout=1.5)
        append(capture, "7\n")
        plot.expect("acquisition 2 of live")
        plot.expect("Pre Scans = 0, Data Scans = 1, Data Scan Period = 1500ms")
        plot.expect("acquisition 2 drawn at ")
        # tee started again writes the file from its start.
        with open(capture, "w") as stream:
            stream.write(settings(5, 1, 200) + table(1))
        plot.expect("started over")
        plot.expect("acquisition 1 of live")
        plot.expect("Pre Scans = 5, Data Scans = 1")
        time.sleep(0.2)
        plot.sendintr()
        plot.expect(pexpect.EOF)
        plot.wait()
        assert plot.exitstatus == 0
        assert b"Traceback" not in plot.before
    finally:
        if plot.isalive():
            plot.terminate(force=True)


def test_follow_on_standard_input_ends_with_it(port_dir):
    fifo = os.path.join(port_dir, "fifo")
    os.mkfifo(fifo)
    plot = subprocess.Popen(["/bin/bash", "-c", 'exec "$0" --follow < "$1"', PLOT, fifo],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    with open(fifo, "w") as writer:
        writer.write(MENU + settings(3, 1, 100) + table(1, 1, 200))
        writer.flush()
        time.sleep(0.5)
        assert plot.poll() is None
        writer.write(table(1, 201, 256))
    out, err = plot.communicate(timeout=30)
    assert plot.returncode == 0, err
    assert out.count(b"acquisition 1 drawn at ") == 1


def test_no_capture_named_at_a_terminal():
    plot = pexpect.spawn(PLOT, [], timeout=10)
    plot.expect("name a capture file, or give one on standard input")
    plot.expect(pexpect.EOF)
    plot.wait()
    assert plot.exitstatus == 2
