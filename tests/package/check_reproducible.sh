#!/usr/bin/env bash
# Reproducible builds: two clean release builds of the same sources, copied to
# two directories of different names and depths, with the same
# SOURCE_DATE_EPOCH, must install byte-identical files (programs, man pages,
# documentation). Usage: tests/package/check_reproducible.sh
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
    log="$tree.log"
    if ! { cmake -S "$tree" -B "$tree/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
                -DZORVIDLK_TESTS=OFF \
            && cmake --build "$tree/build" -j "$(nproc)" \
            && DESTDIR="$tree.installed" cmake --install "$tree/build" --prefix /usr; } \
            >"$log" 2>&1; then
        cat "$log"
        echo "reproducible: the build in $tree failed"
        exit 1
    fi
done

# Outside a git checkout the package build has no date to take: it must be
# given one.
if (cd "${trees[0]}" && env -u SOURCE_DATE_EPOCH scripts/package.sh) >"$work/undated.log" 2>&1 \
        || ! grep -q "set SOURCE_DATE_EPOCH" "$work/undated.log"; then
    cat "$work/undated.log"
    echo "reproducible: FAILED: a package build outside git without SOURCE_DATE_EPOCH went on"
    exit 1
fi

first="${trees[0]}.installed"
second="${trees[1]}.installed"
(cd "$first" && find . -type f | sort) >"$work/first.list"
(cd "$second" && find . -type f | sort) >"$work/second.list"
if ! diff -u "$work/first.list" "$work/second.list"; then
    echo "reproducible: FAILED: the two builds install different files"
    exit 1
fi
different=0
while read -r file; do
    if ! cmp -s "$first/$file" "$second/$file"; then
        echo "reproducible: FAILED: $file differs between the builds"
        different=$((different + 1))
    fi
done <"$work/first.list"
[ "$different" -eq 0 ] || exit 1
echo "reproducible: $(wc -l <"$work/first.list") installed files identical in two builds" \
     "(SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
