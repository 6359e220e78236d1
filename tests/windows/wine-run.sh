#!/usr/bin/env bash
# Runs a Windows program of the cross-build under Wine, headless:
#
#   wine-run.sh PREFIX PROGRAM.exe [ARGUMENTS...]
#   wine-run.sh PREFIX --check          (only makes sure Wine starts)
#
# PREFIX is the Wine prefix, a directory in the build tree; the first call
# creates it with `wineboot` (once, under a lock, so parallel CTest jobs
# wait for it). The program's output is passed on when it has ended, with
# carriage returns dropped, so that CTest and GoogleTest's test discovery
# read its lines as they read a native program's. The exit status is the
# program's; 125 with a message on standard error when Wine is missing or
# cannot start.
#
# CMake uses this as the cross-compiling emulator of the Windows build, so
# `ctest` runs every Windows test through it. CARDFS_WINE names another
# Wine to use than the first wine (or wine64) on PATH.
set -uo pipefail

if [ "$#" -lt 2 ]; then
    echo "usage: wine-run.sh PREFIX PROGRAM.exe [ARGUMENTS...] | wine-run.sh PREFIX --check" >&2
    exit 2
fi
prefix="$1"
shift

wine="${CARDFS_WINE:-}"
if [ -z "$wine" ]; then
    wine="$(command -v wine || command -v wine64 || true)"
fi
if [ -z "$wine" ] || ! [ -x "$wine" ]; then
    if [ -n "${CARDFS_WINE:-}" ]; then
        echo "cardfs: CARDFS_WINE=$CARDFS_WINE is not a program: cannot run Windows programs" >&2
    else
        echo "cardfs: Wine is not installed (no wine or wine64 on PATH): cannot run Windows programs" >&2
    fi
    exit 125
fi

mkdir -p "$prefix" || exit 125
prefix="$(cd "$prefix" && pwd)"
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No Mono, no Gecko (and no dialog offering to download them), no desktop.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$prefix/system.reg" ]; then
    (
        flock 9
        if [ ! -f "$prefix/system.reg" ]; then
            "$wine" wineboot --init >"$prefix.boot.log" 2>&1
            # wineboot returns before the prefix is written out; wait for it.
            wineserver="$(dirname "$wine")/wineserver"
            [ -x "$wineserver" ] || wineserver="$(command -v wineserver || true)"
            [ -n "$wineserver" ] && "$wineserver" -w
        fi
    ) 9>"$prefix.lock"
    if [ ! -f "$prefix/system.reg" ]; then
        echo "cardfs: Wine ($wine) cannot start: wineboot made no prefix in $prefix" >&2
        echo "cardfs: its output, $prefix.boot.log:" >&2
        sed 's/^/    /' "$prefix.boot.log" >&2 2>/dev/null
        exit 125
    fi
fi

if [ "$1" = "--check" ]; then
    check="$(mktemp)" || exit 125
    "$wine" cmd.exe /c echo wine-ok >"$check" 2>&1
    out="$(tr -d '\r' <"$check")"
    rm -f "$check"
    if [ "$out" != "wine-ok" ]; then
        echo "cardfs: Wine ($wine) does not run programs in $prefix; it said:" >&2
        sed 's/^/    /' <<<"$out" >&2
        exit 125
    fi
    echo "cardfs: Wine runs ($("$wine" --version 2>/dev/null))"
    exit 0
fi

# The program's output goes to files first, not straight into a pipe: the
# Wine services that the program may start inherit its output, outlive it,
# and would keep a pipe (and the CTest waiting on it) open.
out="$(mktemp)" && err="$(mktemp)" || exit 125
trap 'rm -f "$out" "$err"' EXIT
"$wine" "$@" >"$out" 2>"$err"
rc=$?
tr -d '\r' <"$out"
tr -d '\r' <"$err" >&2
exit "$rc"
