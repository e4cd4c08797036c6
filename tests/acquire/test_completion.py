"""zorvidlk-acquire's bash completion, driven as bash drives it (COMP_WORDS and
COMP_CWORD set, the function called, COMPREPLY read); a stand-in
zorvidlk-acquire first on PATH records any call: completing never opens a port."""
import os
import subprocess

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
COMPLETION = os.path.join(HERE, "..", "..", "completion", "zorvidlk-acquire")

DRIVER = r'''
source "$1"
shift
complete -p zorvidlk-acquire | grep -q -- "-F _zorvidlk_acquire" || { echo "not registered"; exit 3; }
COMP_WORDS=("$@")
COMP_CWORD=$(($# - 1))
_zorvidlk_acquire zorvidlk-acquire "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}"
'''


def complete(port_dir, words):
    fake_bin = os.path.join(port_dir, "bin")
    os.makedirs(fake_bin, exist_ok=True)
    marker = os.path.join(port_dir, "ran")
    with open(os.path.join(fake_bin, "zorvidlk-acquire"), "w") as stand_in:
        stand_in.write("#!/bin/sh\ntouch '%s'\n" % marker)
    os.chmod(os.path.join(fake_bin, "zorvidlk-acquire"), 0o755)
    env = {"PATH": fake_bin + ":/usr/bin:/bin", "LC_ALL": "C", "ZORVIDLK_PORT_DIR": port_dir}
    result = subprocess.run(["/bin/bash", "--norc", "--noprofile", "-c", DRIVER, "bash",
                             COMPLETION, "zorvidlk-acquire"] + words, cwd=port_dir, env=env,
                            capture_output=True, text=True, timeout=30, check=False)
    assert result.returncode == 0 and result.stderr == "", result.stdout + result.stderr
    assert not os.path.exists(marker), "the completion ran zorvidlk-acquire"
    return [line for line in result.stdout.split("\n") if line]


ALL = ["-p", "-b", "--pre", "--scans", "--period", "--count", "--forever", "--every",
       "--format", "-o", "--average", "--dark", "--retry-for", "--quiet", "--help", "--version"]

CASES = [
    ([""], ALL),
    (["--f"], ["--forever", "--format"]),
    (["-p", "1", "--count", "3", "--"], [o for o in ALL if o.startswith("--")
                                          and o not in ("--count", "--forever")]),
    (["--forever", "--c"], []),
    (["--format", ""], ["csv", "jsonl"]),
    (["--format", "j"], ["jsonl"]),
    (["-b", "11"], ["115200"]),
    (["-p", ""], ["1", "12"]),
    (["--scans", ""], []),
    (["--dark", "da"], ["dark.csv"]),
    (["-o", "se"], ["series.jsonl"]),
]


@pytest.mark.parametrize("words,expected", CASES)
def test_completion(port_dir, words, expected):
    for name in ("COM1", "COM12", "COMX", "dark.csv", "series.jsonl"):
        open(os.path.join(port_dir, name), "w").close()
    assert complete(port_dir, words) == expected
