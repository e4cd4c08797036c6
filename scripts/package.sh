#!/usr/bin/env bash
# Builds the Debian packages build-release/<package>_<version>_<arch>.deb
# (zorvidlk, libzorvidlk1, libzorvidlk-dev: one a CPack component) from a
# clean release build (nothing is installed on this machine) and lists them.
# SOURCE_DATE_EPOCH dates the build (the -v report, the man pages): it is the
# last commit's time unless already set, and must be set outside a git
# checkout, so that the same sources give the same package.
# Usage: scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh package
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    top=$(git rev-parse --show-toplevel 2>/dev/null || true)
    if [ "$top" != "$(pwd -P)" ]; then
        echo "package: not a git checkout; set SOURCE_DATE_EPOCH (the build's date, seconds since 1970)" >&2
        exit 1
    fi
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH
rm -rf build-release
scripts/build.sh release
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! (cd build-release && cpack -G DEB) >"$log" 2>&1; then
    cat "$log" >&2
    echo "package: cpack failed (output above)" >&2
    exit 1
fi
ls build-release/*.deb
