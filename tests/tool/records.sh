# Structured files: track and MER files round-trip through CSV, print as
# JSON and tables, draw as SVG; files made byte by byte as a card makes
# them read back right; tag streams and raw headers.
source "$(dirname "$0")/lib.sh"

ok cardfs format RECORDS

# The sample track: CSV in, the same CSV out; 10 records, one a break.
ok cardfs import-track "$EXAMPLES/sample_track.csv" TRACK.001
same "track CSV round trip" "$(cat "$EXAMPLES/sample_track.csv")" "$(cardfs track TRACK.001 --csv)"
table="$(cardfs track TRACK.001)"
same "table rows" 11 "$(wc -l <<<"$table")"
contains "table break" "6   break" "$table"
contains "table point" "1   512000  128000  3      -      -      -      412" "$table"
cardfs track TRACK.001 --json >track.json
same "JSON" "10 1 512000 None" "$(python3 -c '
import json, sys
r = json.load(open("track.json"))
print(len(r), sum(p["break"] for p in r), r[0]["coord1"], r[0]["byte2"])')"

# SVG: well-formed XML, one polyline per segment (5 points, then 4).
same "svg message" "drew TRACK.001 in track.svg: 2 segments" "$(cardfs track TRACK.001 --svg track.svg)"
same "SVG polylines" "5 4" "$(python3 -c '
import xml.etree.ElementTree as ET
lines = ET.parse("track.svg").getroot().findall("{http://www.w3.org/2000/svg}polyline")
print(*[len(p.get("points").split()) for p in lines])')"

# MER: texts that need quoting, a time stamp, absent values; the first row
# (no text2, no byte1, a word1) reads back right only when the file says
# where text2 stands.
cat >mer.csv <<'CSV'
coord1,coord2,text1,text2,byte1,word1,byte2,byte3,byte4,time,byte5,word2,byte6,dword1,byte7,word3,year,flag,word4,seconds
5,6,CD,,,7,,,,,,,,,,,,,,
100,200,"Oak, old","say ""hi""",1,-2,3,4,5,2011-05-15 10:00:30,6,7,8,4000000000,10,11,2011,1,12,30
-1,-2,AB,,,,,,,,,,,,,,,0,,
CSV
ok cardfs import-mer mer.csv MER.001
same "MER CSV round trip" "$(cat mer.csv)" "$(cardfs mer MER.001 --csv)"
same "MER JSON" "Oak, old|2011-05-15 10:00:30|4000000000|None|0" "$(cardfs mer MER.001 --json | python3 -c '
import json, sys
r = json.load(sys.stdin)
print(r[1]["text1"], r[1]["time"], r[1]["dword1"], r[2]["time"], r[2]["flag"], sep="|")')"

# A track file as a card writes it: the transfer head, a point
# (coord1 100, coord2 200: high halves first; byte1 5), a break.
printf '\x05\x00\x00\x00\x01\xc0\x02\xff\x7f\x01\xc0\x04\x00\x00\x00\x00\xff' >card.trk
printf '\x00\x00\x64\x00\x00\x00\xc8\x00\x01\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00\xff' >>card.trk
printf '\xff\x7f\xff\xff\xff\x7f\xff\xff\x00\xff' >>card.trk
ok cardfs put card.trk CARD.002
same "track from bytes" "coord1,coord2,byte1,byte2,byte3,byte4,word1,dword1,word2,dword2,word3,word4
100,200,5,,,,,,,,,
0,0,,0,,,,,,,," "$(cardfs track CARD.002 --csv)"

# A tag stream: tag 0 = 100, tag 25 = 0x1234, tag 28 = 1000 tenths, end.
printf '\x00\x00\x64\x19\x00\x34\x12\x1c\x00\xe8\x03\x00\x00\xff\xff' >tags.bin
ok cardfs put tags.bin TAGS.001
same "tags" "TAG  KIND   VALUE  RANGE
0    byte   100    0 to 100
25   word   4660   0 to 65535
28   float  100    0 to 100" "$(cardfs tags TAGS.001)"

# A raw file: kind 1, param 3, value 0x12345678, then 7 payload bytes.
printf '\x02\x06\x00\x02\x03\x00\x02\x01\x00\x04\x78\x56\x34\x12\xffpayload' >raw.bin
ok cardfs put raw.bin RAW.001
same "raw" "kind     1
value    305419896 (0x12345678)
param    3
payload  7 bytes" "$(cardfs raw RAW.001)"

finish
