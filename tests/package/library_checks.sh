# shellcheck shell=bash disable=SC2154 # $deb, $version, $work: check_package.sh's
# The checks of the library's packages, libzorvidlk1 and libzorvidlk-dev;
# sourced by check_package.sh, whose $deb, $version, $work, fail and field
# they use.

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=usr/lib/$multiarch

# The control fields every package of the source shares.
check_common_control() { # SECTION
    echo "--- control"
    dpkg-deb -f "$deb" Package Source Version Architecture Section Depends Maintainer
    [ "$(field Source)" = zorvidlk ] || fail "Source is '$(field Source)', not zorvidlk"
    [ "$(field Version)" = "$version" ] || fail "Version $(field Version), the project's is $version"
    [ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture $(field Architecture)"
    [ "$(field Section)" = "$1" ] || fail "Section $(field Section), not $1"
    [[ $(field Maintainer) == *@* && $(field Maintainer) != *root* ]] || fail "Maintainer $(field Maintainer)"
    [[ $(basename "$deb") == "$(field Package)_${version}_$(field Architecture).deb" ]] \
        || fail "file name $(basename "$deb")"
}

# The package holds exactly these files (symbolic links as "name -> target").
check_exact_files() { # FILE...
    echo "--- files"
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' \
        | sed 's|^\./||' | sort >"$work/files"
    cat "$work/files"
    printf '%s\n' "$@" | sort | diff -u --label wanted --label packaged - "$work/files" \
        || fail "the file list differs from the one wanted (above)"
}

# The copyright file and this version's change log in the package's own
# documentation directory, the change log compressed without name or time.
check_docs() { # ROOT
    local doc
    doc=$1/usr/share/doc/$(field Package)
    grep -q "No licence is granted" "$doc/copyright" || fail "copyright file"
    zcat "$doc/changelog.gz" | head -n 1 | grep -q "^zorvidlk ($version) " \
        || fail "the change log's last entry is not version $version"
    [ "$(od -An -tx1 -j3 -N5 "$doc/changelog.gz" | tr -d ' ')" = 0000000000 ] \
        || fail "changelog.gz keeps a name or a time stamp"
}

check_library_package() {
    check_common_control libs
    [[ $(field Depends) == *libc6* && $(field Depends) == *libstdc++6* ]] \
        || fail "Depends '$(field Depends)' lacks libc6 or libstdc++6: shared libraries not computed"
    check_exact_files "$libdir/libzorvidlk.so.1 -> libzorvidlk.so.$version" \
        "$libdir/libzorvidlk.so.$version" \
        usr/share/doc/libzorvidlk1/changelog.gz usr/share/doc/libzorvidlk1/copyright

    echo "--- control files"
    dpkg-deb -e "$deb" "$work/control"
    ls "$work/control"
    grep -qxF "libzorvidlk 1 libzorvidlk1 (>= $version)" "$work/control/shlibs" \
        || fail "shlibs: $(cat "$work/control/shlibs" 2>/dev/null)"
    grep -qxF "activate-noawait ldconfig" "$work/control/triggers" || fail "no ldconfig trigger"
    for script in preinst postinst prerm postrm; do
        [ ! -e "$work/control/$script" ] || fail "a $script script (the ldconfig trigger is enough)"
    done

    echo "--- unpacked"
    dpkg-deb -x "$deb" "$work/root"
    local library=$work/root/$libdir/libzorvidlk.so.$version
    readelf -d "$library" | grep -q 'SONAME.*\[libzorvidlk\.so\.1\]' || fail "the soname is not libzorvidlk.so.1"
    file -b "$library" | grep -q ', stripped' || fail "the library is not stripped"
    # Only the zv_* functions are exported, in the version node ZORVIDLK_1.
    readelf --dyn-syms -W "$library" | awk '$1 ~ /^[0-9]+:$/ && $5 != "LOCAL" && $7 != "UND" && $8 != "" { print $8 }' \
        | grep -v '^ZORVIDLK_1$' | sort >"$work/exported"
    grep -v '^zv_[a-z_]*@@ZORVIDLK_1$' "$work/exported" | sed 's/^/exported: /' | grep . \
        && fail "the library exports more than the zv_* functions"
    grep -qxF 'zv_open@@ZORVIDLK_1' "$work/exported" || fail "zv_open is not exported"
    echo "$(wc -l <"$work/exported") functions exported"
    check_docs "$work/root"
}

check_development_package() {
    check_common_control libdevel
    [ "$(field Depends)" = "libzorvidlk1 (= $version)" ] || fail "Depends '$(field Depends)'"
    local cmake_dir=$libdir/cmake/zorvidlk
    check_exact_files usr/include/zorvidlk/zorvidlk.h \
        "$libdir/libzorvidlk.so -> libzorvidlk.so.1" "$libdir/pkgconfig/zorvidlk.pc" \
        "$cmake_dir/zorvidlkConfig.cmake" "$cmake_dir/zorvidlkConfigVersion.cmake" \
        "$cmake_dir/zorvidlkTargets.cmake" "$cmake_dir/zorvidlkTargets-relwithdebinfo.cmake" \
        usr/share/man/man3/zorvidlk.3.gz \
        usr/share/doc/libzorvidlk-dev/changelog.gz usr/share/doc/libzorvidlk-dev/copyright

    echo "--- unpacked"
    local root=$work/root
    dpkg-deb -x "$deb" "$root"
    check_docs "$root"
    grep -qxF "prefix=/usr" "$root/$libdir/pkgconfig/zorvidlk.pc" || fail "zorvidlk.pc's prefix is not /usr"
    local page=$root/usr/share/man/man3/zorvidlk.3.gz
    warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "zorvidlk.3: $warnings"
    MANWIDTH=80 man -E UTF-8 -l "$page" 2>/dev/null | tail -n 1 | grep -qF "zorvidlk $version" \
        || fail "zorvidlk.3's footer has no version"
    # Every function of the header has its place in the page.
    while read -r function; do
        zcat "$page" | grep -q "^\.BR $function ()" || fail "zorvidlk.3 does not describe $function"
    done < <(sed -n 's/^ZV_API .*[ *]\(zv_[a-z_]*\)(.*/\1/p' "$root/usr/include/zorvidlk/zorvidlk.h")

    # The library package of the same version, next to this one, completes
    # what the example links and loads; the programs' package gives the
    # simulated board (the release build's, without it).
    local directory arch
    directory=$(dirname "$deb")
    arch=$(field Architecture)
    local library_deb=$directory/libzorvidlk1_${version}_$arch.deb
    [ -f "$library_deb" ] || { fail "no $library_deb to build the example with"; return; }
    dpkg-deb -x "$library_deb" "$root"
    local simulator=build-release/bin/zorvidlk-sim
    if [ -f "$directory/zorvidlk_${version}_$arch.deb" ]; then
        dpkg-deb -x "$directory/zorvidlk_${version}_$arch.deb" "$work/programs"
        simulator=$work/programs/usr/bin/zorvidlk-sim
    fi
    echo "--- the README's example against the unpacked packages"
    PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_PATH=$root/$libdir/pkgconfig PKG_CONFIG_LIBDIR=$root/$libdir/pkgconfig \
        LD_LIBRARY_PATH=$root/$libdir tests/package/readme_example.sh "$simulator" "$root/$libdir" \
        || fail "the README's example against the unpacked packages"

    echo "--- find_package(zorvidlk) from the unpacked package"
    mkdir "$work/consumer"
    cat >"$work/consumer/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(consumer C)
find_package(zorvidlk 1 REQUIRED)
add_executable(consumer consumer.c)
target_link_libraries(consumer PRIVATE zorvidlk::zorvidlk)
EOF
    printf '#include <stdio.h>\n#include <zorvidlk/zorvidlk.h>\nint main(void) { puts(zv_version()); return 0; }\n' \
        >"$work/consumer/consumer.c"
    if cmake -S "$work/consumer" -B "$work/consumer/build" -G Ninja -DCMAKE_PREFIX_PATH="$root/usr" \
            >"$work/consumer.log" 2>&1 && cmake --build "$work/consumer/build" >>"$work/consumer.log" 2>&1; then
        [ "$(LD_LIBRARY_PATH=$root/$libdir "$work/consumer/build/consumer")" = "$version" ] \
            || fail "the CMake consumer does not print the version $version"
    else
        cat "$work/consumer.log"
        fail "find_package(zorvidlk) and zorvidlk::zorvidlk do not build a program"
    fi
}
