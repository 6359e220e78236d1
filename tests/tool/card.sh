# The default medium, the card ./card: format, the file verbs, the check
# and the progress bar.
source "$(dirname "$0")/lib.sh"

# A fresh directory: the card is created, carries no volume, format makes one.
fails 1 "cardfs: no volume: the card ./card (format it with: cardfs format LABEL)" cardfs ls
[ -d card ] || problem "./card was not created"
same "format" "formatted the card ./card as DEMO: 1664 blocks free, 851968 bytes" "$(cardfs format DEMO)"
same "card image size" 1048576 "$(stat -c %s card/USERIMG.BIN)"
fails 1 "cardfs: not formatted: the card ./card holds the volume DEMO with 0 files (--force formats it all the same)" \
    cardfs format OTHER
info="$(cardfs info)"
contains "info" "volume       DEMO" "$info"
contains "info" "device type  18 (card image file in reader slot 1)" "$info"
contains "info" "capacity     1664 blocks for files: 0 used, 1664 free (851968 bytes)" "$info"
contains "info" "files        0" "$info"

# put and get: the same bytes come back, through a file, - and cat.
random_file data.bin 100000
printf 'hello, card\n' >NOTES.007
ok cardfs put data.bin DATA.001
ok cardfs put NOTES.007
ok cardfs get DATA.001 back.bin
cmp -s data.bin back.bin || problem "get DATA.001: other bytes"
cmp -s data.bin <(cardfs get data.1 -) || problem "get data.1 -: other bytes"
same "cat" "hello, card" "$(cardfs cat NOTES.007)"
fails 1 "cardfs: local file exists: back.bin (--force replaces it)" cardfs get DATA.001 back.bin
ok cardfs get --force NOTES.007 back.bin
cmp -s NOTES.007 back.bin || problem "get --force: other bytes"
fails 1 "cardfs: file exists: data.001" cardfs put NOTES.007 data.001
: >EMPTY.001
ok cardfs put EMPTY.001
rm EMPTY.001
ok cardfs get empty.1  # the local name is the card's, as the directory has it
[ -f EMPTY.001 ] && [ ! -s EMPTY.001 ] || problem "get empty.1: no empty EMPTY.001"

# Sizes and blocks as read back: 100000 bytes take 197 blocks of 510 data
# bytes, an empty file one; a fresh process allocates from the first data
# sector, block 256.
same "ls -l" "NAME     EXT       SIZE BLOCKS  FIRST ENTRY
DATA     001     100000    197    256     1
NOTES    007         12      1    453     2
EMPTY    001          0      1    454     3" "$(cardfs ls -l)"
ok cardfs rm EMPTY.001
same "dump" "00000000  68 65 6c 6c 6f 2c 20 63  61 72 64 0a              |hello, card.|
0000000c" "$(cardfs dump NOTES.007)"

# A file larger than the free space is refused before anything is written.
random_file big.bin 900000
fails 1 "cardfs: no room: big.bin (900000 bytes) needs 1765 blocks, the card ./card has 1466 free" \
    cardfs put big.bin BIG.001
same "files after the refused put" 2 "$(cardfs ls | tail -n +2 | wc -l)"

# Rename and delete; the blocks of a deleted file are released, not free.
same "mv" "renamed DATA.001 to DATA.002" "$(cardfs mv DATA.001 DATA.002)"
fails 1 "cardfs: file exists: notes.7" cardfs mv DATA.002 notes.7
fails 1 "cardfs: no such file: DATA.001" cardfs mv DATA.001 DATA.003
ok cardfs rm DATA.002
fails 1 "cardfs: no such file: DATA.002" cardfs rm DATA.002
# Sectors hold 128 blocks: DATA took sector 2 and 69 blocks of sector 3,
# NOTES the next block and EMPTY the one after.
same "check after rm" "sector 2: 0 in use, 128 released, 0 free
sector 3: 1 in use, 70 released, 57 free
198 released blocks, 12 free sectors (one is kept as the spare)
clean: 1 file(s), 1 block(s) in files" "$(cardfs check)"

# Another card directory is another medium.
ok cardfs --card other format OTHER
same "other card" "NAME     EXT       SIZE BLOCKS" "$(cardfs ls --card other)"

# The progress bar: on a terminal only, and not with --quiet.
bar="$(script -qec "$TOOL put data.bin BAR.001" /dev/null)"
contains "progress on a terminal" "put BAR.001 [##############################] 100%" "$bar"
contains "format on a terminal" "format [##############################] 100%" \
    "$(script -qec "$TOOL --card third format THIRD" /dev/null)"
quiet="$(script -qec "$TOOL --quiet put data.bin BAR.002" /dev/null)"
same "--quiet on a terminal" "" "$quiet"
same "no terminal: nothing on stderr" "" "$(cardfs put data.bin BAR.003 2>&1 >/dev/null)"
cmp -s data.bin <(cardfs cat BAR.002) || problem "put --quiet: other bytes"

finish
