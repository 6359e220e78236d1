#!/usr/bin/env bash
# Builds the file benchmarks in Release (build-bench/) and runs them.
#   bash bench/run.sh                     # every benchmark, 0.2 s each
#   MIN_TIME=1 bash bench/run.sh          # longer runs, steadier numbers
#   bash bench/run.sh --benchmark_filter=Read/Diskette
# Extra arguments go to the benchmark program. A summary table closes the
# output: MB/s, device operations per MiB and the ratio to memcpy.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
# shellcheck source=scripts/ensure-tools.sh
source scripts/ensure-tools.sh
ensure_packages cmake make g++ libbenchmark-dev

JOBS="$(nproc 2>/dev/null || echo 2)"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DCARDFS_TESTS=OFF -DCARDFS_BENCH=ON -DCARDFS_SANITIZE=OFF
cmake --build build-bench -j "$JOBS" --target file_bench

./build-bench/bench/file_bench --benchmark_min_time="${MIN_TIME:-0.2}" "$@"
