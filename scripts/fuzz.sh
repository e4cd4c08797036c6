#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for SECONDS (default 20). Each run
# first replays the kept inputs of tests/fuzz/corpus/<target>/ (seeds and every
# past finding), then explores; a crash fails the script and leaves its input in
# build-fuzz/artifacts/. Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
seconds=${1:-20}
cd "$(dirname "$0")/.."
scripts/install-deps.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
mkdir -p build-fuzz/artifacts
# Each target's temporary files (the RFC 2217 client's socket) go into a
# directory of the run's own, removed however the run ends.
run_tmp=$(mktemp -d /tmp/zvfzXXXX)
trap 'rm -rf "$run_tmp"' EXIT
status=0
for binary in build-fuzz/bin/fuzz_*; do
    [ -x "$binary" ] || continue
    name=$(basename "$binary")
    kept="tests/fuzz/corpus/${name#fuzz_}"
    work="build-fuzz/corpus/$name"
    mkdir -p "$work" "$kept"
    echo "--- $name: ${seconds}s"
    if ! TMPDIR="$run_tmp" "$binary" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -print_final_stats=1 \
            -artifact_prefix="build-fuzz/artifacts/$name-" "$work" "$kept" 2> "build-fuzz/$name.log"; then
        tail -n 40 "build-fuzz/$name.log"
        echo "$name: FAILED (input kept in build-fuzz/artifacts/)"
        status=1
        continue
    fi
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "build-fuzz/$name.log" | grep -o '[0-9]*$' || echo '?')
    echo "$name: $runs executions, no failure"
done
exit $status
