// Tag streams and raw files: the bytes each save writes, what FS_ReadTag and FS_RawReadHeader
// make of well-formed and damaged files.
#include "helpers.h"

namespace {

TEST(TagStreams, RangesSavedBytesAndReadBack) {
    const struct { uint16_t n; uint8_t type; uint32_t max; uint16_t scale; } rows[] = {
        {0, 3, 100, 1}, {25, 2, 65535, 1}, {28, 4, 1000, 10}};
    for (auto &r : rows) {
        TagInfo info{};
        EXPECT_EQ(FS_GetTagInfo(r.n, &info), -1) << r.n;
        EXPECT_EQ((Longs{info.tagType, info.tagMax, info.tagScale}), (Longs{r.type, r.max, r.scale})) << r.n;
        EXPECT_EQ((Longs{FS_CheckTagRange(r.n, r.max), FS_CheckTagRange(r.n, r.max + 1)}), (Longs{1, 0})) << r.n;
    }
    TagInfo info;
    EXPECT_EQ(FS_GetTagInfo(38, &info), -103);
    EXPECT_EQ(FS_GetTagInfo(0, nullptr), -103);
    EXPECT_EQ(FS_CheckTagRange(38, 0), 0);
    Vol v;
    struct { int16_t (*save)(int16_t, TagRecord *); uint16_t number; uint32_t value; int16_t result; const char *bytes; }
    saves[] = {
        {FS_SaveByteTag, 0, 101, -104, ""},           {FS_SaveByteTag, 0, 100, -1, "00 00 64"},
        {FS_SaveWordTag, 3, 1, -104, ""},             {FS_SaveFloatTag, 28, 1000, -1, "1C 00 E8 03 00 00"},
        {FS_SaveFloatTag, 28, 1001, -104, ""},        {FS_SaveWordTag, 25, 0x11234, -1, "19 00 34 12"},
        {FS_SaveByteTag, 3, 1, -1, "03 00 01"},       {FS_SaveLongTag, 3, 1, -104, ""},
        {FS_SaveByteTag, 26, 0x105, -1, "1A 00 05"},  {FS_SaveByteTag, 38, 0, -103, ""}};
    Bytes expected;
    const std::string name = v.make([&](int16_t h) {
        for (auto &s : saves) {
            TagRecord t{s.number, s.value};
            EXPECT_EQ(s.save(h, &t), s.result) << s.number << " " << s.value;
            expected = expected + s.bytes;
        }
        EXPECT_EQ(FS_SaveByteTag(h, nullptr), -103);
        EXPECT_EQ(FS_SaveEndTag(h), -1);
    });
    EXPECT_EQ(contents(name), expected + "FF FF");  // refusals wrote nothing and left the status alone: the file was kept
    In in(name);
    TagRecord t;
    struct { uint16_t number; uint32_t value; int16_t result; } reads[] = {
        {0, 100, -1}, {28, 1000, -1}, {25, 0x1234, -1}, {3, 0x101, -104}, {26, 5, -1}, {0xFFFF, 0, 128}};
    for (auto &r : reads) {
        FS_InitTag(&t)->tagValue = r.result == -104 ? 0x100 : 0;  // bytes beyond the tag's width are kept
        EXPECT_EQ(FS_ReadTag(in.h, &t), r.result) << r.number;
        EXPECT_EQ((Longs{t.tagNumber, r.result == 128 ? r.value : t.tagValue}), (Longs{r.number, r.value}));
    }
    EXPECT_EQ(FS_ReadTag(in.h, &t), -57);
    EXPECT_EQ(FS_ReadTag(in.h, nullptr), -103);
    struct { const char *bytes; int16_t result; size_t left; } damaged[] = {
        {"26 00 05", -104, 1}, {"FF 00 05", -104, 1}, {"19", -57, 0}, {"19 00 34", -57, 0}, {"1C 00 E8 03", -57, 0},
        {"00 00 65", -104, 0}, {"1C 00 E9 03 00 00", -104, 0}, {"", -57, 0}};
    for (auto &d : damaged) {
        In bad(v.put(hex(d.bytes)));
        EXPECT_EQ(FS_ReadTag(bad.h, FS_InitTag(&t)), d.result) << d.bytes;
        GetErrno();
        EXPECT_EQ(bad.rest().size(), d.left) << d.bytes;
    }
}

// The tag number is read into the record as it comes: cut short by the end of the file, it keeps
// the byte that was there in its low byte.
TEST(TagStreams, NumberCutShortKeepsTheByteRead) {
    Vol v;
    In in(v.put(hex("05")));
    TagRecord t{0xAB00, 0x11223344};
    EXPECT_EQ(FS_ReadTag(in.h, &t), -57);
    EXPECT_EQ((Longs{t.tagNumber, t.tagValue}), (Longs{0xAB05, 0x11223344}));
}

TEST(RawFiles, HeadersPayloadAndDamagedHeaders) {
    Vol v;
    {  // raw headers follow the record end of the current transfer: start one with the usual 0xFF
        In start(v.put(hex("05 00 00 00 FF")));
        ASSERT_EQ(start.start(), -1);
    }
    const Bytes payload = hex("FF 00 7E 02");
    struct { int32_t kind; uint32_t value; uint16_t param; const char *bytes; int32_t kindBack; uint32_t valueBack;
                 uint16_t paramBack; } cases[] = {
        {-1, 0xFFFFFFFF, 1, "02 06 00 02 01 00 00 00 FF", 77, 88, 1},
        {1, 0x12345678, 3, "02 06 00 02 03 00 02 01 00 04 78 56 34 12 FF", 1, 0x12345678, 3},
        {5, 0xFFFFFFFF, 3, "02 06 00 02 01 00 02 05 00 00 FF", 5, 88, 1},
        {-2, 0, 9, "02 06 00 02 01 00 02 FE FF 04 00 00 00 00 FF", -2, 0, 1}};
    for (auto &c : cases) {
        RawHeader h, back{77, 88, 99};
        FS_InitRawHeader(&h)->rawKind = c.kind, h.rawValue = c.value, h.rawParam = c.param;
        const std::string name = v.make([&](int16_t w) {
            EXPECT_EQ(FS_RawWriteHeader(w, &h), -1);
            EXPECT_EQ(FS_RawWrite(w, payload.data(), 4), -1);
            EXPECT_EQ(FS_RawWriteHeader(w, nullptr), -103);
        });
        EXPECT_EQ(contents(name), hex(c.bytes) + payload) << c.bytes;
        In in(name);
        uint8_t got[4] = {};
        EXPECT_EQ(FS_RawReadHeader(in.h, &back), -1);
        EXPECT_EQ(FS_RawRead(in.h, nullptr, 4), -103);
        EXPECT_EQ(FS_RawRead(in.h, got, 4), -1);
        EXPECT_EQ((Longs{back.rawKind, back.rawValue, back.rawParam}), (Longs{c.kindBack, c.valueBack, c.paramBack})) << c.bytes;
        EXPECT_EQ(Bytes(got, got + 4), payload);
        EXPECT_EQ(in.rest().size(), 0u);
    }
    struct { const char *bytes; int16_t result; int32_t kind; size_t left; } damaged[] = {
        {"02 06 00 00 00 00 FF 01", -1, 77, 1},              // all absent: members unchanged
        {"02 06 00 02 01 00 02 05 00 FF 01", 8, 5, 1},       // record end in place of the fourth field
        {"02 06 00 02 01 00 02 05 00 00 02 AA BB FF", -1, 5, 0},
        {"02 06 00 02 01 00 02 05 00 00", 128, 5, 0},        // no record end
        {"04 06 00 00 00 FF", 8, 77, 1},                     // field 1 four bytes wide
        {"02 06 00 02 01 00 09 01 02 03 04 05 06 07 08 09 FF", 8, 77, 1},  // longer than the buffer
        {"02 06 00 02 01", -57, 77, 0}, {"", -57, 77, 0}};
    for (auto &c : damaged) {
        In in(v.put(hex(c.bytes)));
        RawHeader h{77, 88, 99};
        EXPECT_EQ(FS_RawReadHeader(in.h, &h), c.result) << c.bytes;
        GetErrno();
        EXPECT_EQ(h.rawKind, c.kind) << c.bytes;
        EXPECT_EQ(in.rest().size(), c.left) << c.bytes;
    }
}

}  // namespace
