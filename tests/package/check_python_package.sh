#!/usr/bin/env bash
# Checks the built python3-zorvidlk package without installing it: lintian
# finds no error, the control fields, the file list, and the unpacked package
# imports (with the library of the libzorvidlk1 package beside it, or of a
# build) and fails to import, clearly, without one.
# Usage: tests/package/check_python_package.sh python3-zorvidlk_VERSION_all.deb [LIBRARY.so.1]
set -euo pipefail
deb=$(realpath "${1:?usage: check_python_package.sh PACKAGE.deb [libzorvidlk.so.1]}")
library=${2:+$(realpath "$2")}
cd "$(dirname "$0")/../.."
version=$(sed -n 's/^project(zorvidlk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
work=$(mktemp -d /tmp/zvppXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "python package: FAILED: $*"
    failures=$((failures + 1))
}

echo "--- lintian"
mkdir "$work/lintian"
TMPDIR="$work/lintian" lintian --fail-on error --display-info "$deb" 2>&1 | grep -v '^running with root privileges' \
    || [ "${PIPESTATUS[0]}" -eq 0 ] || fail "lintian reports errors"

echo "--- control"
field() { dpkg-deb -f "$deb" "$1"; }
dpkg-deb -f "$deb" Package Version Architecture Depends Suggests
[ "$(field Package)" = python3-zorvidlk ] || fail "Package is $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version $(field Version), the project's is $version"
[ "$(field Architecture)" = all ] || fail "Architecture $(field Architecture)"
depends=$(field Depends)
[[ $depends == *"libzorvidlk1 (= $version)"* ]] || fail "Depends lacks libzorvidlk1 (= $version)"
[[ $depends == *python3-numpy* ]] || fail "Depends lacks python3-numpy"
[[ $(field Suggests) == *python3-pymeasure* ]] || fail "Suggests lacks python3-pymeasure"
[[ $(basename "$deb") == "python3-zorvidlk_${version}_all.deb" ]] || fail "file name $(basename "$deb")"

echo "--- files"
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sed 's|^\./||' | sort >"$work/files"
cat "$work/files"
for wanted in __init__.py board.py errors.py pymeasure.py _library.py _interruptible.py; do
    grep -qxF "usr/lib/python3/dist-packages/zorvidlk/$wanted" "$work/files" || fail "missing $wanted"
done
for wanted in copyright changelog.gz examples/series.py; do
    grep -qxF "usr/share/doc/python3-zorvidlk/$wanted" "$work/files" || fail "missing doc $wanted"
done
grep -vE '^usr/lib/python3/dist-packages/zorvidlk/[a-z_]+\.py$|^usr/share/doc/python3-zorvidlk/' \
    "$work/files" | sed 's/^/unexpected file: /' | grep . && fail "unexpected files"

echo "--- unpacked"
dpkg-deb -x "$deb" "$work/root"
site=$work/root/usr/lib/python3/dist-packages
if [ -z "$library" ]; then
    lib_deb=$(ls "$(dirname "$deb")"/libzorvidlk1_"$version"_*.deb 2>/dev/null | head -1 || true)
    if [ -n "$lib_deb" ]; then
        dpkg-deb -x "$lib_deb" "$work/lib"
        library=$(find "$work/lib" -name libzorvidlk.so.1 | head -1)
    fi
fi
if [ -n "$library" ]; then
    (cd "$work" && PYTHONPATH="$site" ZORVIDLK_LIBRARY="$library" /usr/bin/python3 -c '
import sys, zorvidlk
assert zorvidlk.library_version() == sys.argv[1], zorvidlk.library_version()
assert "pymeasure" not in sys.modules
print("imports, library", zorvidlk.library_version())' "$version") || fail "the unpacked package does not import"
else
    echo "(no libzorvidlk1 package beside it and no library given: import not tried)"
fi
message=$(cd "$work" && PYTHONPATH="$site" ZORVIDLK_LIBRARY="$work/none/libzorvidlk.so.1" \
    /usr/bin/python3 -c 'import zorvidlk' 2>&1 | tail -1 || true)
[[ $message == "ImportError: zorvidlk: the board's C library is missing"*libzorvidlk1* ]] \
    || fail "a missing library gives: $message"

[ "$failures" -eq 0 ] || exit 1
echo "python package: OK"
