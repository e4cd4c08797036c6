#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need (only the missing ones).
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev libgmock-dev python3 python3-pytest python3-pexpect
          python3-serial clang libclang-rt-14-dev gnuplot-nox)
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
