#!/usr/bin/env python3
"""Soak: N acquisitions with random settings against the simulated board with
stray bytes on the line (--fault noise), every table compared value for value
with the spectra in the simulator's events.

Usage: soak.py [N] [--seed S] [--bin-dir DIR]     (N defaults to 200)

Each acquisition draws 1-10 data scans, an integration period of 100-200 ms and
0-10 pre scans, sets them through the menu (D, E, F) and runs G in one long
session of the program. The table must hold the board's spectra exactly, the
board must have received exactly E5, P, R, I and one S, g pair per data scan,
and nothing may appear on the error stream. The last line printed is
"N acquisitions, M mismatched values"; the exit status is 1 when any value
mismatched or anything else went wrong (each reported on its own line).
"""
import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

import pexpect

PROMPT = b"ZORVI_DLK>"
PIXELS = 256


class EventLog:
    """Reads the simulator's event log as it grows (never the whole file twice)."""

    def __init__(self, path):
        self.path = path
        self.offset = 0

    def new_events(self):
        with open(self.path, "rb") as stream:
            stream.seek(self.offset)
            data = stream.read()
        end = data.rfind(b"\n") + 1
        self.offset += end
        return [json.loads(line) for line in data[:end].splitlines() if line.strip()]


def process_figures(pid):
    """Resident memory (kB) and open descriptors of a process."""
    rss = 0
    with open("/proc/%d/status" % pid) as stream:
        for line in stream:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
    return rss, len(os.listdir("/proc/%d/fd" % pid))


class Session:
    def __init__(self, bin_dir, port_dir):
        self.stderr_path = os.path.join(port_dir, "stderr.txt")
        env = dict(os.environ, ZORVIDLK_PORT_DIR=port_dir, TERM="xterm",
                   ZV_STDERR=self.stderr_path)
        # Standard error to a file of its own, so any failure line is caught.
        self.child = pexpect.spawn(
            "/bin/bash", ["-c", 'exec "$0" "$@" 2>>"$ZV_STDERR"',
                          os.path.join(bin_dir, "zorvidlk"), "-p", "1", "-b", "115200"],
            env=env, timeout=30, maxread=65536, searchwindowsize=4096)
        self.stderr_seen = 0
        self.child.expect(PROMPT)
        self.settings = {"d": 3, "e": 3, "f": 650}

    def set(self, key, value):
        if self.settings[key] == value:
            return
        self.child.send(key + "\r")
        self.child.expect(rb"\(Yes/No\)")
        self.child.send("y\r")
        self.child.expect(rb"\? ")
        self.child.send("%d\r" % value)
        self.child.expect(PROMPT)
        if b"Invalid" in self.child.before:
            raise RuntimeError("the menu refused %s = %d" % (key, value))
        self.settings[key] = value

    def acquire(self):
        """Runs G; returns the screen text up to the next prompt."""
        self.child.send("g\r")
        self.child.expect(PROMPT, timeout=60)
        return self.child.before.replace(b"\r\n", b"\n").decode("latin-1")

    def new_stderr(self):
        with open(self.stderr_path, "rb") as stream:
            stream.seek(self.stderr_seen)
            data = stream.read()
        self.stderr_seen += len(data)
        return data.decode("latin-1")

    def quit(self):
        self.child.send("\x03")
        self.child.expect(pexpect.EOF, timeout=10)
        self.child.wait()

    def close(self):
        if self.child.isalive():
            self.child.terminate(force=True)


def table_rows(text):
    """{pixel number: [values]} from the table lines of a screen text."""
    rows = {}
    for line in text.split("\n"):
        head, _, rest = line.partition(",")
        if len(head) == 3 and head.isdigit() and rest:
            try:
                rows[int(head)] = [int(value) for value in rest.split(",")]
            except ValueError:
                rows[int(head)] = []
    return rows


def count_mismatches(rows, spectra):
    """Values of the board's spectra that the table does not hold at their place,
    plus any value the table holds beyond them."""
    mismatched = 0
    for pixel in range(PIXELS):
        row = rows.get(pixel + 1, [])
        for scan, values in enumerate(spectra):
            if scan >= len(row) or row[scan] != values[pixel]:
                mismatched += 1
        mismatched += max(0, len(row) - len(spectra))
    mismatched += sum(len(row) for number, row in rows.items() if not 1 <= number <= PIXELS)
    return mismatched


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("count", nargs="?", type=int, default=200)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--bin-dir", default=os.environ.get(
        "ZORVIDLK_BIN_DIR", os.path.join(here, "..", "..", "build", "bin")))
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.SystemRandom().randrange(1 << 31)
    draw = random.Random(seed)
    bin_dir = os.path.abspath(args.bin_dir)
    print("soak: %d acquisitions, seed %d, board with --fault noise" % (args.count, seed),
          flush=True)

    port_dir = tempfile.mkdtemp(prefix="zvs", dir="/tmp")
    events_path = os.path.join(port_dir, "events.jsonl")
    sim = subprocess.Popen([os.path.join(bin_dir, "zorvidlk-sim"), "--socket",
                            os.path.join(port_dir, "COM1"), "--events", events_path,
                            "--seed", str(seed), "--fault", "noise"],
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE)
    session = None
    mismatched = 0
    problems = 0
    done = 0
    started = time.monotonic()
    try:
        if b"ready on" not in sim.stderr.readline():
            raise RuntimeError("the simulator did not start")
        session = Session(bin_dir, port_dir)
        log = EventLog(events_path)
        log.new_events()
        first_figures = None
        for number in range(1, args.count + 1):
            pre_scans = draw.randint(0, 10)
            data_scans = draw.randint(1, 10)
            integration = draw.randint(100, 200)
            session.set("d", pre_scans)
            session.set("e", data_scans)
            session.set("f", integration)
            log.new_events()  # what the settings dialogue left behind
            text = session.acquire()
            events = log.new_events()
            spectra = [e["values"] for e in events if e["event"] == "spectrum"]
            commands = [e["text"] for e in events if e["event"] == "command"]
            expected_commands = ["E5", "P%d" % pre_scans, "R%d" % data_scans,
                                 "I%d" % integration] + ["S", "g"] * data_scans
            wrong = count_mismatches(table_rows(text), spectra[-data_scans:])
            if len(spectra) != data_scans:
                wrong = max(wrong, data_scans * PIXELS)
            mismatched += wrong
            errors = session.new_stderr()
            trouble = []
            if wrong:
                trouble.append("%d mismatched values" % wrong)
            if commands != expected_commands:
                trouble.append("board received %s" % commands)
            if errors or "Scan ERROR" in text:
                trouble.append("failure: %s" % (errors.strip() or "Scan ERROR"))
            if trouble:
                problems += 1
                print("acquisition %d (P%d R%d I%d): %s" % (
                    number, pre_scans, data_scans, integration, "; ".join(trouble)), flush=True)
            if first_figures is None:
                first_figures = process_figures(session.child.pid)
            done = number
            if number % 50 == 0 and number < args.count:
                print("  %d acquisitions done, %d mismatched values, %.0f s" % (
                    number, mismatched, time.monotonic() - started), flush=True)
        last_figures = process_figures(session.child.pid)
        session.quit()
        if first_figures is not None:
            print("program after the first acquisition: %d kB resident, %d descriptors; "
                  "after the last: %d kB, %d descriptors" % (first_figures + last_figures))
    except (pexpect.TIMEOUT, pexpect.EOF, RuntimeError, OSError) as error:
        problems += 1
        print("soak stopped after %d acquisitions: %s" % (done, str(error).split("\n")[0]))
    finally:
        if session is not None:
            session.close()
        sim.terminate()
        try:
            sim.wait(timeout=5)
        except subprocess.TimeoutExpired:
            sim.kill()
            sim.wait()
        shutil.rmtree(port_dir, ignore_errors=True)
    print("%.0f s" % (time.monotonic() - started))
    print("%d acquisitions, %d mismatched values" % (done, mismatched))
    return 1 if mismatched or problems or done < args.count else 0


if __name__ == "__main__":
    sys.exit(main())
