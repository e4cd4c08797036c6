"""The menu loop of the real program on a pseudo-terminal, against a
pseudo-terminal port: keys, help, the temperature line, the three settings and
the ways out. Output is compared byte for byte ("\n" reaches the screen as
"\r\n" through the terminal's output processing)."""
import os
import select
import signal
import time

import pexpect
import pytest

from conftest import run_program, spawn_program

PROMPT = b"\r\nZORVI_DLK>"
BANNER = b"\r\n*** ZORVI DLK Demo [?] for Help [^C] to Exit ***\r\n\r\n"
HELP = (b"\r\n Menu Selections:\r\n [A] Firmware String\r\n [B] Set Status LEDs\r\n"
        b" [C] Read  Temp/Humi\r\n [D] Set Pre   Scans\r\n [E] Set Data  Scans\r\n"
        b" [F] Set Scan Period\r\n [G] Collect Spectra\r\n")
EXIT_TEXT = b"\r\nGot ^C Exiting...\r\n"


def start(port_dir, pty_port):
    pty_port(1)
    child = spawn_program(["-p", "1", "-b", "115200"], port_dir)
    child.expect_exact(BANNER + PROMPT)
    return child


def answer(child, keys):
    """Types keys at the menu and returns everything shown up to the next
    menu prompt, without the alert's bell (which the beep writes to the terminal)."""
    child.send(keys)
    child.expect_exact(PROMPT)
    return (child.before + child.after).replace(b"\x07", b"")


def finish(child):
    child.expect_exact(pexpect.EOF)
    child.close()
    return child.exitstatus


def setting(name_line, question, reply, typed_value, result=b""):
    """What one edit of a setting shows: the setting line, the Modify question
    with its answer, the value entry (when the answer was Yes) and the result."""
    shown = name_line + b"\r\n  Modify (Yes/No) [N]" + reply
    if typed_value is not None:
        shown += b"\r\n  " + question + typed_value
    return shown + result + PROMPT


def pre_scans(value):
    return b"\r\n\r\n  Spectrometer Pre Scans (4ms each) =  %d\r\n" % value


def data_scans(period, value):
    return b"\r\n\r\n  Spectrometer Data Scans (%dms each) =  %d\r\n" % (period, value)


def integration(value):
    return b"\r\n\r\n  Spectrometer Integration Period (ms) =  %d\r\n" % value


def range_error(low, high):
    return b"\r\n  Invalid Entry, valid range = %d - %d\r\n" % (low, high)


def test_help_temperature_and_keys_outside_the_menu(port_dir, pty_port):
    child = start(port_dir, pty_port)
    assert answer(child, b"h\r") == b"h\r\n" + HELP + PROMPT
    assert answer(child, b"?\r") == b"?\r\n" + HELP + PROMPT
    assert answer(child, b"c\r") == b"c\r\nTemp = -1.00C Humi = -100.00%\r\n" + PROMPT
    assert answer(child, b"C\r") == b"C\r\nTemp = -1.00C Humi = -100.00%\r\n" + PROMPT
    # Enter alone: one line feed, then the prompt again.
    assert answer(child, b"\r") == b"\r\n" + PROMPT
    # A key outside the menu: the prompt asks again, nothing runs.
    assert answer(child, b"z\r") == b"z" + PROMPT
    # The latest key before Enter counts (the entry holds one character).
    assert answer(child, b"zh\r") == b"z\x08h\r\n" + HELP + PROMPT
    # Up arrow arrives as 224 then 72 ('H'): like the console it stands in for,
    # the entry keeps the 'H' and the help comes.
    assert answer(child, b"\x1b[A\r") == b"\xe0\x08H\r\n" + HELP + PROMPT
    # A lone Escape is a character: echoed, not in the menu, asked again.
    child.send(b"\x1b")
    time.sleep(0.2)
    assert answer(child, b"\r") == b"\x1b" + PROMPT
    child.sendcontrol("c")
    child.expect_exact(EXIT_TEXT)
    assert finish(child) == 1


# Each row: keys typed at the menu prompt, what the screen shows up to the next prompt.
SETTINGS_SESSION = [
    # Pre scans: No, Enter (default No), cancel, same value, in range, out of range.
    (b"d\rn\r", setting(pre_scans(3), b"", b"n", None)),
    (b"D\r\r", setting(pre_scans(3), b"", b"", None)),
    (b"d\r\x03", setting(pre_scans(3), b"", b"", None)),
    (b"d\ry\r3\r", setting(pre_scans(3), b"Enter number of pre scans [3] ? ", b"y", b"3")),
    (b"d\ry\r10\r", setting(pre_scans(3), b"Enter number of pre scans [3] ? ", b"y", b"10")),
    (b"d\ry\r11\r", setting(pre_scans(10), b"Enter number of pre scans [10] ? ", b"y", b"11",
                            range_error(1, 10))),
    # An empty entry and a cancel keep the value.
    (b"d\ry\r\r", setting(pre_scans(10), b"Enter number of pre scans [10] ? ", b"y", b"")),
    (b"d\ry\r4\x03", setting(pre_scans(10), b"Enter number of pre scans [10] ? ", b"y", b"4")),
    # 0 pre scans is accepted, although the range message names 1 as the lowest value.
    (b"d\ry\r0\r", setting(pre_scans(10), b"Enter number of pre scans [10] ? ", b"y", b"0")),
    (b"d\rn\r", setting(pre_scans(0), b"", b"n", None)),
    # Data scans.
    (b"e\ry\r0\r", setting(data_scans(650, 3), b"Enter number of data scans [3] ? ", b"y", b"0",
                           range_error(1, 10))),
    (b"e\ry\r11\r", setting(data_scans(650, 3), b"Enter number of data scans [3] ? ", b"y",
                            b"11", range_error(1, 10))),
    (b"e\ry\r3\r", setting(data_scans(650, 3), b"Enter number of data scans [3] ? ", b"y", b"3")),
    (b"e\ry\r1\r", setting(data_scans(650, 3), b"Enter number of data scans [3] ? ", b"y", b"1")),
    (b"e\rn\r", setting(data_scans(650, 1), b"", b"n", None)),
    # Integration period; a number too large for 32 bits must not wrap into the range.
    (b"f\ry\r99\r", setting(integration(650), b"Enter integration period (ms) [650] ? ", b"y",
                            b"99", range_error(100, 1500))),
    (b"f\ry\r1501\r", setting(integration(650), b"Enter integration period (ms) [650] ? ",
                              b"y", b"1501", range_error(100, 1500))),
    (b"f\ry\r4294967496\r", setting(integration(650), b"Enter integration period (ms) [650] ? ",
                                    b"y", b"4294967496", range_error(100, 1500))),
    (b"f\ry\r650\r", setting(integration(650), b"Enter integration period (ms) [650] ? ", b"y",
                             b"650")),
    (b"f\ry\rx\r1500\r", setting(integration(650), b"Enter integration period (ms) [650] ? ",
                                 b"y", b"x\r\n  Enter integration period (ms) [650] ? 1500")),
    (b"f\rn\r", setting(integration(1500), b"", b"n", None)),
    (b"e\rn\r", setting(data_scans(1500, 1), b"", b"n", None)),
]


def test_each_setting_edit_path(port_dir, pty_port):
    child = start(port_dir, pty_port)
    for keys, shown in SETTINGS_SESSION:
        echo = keys[:1] + b"\r\n"
        assert answer(child, keys) == echo + shown[2:], keys
    child.sendcontrol("c")
    child.expect_exact(EXIT_TEXT)
    assert finish(child) == 1


@pytest.mark.parametrize("keys", [b"\x03", b"\x1bOP", b"\x1b[[A", b"\x1b[24~"],
                         ids=["ctrl-c", "f1", "f1-linux-console", "f12"])
def test_cancel_at_the_menu_ends_the_program(port_dir, pty_port, keys):
    child = start(port_dir, pty_port)
    if keys == b"\x1b[24~":
        # F12 starts with 224, not 0: it is a character, and the menu asks again.
        assert answer(child, keys + b"\r") == b"\xe0\x08\x86" + PROMPT
        keys = b"\x03"
    started = time.monotonic()
    child.send(keys)
    child.expect_exact(EXIT_TEXT)
    assert finish(child) == 1
    assert time.monotonic() - started >= 0.9  # RTS dropped, then one second before the close


def test_keys_from_a_pipe_that_run_out_end_like_ctrl_c(port_dir, pty_port):
    pty_port(1)
    # 127 from a pipe is a Backspace too: "12", Backspace leaves 1.
    result = run_program(["-p", "1", "-b", "115200"], port_dir,
                         input_bytes=b"c\rd\ry\r12\x7f\rd\r\r")
    assert result.returncode == 1
    out = result.stdout
    tail = (b"\nZORVI_DLK>c\nTemp = -1.00C Humi = -100.00%\n"
            b"\nZORVI_DLK>d\n\n  Spectrometer Pre Scans (4ms each) =  3\n"
            b"\n  Modify (Yes/No) [N]y\n  Enter number of pre scans [3] ? 12\x08"
            b"\nZORVI_DLK>d\n\n  Spectrometer Pre Scans (4ms each) =  1\n"
            b"\n  Modify (Yes/No) [N]"
            b"\nZORVI_DLK>\nGot ^C Exiting...\n")
    assert out.endswith(tail), out
    assert out.startswith(b"\n\n***Initializing Communications***\n")


def test_ctrl_c_during_a_command_ends_the_program_at_once(port_dir, pty_port):
    port = pty_port(1)
    child = spawn_program(["-p", "1", "-b", "115200"], port_dir)
    child.expect_exact(BANNER + PROMPT)
    child.send(b"a\r")
    assert read_port(port, b"V\r")  # the firmware query is waiting for its reply
    child.sendcontrol("c")
    # Well before the query's two-second time-out.
    child.expect(pexpect.EOF, timeout=1.5)
    child.close()
    assert child.signalstatus == signal.SIGINT
    assert EXIT_TEXT not in child.before


def read_port(port, wanted, timeout=5.0):
    """Reads the port's far end until `wanted` came (True) or the time ran out."""
    seen = b""
    deadline = time.monotonic() + timeout
    while wanted not in seen and time.monotonic() < deadline:
        ready, _, _ = select.select([port.master], [], [], 0.1)
        if ready:
            seen += os.read(port.master, 256)
    return wanted in seen
