#!/usr/bin/env bash
# Runs one command (ctest, pytest, a benchmark) with a wine server and session
# for the Windows build, inside a private mount namespace in which every serial
# device node (/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*) is masked.
#
# Wine links each such node to a COM port of its prefix at every server start,
# so an unguarded COM1 could be the machine's own console. No wine process,
# the server included, starts before every node is checked masked, and the
# server ends inside the namespace before the namespace goes away.
#
#   scripts/wine-session.sh COMMAND [ARGS...]
#
# The prefix lives in $ZORVIDLK_WINDOWS_BUILD/wineprefix (build-windows by
# default). When the namespace cannot be made (not root, no unshare), the
# command is skipped with one line saying why (status 0), and with CI=true that
# is a failure (status 1).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZORVIDLK_WINDOWS_BUILD:-$root/build-windows}"

if [ "${ZORVIDLK_WINE_NAMESPACE:-}" != "$$" ]; then
    reason=""
    if ! command -v unshare >/dev/null; then
        reason="unshare is not installed"
    elif [ "$(id -u)" -ne 0 ]; then
        reason="a private mount namespace needs root (unshare --mount)"
    elif ! unshare --mount --propagation private true 2>/dev/null; then
        reason="unshare --mount --propagation private failed"
    fi
    if [ -n "$reason" ]; then
        if [ "${CI:-}" = "true" ]; then
            echo "wine tests cannot run: $reason" >&2
            exit 1
        fi
        echo "wine tests skipped: $reason"
        exit 0
    fi
    # The inner shell's pid is the same after exec: it marks the namespace as made.
    exec unshare --mount --propagation private \
        bash -c 'export ZORVIDLK_WINE_NAMESPACE=$$; exec "$0" "$@"' "$0" "$@"
fi

# Inside the namespace from here on.
if [ "$(readlink /proc/self/ns/mnt)" = "$(readlink /proc/1/ns/mnt)" ]; then
    echo "wine-session: not in a private mount namespace; wine not started" >&2
    exit 1
fi
mask="$(mktemp /tmp/zvmaskXXXXXX)"
shopt -s nullglob
nodes=(/dev/ttyS* /dev/ttyUSB* /dev/ttyACM*)
for node in "${nodes[@]}"; do
    mount --bind "$mask" "$node"
done
# Every node must now be the empty regular file, none a character device.
for node in "${nodes[@]}" /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
    if [ -c "$node" ] || [ ! -f "$node" ]; then
        echo "wine-session: $node is not masked; wine not started" >&2
        rm -f "$mask"
        exit 1
    fi
done

export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY TZ
mkdir -p "$WINEPREFIX"
log="$build/wineserver.log"
: >"$log"
# The wine server makes its own directory under $TMPDIR and leaves it there;
# a private one, removed with the session, keeps /tmp clean (and short, for
# the server's socket path).
session_tmp="$(mktemp -d /tmp/zvwineXXXXXX)"
export TMPDIR="$session_tmp"

finish() {
    wineserver -k >>"$log" 2>&1 || true
    wineserver -w >>"$log" 2>&1 || true
    rm -f "$mask"
    rm -rf "$session_tmp"
}
trap finish EXIT

# The server first, persistent, with its output in the log (it dumps objects
# there on a peer hang-up); then the prefix if there is none yet.
if ! wineserver -p >>"$log" 2>&1; then
    echo "wine-session: the wine server did not start (see $log)" >&2
    exit 1
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-session: creating the prefix $WINEPREFIX"
    if ! wineboot --init </dev/null >>"$log" 2>&1; then
        echo "wine-session: wineboot failed (see $log)" >&2
        exit 1
    fi
fi
# One warm-up program, with a bounded wait and one retry: the first program
# after a session start was seen to hang once.
for attempt in 1 2; do
    if timeout 60 wine cmd /c exit </dev/null >>"$log" 2>&1; then
        break
    fi
    echo "wine-session: warm-up attempt $attempt did not finish" >>"$log"
done
set +e
"$@"
status=$?
set -e
exit "$status"
