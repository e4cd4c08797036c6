"""The C API under wine: a C program linked against zorvidlk.dll (through its
import library) runs one acquisition against the Linux build's simulated board
over TCP, compared value for value with the board's spectra."""
import os
import re
import shutil
import subprocess
import tempfile

import pytest

from conftest import FIRST_START_TIMEOUT, WINDOWS_BIN, WINE, load_e2e, program_env

e2e = load_e2e("conftest")
DRIVER = os.path.join(WINDOWS_BIN, "api_driver.exe")


@pytest.fixture
def tcp_board():
    socket_dir = tempfile.mkdtemp(prefix="zv", dir="/tmp")
    sim = e2e.Simulator(socket_dir, 9, [], tcp=True)
    yield sim
    sim.stop()
    shutil.rmtree(socket_dir, ignore_errors=True)


def run_driver(port_dir, args, timeout=60):
    """The driver under wine to its end, with one retry of a first start that hangs."""
    for attempt in (1, 2):
        try:
            done = subprocess.run([WINE, DRIVER] + [str(arg) for arg in args],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, env=program_env(port_dir),
                                  timeout=FIRST_START_TIMEOUT if attempt == 1 else timeout)
            assert (done.returncode, done.stderr) == (0, b""), done
            return done.stdout.decode().splitlines()
        except subprocess.TimeoutExpired:
            if attempt == 2:
                raise
    raise AssertionError("unreachable")


def test_one_acquisition_through_the_dll(port_dir, tcp_board):
    assert os.path.exists(os.path.join(WINDOWS_BIN, "zorvidlk.dll"))
    lines = run_driver(port_dir, ["acquire", "rfc2217://127.0.0.1:%d" % tcp_board.tcp_port,
                                  0, 3, 100, 1])
    assert lines[:2] == ["acquire 0", "text "], lines[:2]
    start, end, _, pre, data, period = [int(field) for field in lines[3].split()[1:]]
    assert lines[3].startswith("info ") and (pre, data, period) == (0, 3, 100)
    assert start < end
    values = [[int(field) for field in line.split()[2:]] for line in lines[4:]]
    assert values == [event["values"] for event in tcp_board.events("spectrum")]
    commands = [event["text"] for event in tcp_board.events("command")]
    assert commands == ["E5", "P0", "R3", "I100"] + ["S", "g"] * 3


# What Windows itself provides; a compiler runtime DLL (libwinpthread-1,
# libstdc++-6, libgcc_s_seh-1) would have to be shipped beside the program.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ws2_32.dll", "winmm.dll", "advapi32.dll",
               "user32.dll"}


@pytest.mark.parametrize("name", ["zorvidlk.dll", "zorvidlk.exe", "api_driver.exe"])
def test_needs_only_system_dlls(name):
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", os.path.join(WINDOWS_BIN, name)],
                         stdout=subprocess.PIPE, check=True, timeout=60).stdout.decode()
    imported = {dll.lower() for dll in re.findall(r"DLL Name: (\S+)", out)}
    if name == "api_driver.exe":
        # Linked through the import library: the one DLL of the project's own.
        imported.remove("zorvidlk.dll")
    assert imported and imported <= SYSTEM_DLLS, imported
