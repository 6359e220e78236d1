# check on a diskette image damaged byte by byte: each fault is named in
# plain words, the exit status is 1, and the image is left as it was.
# Diskette layout: directory in blocks 0 and 1 (16-byte entries; entry 1
# at byte 16: extension, first block, 8 name bytes, block count), the map
# in block 2 (one bit per block, byte 1024), files from block 3; each block
# opens with its link word.
source "$(dirname "$0")/lib.sh"

random_file a.bin 100
random_file b.bin 1500
ok cardfs --disk good.img format CHECK
ok cardfs --disk good.img put a.bin A.001
ok cardfs --disk good.img put b.bin B.001
same "clean" "clean: 2 file(s), 4 block(s) in files" "$(cardfs --disk good.img check)"

# damaged OFFSET BYTES: a copy of good.img with BYTES (printf escapes) at OFFSET.
damaged() {
    cp good.img bad.img
    printf "$2" | dd of=bad.img bs=1 seek="$1" conv=notrunc status=none
    cp bad.img before.img
}

# problems COUNT EXPECTED-REPORT: check finds COUNT problems, reports them, changes nothing.
problems() {
    local report
    report="$(cardfs --disk bad.img check 2>err.txt)"
    same "check exit status" 1 "$?"
    same "check report" "$2" "$report"
    same "check message" "cardfs: $1 problems found on the diskette bad.img" "$(cat err.txt)"
    cmp -s bad.img before.img || problem "check changed the image"
}

damaged 28 '\x05\x00'  # A.001 claims 5 blocks
problems 1 "problem: A.001: the chain has 1 blocks, the directory says 5"
same "ls of a damaged file" "A        001          ?      5" "$(cardfs --disk bad.img ls 2>/dev/null | grep '^A ')"
fails 1 "cardfs: cannot read A.001 (cardfs check tells why)" cardfs --disk bad.img ls

damaged 1024 '\xef'  # map: block 4 (of B.001) free, block 7 in use
problems 2 "problem: block 4 of B.001 is marked free
problem: block 7 is marked in use but belongs to no file"

damaged 34 '\x03'  # B.001 starts in A.001's block
problems 5 "problem: B.001: block 3 belongs to A.001 too
problem: B.001: the chain has 1 blocks, the directory says 3
problem: block 4 is marked in use but belongs to no file
problem: block 5 is marked in use but belongs to no file
problem: block 6 is marked in use but belongs to no file"

damaged 3072 '\x04\x00'  # the last block of B.001 links back to its second
problems 1 "problem: B.001: the chain runs in a circle at block 4"

damaged 1536 '\x01\x80'  # the last block of A.001 claims 1 byte
problems 1 "problem: A.001: its last block 3 claims 1 bytes"

damaged 18 '\x02\x00'  # A.001 starts in the map block
problems 2 "problem: A.001: block 2 lies outside the data area
problem: block 3 is marked in use but belongs to no file"

# --repair rebuilds the map from the chains: a leaked block is freed, a
# file's block marked free is marked in use before a new file can take it;
# a damaged file is named and kept.
damaged 1024 '\xef'  # map: block 4 (of B.001) free, block 7 in use
same "repair" "repaired the map of the diskette bad.img: 1 leaked block(s) freed, 1 block(s) of files marked in use
clean: 2 file(s), 4 block(s) in files" "$(cardfs --disk bad.img check --repair)"
ok cardfs --disk bad.img put b.bin C.001
cmp -s b.bin <(cardfs --disk bad.img get B.001 -) || problem "B.001 after the repair and a new file: other bytes"
damaged 28 '\x05\x00'  # A.001 claims 5 blocks
same "repair of a broken chain" "the map of the diskette bad.img needed no repair
problem: A.001: its chain is broken after 1 block(s) (read what you can, then remove it)
problem: A.001: the chain has 1 blocks, the directory says 5" "$(cardfs --disk bad.img check --repair 2>/dev/null)"

# On flash the system area moves at every update; info names the map
# block (two bits a block: 11 in use, 10 released). A.001 lies in block 256.
ok cardfs format FLASH
ok cardfs put a.bin A.001
map="$(cardfs info | sed -n 's/.*map in block \([0-9]*\),.*/\1/p')"
same "map block after one update" 33 "$map"
printf '\x02' | dd of=card/USERIMG.BIN bs=1 seek=$((map * 512 + 64)) conv=notrunc status=none
cp card/USERIMG.BIN before.bin
same "flash check" "sector 2: 0 in use, 1 released, 127 free
1 released blocks, 13 free sectors (one is kept as the spare)
problem: block 256 of A.001 is marked released" "$(cardfs check 2>err.txt)"
same "flash check message" "cardfs: 1 problems found on the card ./card" "$(cat err.txt)"
cmp -s card/USERIMG.BIN before.bin || problem "check changed the card image"

finish
