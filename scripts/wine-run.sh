#!/usr/bin/env bash
# Runs one Windows program under wine, and only inside the masked session of
# scripts/wine-session.sh. Wine links COM ports to the machine's serial
# devices (on some machines /dev/ttyS0 is the system console), so a wine
# process outside a private mount namespace in which those devices are masked
# is refused here. This is the Windows build's test emulator: CTest starts
# every test program (and the test discovery) through it.
# Usage: scripts/wine-run.sh PROGRAM.exe [ARGS...]
set -euo pipefail
if [ "$(readlink /proc/self/ns/mnt)" = "$(readlink /proc/1/ns/mnt)" ]; then
    echo "wine-run: not inside scripts/wine-session.sh (no private mount namespace); $1 not started" >&2
    exit 1
fi
shopt -s nullglob
for node in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
    if [ -c "$node" ]; then
        echo "wine-run: $node is not masked; $1 not started" >&2
        exit 1
    fi
done
exec wine "$@"
