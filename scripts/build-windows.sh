#!/usr/bin/env bash
# Builds the Windows executable, build-windows/bin/zorvidlk.exe, and its unit
# tests with mingw-w64, installing the packages it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh windows
echo "=== windows build ==="
cmake --preset windows
cmake --build --preset windows -j "$(nproc)"
