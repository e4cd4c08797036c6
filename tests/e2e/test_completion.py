"""The bash completion of zorvidlk, driven as bash drives it (COMP_WORDS and
COMP_CWORD set, the completion function called, COMPREPLY read). A stand-in
zorvidlk first on PATH records any call: the completion must never run the
program, whose -l opens every port."""
import glob
import os
import re
import subprocess

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
COMPLETION = os.path.join(HERE, "..", "..", "completion", "zorvidlk")
BAUDS = ["0", "300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"]

DRIVER = r'''
source "$1"
shift
complete -p zorvidlk | grep -q -- "-F _zorvidlk" || { echo "not registered"; exit 3; }
COMP_WORDS=("$@")
COMP_CWORD=$(($# - 1))
COMP_LINE="$*"
COMP_POINT=${#COMP_LINE}
_zorvidlk zorvidlk "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}"
'''


@pytest.fixture
def complete(port_dir):
    """complete(words, port_dir=...) gives COMPREPLY for the words typed after
    `zorvidlk` (the last one is being completed)."""
    fake_bin = os.path.join(port_dir, "bin")
    os.mkdir(fake_bin)
    marker = os.path.join(port_dir, "ran")
    with open(os.path.join(fake_bin, "zorvidlk"), "w") as stand_in:
        stand_in.write("#!/bin/sh\ntouch '%s'\n" % marker)
    os.chmod(os.path.join(fake_bin, "zorvidlk"), 0o755)

    def run(words, ports=None):
        env = {"PATH": fake_bin + ":/usr/bin:/bin", "LC_ALL": "C"}
        if ports is not None:
            env["ZORVIDLK_PORT_DIR"] = ports
        result = subprocess.run(
            ["/bin/bash", "--norc", "--noprofile", "-c", DRIVER, "bash", COMPLETION,
             "zorvidlk"] + words,
            env=env, capture_output=True, text=True, timeout=30, check=False)
        assert result.returncode == 0, result.stdout + result.stderr
        assert result.stderr == ""
        assert not os.path.exists(marker), "the completion ran zorvidlk"
        return [line for line in result.stdout.split("\n") if line]

    return run


@pytest.fixture
def ports(port_dir):
    """A port directory with COM entries of every kind, and names that are no port."""
    path = os.path.join(port_dir, "ports")
    os.mkdir(path)
    for name in ["COM256", "COM10", "COM3", "COM1", "COM0", "COM257", "COM01", "COMx",
                 "COM3.bak", "events.jsonl"]:
        with open(os.path.join(path, name), "w"):
            pass
    os.symlink("/nonexistent/ttyUSB9", os.path.join(path, "COM5"))  # dangling: still a port
    # Port files are ports too: regular files only, once each COM number.
    for name in ["port7.rfc2217", "port12.rfc2217", "port3.rfc2217", "port0.rfc2217",
                 "port257.rfc2217", "port07.rfc2217", "port8.rfc2217.bak", "port.rfc2217"]:
        with open(os.path.join(path, name), "w") as port_file:
            port_file.write("rfc2217://127.0.0.1:1\n")
    os.mkdir(os.path.join(path, "port9.rfc2217"))
    os.symlink("/nonexistent/port", os.path.join(path, "port11.rfc2217"))
    return path


@pytest.mark.parametrize("words, expected", [
    # The options; the upper-case spellings only when typed.
    ([""], ["-p", "-b", "-l", "-v"]),
    (["-"], ["-p", "-b", "-l", "-v"]),
    (["-P"], ["-P"]),
    (["-x"], []),
    # A run takes one port and one rate; nothing is read after -l or -v.
    (["-p", "3", ""], ["-b"]),
    (["-B", "9600", "-"], ["-p"]),
    (["-p3", ""], ["-b"]),
    (["-p", "3", "-b", "9600", ""], []),
    (["-l", ""], []),
    (["-v", "-"], []),
    # A value that looks like an option is the option's value.
    (["-p", "-l", ""], ["-b"]),
    (["-b", "-p", "-"], ["-p"]),
    # Baud-rate texts, separate and attached.
    (["-b", ""], BAUDS),
    (["-b", "1"], ["1200", "19200", "115200"]),
    (["-B96"], ["-B9600"]),
    (["-b", "96000"], []),
], ids=lambda value: " ".join(value) if isinstance(value, list) else None)
def test_options_and_baud_rates(complete, ports, words, expected):
    assert complete(words, ports) == expected


@pytest.mark.parametrize("words, expected", [
    # Every COM<n> entry and port file with n in 1..256, in numeric order;
    # others are no ports.
    (["-p", ""], ["1", "3", "5", "7", "10", "12", "256"]),
    (["-P", "1"], ["1", "10", "12"]),
    (["-p", "7"], ["7"]),
    (["-p2"], ["-p256"]),
    (["-b", "9600", "-p", "3"], ["3"]),
], ids=lambda value: " ".join(value) if isinstance(value, list) else None)
def test_com_numbers_of_the_port_directory(complete, ports, words, expected):
    assert complete(words, ports) == expected


def test_a_set_but_empty_port_directory_names_no_ports(complete):
    assert complete(["-p", ""], "") == []


def test_without_a_port_directory_the_fixed_table_devices_are_offered(complete):
    # COM1-32: /dev/ttyS0-31, COM33-64: /dev/ttyUSB0-31, COM65-96: /dev/ttyACM0-31.
    expected = []
    for base, prefix in [(1, "ttyS"), (33, "ttyUSB"), (65, "ttyACM")]:
        for path in glob.glob("/dev/" + prefix + "*"):
            number = path[len("/dev/" + prefix):]
            if re.fullmatch(r"0|[1-9][0-9]?", number) and int(number) < 32:
                expected.append(base + int(number))
    assert complete(["-p", ""]) == [str(n) for n in sorted(expected)]
