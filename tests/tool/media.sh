# Diskette images, cartridges and cards at flash level: created when
# missing, formatted, files put and got back; images of a wrong size and
# unknown chips are refused.
source "$(dirname "$0")/lib.sh"

random_file data.bin 30000

# roundtrip MEDIA-OPTIONS...: a file goes onto the medium and comes back.
roundtrip() {
    ok cardfs "$@" put data.bin DATA.001
    cmp -s data.bin <(cardfs "$@" get DATA.001 -) || problem "$*: other bytes back"
    same "$* ls" "NAME     EXT       SIZE BLOCKS
DATA     001      30000     59" "$(cardfs "$@" ls)"
}

# A missing diskette image becomes a blank 1.44 MB diskette.
fails 1 "cardfs: no volume: the diskette new.img (format it with: cardfs format LABEL)" cardfs --disk new.img info
same "new diskette image" 1474560 "$(stat -c %s new.img)"
ok cardfs --disk new.img format --test FLOPPY
contains "1.44 MB" "capacity     2877 blocks for files: 3 used, 2874 free (1471488 bytes)" "$(cardfs --disk new.img info)"
roundtrip --disk new.img
truncate -s 737280 small.img
ok cardfs --disk small.img format
contains "720 KB" "capacity     1437 blocks for files: 3 used, 1434 free (734208 bytes)" "$(cardfs --disk small.img info)"
truncate -s 1000 odd.img
fails 1 "cardfs: wrong image size: odd.img holds 1000 bytes; a diskette holds 737280 (720 KB) or 1474560 (1.44 MB)" \
    cardfs --disk odd.img format

# A PEROM cartridge: the missing image is made erased (0xFF), 512 KiB.
ok cardfs --cartridge perom.img --chip 1F5B format CART
same "PEROM image" "524288 0" "$(stat -c %s perom.img) $(tail -c 4096 perom.img | tr -d '\377' | wc -c | tr -d ' ')"
contains "PEROM" "capacity     1019 blocks for files: 5 used, 1014 free (519168 bytes)" \
    "$(cardfs --cartridge perom.img --chip 1f5b info)"
roundtrip --cartridge perom.img --chip 1f5b

# A 4 MiB flash cartridge in slot 1, over the parallel port; the same
# cartridge read back over USB in slot 0.
ok cardfs --cartridge flash.img --chip flash4m --slot 1 --parallel format
contains "slot 1" "device type  11 (cartridge in programmer slot 1)" \
    "$(cardfs --cartridge flash.img --chip flash4m --slot 1 --parallel info)"
ok cardfs --cartridge flash.img --chip flash4m --slot 1 --parallel put data.bin DATA.001
cmp -s data.bin <(cardfs --cartridge flash.img --chip FLASH4M get DATA.001 -) || problem "flash cartridge over USB"
fails 1 "cardfs: wrong image size: flash.img holds 4194304 bytes; chip flash1m takes 1048576" \
    cardfs --cartridge flash.img --chip flash1m ls

# A card at flash level in the media reader.
ok cardfs --flash-card card.img --chip flash2m format
contains "flash card" "flash        32 sectors of 65536 bytes, 2 system sectors, system area of 9 blocks" \
    "$(cardfs --flash-card card.img --chip flash2m info)"
ok cardfs --flash-card card.img --chip flash2m put data.bin DATA.001
cmp -s data.bin <(cardfs --flash-card card.img --chip flash2m cat DATA.001) || problem "flash card: other bytes"

# Chips: unknown, missing, or given without a chip medium.
fails 1 "cardfs: unknown chip: 1234 (one of 1F5B, 1FA4, 1FD5, 1FDA, flash1m, flash2m, flash3m, flash4m)" \
    cardfs --cartridge x.img --chip 1234 ls
fails 1 "cardfs: --chip missing: name the chip set (1F5B, 1FA4, 1FD5, 1FDA, flash1m to flash4m)" \
    cardfs --cartridge x.img ls
fails 1 "cardfs: --chip belongs to --cartridge or --flash-card" cardfs --disk new.img --chip 1F5B ls
[ -e x.img ] && problem "x.img made although the command was refused"

finish
