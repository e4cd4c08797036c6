"""The port scan (-l) over port directories of the test's own."""
import fcntl
import os
import re
import shutil
import tempfile

from conftest import run_programs_together

REPORT_LINES = (b"Overlapped I/O is disabled\n"
                b"Setting DTR & RTS on\n"
                b"Setting no parity, 8 data bits, & one stop bit (8N1)\n"
                b"\nChecking COM1 through COM256...\n")
EXIT = b"(exiting)...\n"


def scan_body(out):
    """The scan's output after the service report (whose version numbers the
    start-up tests compare with -v)."""
    start = out.find(REPORT_LINES)
    assert start > 0, out
    assert re.fullmatch(rb"Win64 ZVS Version \d+\.\d+\.\d+ \(Build \d+\)\n[^\n]{1,49}\n",
                        out[:start]), out
    return out[start + len(REPORT_LINES):]


def test_scan_lists_ports_in_order(port_dir, pty_port):
    shared = pty_port(1)
    # COM2 is the same device as COM1: it opens only if COM1 was closed again.
    os.symlink(shared.slave_path, os.path.join(port_dir, "COM2"))
    os.symlink(os.path.join(port_dir, "unplugged"), os.path.join(port_dir, "COM5"))
    held = pty_port(7)
    holder = os.open(held.slave_path, os.O_RDWR | os.O_NOCTTY)
    fcntl.flock(holder, fcntl.LOCK_EX)   # held by another process: neither shown nor counted
    with open(os.path.join(port_dir, "COM8"), "w"):
        pass                              # a plain file is no port
    pty_port(10)
    pty_port(256)

    only_not_ready = tempfile.mkdtemp(prefix="zv", dir="/tmp")
    empty = tempfile.mkdtemp(prefix="zv", dir="/tmp")
    os.symlink("/nonexistent/ttyUSB9", os.path.join(only_not_ready, "COM3"))
    try:
        results = run_programs_together([
            (["-l"], port_dir),
            (["-l"], only_not_ready),
            (["-l", "-p", "999", "x"], empty),   # nothing after -l is read
        ])
    finally:
        os.close(holder)
        shutil.rmtree(only_not_ready, ignore_errors=True)
        shutil.rmtree(empty, ignore_errors=True)

    expected = [
        b"COM1: OK, port exists\n"
        b"COM2: OK, port exists\n"
        b"COM5: Port exists but not enabled (event I/O error -13)\n"
        b"COM10: OK, port exists\n"
        b"COM256: OK, port exists\n"
        b"\n4 port(s) found\n"
        b"1 'not ready' port(s) found (virtual port not ready?)\n" + EXIT,
        b"COM3: Port exists but not enabled (event I/O error -13)\n"
        b"\n0 port(s) found\n"
        b"1 'not ready' port(s) found (virtual port not ready?)\n" + EXIT,
        b"\n0 port(s) found\n" + EXIT,
    ]
    for want, (status, out, err, seconds) in zip(expected, results):
        assert (status, err) == (0, b"")
        assert scan_body(out) == want
        assert seconds >= 2.5
