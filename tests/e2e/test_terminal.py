"""The operator's terminal around the real program: the input mode while it
reads keys and while a command runs, and the terminal's settings restored on
every way out (Ctrl+C at the menu, signals during a command, a reader of the
output that quit, a terminal that went away)."""
import os
import resource
import subprocess
import select
import signal
import termios
import time

import pexpect
import pytest

from conftest import PROGRAM, program_env

PROMPT = b"\r\nZORVI_DLK>"
BANNER = b"*** ZORVI DLK Demo [?] for Help [^C] to Exit ***\r\n\r\n" + PROMPT
EXIT_TEXT = b"\r\nGot ^C Exiting...\r\n"
IFLAG, OFLAG, CFLAG, LFLAG, ISPEED, OSPEED, CC = range(7)


def no_core_dumps():
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


def settings(child):
    return termios.tcgetattr(child.child_fd)


def wait_for_port(port, wanted, timeout=5.0):
    """Reads the port's far end until `wanted` came: the command is then running."""
    master = port.master
    seen = b""
    deadline = time.monotonic() + timeout
    while wanted not in seen and time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 0.1)
        if ready:
            seen += os.read(master, 256)
    assert wanted in seen


@pytest.fixture
def com1(port_dir, pty_port):
    """COM1 as a pseudo-terminal whose far end the test reads."""
    return pty_port(1)


def expected_input_mode(before, signal_keys):
    mode = [list(field) if isinstance(field, list) else field for field in before]
    mode[IFLAG] &= ~termios.IXON
    mode[LFLAG] &= ~(termios.ECHO | termios.ICANON | termios.IEXTEN)
    if signal_keys:
        mode[LFLAG] |= termios.ISIG
    else:
        mode[LFLAG] &= ~termios.ISIG
    mode[CC][termios.VMIN] = 1
    mode[CC][termios.VTIME] = 0
    return mode


def start(port_dir):
    """Runs the program on a pseudo-terminal, held back by a shell until the
    terminal's settings have been read; returns the child and those settings."""
    child = pexpect.spawn("/bin/sh", ["-c", 'read go; exec "$0" "$@"', PROGRAM, "-p", "1", "-b",
                                      "115200"],
                          env=program_env(port_dir), timeout=10, preexec_fn=no_core_dumps)
    before = settings(child)
    assert before[LFLAG] & termios.ECHO and before[LFLAG] & termios.ICANON
    child.sendline(b"")
    child.expect_exact(BANNER)
    return child, before


def test_input_mode_at_the_prompt_and_during_a_command_then_restored(port_dir, com1):
    child, before = start(port_dir)
    # Waiting for a key: no echo, no line buffering, no signal keys, nothing else changed.
    assert settings(child) == expected_input_mode(before, signal_keys=False)
    child.send(b"a\r")
    wait_for_port(com1, b"V\r")
    # A command runs: Ctrl+C would end the process, keys are still not echoed.
    assert settings(child) == expected_input_mode(before, signal_keys=True)
    child.expect_exact(PROMPT, timeout=10)  # the query times out and reports
    child.sendcontrol("c")
    child.expect_exact(EXIT_TEXT)
    child.expect(pexpect.EOF)
    assert settings(child) == before
    child.close()
    assert child.exitstatus == 1


@pytest.mark.parametrize("sent", [signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGINT],
                         ids=["term", "hup", "quit", "int"])
def test_signal_during_a_command_restores_and_ends_by_that_signal(port_dir, com1, sent):
    port_before = termios.tcgetattr(com1.master)
    child, before = start(port_dir)
    child.send(b"a\r")
    wait_for_port(com1, b"V\r")
    child.kill(sent)
    child.expect(pexpect.EOF)
    assert settings(child) == before
    # The port too has its settings back.
    assert termios.tcgetattr(com1.master) == port_before
    child.close()
    assert child.signalstatus == sent


def test_sigterm_at_the_prompt_restores(port_dir, com1):
    child, before = start(port_dir)
    child.kill(signal.SIGTERM)
    child.expect(pexpect.EOF)
    assert settings(child) == before
    child.close()
    assert child.signalstatus == signal.SIGTERM


def test_reader_of_the_output_quit(port_dir, com1):
    # Standard output goes into a pipe whose reader quits once it has seen the
    # line of the first C key; the next output kills the program by SIGPIPE,
    # which must leave the terminal as it was.
    def default_sigpipe():  # Python ignores SIGPIPE, and its children would inherit that
        no_core_dumps()
        signal.signal(signal.SIGPIPE, signal.SIG_DFL)

    pipeline = ('read go; ("$0" "$@"; echo "ended by $?" >&2)'
                ' | (sed -n "/ZORVI_DLK>c/q"; exec 0<&-; echo "reader quit" >&2)')
    child = pexpect.spawn("/bin/sh", ["-c", pipeline, PROGRAM, "-p", "1", "-b", "115200"],
                          env=program_env(port_dir), timeout=10, preexec_fn=default_sigpipe)
    before = settings(child)
    child.sendline(b"")
    reading_keys = expected_input_mode(before, signal_keys=False)
    deadline = time.monotonic() + 5
    while settings(child) != reading_keys and time.monotonic() < deadline:
        time.sleep(0.05)  # the program takes the terminal at its menu prompt
    assert settings(child) == reading_keys
    child.send(b"c\r")
    child.expect_exact(b"reader quit")
    child.send(b"c\r")
    child.expect_exact(b"ended by %d" % (128 + signal.SIGPIPE))
    child.expect(pexpect.EOF)
    assert settings(child) == before
    child.close()


def test_terminal_that_went_away_ends_like_ctrl_c(port_dir, com1):
    # With hang-ups ignored (as under nohup) the program sees the end of its
    # input and takes the Ctrl+C way out: status 1.
    def ignore_hangup():
        no_core_dumps()
        signal.signal(signal.SIGHUP, signal.SIG_IGN)

    child = pexpect.spawn(PROGRAM, ["-p", "1", "-b", "115200"], env=program_env(port_dir),
                          timeout=10, preexec_fn=ignore_hangup)
    child.expect_exact(BANNER)
    started = time.monotonic()
    child.ptyproc.fileobj.close()
    assert child.wait() == 1
    assert time.monotonic() - started >= 0.9  # the exit sequence's pause


# A minimal job-control parent: runs the program as the terminal's foreground
# process group, reports a stop, and on a line from the test hands the terminal
# back and continues it (as a shell's `fg` does).
JOB_CONTROL = r"""
import os, signal, sys
signal.signal(signal.SIGTTOU, signal.SIG_IGN)
sys.stdin.readline()
pid = os.fork()
if pid == 0:
    os.setpgid(0, 0)
    os.tcsetpgrp(0, os.getpid())
    signal.signal(signal.SIGTTOU, signal.SIG_DFL)
    os.execv(sys.argv[1], sys.argv[1:])
while True:
    _, status = os.waitpid(pid, os.WUNTRACED)
    if not os.WIFSTOPPED(status):
        print("job ended", flush=True)
        break
    os.tcsetpgrp(0, os.getpgrp())
    print("job stopped", flush=True)
    sys.stdin.readline()
    os.tcsetpgrp(0, pid)
    os.kill(pid, signal.SIGCONT)
"""


def test_ctrl_z_during_a_command_restores_and_continuing_takes_the_terminal_again(port_dir,
                                                                                   com1):
    child = pexpect.spawn("/usr/bin/python3", ["-c", JOB_CONTROL, PROGRAM, "-p", "1", "-b",
                                               "115200"],
                          env=program_env(port_dir), timeout=10, preexec_fn=no_core_dumps)
    before = settings(child)
    child.sendline(b"")
    child.expect_exact(BANNER)
    child.send(b"a\r")
    wait_for_port(com1, b"V\r")  # the query waits two seconds for its reply
    child.sendcontrol("z")
    child.expect_exact(b"job stopped")
    assert settings(child) == before
    child.sendline(b"")
    running = expected_input_mode(before, signal_keys=True)
    deadline = time.monotonic() + 1.0
    while settings(child) != running and time.monotonic() < deadline:
        time.sleep(0.01)
    assert settings(child) == running  # taken again while the command still runs
    child.expect_exact(PROMPT)
    child.sendcontrol("c")
    child.expect_exact(b"job ended")
    child.expect(pexpect.EOF)
    assert settings(child) == before
    child.close()


HELP = (b"\n Menu Selections:\n [A] Firmware String\n [B] Set Status LEDs\n"
        b" [C] Read  Temp/Humi\n [D] Set Pre   Scans\n [E] Set Data  Scans\n"
        b" [F] Set Scan Period\n [G] Collect Spectra\n")


def test_a_stop_while_output_waits_for_its_reader_loses_nothing(port_dir, com1):
    # Keys from a terminal, output into a pipe that nobody reads yet: the
    # program blocks writing. A stop and continue there must not make the
    # write fail (stdio would drop what it held).
    keys, terminal = os.openpty()
    process = subprocess.Popen([PROGRAM, "-p", "1", "-b", "115200"], stdin=terminal,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               env=program_env(port_dir), preexec_fn=os.setpgrp)
    os.close(terminal)
    try:
        shown = b""
        while not shown.endswith(b"\nZORVI_DLK>"):
            chunk = os.read(process.stdout.fileno(), 4096)
            assert chunk, shown
            shown += chunk
        count = 1500  # some 270 kB of help menus: far more than a pipe holds
        os.write(keys, b"h\r" * count)
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline and not wait_channel(process.pid).endswith("pipe_write"):
            time.sleep(0.05)
        process.send_signal(signal.SIGTSTP)
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline and process_state(process.pid) != "T":
            time.sleep(0.05)
        process.send_signal(signal.SIGCONT)
        deadline = time.monotonic() + 3  # the input mode back: Ctrl+C is a key again
        while time.monotonic() < deadline and termios.tcgetattr(keys)[LFLAG] & termios.ICANON:
            time.sleep(0.05)
        os.write(keys, b"\x03")
        shown += process.communicate(timeout=30)[0]
    finally:
        process.kill()
        os.close(keys)
    assert process.returncode == 1
    assert shown.count(b"Menu Selections") == count
    expected = b"h\n" + HELP + (b"\nZORVI_DLK>h\n" + HELP) * (count - 1)
    assert shown.endswith(b"\nZORVI_DLK>" + expected + b"\nZORVI_DLK>\nGot ^C Exiting...\n")


def wait_channel(pid):
    with open("/proc/%d/wchan" % pid) as stream:
        return stream.read()


def process_state(pid):
    with open("/proc/%d/stat" % pid) as stream:
        return stream.read().rsplit(")", 1)[1].split()[0]
