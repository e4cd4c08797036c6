#!/usr/bin/env python3
"""zorvidlk-acquire's figures against the simulated board: spectra per second
of `--count N --scans 1 --period 100 --pre 0` and their ratio to the floor the
protocol allows, on the ideal path and the ftdi and ftdi-low-latency adapter
models, and the tool's resident memory during a --forever run. Figures, not
assertions.

The floor of one acquisition: the four 100 ms set-up pauses, the 100 ms scan
and 512 bytes at the line rate (10 bits a byte at 115200 baud, 44.4 ms).

Usage: acquire_bench.py [--bin-dir DIR] [--count N] [--adapter-count N]
                        [--rss-at A,B] [--rss-only]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
FLOOR_S = 0.4 + 0.1 + 512 * 10 / 115200.0
QUICK = ["--pre", "0", "--scans", "1", "--period", "100"]


def start_simulator(bin_dir, directory, adapter):
    command = [os.path.join(bin_dir, "zorvidlk-sim"), "--socket", os.path.join(directory, "COM1"),
               "--adapter", adapter]
    sim = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE)
    line = sim.stderr.readline().decode(errors="replace")
    if "ready on" not in line:
        sim.kill()
        raise RuntimeError("simulator did not start: %r" % line)
    return sim


def env_for(directory):
    env = dict(os.environ)
    env["ZORVIDLK_PORT_DIR"] = directory
    return env


def rate(bin_dir, adapter, count):
    directory = tempfile.mkdtemp(prefix="zv", dir="/tmp")
    sim = start_simulator(bin_dir, directory, adapter)
    try:
        begin = time.monotonic()
        result = subprocess.run([os.path.join(bin_dir, "zorvidlk-acquire"), "-p", "1", "--count",
                                 str(count), "--format", "jsonl", "--quiet"] + QUICK,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=env_for(directory))
        took = time.monotonic() - begin
    finally:
        sim.terminate()
        sim.wait()
        shutil.rmtree(directory, ignore_errors=True)
    written = result.stdout.count(b"\n")
    per_second = written / took
    print("%-17s %4d of %4d written in %7.1f s: %.3f spectra/s, %.0f%% of the floor's %.3f/s"
          % (adapter, written, count, took, per_second, 100 * per_second * FLOOR_S, 1 / FLOOR_S))


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return -1


def rss(bin_dir, marks):
    directory = tempfile.mkdtemp(prefix="zv", dir="/tmp")
    sim = start_simulator(bin_dir, directory, "ideal")
    out_path = os.path.join(directory, "series.jsonl")
    tool = subprocess.Popen([os.path.join(bin_dir, "zorvidlk-acquire"), "-p", "1", "--forever",
                             "--format", "jsonl", "--quiet", "-o", out_path] + QUICK,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, env=env_for(directory))
    try:
        for mark in marks:
            while True:
                done = 0
                if os.path.exists(out_path):
                    with open(out_path, "rb") as stream:
                        done = stream.read().count(b"\n")
                if done >= mark:
                    break
                if tool.poll() is not None:
                    raise RuntimeError("zorvidlk-acquire ended: %r" % tool.stderr.read())
                time.sleep(0.5)
            print("resident memory after %5d acquisitions: %6d kB" % (done, rss_kb(tool.pid)))
    finally:
        tool.terminate()
        tool.wait()
        sim.terminate()
        sim.wait()
        shutil.rmtree(directory, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bin-dir", default=os.environ.get(
        "ZORVIDLK_BIN_DIR", os.path.join(HERE, "..", "..", "build", "bin")))
    parser.add_argument("--count", type=int, default=100, help="ideal-path acquisitions (100)")
    parser.add_argument("--adapter-count", type=int, default=100,
                        help="acquisitions on each adapter model (100)")
    parser.add_argument("--rss-at", default="10,1000",
                        help="acquisitions at which to read the resident memory (10,1000)")
    parser.add_argument("--rss-only", action="store_true", help="only the memory figures")
    args = parser.parse_args()
    print("load average: %s" % open("/proc/loadavg").read().split(" ", 3)[:3])
    if not args.rss_only:
        rate(args.bin_dir, "ideal", args.count)
        for adapter in ("ftdi", "ftdi-low-latency"):
            rate(args.bin_dir, adapter, args.adapter_count)
    rss(args.bin_dir, [int(mark) for mark in args.rss_at.split(",")])
    return 0


if __name__ == "__main__":
    sys.exit(main())
