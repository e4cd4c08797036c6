#!/usr/bin/env bash
# Acquisition benchmark against the simulated board at 115200 baud, 3 data
# scans of 100 ms: transfer time against the line's limit, handshake overhead
# per byte, acquisition time against its floor, micro_delay(1), CPU time per
# spectrum and idle CPU at the menu prompt. Figures, not assertions.
# Usage: scripts/bench.sh [--runs N] [--idle SECONDS] [--adapter-runs N]
# (then a table per adapter model of the simulator; --adapter-runs 0 skips it)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
scripts/build.sh default
exec /usr/bin/python3 tests/bench/bench.py --bin-dir build/bin "$@"
