"""What the shared library shows its users: only the zv_ functions, the
soname with the API's major version, a header that compiles alone as C99 and
as C++11 with every warning an error."""
import os
import re
import subprocess

import pytest

from conftest import HERE

LIBRARY = os.environ.get("ZORVIDLK_LIBRARY",
                         os.path.join(HERE, "..", "..", "build", "lib", "libzorvidlk.so.1"))
INCLUDE = os.environ.get("ZORVIDLK_INCLUDE_DIR", os.path.join(HERE, "..", "..", "include"))
HEADER = os.path.join(INCLUDE, "zorvidlk", "zorvidlk.h")
VERSION_NODE = "ZORVIDLK_1"


def output(*command):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True,
                          timeout=60).stdout.decode()


def test_only_the_zv_functions_are_exported():
    symbols = {}
    for line in output("nm", "-D", "--defined-only", LIBRARY).splitlines():
        kind, name = line.split()[-2:]
        symbols[name.split("@")[0]] = kind
    with open(HEADER) as stream:
        declared = set(re.findall(r"^ZV_API [^(]*\b(zv_\w+)\(", stream.read(), re.M))
    assert len(declared) == 11
    assert symbols.pop(VERSION_NODE, "A") == "A"
    assert set(symbols) == declared
    assert set(symbols.values()) == {"T"}


def test_soname_carries_the_major_version():
    dynamic = output("readelf", "-d", LIBRARY)
    assert re.findall(r"\(SONAME\)\s+Library soname: \[(.*)\]", dynamic) == ["libzorvidlk.so.1"]
    versions = output("readelf", "-V", LIBRARY)
    assert "Name: " + VERSION_NODE in versions


USE = """#include "zorvidlk/zorvidlk.h"
int main(void) {
    zv_settings settings = ZV_SETTINGS_DEFAULT;
    zv_board *board = 0;
    return zv_open("1", 115200, &board) == ZV_OK && settings.data_scans == 3;
}
"""


@pytest.mark.parametrize("compiler, flags, suffix", [
    (os.environ.get("CC", "cc"), ["-std=c99"], ".c"),
    (os.environ.get("CXX", "c++"), ["-std=c++11"], ".cpp"),
], ids=["c99", "c++11"])
def test_the_header_compiles_alone(tmp_path, compiler, flags, suffix):
    source = tmp_path / ("use" + suffix)
    source.write_text(USE)
    done = subprocess.run([compiler] + flags + ["-Wall", "-Wextra", "-Werror", "-pedantic",
                                                "-I", INCLUDE, "-c", str(source), "-o",
                                                str(tmp_path / "use.o")],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    assert done.returncode == 0, done.stdout.decode()
