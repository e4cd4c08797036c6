#!/usr/bin/env bash
# Acquisition benchmark against the simulated board at 115200 baud, 3 data
# scans of 100 ms: transfer time against the line's limit, handshake overhead
# per byte, acquisition time against its floor, micro_delay(1), CPU time per
# spectrum and idle CPU at the menu prompt; then the Windows build's
# micro_delay(1) and Sleep(1) under wine. Figures, not assertions.
# Usage: scripts/bench.sh [--runs N] [--idle SECONDS] [--api-runs N] [--adapter-runs N]
# (then the C API against the program, --api-runs 0 skips it, and a table per
# adapter model of the simulator, --adapter-runs 0 skips it)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
scripts/build.sh default
/usr/bin/python3 tests/bench/bench.py --bin-dir build/bin "$@"
# The Windows build's pauses, measured under wine (in the masked namespace):
# wine figures, not Windows ones (real Windows timers differ).
if scripts/build-windows.sh >/dev/null; then
    scripts/wine-session.sh wine build-windows/bin/zorvidlk-delay-bench.exe --label wine </dev/null
fi
