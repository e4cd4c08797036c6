#!/usr/bin/env bash
# Installs the Debian packages that a task needs (only the missing ones).
# Usage: scripts/install-deps.sh [GROUP...]   (no group: all of them)
#   build    compiler, CMake and Ninja: what the program and the simulator need
#   demo     the build alone (scripts/demo.sh)
#   test     the build, GoogleTest and the Python of the black-box suites,
#            the Python package's suites (numpy, PyMeasure), the benchmark
#            and the soak
#   fuzz     the build and clang with its sanitizer and libFuzzer runtime
#   package  the build and Debian's packaging and checking tools
#   windows  the Windows build (mingw-w64) and wine for its tests
#   all      every group but windows (scripts/test.sh installs that too)
# As neither root nor a user with sudo, it names the missing packages on one
# line and fails.
set -euo pipefail

build=(cmake ninja-build g++)
groups=("$@")
[ ${#groups[@]} -eq 0 ] && groups=(all)
packages=()
for group in "${groups[@]}"; do
    case $group in
        build | demo) packages+=("${build[@]}") ;;
        test) packages+=("${build[@]}" libgtest-dev libgmock-dev python3 python3-pytest
                         python3-pexpect python3-serial gnuplot-nox python3-numpy
                         python3-pymeasure) ;;
        fuzz) packages+=("${build[@]}" clang libclang-rt-14-dev) ;;
        windows) packages+=(cmake ninja-build libgtest-dev python3 python3-pytest python3-pexpect
                            g++-mingw-w64-x86-64-posix wine wine64) ;;
        package) packages+=("${build[@]}" dpkg-dev file lintian man-db groff-base gzip pkgconf) ;;
        all) exec "$0" test fuzz package ;;
        *)
            echo "install-deps: unknown group '$group' (build, demo, test, fuzz, package, windows, all)" >&2
            exit 2 ;;
    esac
done

missing=()
for package in "${packages[@]}"; do
    [[ " ${missing[*]} " == *" $package "* ]] && continue
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
        || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root="as root, run: apt-get install ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    # sudo -n: no password prompt in the middle of a build; a user who may
    # not use sudo gets the same one line as one without it.
    if ! command -v sudo >/dev/null 2>&1 || ! sudo -n true 2>/dev/null; then
        echo "install-deps: missing packages; $as_root" >&2
        exit 1
    fi
    sudo=(sudo -n)
fi
echo "Installing: ${missing[*]}"
install() {
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"
}
install || { "${sudo[@]}" apt-get update && install; } || {
    echo "install-deps: could not install the packages; $as_root" >&2
    exit 1
}
