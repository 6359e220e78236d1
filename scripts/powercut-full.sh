#!/usr/bin/env bash
# The full power-cut sweeps: every sweep of the test suite (*PowerCuts*, the
# repair's) with the power cut after every
# write and erase instead of a sample of them (CARDFS_POWERCUT_FULL=1).
#   bash scripts/powercut-full.sh
# Uses the plain build in build/ (configured and built when needed) and
# prints each sweep's record line.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
# shellcheck source=scripts/ensure-tools.sh
source scripts/ensure-tools.sh
ensure_packages cmake make g++ libgtest-dev
cmake -S . -B build -DCARDFS_TESTS=ON >/dev/null
cmake --build build -j 2 --target cardfs_tests
CARDFS_POWERCUT_FULL=1 build/tests/cardfs_tests \
    --gtest_filter='*PowerCuts*:Repair.CutAtEveryWriteOfARepair'
