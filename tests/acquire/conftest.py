"""Fixtures for zorvidlk-acquire's suites: the tool, the simulated board (the
e2e suites' Simulator, on a port directory of the test's own) and readers of
the tool's output through Python's csv and json modules, as a user's script
would read them."""
import csv
import importlib.util
import io
import json
import os
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
_spec = importlib.util.spec_from_file_location(
    "e2e_conftest", os.path.join(HERE, "..", "e2e", "conftest.py"))
e2e = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(e2e)

port_dir = e2e.port_dir
simulator = e2e.simulator
Simulator = e2e.Simulator
ACQUIRE = os.path.join(e2e.BIN_DIR, "zorvidlk-acquire")
# Quick acquisitions: one 100 ms scan each.
QUICK = ["--pre", "0", "--scans", "1", "--period", "100"]


def acquire_env(port_dir):
    return e2e.program_env(port_dir)


def run_acquire(args, port_dir, timeout=120, stdout=None):
    """Runs the tool to its end; returns CompletedProcess (text stderr)."""
    return subprocess.run([ACQUIRE] + list(args), stdin=subprocess.DEVNULL,
                          stdout=stdout if stdout is not None else subprocess.PIPE,
                          stderr=subprocess.PIPE, env=acquire_env(port_dir), timeout=timeout)


def start_acquire(args, port_dir):
    return subprocess.Popen([ACQUIRE] + list(args), stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=acquire_env(port_dir))


def csv_rows(text):
    """The rows of a CSV series as dicts, the "#" lines left out (what
    pandas.read_csv(f, comment='#') reads)."""
    lines = [line for line in text.splitlines(keepends=True) if not line.startswith("#")]
    return list(csv.DictReader(io.StringIO("".join(lines))))


def csv_records(text):
    """{acquisition number: {"start":..., "scans": [[256]...], "mean": [256] or None}}."""
    records = {}
    for row in csv_rows(text):
        number = int(row["acquisition"])
        record = records.setdefault(number, {"start": row["start"], "pixels": [], "rows": []})
        record["rows"].append(row)
    for number, record in records.items():
        rows = record.pop("rows")
        assert [int(row["pixel"]) for row in rows] == list(range(1, 257)), number
        assert {row["start"] for row in rows} == {record["start"]}
        scan_names = sorted((name for name in rows[0] if name.startswith("scan")),
                            key=lambda name: int(name[4:]))
        record["scans"] = [[int(row[name]) for row in rows] for name in scan_names]
        record["mean"] = [int(row["mean"]) for row in rows] if "mean" in rows[0] else None
        del record["pixels"]
    return records


def jsonl_records(text):
    records = {}
    for line in text.splitlines():
        record = json.loads(line)
        records[record["acquisition"]] = record
    return records


def read_records(text, fmt):
    return csv_records(text) if fmt == "csv" else jsonl_records(text)


def board_spectra(sim):
    """The spectra the board sent, in order."""
    return [event["values"] for event in sim.events("spectrum")]


def commands(sim):
    return [event["text"] for event in sim.events("command")]


def rounded_mean(scans):
    """The per-pixel mean of the scans, rounded to the nearest integer, halves up."""
    n = len(scans)
    return [(2 * sum(scan[p] for scan in scans) + n) // (2 * n) for p in range(256)]


def start_simulator_at(port_dir, socket_name, events_name, args=()):
    """A simulator on a given socket with an events file of its own (for a
    board started again on the same port)."""
    sim = Simulator.__new__(Simulator)
    sim.socket_path = os.path.join(port_dir, socket_name)
    sim.events_path = os.path.join(port_dir, events_name)
    sim.process = subprocess.Popen(
        [e2e.SIMULATOR, "--socket", sim.socket_path, "--events", sim.events_path] + list(args),
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    line = sim.process.stderr.readline().decode(errors="replace")
    assert "ready on" in line, line
    sim.ready_line = line.strip()
    sim.tcp_port = None
    return sim
