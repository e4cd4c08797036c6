"""serial_probe (tests/tools): the serial service driven one operation at a time
from a test, with ZORVIDLK_PORT_DIR pointing at the test's port directory."""
import os
import subprocess

from conftest import BIN_DIR, program_env

PROBE = os.path.join(BIN_DIR, "serial_probe")


class Probe:
    def __init__(self, port_dir):
        self.process = subprocess.Popen([PROBE], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        env=program_env(port_dir), text=True, bufsize=1)

    def do(self, operation):
        """Runs one operation; returns its result line without the operation's name."""
        self.process.stdin.write(operation + "\n")
        self.process.stdin.flush()
        line = self.process.stdout.readline()
        assert line, "serial_probe ended during %r" % operation
        name, _, rest = line.strip().partition(" ")
        assert name == operation.split()[0], line
        return rest

    def close(self):
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()


def transfer_bytes(values):
    """The board's transfer order: pixel 255 first, each value high byte first."""
    out = bytearray()
    for value in reversed(values):
        out += bytes([value >> 8, value & 0xFF])
    return bytes(out)
