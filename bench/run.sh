#!/usr/bin/env bash
# Builds the benchmarks at -O2 (RelWithDebInfo, build-bench/), runs them and
# writes docs/performance.md with its chart docs/performance.svg.
#   bash bench/run.sh                     # 3 runs of 5 repetitions, 0.2 s each
#   REPS=9 MIN_TIME=0.5 bash bench/run.sh # more and longer repetitions, steadier medians
#   RUNS=1 bash bench/run.sh              # one run of the program
#   bash bench/run.sh --benchmark_filter=Read/Diskette
# The program runs RUNS times (3 by default): each run places the library,
# the program and their buffers at other addresses, which moves some rows
# by a third from one run to the next on this kind of machine, and the
# report takes the medians of the samples of all runs. Extra arguments go to
# the benchmark program. A summary table of medians closes the output. A
# run with a filter writes the report all the same, with the rows it ran:
# set REPORT=0 to leave docs/ alone.
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
report=()
if [ "${REPORT:-1}" != 0 ]; then
    mkdir -p docs
    report=(--report=docs/performance.md --chart=docs/performance.svg --machine="$machine"
            --notes=bench/performance-notes.md)
fi
runs="${RUNS:-3}"
samples=()
for ((run = 1; run <= runs; run++)); do
    echo "==== run $run of $runs"
    ./build-bench/bench/file_bench "${args[@]}" --save="build-bench/samples.$run" "$@"
    samples+=("build-bench/samples.$run")
done
echo "==== all $runs runs together"
merged="$(IFS=,; echo "${samples[*]}")"
./build-bench/bench/file_bench --merge="$merged" --benchmark_repetitions="${REPS:-5}" "${report[@]}"
