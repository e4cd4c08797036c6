"""The command line: usage lines, port-range and baud errors, the version report.
None of these cases opens a port; each runs with a port directory of its own."""
import os
import platform
import re
import subprocess

import pytest

from conftest import BIN_DIR, PROGRAM, run_program

P = PROGRAM.encode()
USAGE_LOWER = b"Usage: " + P + b" -p Port -b Baud | -l | -v\n"
USAGE_UPPER = b"Usage: " + P + b" -p Port -B Baud | -l | -v\n"
PORT_RANGE = b"Error, Port Range = [1,256]\n"


@pytest.mark.parametrize("args", [
    [],
    ["-p", "1"],
    ["-p3", "-b9600"],
    ["-p", "1", "-b", "9600", "extra"],
    ["-p", "1", "-p", "2"],          # four arguments but no baud rate
    ["1", "-l", "-v", "x"],          # options end at the first operand
    ["-p", "1", "-b", "9600", "--"],
])
def test_wrong_shape_gives_lower_case_usage(port_dir, args):
    result = run_program(args, port_dir)
    assert (result.returncode, result.stdout, result.stderr) == (0, b"", USAGE_LOWER)


@pytest.mark.parametrize("args, diagnostic", [
    (["-x"], b": invalid option -- 'x'\n"),
    (["-p"], b": option requires an argument -- 'p'\n"),
    (["-p", "1", "-b"], b": option requires an argument -- 'b'\n"),
    (["-p", "1", "-y", "-v"], b": invalid option -- 'y'\n"),
])
def test_bad_option_gives_diagnostic_and_upper_case_usage(port_dir, args, diagnostic):
    result = run_program(args, port_dir)
    assert (result.returncode, result.stdout, result.stderr) == (0, b"", P + diagnostic + USAGE_UPPER)


@pytest.mark.parametrize("args", [
    ["-p", "0", "-b", "9600"],
    ["-p", "257", "-b", "9600"],
    ["-p", "abc", "-b", "9600"],
    ["-P", "-1", "-B", "9600"],
    ["-p", "4294967297", "-b", "9600"],   # never wrapped around to COM1
    ["-p", "-4294967295", "-b", "9600"],
    ["-p", "999", "-v"],                   # the error comes before a later -v
    ["-p", "0", "-l"],                     # ... or a later -l
    ["-b", "9600", "-p", "300", "-x"],
])
def test_port_out_of_range(port_dir, args):
    result = run_program(args, port_dir)
    assert (result.returncode, result.stdout, result.stderr) == (0, PORT_RANGE, b"")


@pytest.mark.parametrize("args, text", [
    (["-p", "1", "-b", "9601"], b"9601"),
    (["-b", " 9600", "-p", "1"], b" 9600"),
    (["-B", "115200 ", "-p", "1"], b"115200 "),
    (["-b", "", "-v"], b""),
    (["-b", "9600x", "-l"], b"9600x"),
])
def test_unrecognized_baud_rate(port_dir, args, text):
    result = run_program(args, port_dir)
    expected = b"Error, Unrecognized Baud Rate: " + text + b"\n"
    assert (result.returncode, result.stdout, result.stderr) == (0, expected, b"")


def built_compiler():
    """(name and version, target triple) of the compiler in the build's CMake cache."""
    cache = os.path.join(BIN_DIR, "..", "CMakeCache.txt")
    with open(cache) as stream:
        compiler = re.search(r"^CMAKE_CXX_COMPILER:\w+=(.*)$", stream.read(), re.M).group(1)

    def ask(*flags):
        return subprocess.run([compiler] + list(flags), capture_output=True, text=True,
                              check=True).stdout.strip()

    name = "Clang" if "clang" in ask("--version").lower() else "GCC"
    version = ask("-dumpversion") if name == "Clang" else ask("-dumpfullversion")
    return "%s %s" % (name, version), ask("-dumpmachine")


VERSION_REPORT = re.compile(
    rb"\nBuild: zorvidlk Date: [A-Z][a-z]{2} [ 1-3]\d \d{4} \d\d:\d\d:\d\d\n\n"
    rb"(?P<compiler>[^\n]*)\n"
    rb"ZVS  version \d+\.\d+\.\d+ \(Build \d+\)\n"
    rb"C\+\+ standard 202002\n\n\Z")


@pytest.mark.parametrize("args", [["-v"], ["-v", "-p", "999"], ["-b", "9600", "-v"]])
def test_version_report(port_dir, args):
    result = run_program(args, port_dir)
    assert (result.returncode, result.stderr) == (0, b"")
    match = VERSION_REPORT.match(result.stdout)
    assert match, result.stdout
    # The service's own name, never the one these lines once held (built from
    # pieces so that no file of the project holds it).
    assert b"W" + b"SC" not in result.stdout
    compiler, triple = built_compiler()
    shown = re.fullmatch(r"(.*) \((\w+)-(\w+)(?:-\w+)?\)", match.group("compiler").decode())
    assert shown, match.group("compiler")
    assert shown.group(1) == compiler
    # The architecture and the system of the triple ("x86_64-pc-linux-gnu" shows as x86_64-linux).
    assert shown.group(2) == triple.split("-")[0] == platform.machine()
    assert shown.group(3) in triple.split("-")
