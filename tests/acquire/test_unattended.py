"""zorvidlk-acquire left alone: stopped by a signal, riding out a lost board,
a full disk or a closed pipe, and keeping its cadence."""
import json
import os
import re
import signal
import subprocess
import time

import pytest

from conftest import (ACQUIRE, QUICK, acquire_env, board_spectra, commands, csv_rows,
                      jsonl_records, read_records, run_acquire, start_acquire,
                      start_simulator_at)


def wait_for(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def file_text(path):
    try:
        with open(path) as stream:
            return stream.read()
    except FileNotFoundError:
        return ""


def record_count(path, fmt):
    text = file_text(path)
    if fmt == "jsonl":
        return text.count("\n")
    return len([line for line in text.splitlines() if line and not line.startswith("#")]) // 256


@pytest.mark.parametrize("fmt,signum,status,name",
                         [("csv", signal.SIGTERM, 143, "SIGTERM"),
                          ("jsonl", signal.SIGINT, 130, "SIGINT")])
def test_a_signal_abandons_the_acquisition_in_progress(port_dir, simulator, fmt, signum, status,
                                                       name):
    sim = simulator()
    path = os.path.join(port_dir, "series." + fmt)
    # Each acquisition takes over 4.5 s: the signal comes in the middle of the second.
    tool = start_acquire(["-p", "1", "--count", "3", "--format", fmt, "-o", path, "--pre", "0",
                          "--scans", "3", "--period", "1500"], port_dir)
    try:
        wait_for(lambda: record_count(path, fmt) == 1, 120, "the first record")
        wait_for(lambda: commands(sim).count("S") >= 4, 60, "the second acquisition's scan")
        time.sleep(0.5)
        sent = time.monotonic()
        tool.send_signal(signum)
        out, err = tool.communicate(timeout=30)
        took = time.monotonic() - sent
    finally:
        if tool.poll() is None:
            tool.kill()
    err = err.decode()
    assert tool.returncode == status, err
    print("ended %.2f s after %s" % (took, name))
    assert took < 10
    written = int(re.search(r"stopped by %s: (\d+) written" % name, err).group(1))
    text = file_text(path)
    assert text.endswith("\n")
    records = read_records(text, fmt)  # every record complete
    assert len(records) == written >= 1
    # Each record is three spectra the board sent, in a row (a loaded machine
    # may have failed an acquisition before the signal).
    spectra = board_spectra(sim)
    for record in records.values():
        assert any(spectra[i:i + 3] == record["scans"] for i in range(len(spectra)))
    # The board was left ready: its scan cleared (E5) after the cancel.
    assert commands(sim)[-1] == "E5"


def test_a_lost_board_is_waited_for_and_the_series_carries_on(port_dir, simulator):
    first = simulator()
    path = os.path.join(port_dir, "series.jsonl")
    tool = start_acquire(["-p", "1", "--forever", "--every", "1", "--format", "jsonl", "-o", path]
                         + QUICK, port_dir)
    second = None
    try:
        wait_for(lambda: record_count(path, "jsonl") >= 2, 60, "two records")
        first.stop()
        lost = time.monotonic()
        before = record_count(path, "jsonl")
        time.sleep(3 - (time.monotonic() - lost))
        second = start_simulator_at(port_dir, "COM1", "events-again.jsonl")
        wait_for(lambda: len(board_spectra(second)) >= 2 and
                 record_count(path, "jsonl") >= before + 2, 60, "two records after the return")
        time.sleep(0.3)
        tool.send_signal(signal.SIGINT)
        out, err = tool.communicate(timeout=30)
    finally:
        if tool.poll() is None:
            tool.kill()
        if second is not None:
            second.stop()
    err = err.decode()
    assert tool.returncode == 130, err
    assert re.search(r"^board lost on 1 at \d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ: .+; retrying for "
                     r"3600 s$", err, re.M), err
    back = re.search(r"^board back on 1 at \d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ after ([\d.]+) s$",
                     err, re.M)
    assert back, err
    assert 2.0 <= float(back.group(1)) <= 20
    assert ", 1 reconnects," in err
    lines = file_text(path).splitlines()
    records = [json.loads(line) for line in lines]  # every line complete
    numbers = [record["acquisition"] for record in records]
    assert numbers == sorted(set(numbers))
    # Each record is one of the first board's spectra, in order, then one of
    # the second's (a loaded machine may also fail an acquisition here and
    # there: its number is missing, its spectrum unused).
    sources = [board_spectra(first), board_spectra(second)]
    board_of = []
    position = [0, 0]
    for record in records:
        for index in (0, 1):
            spectra = sources[index]
            while position[index] < len(spectra) and spectra[position[index]] != \
                    record["scans"][0]:
                position[index] += 1
            if position[index] < len(spectra):
                board_of.append(index)
                position[index] += 1
                break
        else:
            raise AssertionError("record %d is no spectrum of either board" % record["acquisition"])
    split = board_of.index(1)
    assert board_of == [0] * split + [1] * (len(records) - split)
    assert split >= 1 and len(records) - split >= 2
    # The acquisition that met the loss left no record, and the times show the gap.
    assert records[split]["acquisition"] > records[split - 1]["acquisition"] + 1
    assert records[split]["start"] > records[split - 1]["end"]


@pytest.mark.parametrize("retry_for", ["2", "0"])
def test_a_board_that_does_not_come_back_ends_the_run_after_retry_for(port_dir, simulator,
                                                                      retry_for):
    sim = simulator()
    path = os.path.join(port_dir, "series.csv")
    tool = start_acquire(["-p", "1", "--count", "50", "--retry-for", retry_for, "-o", path]
                         + QUICK, port_dir)
    try:
        wait_for(lambda: record_count(path, "csv") >= 1, 60, "the first record")
        sim.stop()
        stopped = time.monotonic()
        out, err = tool.communicate(timeout=60)
        took = time.monotonic() - stopped
    finally:
        if tool.poll() is None:
            tool.kill()
    err = err.decode()
    assert tool.returncode == 1, err
    print("ended %.2f s after the board went" % took)
    assert "retrying for %s s" % retry_for in err
    if retry_for == "0":
        # Gives up at once.
        assert "giving up" in err
        assert took < 5
        return
    assert 1.5 <= took <= 15
    assert "board not back on 1 after 2 s; giving up" in err
    rows = csv_rows(file_text(path))
    assert len(rows) % 256 == 0 and len(rows) >= 256


def test_a_full_disk_ends_the_run_with_status_4(port_dir, simulator):
    sim = simulator()
    path = os.path.join(port_dir, "series.jsonl")
    assert run_acquire(["-p", "1", "--format", "jsonl", "-o", path] + QUICK,
                       port_dir).returncode == 0
    before = file_text(path)
    result = run_acquire(["-p", "1", "--count", "3", "--format", "jsonl", "-o", "/dev/full"]
                         + QUICK, port_dir)
    err = result.stderr.decode()
    assert result.returncode == 4, err
    assert "cannot write to /dev/full: No space left on device" in err
    assert "1 failed" not in err and "0 written" in err
    # Ended at once: one acquisition, not three.
    assert commands(sim).count("S") == 2
    assert file_text(path) == before
    assert jsonl_records(before)[1]["scans"] == board_spectra(sim)[0:1]


def test_a_closed_pipe_is_reported_not_silent(port_dir, simulator):
    simulator()
    read_end, write_end = os.pipe()
    os.close(read_end)
    try:
        result = run_acquire(["-p", "1", "--count", "2"] + QUICK, port_dir, stdout=write_end)
    finally:
        os.close(write_end)
    err = result.stderr.decode()
    assert result.returncode == 4, err
    assert "cannot write to standard output: Broken pipe" in err


def starts_and_ends(path):
    from datetime import datetime

    def seconds(text):
        return datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ").timestamp()

    records = [json.loads(line) for line in file_text(path).splitlines()]
    return [(seconds(r["start"]), seconds(r["end"])) for r in records]


def test_every_keeps_a_steady_cadence(port_dir, simulator):
    simulator()
    path = os.path.join(port_dir, "series.jsonl")
    result = run_acquire(["-p", "1", "--count", "5", "--every", "1", "--format", "jsonl", "-o",
                          path] + QUICK, port_dir)
    assert result.returncode == 0, result.stderr
    times = starts_and_ends(path)
    assert len(times) == 5
    # A start follows its slot, 1 s after the one before; an acquisition that
    # overran its second (a loaded machine) is followed at once instead.
    worst = 0.0
    on_time = 0
    for (start, end), (next_start, _) in zip(times, times[1:]):
        if end - start < 0.9:
            on_time += 1
            worst = max(worst, abs(next_start - start - 1.0))
        else:
            assert next_start - end < 0.15
    print("--every 1: %d of 4 starts on their slot, 1 s apart within %.0f ms"
          % (on_time, worst * 1000))
    assert worst < 0.15
    # The slots stay on the series' grid: no drift over the run.
    first = times[0][0]
    on_grid = [start - first for start, end in times]
    print("offsets from the first start: %s" % ", ".join("%.3f" % t for t in on_grid))


def test_every_shorter_than_an_acquisition_runs_back_to_back(port_dir, simulator):
    simulator()
    path = os.path.join(port_dir, "series.jsonl")
    result = run_acquire(["-p", "1", "--count", "4", "--every", "0.2", "--format", "jsonl", "-o",
                          path] + QUICK, port_dir)
    assert result.returncode == 0, result.stderr
    times = starts_and_ends(path)
    for (start, end), (next_start, _) in zip(times, times[1:]):
        assert 0 <= next_start - end < 0.15
    skipped = int(re.search(r"(\d+) cadence slots skipped", result.stderr.decode()).group(1))
    # Each acquisition takes over 0.5 s: at least one 0.2 s slot goes by unused
    # before each of the three later starts.
    assert skipped >= 3
    expected = sum(int((b[0] - times[0][0]) // 0.2) - int((a[0] - times[0][0]) // 0.2) - 1
                   for a, b in zip(times, times[1:]))
    assert abs(skipped - expected) <= 3


@pytest.mark.parametrize("quiet", [False, True])
def test_the_progress_line_only_on_a_terminal(port_dir, simulator, quiet):
    import pexpect

    simulator()
    path = os.path.join(port_dir, "series.csv")
    args = ["-p", "1", "--count", "2", "--every", "4", "-o", path] + QUICK + \
        (["--quiet"] if quiet else [])
    child = pexpect.spawn(ACQUIRE, args, env=acquire_env(port_dir), timeout=60)
    child.expect(pexpect.EOF)
    child.close()
    text = child.before.decode()
    assert child.exitstatus == 0, text
    if quiet:
        assert "\r" not in text.replace("\r\n", "\n")
    else:
        # Rewritten in place, then cleared before the summary.
        assert "\racquisition 1 of 2" in text
        assert re.search(r"\racquisition 2 of 2, last [\d.]+ s, 0 failed, 0 reconnects"
                         r"(, next in [\d.]+ s)?\x1b\[K", text), text
        assert "\r\x1b[K" in text
    assert "zorvidlk-acquire: done: 2 written, 0 failed" in text
