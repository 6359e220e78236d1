#!/usr/bin/env bash
# The test command: builds cardfs twice and runs the whole test suite on each
# build with CTest.
#   build/       plain build (tests, examples, benchmarks compiled)
#   build-asan/  AddressSanitizer + UndefinedBehaviorSanitizer build
# Installs cmake, a C/C++ compiler, GoogleTest and Google Benchmark first when
# they are missing (Debian). Exits non-zero on any failure; the last line is
#   cardfs: N passed, M failed
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
# shellcheck source=scripts/ensure-tools.sh
source scripts/ensure-tools.sh
ensure_packages cmake make g++ libgtest-dev libbenchmark-dev

JOBS="$(nproc 2>/dev/null || echo 2)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

total_passed=0
total_failed=0
failures=()

# run_suite LABEL DIR CMAKE-ARGS...
run_suite() {
    local label="$1" dir="$2"
    shift 2
    echo
    echo "==== cardfs: $label build in $dir/"
    if ! cmake -S . -B "$dir" -DCARDFS_TESTS=ON "$@"; then
        failures+=("$label: configure failed")
        return
    fi
    if ! cmake --build "$dir" -j "$JOBS"; then
        failures+=("$label: build failed")
        return
    fi
    local log="$dir/ctest.log" rc=0
    ctest --test-dir "$dir" --output-on-failure -j "$JOBS" 2>&1 | tee "$log" || rc=$?
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
    echo "==== cardfs: $label build: $((total - failed)) of $total tests passed"
    if [ "$failed" -ne 0 ] || [ "$rc" -ne 0 ]; then
        failures+=("$label: $failed of $total tests failed (ctest exit $rc)")
    fi
}

run_suite plain build -DCARDFS_SANITIZE=OFF -DCARDFS_BENCH=ON
run_suite "sanitizer (ASan+UBSan)" build-asan -DCARDFS_SANITIZE=ON -DCARDFS_BENCH=OFF

echo
for f in "${failures[@]+"${failures[@]}"}"; do
    echo "cardfs FAILURE: $f"
done
echo "cardfs: $total_passed passed, $total_failed failed"
[ "${#failures[@]}" -eq 0 ]
