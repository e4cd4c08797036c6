#!/usr/bin/env bash
# Every test: the default build and the AddressSanitizer/UBSan build, unit and
# black-box suites of each, the Windows build's tests under wine, then the
# short fuzzing runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
for preset in default asan; do
    echo "=== $preset build ==="
    cmake --preset "$preset"
    cmake --build --preset "$preset" -j "$jobs"
    echo "=== $preset tests ==="
    ctest --preset "$preset" -j 2
done
# The Windows build, its unit tests and black-box suites under wine (against
# the default build's simulated board), inside the masked namespace.
scripts/build-windows.sh
echo "=== windows tests (wine) ==="
scripts/wine-session.sh ctest --preset windows -j 2
if [ -x scripts/fuzz.sh ]; then
    echo "=== fuzzing (short) ==="
    scripts/fuzz.sh 20
fi
echo "=== all tests passed ==="
