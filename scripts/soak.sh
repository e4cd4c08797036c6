#!/usr/bin/env bash
# Soak: N acquisitions (default 200) with random settings against the simulated
# board with stray bytes on the line, every table compared value for value with
# the spectra the board sent. Prints "N acquisitions, M mismatched values" and
# fails on any mismatch. Usage: scripts/soak.sh [N] [--seed S]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
scripts/build.sh default
exec /usr/bin/python3 tests/soak/soak.py "$@" --bin-dir build/bin
