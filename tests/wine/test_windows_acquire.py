"""zorvidlk-acquire.exe under wine against the Linux build's simulated board,
reached by TCP through a port file: a series in JSON Lines, value for value."""
import json
import os
import shutil
import subprocess
import tempfile

from conftest import WINDOWS_BIN, WINE, load_e2e, program_env

e2e = load_e2e("conftest")
ACQUIRE = os.path.join(WINDOWS_BIN, "zorvidlk-acquire.exe")


def test_a_series_in_json_lines_is_the_boards_spectra(port_dir):
    socket_dir = tempfile.mkdtemp(prefix="zv", dir="/tmp")
    sim = e2e.Simulator(socket_dir, 9, [], tcp=True)
    try:
        with open(os.path.join(port_dir, "port1.rfc2217"), "w") as port_file:
            port_file.write("rfc2217://127.0.0.1:%d\n" % sim.tcp_port)
        result = subprocess.run([WINE, ACQUIRE, "-p", "1", "--count", "2", "--format", "jsonl",
                                 "--pre", "0", "--scans", "2", "--period", "100"],
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=program_env(port_dir), timeout=180)
        spectra = [event["values"] for event in sim.events("spectrum")]
    finally:
        sim.stop()
        shutil.rmtree(socket_dir, ignore_errors=True)
    assert result.returncode == 0, result.stderr
    # Records end in "\n" alone on Windows too.
    assert b"\r" not in result.stdout
    records = [json.loads(line) for line in result.stdout.decode().splitlines()]
    assert [record["acquisition"] for record in records] == [1, 2]
    assert [record["scans"] for record in records] == [spectra[0:2], spectra[2:4]]
    assert records[0]["settings"] == {"pre_scans": 0, "data_scans": 2, "period_ms": 100}
    assert records[0]["port"] == "1"
    assert b"done: 2 written, 0 failed" in result.stderr
