#!/usr/bin/env bash
# Configures and builds a CMake preset quietly: nothing is printed when the
# build succeeds; when configuring or building fails, everything CMake and the
# compiler said is shown. Usage: scripts/build.sh PRESET [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:?usage: scripts/build.sh PRESET [TARGET...]}
shift
targets=()
[ $# -gt 0 ] && targets=(--target "$@")
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake --preset "$preset" && cmake --build --preset "$preset" -j "$(nproc)" "${targets[@]}"; } \
        >"$log" 2>&1; then
    cat "$log" >&2
    echo "build: the $preset build failed (output above)" >&2
    exit 1
fi
