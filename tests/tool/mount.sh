# cardfs mount: the card as a folder, used with the ordinary tools. Needs
# /dev/fuse and fusermount3; skipped (exit 77) where they are missing.
source "$(dirname "$0")/lib.sh"

if [ ! -e /dev/fuse ] || ! command -v fusermount3 >/dev/null; then
    echo "SKIPPED: cardfs mount needs /dev/fuse and fusermount3 (Debian fuse3); this machine has not both"
    exit 77
fi
mkdir mnt
trap 'fusermount3 -u mnt 2>/dev/null; rm -rf "$work"' EXIT
ok cardfs format -q MOUNTED
ok cardfs mount mnt
mountpoint -q mnt || problem "cardfs mount: mnt is not mounted"

# cp in and out, ls -l, mv, rm.
random_file data.bin 70000
cp data.bin mnt/DATA.001 || problem "cp into the mount"
cp mnt/DATA.001 back.bin && cmp -s data.bin back.bin || problem "cp out of the mount: other bytes"
same "ls -l" "-rw-r--r-- 70000 DATA.001" "$(ls -l mnt | awk 'NR > 1 { print $1, $5, $9 }')"
mv mnt/DATA.001 mnt/MOVED.002 || problem "mv"
same "ls after mv" "MOVED.002" "$(ls mnt)"

# Written once: an existing file is neither rewritten nor appended to.
same "cp over a file" "cp: cannot create regular file 'mnt/MOVED.002': Operation not permitted" \
    "$(cp data.bin mnt/MOVED.002 2>&1)"
same "append" "Operation not permitted" "$( (echo more >>mnt/MOVED.002) 2>&1 | sed 's/.*: //')"

# Two files open at once; a third is refused, as the library has two records.
exec 3<mnt/MOVED.002 4<mnt/MOVED.002
same "third open file" "Too many open files" "$(cat mnt/MOVED.002 2>&1 >/dev/null | sed 's/.*: //')"
exec 3<&- 4<&-

# df shows the volume's capacity: 1664 blocks of 512 bytes for files.
read -r size avail <<<"$(df -B1 --output=size,avail mnt | tail -n 1)"
same "df size" 851968 "$size"
same "df avail" $((851968 - 138 * 512)) "$avail"  # 70000 bytes take 138 blocks of 510

# A copy that does not fit fails and leaves no file behind.
random_file big.bin 900000
cp big.bin mnt/BIG.001 2>/dev/null && problem "cp of 900000 bytes into 780 KiB free succeeded"
same "ls after the failed cp" "MOVED.002" "$(ls mnt)"
rm mnt/MOVED.002 || problem "rm"
same "ls after rm" "" "$(ls mnt)"

# An unclean exit loses no committed file.
fusermount3 -u mnt || problem "fusermount3 -u"
cardfs mount --foreground mnt &
server=$!
for _ in $(seq 50); do mountpoint -q mnt && break; sleep 0.1; done
cp data.bin mnt/KEEP.001 || problem "cp before the kill"
kill -9 "$server"
wait "$server" 2>/dev/null
fusermount3 -u mnt 2>/dev/null
ok cardfs get KEEP.001 kept.bin
cmp -s data.bin kept.bin || problem "KEEP.001 after kill -9: other bytes"
ok cardfs check
finish
