#!/usr/bin/env bash
# The main job: builds cardfs and its example host programs, then runs
# each twice in ./demo/. hello_card keeps a 1.44 MB diskette image,
# demo/hello_card.img; card_dir keeps its volume in the card image file of
# a memory card in the media reader, simulated by the directory demo/card.
# The first run of each starts from nothing and formats, the second mounts
# the volume the first one left.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
# shellcheck source=scripts/ensure-tools.sh
source scripts/ensure-tools.sh
ensure_packages cmake make g++

JOBS="$(nproc 2>/dev/null || echo 2)"
echo "==== building cardfs and examples/hello_card, examples/card_dir in build-example/"
cmake -S . -B build-example -DCARDFS_TESTS=OFF -DCARDFS_BENCH=OFF -DCARDFS_SANITIZE=OFF
cmake --build build-example -j "$JOBS" --target hello_card card_dir

program="$PWD/build-example/examples/hello_card"
card_dir="$PWD/build-example/examples/card_dir"
mkdir -p demo
cd demo
rm -rf hello_card.img card

echo
echo "==== run 1 in demo/: no image yet, hello_card creates and formats it"
"$program"
echo
echo "==== run 2 in demo/: the volume is there, hello_card mounts it and replaces its file"
"$program"
echo
echo "==== the diskette image:"
ls -l hello_card.img
echo
echo "==== card_dir run 1 in demo/: the card demo/card is blank, card_dir formats it"
"$card_dir"
echo
echo "==== card_dir run 2 in demo/: the image is there, card_dir mounts it and adds a file"
"$card_dir"
echo
echo "==== the card image:"
ls -l card/USERIMG.BIN
echo "run-example: done"
