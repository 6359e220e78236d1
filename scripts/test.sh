#!/usr/bin/env bash
# The test command: builds cardfs natively twice and for Windows twice, and
# runs the tests of each build with CTest.
#   build/                plain build (tests, examples, benchmarks compiled)
#   build-asan/           AddressSanitizer + UndefinedBehaviorSanitizer build
#   build-windows/        cardfs.dll as shipped (mingw-w64 cross-build): its
#                         exports and imports checked, the C example hosts
#                         run under Wine
#   build-windows-tests/  the whole test suite for Windows, over the static
#                         library and the KERNEL32 stand-in, run under Wine
#                         one test per process
#   build-fuzz/           the fuzz targets (fuzz/run with clang, libFuzzer,
#                         ASan and UBSan), each run for 10 s
#                         (CARDFS_FUZZ_SECONDS) and counted as one test
# The power-cut sweeps run with the tests of every build, on a sample of
# their cut points; scripts/powercut-full.sh cuts at every one. The tool,
# its mount, the installed tree, the Debian package and the Python binding
# are tested in the plain build (the tool also in the sanitizer build).
# Installs cmake, a C/C++ compiler, GoogleTest and Google Benchmark, clang
# and its runtime libraries, CLI11 and nlohmann-json, python3, script
# (bsdutils), libfuse3 and fuse3, pkg-config and the packaging tools, the
# time-zone data, the mingw-w64 cross compiler and Wine first when they are
# missing (Debian).
# Exits non-zero on any failure, Wine unable to run included; the last line
# is
#   cardfs: N passed, M failed
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
# shellcheck source=scripts/ensure-tools.sh
source scripts/ensure-tools.sh
started=$SECONDS
ensure_packages cmake make g++ libgtest-dev libbenchmark-dev clang
ensure_packages "libclang-rt-$(clang --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)-dev"
ensure_packages libcli11-dev nlohmann-json3-dev python3 bsdutils libfuse3-dev fuse3 pkg-config dpkg-dev file tzdata
ensure_packages --no-install-recommends googletest g++-mingw-w64-x86-64-posix wine wine64
echo "==== cardfs: tools ready after $((SECONDS - started)) s"

JOBS="$(nproc 2>/dev/null || echo 2)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

total_passed=0
total_failed=0
failures=()

# A Windows build's programs run under Wine, in the prefix DIR/wine
# (tests/windows/wine-run.sh). Every Wine program started while no other
# runs in the prefix brings up Wine's services first, which takes seconds;
# a command interpreter kept waiting on a pipe keeps them up for the whole
# run. wine_stop ends it, and everything else of the prefix, by stopping
# the prefix's wineserver.
wine_prefix=""
wine_start() {
    wine_prefix="$1/wine"
    if ! bash tests/windows/wine-run.sh "$wine_prefix" --check; then
        wine_prefix=""
        return 1
    fi
    exec 8> >(bash tests/windows/wine-run.sh "$wine_prefix" cmd.exe >/dev/null 2>&1)
}
wine_stop() {
    [ -n "$wine_prefix" ] || return 0
    exec 8>&-
    WINEPREFIX="$(cd "$wine_prefix" && pwd)" wineserver -k 2>/dev/null || true
    wine_prefix=""
}
trap wine_stop EXIT

# run_suite LABEL DIR CMAKE-ARGS...
run_suite() {
    local label="$1" dir="$2" windows=no arg
    shift 2
    for arg in "$@"; do
        case "$arg" in
        -DCMAKE_TOOLCHAIN_FILE=*mingw*) windows=yes ;;
        esac
    done
    echo
    echo "==== cardfs: $label build in $dir/"
    local build_start=$SECONDS test_start
    if ! cmake -S . -B "$dir" "$@"; then
        failures+=("$label: configure failed")
        return
    fi
    if ! cmake --build "$dir" -j "$JOBS"; then
        failures+=("$label: build failed")
        return
    fi
    test_start=$SECONDS
    if [ "$windows" = yes ] && ! wine_start "$dir"; then
        # Nothing of this build can run: one failure stands for all of it.
        failures+=("$label: Wine cannot run Windows programs on this machine (see above); its tests were not run")
        total_failed=$((total_failed + 1))
        return
    fi
    local log="$dir/ctest.log" rc=0
    ctest --test-dir "$dir" --output-on-failure -j "$JOBS" 2>&1 | tee "$log" || rc=$?
    if [ "$windows" = yes ]; then
        wine_stop
    fi
    local line failed total
    line="$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)"
    if [ -z "$line" ]; then
        if grep -q 'No tests were found' "$log"; then
            failures+=("$label: no tests found")
        else
            failures+=("$label: ctest gave no result (exit $rc)")
        fi
        return
    fi
    failed="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")"
    total="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")"
    total_passed=$((total_passed + total - failed))
    total_failed=$((total_failed + failed))
    echo "==== cardfs: $label build: $((total - failed)) of $total tests passed" \
        "(build $((test_start - build_start)) s, tests $((SECONDS - test_start)) s)"
    if [ "$failed" -ne 0 ] || [ "$rc" -ne 0 ]; then
        failures+=("$label: $failed of $total tests failed (ctest exit $rc)")
    fi
}

# Every fuzz target for CARDFS_FUZZ_SECONDS (10 by default); each counts as
# one test, passed when it ran clean.
run_fuzz() {
    local seconds="${CARDFS_FUZZ_SECONDS:-10}" log rc=0 lines passed
    log="$(mktemp)"
    echo
    echo "==== cardfs: fuzz targets, $seconds s each, in build-fuzz/"
    local start=$SECONDS
    bash fuzz/run "$seconds" 2>&1 | tee "$log" || rc=$?
    lines="$(grep -cE '^fuzz_[a-z]+: ' "$log" || true)"
    passed="$(grep -cE '^fuzz_[a-z]+: .* crashes 0 \(exit 0\)$' "$log" || true)"
    rm -f "$log"
    if [ "$lines" -eq 0 ]; then
        failures+=("fuzz: the targets did not build or run (exit $rc)")
        total_failed=$((total_failed + 1))
        return
    fi
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + lines - passed))
    echo "==== cardfs: fuzz: $passed of $lines targets ran clean ($((SECONDS - start)) s)"
    if [ "$passed" -ne "$lines" ] || [ "$rc" -ne 0 ]; then
        failures+=("fuzz: $((lines - passed)) of $lines targets found something (see build-fuzz/artifacts/)")
    fi
}

run_suite plain build -DCARDFS_TESTS=ON -DCARDFS_SANITIZE=OFF -DCARDFS_BENCH=ON
run_suite "sanitizer (ASan+UBSan)" build-asan -DCARDFS_TESTS=ON -DCARDFS_SANITIZE=ON -DCARDFS_BENCH=OFF
run_fuzz
# Release: without debug information the Windows builds take a third less time.
windows=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release -DCARDFS_BENCH=OFF)
run_suite "Windows DLL (mingw-w64, Wine)" build-windows "${windows[@]}" \
    -DCARDFS_TESTS=OFF -DCARDFS_KERNEL32_STANDIN=OFF
run_suite "Windows tests (mingw-w64, Wine)" build-windows-tests "${windows[@]}" \
    -DCARDFS_TESTS=ON -DCARDFS_KERNEL32_STANDIN=ON

echo
for f in "${failures[@]+"${failures[@]}"}"; do
    echo "cardfs FAILURE: $f"
done
echo "cardfs: $total_passed passed, $total_failed failed"
[ "${#failures[@]}" -eq 0 ]
