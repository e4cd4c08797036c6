"""The program on a pseudo-terminal driving the simulated board, for the suites of
the instrument commands. Standard error goes to a file of its own, so the
failure lines can be compared exactly; the pty carries standard output (and
the bell of the alert beep)."""
import io
import os
import time

import pexpect

from conftest import PROGRAM, program_env

PROMPT = b"ZORVI_DLK>"


def screen_text(raw):
    """Pty output as the program wrote it: line ends back to "\\n", bells dropped."""
    return raw.replace(b"\r\n", b"\n").replace(b"\x07", b"").decode("latin-1")


class BoardSession:
    """zorvidlk -p <com> -b <baud> with its standard error in <port_dir>/stderr-<com>.txt.

    With `capture`, standard output goes through tee into that file, as an operator
    captures a session; the pty's whole output is then kept in `screen`."""

    def __init__(self, port_dir, com=1, baud="115200", timeout=30, capture=None):
        self.stderr_path = os.path.join(port_dir, "stderr-%d.txt" % com)
        env = program_env(port_dir, ZV_STDERR=self.stderr_path, ZV_CAPTURE=capture or "")
        shell = 'exec "$0" "$@" 2>>"$ZV_STDERR"'
        if capture:
            shell = 'set -o pipefail; "$0" "$@" 2>>"$ZV_STDERR" | tee "$ZV_CAPTURE"'
        self.child = pexpect.spawn(
            "/bin/bash", ["-c", shell, PROGRAM, "-p", str(com), "-b", baud], env=env,
            timeout=timeout)
        self.screen = None
        if capture:
            self.screen = io.BytesIO()
            self.child.logfile_read = self.screen
        self.stderr_seen = 0
        self.child.expect(PROMPT)

    def keys(self, text):
        """Types keys once the prompt in front of them is reading."""
        time.sleep(0.05)
        self.child.send(text)

    def command(self, keys, timeout=-1):
        """Types keys at the menu prompt; returns the screen text up to the next prompt."""
        self.keys(keys)
        self.child.expect(PROMPT, timeout=timeout)
        return screen_text(self.child.before)

    def expect(self, pattern, timeout=-1):
        self.child.expect(pattern, timeout=timeout)
        return screen_text(self.child.before)

    def set_setting(self, key, value):
        """Edits one acquisition setting through its Modify question."""
        self.keys(key + "\r")
        self.child.expect(rb"\(Yes/No\)")
        self.keys("y\r")
        self.child.expect(rb"\? ")
        self.keys(str(value) + "\r")
        text = self.expect(PROMPT)
        assert "Invalid Entry" not in text, text

    def new_stderr(self):
        """Standard error written since the last call."""
        with open(self.stderr_path, "rb") as stream:
            stream.seek(self.stderr_seen)
            data = stream.read()
        self.stderr_seen += len(data)
        return data.decode("latin-1")

    def quit(self):
        """Ctrl+C at the menu prompt; returns the exit status."""
        self.keys("\x03")
        self.child.expect(pexpect.EOF, timeout=10)
        self.child.wait()
        return self.child.exitstatus

    def close(self):
        if self.child.isalive():
            self.child.terminate(force=True)

