#!/usr/bin/env bash
# The main job: builds cardfs and its example host program, then runs
# hello_card in ./demo/. hello_card keeps a 1.44 MB diskette image,
# demo/hello_card.img: the first run starts from no image and formats it,
# the second run mounts the volume the first one left.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
# shellcheck source=scripts/ensure-tools.sh
source scripts/ensure-tools.sh
ensure_packages cmake make g++

JOBS="$(nproc 2>/dev/null || echo 2)"
echo "==== building cardfs and examples/hello_card in build-example/"
cmake -S . -B build-example -DCARDFS_TESTS=OFF -DCARDFS_BENCH=OFF -DCARDFS_SANITIZE=OFF
cmake --build build-example -j "$JOBS" --target hello_card

program="$PWD/build-example/examples/hello_card"
mkdir -p demo
cd demo
rm -f hello_card.img

echo
echo "==== run 1 in demo/: no image yet, hello_card creates and formats it"
"$program"
echo
echo "==== run 2 in demo/: the volume is there, hello_card mounts it and replaces its file"
"$program"
echo
echo "==== the diskette image:"
ls -l hello_card.img
echo "run-example: done"
