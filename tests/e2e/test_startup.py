"""Start-up against pseudo-terminals in a port directory of the test's own: the
report lines, the banner, and the serial failure paths with their exit sequence."""
import fcntl
import os
import re
import select
import subprocess
import termios

import pexpect
import pytest

from conftest import PROGRAM, program_env, run_programs_together

REPORT = (b"\n\n***Initializing Communications***\n"
          b"Win64 ZVS Version %d.%d.%d (Build %d)\n"
          b"Linux termios and RFC 2217 serial service\n"
          b"Overlapped I/O is disabled\n"
          b"Setting DTR & RTS on\n"
          b"Setting no parity, 8 data bits, & one stop bit (8N1)\n")
BANNER = b"\n*** ZORVI DLK Demo [?] for Help [^C] to Exit ***\n\n"
EXIT_PAUSE_S = 2.5


def service_version(port_dir):
    """The version numbers -v shows, which the start-up report must repeat."""
    child = pexpect.spawn(PROGRAM, ["-v"], env=program_env(port_dir))
    child.expect(pexpect.EOF)
    found = re.search(rb"ZVS  version (\d+)\.(\d+)\.(\d+) \(Build (\d+)\)", child.before)
    return tuple(int(number) for number in found.groups())


@pytest.mark.parametrize("args, com, speed", [
    (["-p", "1", "-b", "9600"], 1, termios.B9600),
    (["-P", "256", "-B", "115200"], 256, termios.B115200),
    (["-b", "300", "-B", "1200"], 1, termios.B1200),   # no port option: COM1
    (["-p", "+2", "-b", "57600"], 2, termios.B57600),
])
def test_start_up_to_the_banner(port_dir, pty_port, args, com, speed):
    port = pty_port(com)
    stderr_path = os.path.join(port_dir, "stderr.txt")
    child = pexpect.spawn("/bin/bash", ["-c", 'exec "$0" "$@" 2>"$ZV_STDERR"', PROGRAM] + args,
                          env=program_env(port_dir, ZV_STDERR=stderr_path), timeout=10)
    child.expect_exact(b"\r\n\r\n*** ZORVI DLK Demo [?] for Help [^C] to Exit ***\r\n\r\n")
    shown = (child.before + child.after).replace(b"\r\n", b"\n")
    expected = (REPORT % service_version(port_dir)
                + b"Port %d Flow control not set\n" % com + BANNER)
    assert shown == expected

    # The port the menu now works on: raw, 8 data bits, no flow control, the rate asked for.
    settings = termios.tcgetattr(port.master)
    iflag, cflag, lflag = settings[0], settings[2], settings[3]
    assert settings[4] == settings[5] == speed
    assert cflag & termios.CSIZE == termios.CS8
    assert cflag & (termios.CLOCAL | termios.CREAD) == termios.CLOCAL | termios.CREAD
    assert cflag & (termios.CRTSCTS | termios.PARENB | termios.CSTOPB) == 0
    assert iflag & (termios.IXON | termios.IXOFF) == 0
    assert lflag & (termios.ICANON | termios.ECHO) == 0
    # Nothing was sent to the board during start-up.
    assert not select.select([port.master], [], [], 0.1)[0]

    try:
        child.send(b"\x03")
    except OSError:
        pass
    child.expect(pexpect.EOF, timeout=10)
    child.close()
    with open(stderr_path, "rb") as stream:
        assert stream.read() == b""


def test_serial_failures_end_through_the_exit_sequence(port_dir, pty_port):
    held = pty_port(2)
    holder = os.open(held.slave_path, os.O_RDWR | os.O_NOCTTY)
    fcntl.flock(holder, fcntl.LOCK_EX)   # another process owns COM2
    pty_port(3)
    os.symlink(os.path.join(port_dir, "unplugged"), os.path.join(port_dir, "COM5"))
    with open(os.path.join(port_dir, "COM6"), "w"):
        pass
    cases = [
        (["-p", "2", "-b", "9600"], b"COM port already open\n"),
        (["-p", "3", "-b", "0"], b"Unsupported baud rate\n"),
        (["-p", "4", "-b", "9600"], b"COM port hardware not present\n"),
        (["-p", "5", "-b", "9600"], b"Event I/O error (virtual port not ready ?)\n"),
        (["-p", "6", "-b", "9600"], b"COM port hardware not present\n"),
    ]
    try:
        results = run_programs_together([(args, port_dir) for args, _ in cases])
    finally:
        os.close(holder)
    report = REPORT % service_version(port_dir)
    for (args, message), (status, out, err, seconds) in zip(cases, results):
        assert (status, out, err) == (1, report + message + b"(exiting)...\n", b""), args
        assert seconds >= EXIT_PAUSE_S, args


@pytest.mark.parametrize("closed", ["<&-", ">&-"], ids=["stdin", "stdout"])
def test_a_closed_standard_stream_never_leads_to_the_port(port_dir, pty_port, closed):
    # The port opened after start-up must not take the closed stream's
    # descriptor: the board would get the console text, or its bytes would be
    # read as the operator's keys (and the menu would wait on them for ever).
    port = pty_port(1)
    keep_open = os.open(port.slave_path, os.O_RDWR | os.O_NOCTTY)  # no hang-up at the close
    try:
        process = subprocess.run(
            ["/bin/sh", "-c", 'exec "$0" "$@" ' + closed, PROGRAM, "-p", "1", "-b", "9600"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            env=program_env(port_dir), timeout=10)
        sent = select.select([port.master], [], [], 0.1)[0] and os.read(port.master, 4096)
    finally:
        os.close(keep_open)
    assert not sent
    # No keys to read: the menu ends as on Ctrl+C.
    assert process.returncode == 1
    if closed == "<&-":
        assert process.stdout.endswith(BANNER + b"\nZORVI_DLK>\nGot ^C Exiting...\n")


@pytest.mark.parametrize("links, args, redirected", [
    (["/dev/tty"], "-p 1 -b 9600", False),
    (["$(tty)"], "-p 1 -b 9600", False),
    (["$(tty)"], "-p 1 -b 9600", True),
    (["/dev/tty", "$(tty)"], "-l", False),
    (["/dev/tty", "$(tty)"], "-l", True),
], ids=["dev-tty", "own-pty", "own-pty-streams-redirected", "scan", "scan-streams-redirected"])
def test_the_operators_own_terminal_is_never_taken_as_a_port(port_dir, links, args, redirected):
    # A port entry that leads to the operator's terminal reads as in use: the
    # program must not switch the screen to raw 8N1 and send board commands to
    # it. With all three streams redirected it is still the controlling terminal.
    out_path = os.path.join(port_dir, "out.txt")
    script = "".join('ln -s %s "%s/COM%d" && ' % (target, port_dir, com)
                     for com, target in enumerate(links, 1))
    # The shell stays on the terminal, so it is open while the program runs.
    script += '"$0" ' + args + (' </dev/null >"%s" 2>&1' % out_path if redirected else "")
    script += '; echo "ended $?"'
    child = pexpect.spawn("/bin/sh", ["-c", script, PROGRAM], env=program_env(port_dir),
                          timeout=15)
    child.expect(rb"ended (\d+)")
    status = int(child.match.group(1))
    output = child.before.replace(b"\r\n", b"\n")
    child.expect(pexpect.EOF)
    child.close()
    if redirected:
        # The terminal got the exit sequence's two bells and nothing else.
        assert output == b"\x07\x07"
        with open(out_path, "rb") as stream:
            output = stream.read() + output
    assert b"Flow control not set" not in output
    if args == "-l":
        assert output.endswith(b"\nChecking COM1 through COM256...\n"
                               b"\n0 port(s) found\n(exiting)...\n\x07\x07")
        assert status == 0
    else:
        # The two beeps of the exit sequence ring this terminal's bell.
        assert output.endswith(b"COM port already open\n(exiting)...\n\x07\x07")
        assert status == 1
