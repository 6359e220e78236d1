#!/usr/bin/env bash
# The soak: a random workload of CALLS library calls (default 1,000,000) on
# each geometry (diskettes of 720 KB and 1.44 MB, 1 MiB flash card, 4 MiB
# flash cartridge), with failed reads, writes, erases and probes injected at
# random, checked against a model after every call (fuzz/soak.cpp).
#   bash scripts/soak.sh [CALLS] [SEED]
# Builds build-soak/ (RelWithDebInfo, internal invariants checked) and runs
# the four geometries one after the other; prints one line of figures per
# geometry, or the call, seed and replay command of the first broken rule.
# Exits non-zero when any geometry failed. A million calls take 5 to 25
# minutes per geometry on one core.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
calls="${1:-1000000}"
seed="${2:-1}"
# shellcheck source=scripts/ensure-tools.sh
source scripts/ensure-tools.sh
ensure_packages cmake make g++ libgtest-dev
cmake -S . -B build-soak -DCARDFS_TESTS=ON -DCARDFS_BENCH=OFF -DCARDFS_ASSERTIONS=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-soak -j 2 --target cardfs_soak
failed=0
for geometry in dd720 hd144 card1m cart4m; do
    start=$SECONDS
    build-soak/tests/cardfs_soak "$geometry" "$calls" "$seed" || failed=1
    echo "  ($geometry: $((SECONDS - start)) s)"
done
exit "$failed"
