"""zorvidlk-acquire against the simulated board: each record read back with
csv or json and compared value for value with the spectra the board sent."""
import os
import re

import pytest

from conftest import (QUICK, board_spectra, commands, csv_rows, jsonl_records, read_records,
                      rounded_mean, run_acquire)

ISO_MS = r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$"


def expected_scans(spectra, count, scans):
    return {n: spectra[(n - 1) * scans:n * scans] for n in range(1, count + 1)}


# (format, data scans, --average): every series is compared with the board's spectra.
SERIES = [
    ("csv", 1, False),
    ("jsonl", 1, False),
    ("csv", 2, True),
    ("jsonl", 2, True),
]


@pytest.mark.parametrize("fmt,scans,average", SERIES)
def test_a_series_of_three_is_the_boards_spectra(port_dir, simulator, fmt, scans, average):
    sim = simulator()
    args = ["-p", "1", "--count", "3", "--format", fmt, "--pre", "0", "--scans", str(scans),
            "--period", "100"] + (["--average"] if average else [])
    result = run_acquire(args, port_dir)
    assert result.returncode == 0, result.stderr
    records = read_records(result.stdout.decode(), fmt)
    expected = expected_scans(board_spectra(sim), 3, scans)
    assert sorted(records) == [1, 2, 3]
    for number, record in records.items():
        assert record["scans"] == expected[number]
        if average:
            assert record["mean"] == rounded_mean(expected[number])
        else:
            assert record.get("mean") is None
        assert re.match(ISO_MS, record["start"])
    if fmt == "jsonl":
        record = records[1]
        assert record["settings"] == {"pre_scans": 0, "data_scans": scans, "period_ms": 100}
        assert record["port"] == "1"
        assert record["firmware"] == "ZORVI DLK firmware 2.3.1"
        assert record["start"] <= record["end"] <= records[2]["start"]
        assert "dark" not in record
    else:
        text = result.stdout.decode()
        assert text.startswith("# zorvidlk-acquire ")
        assert "# firmware: ZORVI DLK firmware 2.3.1\n" in text
        header = [line for line in text.splitlines() if not line.startswith("#")][0]
        assert header == "acquisition,start,pixel," + ",".join(
            "scan%d" % (s + 1) for s in range(scans)) + (",mean" if average else "")
    # Standard error is a pipe: no progress line, only the summary.
    err = result.stderr.decode()
    assert re.fullmatch(r"zorvidlk-acquire: done: 3 written, 0 failed, 0 cadence slots skipped, "
                        r"0 reconnects, [\d.]+ s elapsed\n", err), err


@pytest.mark.parametrize("dark_format,fmt", [("csv", "jsonl"), ("jsonl", "csv")])
def test_a_dark_reference_from_a_file_the_tool_wrote(port_dir, simulator, dark_format, fmt):
    sim = simulator()
    dark_path = os.path.join(port_dir, "dark." + dark_format)
    # The dark reference integrates longer than the series: most of its
    # counts are above the series' and the subtraction clamps at 0.
    dark_run = run_acquire(["-p", "1", "--format", dark_format, "-o", dark_path, "--pre", "0",
                            "--scans", "2", "--period", "200"], port_dir)
    assert dark_run.returncode == 0, dark_run.stderr
    dark = rounded_mean(board_spectra(sim)[:2])
    result = run_acquire(["-p", "1", "--count", "2", "--format", fmt, "--average",
                          "--dark", dark_path] + QUICK, port_dir)
    assert result.returncode == 0, result.stderr
    raw = board_spectra(sim)[2:]
    records = read_records(result.stdout.decode(), fmt)
    clamped = 0
    for number in (1, 2):
        spectrum = raw[number - 1]
        assert records[number]["scans"] == [[max(0, v - d) for v, d in zip(spectrum, dark)]]
        assert records[number]["mean"] == [max(0, v - d) for v, d in zip(spectrum, dark)]
        clamped += sum(1 for v, d in zip(spectrum, dark) if v < d)
    assert clamped > 0  # the clamping was exercised
    text = result.stdout.decode()
    if fmt == "jsonl":
        assert records[1]["dark"] == dark_path
    else:
        assert "# dark: %s " % dark_path in text


@pytest.mark.parametrize("fmt", ["csv", "jsonl"])
def test_a_second_run_appends_to_the_file(port_dir, simulator, fmt):
    sim = simulator()
    path = os.path.join(port_dir, "series." + fmt)
    for _ in range(2):
        result = run_acquire(["-p", "1", "--count", "2", "--format", fmt, "-o", path] + QUICK,
                             port_dir)
        assert result.returncode == 0, result.stderr
        assert result.stdout == b""
    text = open(path).read()
    spectra = board_spectra(sim)
    if fmt == "csv":
        # One header, two "#" blocks; the acquisition numbers start again at 1.
        assert text.count("acquisition,start,pixel") == 1
        assert text.count("# zorvidlk-acquire ") == 2
        # Read as one table, as pandas.read_csv(f, comment="#") reads it.
        rows = csv_rows(text)
        assert len(rows) == 4 * 256
        blocks = [rows[i * 256:(i + 1) * 256] for i in range(4)]
        assert [int(block[0]["acquisition"]) for block in blocks] == [1, 2, 1, 2]
        assert [[int(row["scan1"]) for row in block] for block in blocks] == spectra[0:4]
    else:
        lines = text.splitlines()
        assert len(lines) == 4
        runs = [jsonl_records("\n".join(lines[0:2])), jsonl_records("\n".join(lines[2:4]))]
        assert [runs[0][n]["scans"][0] for n in (1, 2)] == spectra[0:2]
        assert [runs[1][n]["scans"][0] for n in (1, 2)] == spectra[2:4]


@pytest.mark.parametrize("fmt", ["csv", "jsonl"])
def test_a_failed_acquisition_leaves_no_trace_in_the_file(port_dir, simulator, fmt):
    # The board misses the scan start of the second acquisition only.
    sim = simulator(args=["--fault-after", "1", "--fault", "no-scan-start"])
    result = run_acquire(["-p", "1", "--count", "3", "--format", fmt] + QUICK, port_dir)
    assert result.returncode == 1, result.stderr
    spectra = board_spectra(sim)
    assert len(spectra) == 2
    records = read_records(result.stdout.decode(), fmt)
    assert sorted(records) == [1, 3]
    assert records[1]["scans"] == [spectra[0]]
    assert records[3]["scans"] == [spectra[1]]
    err = result.stderr.decode()
    assert re.search(
        r"acquisition 2 failed: S Command Timeout, Spectrometer CTS never asserted after \d+ "
        r"msecs \(code -206\)\n", err), err
    assert "done: 2 written, 1 failed," in err


def dark_files(port_dir):
    """Files that are not a spectrum this tool wrote, by name."""
    files = {
        "garbage.csv": "hello,world\n1,2\n",
        "short.csv": "acquisition,start,pixel,scan1\n" + "".join(
            "1,2026-01-01T00:00:00.000Z,%d,5\n" % p for p in range(1, 200)),
        "negative.csv": "acquisition,start,pixel,scan1\n" + "".join(
            "1,2026-01-01T00:00:00.000Z,%d,%d\n" % (p, -1 if p == 7 else 5)
            for p in range(1, 257)),
        "short.jsonl": '{"acquisition": 1, "scans": [[1, 2, 3]]}\n',
        "empty.jsonl": "",
    }
    paths = {}
    for name, text in files.items():
        paths[name] = os.path.join(port_dir, name)
        with open(paths[name], "w") as stream:
            stream.write(text)
    return paths


# Usage errors: status 2, one line saying what to do, nothing sent to the board.
USAGE = [
    (["--pre", "11"], "--pre 11: pre-scans go from 0 to 10"),
    (["--scans", "0"], "--scans 0: data scans go from 1 to 10"),
    (["--scans", "11"], "--scans 11"),
    (["--period", "99"], "--period 99: the scan period goes from 100 to 1500 ms"),
    (["--period", "1501"], "--period 1501"),
    (["--count", "0"], "--count 0: give 1 or more acquisitions"),
    (["--every", "-1"], "--every -1"),
    (["--every", "soon"], "--every soon"),
    (["--retry-for", "-5"], "--retry-for -5"),
    (["--format", "xml"], "--format xml: the formats are csv and jsonl"),
    (["--count", "2", "--forever"], "--count and --forever exclude each other"),
    (["--frobnicate"], "unknown option --frobnicate"),
    (["--count"], "--count needs a value"),
    (["-o", "/nonexistent-dir/series.csv"], "cannot create /nonexistent-dir/series.csv"),
    (["--dark", "{dir}/missing.csv"], "is not a spectrum written by zorvidlk-acquire: cannot be"),
    (["--dark", "{dir}/garbage.csv"], "no column header"),
    (["--dark", "{dir}/short.csv"], "has 199 of its 256 rows"),
    (["--dark", "{dir}/negative.csv"], "not a count: -1"),
    (["--dark", "{dir}/short.jsonl"], "not a list of 256 counts"),
    (["--dark", "{dir}/empty.jsonl"], "it is empty"),
]


def test_usage_errors_send_nothing_to_the_board(port_dir, simulator):
    sim = simulator()
    dark_files(port_dir)
    for args, message in USAGE:
        args = [arg.replace("{dir}", port_dir) for arg in args]
        result = run_acquire(["-p", "1"] + args, port_dir, timeout=30)
        err = result.stderr.decode()
        assert result.returncode == 2, (args, err)
        assert err.startswith("zorvidlk-acquire: ") and err.count("\n") == 1, (args, err)
        assert message.replace("{dir}", port_dir) in err, (args, err)
        assert result.stdout == b""
    no_port = run_acquire(["--count", "2"], port_dir)
    assert no_port.returncode == 2 and "give -p PORT" in no_port.stderr.decode()
    assert commands(sim) == []
    assert sim.events("client") == []


@pytest.mark.parametrize("first,second", [(["--scans", "1"], ["--scans", "2"]),
                                          (["--scans", "1"], ["--scans", "1", "--average"])])
def test_appending_other_columns_is_refused(port_dir, simulator, first, second):
    sim = simulator()
    path = os.path.join(port_dir, "series.csv")
    assert run_acquire(["-p", "1", "-o", path, "--pre", "0", "--period", "100"] + first,
                       port_dir).returncode == 0
    before = open(path).read()
    sent = len(commands(sim))
    result = run_acquire(["-p", "1", "-o", path, "--pre", "0", "--period", "100"] + second,
                         port_dir)
    assert result.returncode == 2
    assert "holds a series with other columns" in result.stderr.decode()
    assert open(path).read() == before
    assert len(commands(sim)) == sent


def test_a_port_that_cannot_be_opened_ends_with_status_3(port_dir):
    path = os.path.join(port_dir, "series.csv")
    result = run_acquire(["-p", "7", "-o", path], port_dir)
    assert result.returncode == 3
    err = result.stderr.decode()
    assert err.startswith("zorvidlk-acquire: cannot use the board on 7: ")
    assert "(code -" in err
    assert open(path).read() == ""
