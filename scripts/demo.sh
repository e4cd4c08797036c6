#!/usr/bin/env bash
# Runs the program against the simulated board: builds both, starts
# zorvidlk-sim as COM1 of a fresh port directory and runs
# `zorvidlk -p 1 -b 115200` on it in this terminal. However the program ends
# (Ctrl+C at the menu, a fatal error, Ctrl+C during a command, a closed
# terminal) the board is stopped and the directory removed.
#
# Usage: scripts/demo.sh [simulator options...]   e.g. --fault noise --seed 7
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh demo
scripts/build.sh release zorvidlk zorvidlk-sim

# A short path: a Unix socket address holds at most 107 bytes.
port_dir=$(mktemp -d /tmp/zvXXXX)
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$port_dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

build-release/bin/zorvidlk-sim --socket "$port_dir/COM1" --events "$port_dir/events.jsonl" "$@" \
    </dev/null 2>"$port_dir/sim.log" &
sim_pid=$!
for _ in $(seq 200); do
    grep -q "ready on" "$port_dir/sim.log" && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        cat "$port_dir/sim.log" >&2
        sim_pid=""
        exit 1
    fi
    sleep 0.05
done
if ! grep -q "ready on" "$port_dir/sim.log"; then
    echo "demo: the simulated board did not start" >&2
    exit 1
fi
echo "Simulated board on COM1 ($port_dir/COM1). Ctrl+C at the menu prompt ends the run."

status=0
ZORVIDLK_PORT_DIR="$port_dir" build-release/bin/zorvidlk -p 1 -b 115200 || status=$?
exit "$status"
