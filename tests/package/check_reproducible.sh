#!/usr/bin/env bash
# Reproducible packages: the sources copied to two directories of different
# names and depths, each packaged as scripts/package.sh packages them (the
# release preset, then cpack) with the same SOURCE_DATE_EPOCH, must give the
# same packages, byte for byte: every .deb the package build makes, however
# many there are. Usage: tests/package/check_reproducible.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH
work=$(mktemp -d /tmp/zvrpXXXX)
trap 'rm -rf "$work"' EXIT

# The sources as they are in this tree (committed or not), without build trees.
git ls-files -z --cached --others --exclude-standard >"$work/sources"
trees=("$work/one" "$work/second/source-tree")
for tree in "${trees[@]}"; do
    mkdir -p "$tree"
    tar -cf - --null -T "$work/sources" | tar -xf - -C "$tree"
done

# Outside a git checkout the package build has no date to take: it must be
# given one.
if (cd "${trees[0]}" && env -u SOURCE_DATE_EPOCH scripts/package.sh) >"$work/undated.log" 2>&1 \
        || ! grep -q "set SOURCE_DATE_EPOCH" "$work/undated.log"; then
    cat "$work/undated.log"
    echo "reproducible: FAILED: a package build outside git without SOURCE_DATE_EPOCH went on"
    exit 1
fi

for tree in "${trees[@]}"; do
    if ! (cd "$tree" && scripts/package.sh) >"$tree.log" 2>&1; then
        cat "$tree.log"
        echo "reproducible: the package build in $tree failed"
        exit 1
    fi
    (cd "$tree/build-release" && find . -maxdepth 1 -name '*.deb' -printf '%f\n' | sort) \
        >"$tree.debs"
done

first="${trees[0]}/build-release"
second="${trees[1]}/build-release"
if [ ! -s "${trees[0]}.debs" ]; then
    echo "reproducible: FAILED: the package build made no .deb"
    exit 1
fi
if ! diff -u "${trees[0]}.debs" "${trees[1]}.debs"; then
    echo "reproducible: FAILED: the two builds make different packages"
    exit 1
fi

# Where two packages differ, which of their parts and files do.
show_difference() {
    local deb=$1 side
    for side in one two; do
        mkdir -p "$work/unpacked/$side"
    done
    dpkg-deb -R "$first/$deb" "$work/unpacked/one/${deb%.deb}"
    dpkg-deb -R "$second/$deb" "$work/unpacked/two/${deb%.deb}"
    diff -r "$work/unpacked/one/${deb%.deb}" "$work/unpacked/two/${deb%.deb}" | head -n 20 || true
    diff <(dpkg-deb --fsys-tarfile "$first/$deb" | tar -tv --full-time) \
         <(dpkg-deb --fsys-tarfile "$second/$deb" | tar -tv --full-time) | head -n 20 || true
}

different=0
while read -r deb; do
    if cmp -s "$first/$deb" "$second/$deb"; then
        echo "reproducible: $deb identical ($(stat -c %s "$first/$deb") bytes)"
    else
        echo "reproducible: FAILED: $deb differs between the builds"
        show_difference "$deb"
        different=$((different + 1))
    fi
done <"${trees[0]}.debs"
[ "$different" -eq 0 ] || exit 1
echo "reproducible: $(wc -l <"${trees[0]}.debs") package(s) identical in two builds" \
     "(SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
