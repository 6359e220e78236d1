#!/usr/bin/env bash
# Builds the benchmarks at -O2 (RelWithDebInfo, build-bench/), runs them and
# writes docs/performance.md with its chart docs/performance.svg.
#   bash bench/run.sh                     # 5 repetitions, 0.2 s each
#   REPS=9 MIN_TIME=0.5 bash bench/run.sh # more and longer runs, steadier medians
#   bash bench/run.sh --benchmark_filter=Read/Diskette
# Extra arguments go to the benchmark program. A summary table of medians
# closes the output. A run with a filter writes the report all the same,
# with the rows it ran: set REPORT=0 to leave docs/ alone.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
# shellcheck source=scripts/ensure-tools.sh
source scripts/ensure-tools.sh
ensure_packages cmake make g++ libbenchmark-dev

JOBS="$(nproc 2>/dev/null || echo 2)"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCARDFS_TESTS=OFF -DCARDFS_BENCH=ON -DCARDFS_SANITIZE=OFF >/dev/null
cmake --build build-bench -j "$JOBS" --target file_bench

# The machine; file_bench adds how busy it was (load averages).
machine="build-bench/machine.txt"
{
    echo "CPU: $(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -1), $(nproc 2>/dev/null || echo '?') cores"
    echo "System: $(uname -srm)"
    echo "Compiler: $(c++ --version | head -1)"
    echo "Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
} >"$machine"

args=(--benchmark_min_time="${MIN_TIME:-0.2}" --benchmark_repetitions="${REPS:-5}"
      --benchmark_report_aggregates_only=true)
if [ "${REPORT:-1}" != 0 ]; then
    mkdir -p docs
    args+=(--report=docs/performance.md --chart=docs/performance.svg --machine="$machine"
           --notes=bench/performance-notes.md)
fi
./build-bench/bench/file_bench "${args[@]}" "$@"
