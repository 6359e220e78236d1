#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and builds the example hosts
# against the installed library both ways a host would: with CMake
# (find_package(cardfs), target cardfs::cardfs) and with pkg-config
# (cardfs.pc), then runs each. With --deb it also makes the Debian package
# with cpack, installs it with dpkg, builds a host against /usr and removes
# the package again (root only).
#   check-install.sh SOURCE-DIR BUILD-DIR [--deb]
set -euo pipefail
src="$(cd "$1" && pwd)"
build="$(cd "$2" && pwd)"
deb="${3:-}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

step() { echo "---- $*"; }
fail() { echo "check-install: FAILED: $*" >&2; exit 1; }

# run_host DIR PROGRAM...: runs a host in a fresh folder; it must end with "done."
run_host() {
    local dir="$1"; shift
    mkdir -p "$dir"
    (cd "$dir" && "$@") >"$dir/out.txt" 2>&1 || { cat "$dir/out.txt"; fail "$* exited $?"; }
    grep -q 'done\.$' "$dir/out.txt" || { cat "$dir/out.txt"; fail "$* did not finish"; }
}

step "cmake --install into a temporary prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
soname="$(objdump -p "$prefix/lib/libcardfs.so" | awk '/SONAME/ {print $2}')"
[ "$soname" = "libcardfs.so.0" ] || fail "SONAME is '$soname', not libcardfs.so.0"

step "the installed tool runs from the prefix"
if [ -x "$build/tools/cardfs" ]; then
    [ -x "$prefix/bin/cardfs" ] || fail "bin/cardfs not installed"
    mkdir -p "$work/run-tool"
    (cd "$work/run-tool" && "$prefix/bin/cardfs" -q format TOOL && "$prefix/bin/cardfs" ls >/dev/null) ||
        fail "the installed cardfs does not run"
fi

step "examples/ built with find_package(cardfs)"
cmake -S "$src/examples" -B "$work/cmake-host" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-host" >/dev/null
run_host "$work/run-cmake" "$work/cmake-host/card_dir"
run_host "$work/run-cmake" "$work/cmake-host/hello_card"

step "examples/ built with pkg-config"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
[ "$(pkg-config --modversion cardfs)" = "$(sed -n 's/^project(cardfs VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")" ] ||
    fail "cardfs.pc gives version $(pkg-config --modversion cardfs)"
for host in card_dir hello_card; do
    # shellcheck disable=SC2046
    cc -std=c99 -Wall -Wextra -pedantic -o "$work/$host" "$src/examples/$host.c" $(pkg-config --cflags --libs cardfs)
    LD_LIBRARY_PATH="$prefix/lib" run_host "$work/run-pc" "$work/$host"
done

if [ "$deb" = "--deb" ]; then
    if [ "$(id -u)" -ne 0 ] || ! command -v dpkg >/dev/null; then
        echo "---- Debian package not checked: needs root and dpkg"
    else
        step "cpack -G DEB, dpkg -i, a host built against /usr, dpkg -r"
        (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" >cpack.log 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
        package="$(ls "$work"/cardfs_*.deb)"
        dpkg -i "$package" >/dev/null
        trap 'dpkg -r cardfs >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
        cc -std=c99 -o "$work/usr-host" "$src/examples/card_dir.c" $(PKG_CONFIG_PATH= pkg-config --cflags --libs cardfs)
        run_host "$work/run-usr" "$work/usr-host"
        dpkg -r cardfs >/dev/null
        [ ! -e /usr/lib/libcardfs.so.0 ] || fail "dpkg -r left /usr/lib/libcardfs.so.0"
    fi
fi
echo "check-install: passed"
