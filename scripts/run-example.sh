#!/usr/bin/env bash
# The main job: builds cardfs, its command-line tool tools/cardfs and the
# example host programs, then shows them working in ./demo/.
#   1. The example hosts, briefly, in demo/hosts/: hello_card formats a
#      1.44 MB diskette image and then mounts it; card_dir formats the card
#      demo/hosts/card and then adds a file to it.
#   2. The tool in demo/, on its default medium, the card ./card (the
#      directory demo/card, its volume in the card image USERIMG.BIN):
#      it formats the card when it holds no volume, writes a track file
#      from examples/sample_track.csv, lists the card and prints the
#      track back.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
# shellcheck source=scripts/ensure-tools.sh
source scripts/ensure-tools.sh
ensure_packages cmake make g++ libcli11-dev nlohmann-json3-dev

JOBS="$(nproc 2>/dev/null || echo 2)"
echo "==== building cardfs, tools/cardfs, examples/hello_card and examples/card_dir in build-example/"
cmake -S . -B build-example -DCARDFS_TESTS=OFF -DCARDFS_BENCH=OFF -DCARDFS_SANITIZE=OFF
cmake --build build-example -j "$JOBS" --target cardfs_tool hello_card card_dir

build="$PWD/build-example"
rm -rf demo/hosts demo/card
mkdir -p demo/hosts

echo
echo "==== the example hosts in demo/hosts/, each run twice: formatting, then mounting"
(
    cd demo/hosts
    "$build/examples/hello_card" >/dev/null
    "$build/examples/hello_card" | tail -n 1
    "$build/examples/card_dir" >/dev/null
    "$build/examples/card_dir" | tail -n 1
)

# show COMMAND...: prints the command as typed in demo/, then runs it.
cardfs() { "$build/tools/cardfs" "$@"; }
show() {
    echo
    echo "\$ cardfs $*"
    cardfs "$@"
}

echo
echo "==== the tool in demo/, on the card ./card"
cd demo
if ! cardfs info >/dev/null 2>&1; then
    echo "(the card holds no volume yet)"
    show format DEMO
fi
show import-track ../examples/sample_track.csv TRACK.001
show ls -l
show track TRACK.001
echo
echo "run-example: done"
