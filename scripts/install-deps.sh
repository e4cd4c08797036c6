#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need (only the missing ones).
# With --windows, only what the Windows build and its tests under wine need.
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev libgmock-dev python3 python3-pytest python3-pexpect
          python3-serial clang libclang-rt-14-dev)
if [ "${1:-}" = "--windows" ]; then
    # googletest's sources come with libgtest-dev; wine64 alone runs the 64-bit build.
    packages=(cmake ninja-build libgtest-dev python3 python3-pytest python3-pexpect
              g++-mingw-w64-x86-64-posix wine wine64)
fi
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
        || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get install -y --no-install-recommends "${missing[@]}" \
    || { $sudo apt-get update && $sudo apt-get install -y --no-install-recommends "${missing[@]}"; }
