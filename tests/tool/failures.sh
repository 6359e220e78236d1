# Every failure: its exit status and its one line on standard error, and
# that a refused command leaves the medium as it was.
source "$(dirname "$0")/lib.sh"

# The command line: status 2.
fails 2 "cardfs: a verb is required (cardfs --help lists them)" cardfs
fails 2 "cardfs: The following argument was not expected: frob (cardfs --help tells more)" cardfs frob
fails 2 "cardfs: NAME is required (cardfs --help tells more)" cardfs get
fails 2 "cardfs: --slot requires --cartridge (cardfs --help tells more)" cardfs --slot 1 ls
contains "help of a verb" "Usage: cardfs put [OPTIONS] LOCAL [NAME]" "$(cardfs put --help)"

ok cardfs format FAILS
printf 'hello\n' >hello.txt
ok cardfs put hello.txt HELLO.001

# Names and labels.
fails 1 "cardfs: bad card name: x.txt (NAME.EXT: up to 8 characters, a number from 1 to 999)" cardfs get x.txt
fails 1 "cardfs: bad card name: NINECHARS.001 (NAME.EXT: up to 8 characters, a number from 1 to 999)" \
    cardfs put hello.txt NINECHARS.001
fails 1 "cardfs: bad card name: A:X.001 (NAME.EXT: up to 8 characters, a number from 1 to 999)" cardfs rm A:X.001
fails 1 "cardfs: no card name for hello.txt: give one, as in: cardfs put hello.txt NAME.001" cardfs put hello.txt
fails 1 "cardfs: bad label: TOO.LONG (1 to 8 characters, no '.' nor ':')" cardfs format --force TOO.LONG

# Files that are not there, here or on the card.
for verb in get cat dump track mer tags raw rm; do
    fails 1 "cardfs: no such file: TRACK.001" cardfs $verb TRACK.001
done
fails 1 "cardfs: cannot read nope.bin: No such file or directory" cardfs put nope.bin NOPE.001
fails 1 "cardfs: cannot read nope.csv" cardfs import-track nope.csv T.001

# Files that are not what the verb reads.
fails 1 "cardfs: not a transfer file (bad format byte): HELLO.001" cardfs track HELLO.001
printf '\x05\x00\x00\x00\x01\xc0\x02\xff\x7f\x01\xc0\x04\x00\x00\x00\x00\xff\x00\x00\x64\x00\x00\x00\xc8\x00\x01' >cut.trk
ok cardfs put cut.trk CUT.001
fails 1 "cardfs: unexpected end of file: CUT.001 record 1" cardfs track CUT.001
printf '\x00\x00\x65\xff\xff' >tags.bin
ok cardfs put tags.bin TAGS.001
fails 1 "cardfs: value out of range: TAGS.001 tag 1" cardfs tags TAGS.001

# CSV that cannot be imported names its line, and nothing is written.
header="coord1,coord2,byte1,byte2,byte3,byte4,word1,dword1,word2,dword2,word3,word4"
printf '%s\n1,2,,,,,,,,,,\n3,4,,,\n' "$header" >columns.csv
fails 1 "cardfs: columns.csv line 3: 5 columns, expected 12" cardfs import-track columns.csv T.001
printf '%s\n1,2,300,,,,,,,,,\n' "$header" >range.csv
fails 1 "cardfs: range.csv line 2: byte1 300 out of range (-128 to 127)" cardfs import-track range.csv T.001
printf '%s\n1,x,,,,,,,,,,\n' "$header" >number.csv
fails 1 "cardfs: number.csv line 2: coord2 x not a number" cardfs import-track number.csv T.001
printf 'x,y\n' >header.csv
fails 1 "cardfs: header.csv line 1: the header must be $header" cardfs import-track header.csv T.001
: >empty.csv
fails 1 "cardfs: empty.csv: empty, the header must be $header" cardfs import-track empty.csv T.001
printf '%s\n' "coord1,coord2,text1,text2,byte1,word1,byte2,byte3,byte4,time,byte5,word2,byte6,dword1,byte7,word3,year,flag,word4,seconds" >mer.csv
cp mer.csv long.csv
printf '1,2,%s,,,,,,,,,,,,,,,,,\n' "$(printf 'x%.0s' $(seq 40))" >>long.csv
fails 1 "cardfs: long.csv line 2: text1 $(printf 'x%.0s' $(seq 40)) longer than 39 characters" \
    cardfs import-mer long.csv M.001
cp mer.csv time.csv
printf '1,2,,,,,,,,15.5.2011,,,,,,,,,,\n' >>time.csv
fails 1 "cardfs: time.csv line 2: time 15.5.2011 not a time from 1970 to 2038 as YYYY-MM-DD HH:MM:SS" \
    cardfs import-mer time.csv M.001
cp mer.csv flag.csv
printf '1,2,,,,,,,,,,,,,,,,2,,\n' >>flag.csv
fails 1 "cardfs: flag.csv line 2: flag 2 out of range (0 to 1)" cardfs import-mer flag.csv M.001
printf '%s\n1,2,,,,,,,,,,\n' "$header" >good.csv
fails 1 "cardfs: file exists: hello.001" cardfs import-track good.csv hello.001
same "nothing written" "HELLO.001 CUT.001 TAGS.001" "$(cardfs ls | tail -n +2 | awk '{print $1 "." $2}' | xargs)"

# A full directory: a diskette has 63 entries for files.
ok cardfs --disk full.img format FULL
for i in $(seq 63); do cardfs --disk full.img -q put hello.txt "F$i.001" || problem "put F$i.001"; done
fails 1 "cardfs: directory full: F64.001" cardfs --disk full.img put hello.txt F64.001
same "files on the full diskette" 63 "$(cardfs --disk full.img ls | tail -n +2 | wc -l)"

# A medium that is not there or cannot be used.
fails 1 "cardfs: no volume: the card blank (format it with: cardfs format LABEL)" cardfs --card blank ls
cp full.img d.img
printf 'XXXX' | dd of=d.img conv=notrunc status=none
fails 1 "cardfs: no volume: the diskette d.img (format it with: cardfs format LABEL)" cardfs --disk d.img check
head -c 524288 /dev/zero | tr '\0' '\377' >foreign.img
printf '\xff\x41\xff\x41' | dd of=foreign.img conv=notrunc status=none
fails 1 "cardfs: the cartridge holds content of another kind: the cartridge foreign.img" \
    cardfs --cartridge foreign.img --chip 1F5B format

finish
