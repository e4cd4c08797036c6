#!/usr/bin/env bash
# Checks a built Debian package without installing it: lintian finds no error,
# the control fields, the file list, and the unpacked programs and man pages
# work. Each of the four packages has its own checks; the -dev package's
# include the README's example, compiled against it and libzorvidlk1 unpacked
# side by side (the .deb files next to it) and run against the simulated board.
# Usage: tests/package/check_package.sh PACKAGE.deb|DIRECTORY...
set -euo pipefail

# Several packages, or a directory of them: each is checked on its own.
if [ $# -ne 1 ] || [ -d "$1" ]; then
    shopt -s nullglob
    debs=()
    for arg in "$@"; do
        if [ -d "$arg" ]; then debs+=("$arg"/*.deb); else debs+=("$arg"); fi
    done
    [ ${#debs[@]} -gt 0 ] || { echo "usage: check_package.sh PACKAGE.deb|DIRECTORY... (no .deb given)" >&2; exit 2; }
    status=0
    for deb in "${debs[@]}"; do
        "$0" "$deb" || status=1
    done
    exit "$status"
fi
deb=$(realpath "${1:?usage: check_package.sh PACKAGE.deb|DIRECTORY...}")
cd "$(dirname "$0")/../.."
version=$(sed -n 's/^project(zorvidlk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
work=$(mktemp -d /tmp/zvpkXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "package: FAILED: $*"
    failures=$((failures + 1))
}
finish() {
    if [ "$failures" -ne 0 ]; then
        echo "package: $(basename "$deb"): $failures check(s) failed"
        exit 1
    fi
    echo "package: $(basename "$deb") checked"
    exit 0
}

echo "--- lintian"
# An error or a warning fails the check; information tags are shown. Lintian's
# own temporary files (it leaves some behind) go into the work directory.
mkdir "$work/lintian"
TMPDIR="$work/lintian" lintian --fail-on error,warning --display-info "$deb" 2>&1 | grep -v '^running with root privileges' \
    || [ "${PIPESTATUS[0]}" -eq 0 ] || fail "lintian reports errors or warnings"

field() { dpkg-deb -f "$deb" "$1"; }
package=$(field Package)
if [ "$package" != zorvidlk ]; then
    source tests/package/library_checks.sh
    case $package in
        libzorvidlk1) check_library_package ;;
        libzorvidlk-dev) check_development_package ;;
        python3-zorvidlk)
            tests/package/check_python_package.sh "$deb" || fail "python3-zorvidlk checks" ;;
        *) fail "no checks for package $package" ;;
    esac
    finish
fi

echo "--- control"
[ "$(field Package)" = zorvidlk ] || fail "Package is $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version $(field Version), the project's is $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture $(field Architecture)"
[[ $(field Depends) == *libc6* ]] || fail "Depends names no libc6: shared libraries not computed"
[[ $(field Maintainer) == *@* && $(field Maintainer) != *root* ]] || fail "Maintainer $(field Maintainer)"
[[ $(basename "$deb") == "zorvidlk_${version}_$(field Architecture).deb" ]] \
    || fail "file name $(basename "$deb")"
dpkg-deb -f "$deb" Package Version Architecture Depends Maintainer

echo "--- files"
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sed 's|^\./||' | sort >"$work/files"
cat "$work/files"
for wanted in usr/bin/zorvidlk usr/bin/zorvidlk-sim usr/bin/zorvidlk-plot usr/bin/zorvidlk-acquire \
        usr/share/man/man1/zorvidlk.1.gz usr/share/man/man1/zorvidlk-sim.1.gz \
        usr/share/man/man1/zorvidlk-plot.1.gz usr/share/man/man1/zorvidlk-acquire.1.gz \
        usr/share/bash-completion/completions/zorvidlk \
        usr/share/bash-completion/completions/zorvidlk-acquire \
        usr/share/doc/zorvidlk/README.md usr/share/doc/zorvidlk/copyright \
        usr/share/doc/zorvidlk/changelog.gz; do
    grep -qxF "$wanted" "$work/files" || fail "missing $wanted"
done
# Nothing else: programs, their compressed pages, the completion, the docs.
grep -vE '^usr/bin/[a-z0-9-]+$|^usr/share/man/man1/[a-z0-9-]+\.1\.gz$|^usr/share/bash-completion/completions/zorvidlk(-acquire)?$|^usr/share/doc/zorvidlk/[^/]+$' \
    "$work/files" | sed 's/^/unexpected file: /' | grep . && fail "unexpected files"
# Every program has its page.
while read -r program; do
    grep -qxF "usr/share/man/man1/$(basename "$program").1.gz" "$work/files" \
        || fail "no man page for $program"
done < <(grep '^usr/bin/' "$work/files")

echo "--- unpacked"
dpkg-deb -x "$deb" "$work/root"
root=$work/root
mkdir "$work/ports" # a private, empty port directory: -v opens no port, and none could be
report=$(ZORVIDLK_PORT_DIR="$work/ports" "$root/usr/bin/zorvidlk" -v </dev/null) \
    || fail "zorvidlk -v exits with $?"
printf '%s\n' "$report"
# The build date is SOURCE_DATE_EPOCH's, in the compiler's own format.
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    date_text=$(LC_ALL=C TZ=UTC date -d "@$SOURCE_DATE_EPOCH" '+%b %e %Y %H:%M:%S')
    grep -qxF "Build: zorvidlk Date: $date_text" <<<"$report" \
        || fail "-v does not show the build date $date_text"
fi
grep -qE '^ZVS  version [0-9]+\.[0-9]+\.[0-9]+ \(Build [0-9]+\)$' <<<"$report" \
    || fail "-v has no serial service version line"
# The service's name was once another's; built from pieces so that this file
# does not hold it.
old_name="W""SC"
if grep -q "$old_name" <<<"$report"; then fail "-v names the serial service $old_name"; fi
"$root/usr/bin/zorvidlk-sim" --help | grep -q '^Usage: zorvidlk-sim' || fail "zorvidlk-sim --help"
for program in "$root"/usr/bin/*; do
    kind=$(file -b "$program")
    case $kind in
        ELF*) grep -q ', stripped' <<<"$kind" || fail "$program is not stripped" ;;
        *"Python script"*) ;;
        *) fail "$program is neither a program nor a Python script: $kind" ;;
    esac
done
for page in "$root"/usr/share/man/man1/*.1.gz; do
    warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
    header=$(MANWIDTH=80 man -E UTF-8 -l "$page" 2>/dev/null | tail -n 1)
    [[ $header == *"zorvidlk $version"* ]] || fail "$(basename "$page") footer: $header"
    if zcat "$page" | grep -q "$old_name"; then
        fail "$(basename "$page") names the serial service $old_name"
    fi
done
# gzip -n: no file name (flag byte) and no time stamp, so the bytes depend on
# the text alone.
for compressed in "$root"/usr/share/man/man1/*.gz "$root"/usr/share/doc/zorvidlk/*.gz; do
    [ "$(od -An -tx1 -j3 -N5 "$compressed" | tr -d ' ')" = 0000000000 ] \
        || fail "$(basename "$compressed") keeps a name or a time stamp"
done
zcat "$root/usr/share/doc/zorvidlk/changelog.gz" | head -n 1 | grep -q "^zorvidlk ($version) " \
    || fail "the change log's last entry is not version $version"
zcat "$root/usr/share/man/man1/zorvidlk.1.gz" | grep -qF '"ZVS  version"' \
    || fail "zorvidlk.1 does not show the -v line"
grep -q "No licence is granted" "$root/usr/share/doc/zorvidlk/copyright" || fail "copyright file"
bash -n "$root/usr/share/bash-completion/completions/zorvidlk" || fail "completion syntax"

finish
