// Field-data files: transfer heads, MER, track, line and area records, as bytes and as loaded.
#include <cstdlib>
#include <ctime>

#include "helpers.h"

namespace {

Bytes zeros(size_t n) { return Bytes(n, 0); }
Bytes text(const std::string &s) { return Bytes{uint8_t(s.size())} + Bytes(s.begin(), s.end()); }
int16_t saveStart(int16_t h, uint8_t flags1, uint8_t flags2) {
    HeaderFileStructure hs;
    P2C_InitHeaderFileStructure(&hs)->flags1 = flags1, hs.flags2 = flags2;
    return P2C_Do_Save_Start(h, &hs);
}
std::string show(const MERStructure &m) {
    return testing::PrintToString(std::make_tuple(m.coord1, m.coord2, std::string(m.text1), std::string(m.text2), m.byte1,
        m.word1, m.byte2, m.byte3, m.byte4, m.time, m.byte5, m.word2, m.byte6, m.dword1, m.byte7, m.word3, m.year, m.flag,
        m.word4, m.seconds));
}
std::string show(const TrackStructure &t) {
    return testing::PrintToString(std::make_tuple(t.coord1, t.coord2, t.byte1, t.byte2, t.byte3, t.byte4, t.word1, t.dword1,
        t.word2, t.dword2, t.word3, t.word4));
}
void putZone(const char *tz) {  // sets TZ without tzset; null: no TZ, the system's zone
#if defined(_WIN32)
    _putenv_s("TZ", tz ? tz : "");  // an empty value removes TZ
}
void setZone(const char *tz) { putZone(tz), _tzset(); }
#else
    tz ? setenv("TZ", tz, 1) : unsetenv("TZ");
}
void setZone(const char *tz) { putZone(tz), tzset(); }
#endif
template <class F> void inZone(const char *tz, F fn) {  // runs fn with TZ set, then restores it
    const char *was = getenv("TZ");
    const std::string old = was ? was : "";
    setZone(tz), fn();
    setZone(was ? old.c_str() : nullptr);
}
int32_t utc(int y, int mo, int d, int h, int mi, int s) {
    tm t{};
    t.tm_year = y - 1900, t.tm_mon = mo - 1, t.tm_mday = d, t.tm_hour = h, t.tm_min = mi, t.tm_sec = s;
#if defined(_WIN32)
    return int32_t(_mkgmtime(&t));
#else
    return int32_t(timegm(&t));
#endif
}

TEST(TransferHead, WrittenBytesSelectorsAndDateTime) {
    Vol v;
    HeaderFileStructure hs;
    P2C_InitHeaderFileStructure(&hs)->value32 = 0x01020304;
    const std::string plain = v.make([](int16_t h) { EXPECT_EQ(saveStart(h, 0xC0, 0xC0), -1); });
    const std::string dated = v.make([&](int16_t h) {
        EXPECT_EQ(P2C_Do_Save_Start_DateTime(h, 10, 30, 105, 12, 24, &hs), -1);
    });
    EXPECT_EQ(contents(plain), hex("05 00 00 00 01 C0 02 FF 7F 01 C0 04 00 00 00 00 FF"));
    EXPECT_EQ(contents(dated), hex("05 02 0A 1E 01 69 02 0C 18 01 C0 02 FF 7F 01 C0 04 04 03 02 01 FF"));
    const int16_t rows[][3] = {{1, 0, 1}, {2, 3, 6}, {4, 1, 0}, {16, 7, 16}, {9, 99, 99}, {17, 99, 99}};  // 99: refused
    for (auto &r : rows) {
        In in(dated);
        int16_t sec = 99, pri = 99;
        LoadStartInfo i;
        memset(&i, 0x55, sizeof i);
        const bool good = r[1] != 99;
        EXPECT_EQ(C2P_Do_Load_StartEx(in.h, r[0], &sec, &pri, &i), good ? -1 : 1) << r[0];
        EXPECT_EQ((Longs{sec, pri, i.value32}), (Longs{r[1], r[2], good ? 0x01020304 : 0})) << r[0];
        EXPECT_EQ((Longs{i.timeByte1, i.timeByte2, i.yearByte, i.dateByte1, i.dateByte2}), (Longs{0, 0, 80, 1, 1})) << r[0];
        EXPECT_EQ(in.rest().size(), good ? 0u : 22u) << r[0];
    }
    In bare(plain);
    int16_t x;
    EXPECT_EQ(C2P_Do_Load_StartEx(bare.h, 1, &x, &x, nullptr), -103);
    EXPECT_EQ(bare.rest().size(), 17u);
    struct { Bytes file; int16_t result; std::vector<int16_t> values; } dates[] = {
        {contents(dated), -1, {10, 30, 105, 12, 24}}, {hex("05 FF 01"), -1, {0, 0, 80, 1, 1}},
        {hex("03 00 01 07 00"), -1, {0, 0, 7, 1, 1}}, {hex("00 FF FF 02 03 04"), -1, {0, 0, 80, 3, 4}},
        {hex("05 02 0A 1E 01 69 FF"), 8, {}}, {hex("05 03 01 02 03"), 8, {}}, {hex("06 00 00 00"), 4, {}}};
    for (auto &c : dates) {
        In file(v.put(c.file));
        std::vector<int16_t> t(5);
        EXPECT_EQ(C2P_Get_DateTime(file.h, &t[0], &t[1], &t[2], &t[3], &t[4]), c.result) << testing::PrintToString(c.file);
        GetErrno();
        if (c.result == -1) {
            EXPECT_EQ(t, c.values);
        }
    }
}

TEST(TransferHead, MalformedHeadsAndFormatZero) {
    Vol v;
    const Bytes start = hex("05 00 00 00 01 C0 02 FF 7F 01 C0 04 00 00 00 00");
    struct { Bytes file; int16_t result; size_t left; } cases[] = {
        {hex("07 00 00 00 FF"), 4, 4}, {hex("05 02 0A 1E FF FF"), 8, 1},
        {start, -57, 0},                                    // start record without its end
        {start + "02 AA BB FF 7E", -1, 1},                  // a further field is stepped over
        {hex("05 00 00 00 01 C0 04 FF 7F 00 00 FF"), 8, 1},  // value16 four bytes wide
        {hex("05 00 00 00 01 C0 FF 01 02"), -1, 2},          // record end in place of field 2
        {hex("03 00 00 00 FF 01"), -1, 1},                   // formats 1 to 4: one byte
        {hex("00 00 7E"), -1, 1}, {hex("00 05 AA"), -57, 0}};  // format 0: no date/time, record end 0x00
    for (auto &c : cases) {
        In in(v.put(c.file));
        EXPECT_EQ(in.start(), c.result) << testing::PrintToString(c.file);
        GetErrno();
        EXPECT_EQ(in.rest().size(), c.left) << testing::PrintToString(c.file);
    }
}

TEST(MerFiles, RoundTripsInBothLayoutsAndTimeZones) {
    Vol v;
    const std::string example = v.make([](int16_t h) {
        MERStructure m;
        P2C_InitMERStructure(&m);
        m.coord1 = 100, m.coord2 = 200, strcpy(m.text1, "AB");
        EXPECT_EQ(saveStart(h, 0xC0, 0xC0), -1);
        EXPECT_EQ(P2C_MER_File_Add_Data(h, &m), -1);
    });
    EXPECT_EQ(contents(example), head(0xC0, 0xC0) + "00 00 C8 00 00 00 64 00 02 41 42" + zeros(18) + "FF");
    const int32_t t = utc(2011, 5, 15, 10, 0, 30);
    const Bytes numbers = hex("01 01 02 FE FF 01 03 01 04 01 05 04 0F 55 50 0F 01 06 02 BC 02 01 08 04 EF CD AB 89")
        + "01 09 02 0A 00 02 DB 07", text2 = text("N\xE9"), coordsAndText1 = hex("34 12 78 56 FF FF FB FF") + text("Well 7");
    struct { uint8_t flags1; bool early; const char *tz; int32_t shift; } runs[] = {
        {0xE0, true, "UTC", 0}, {0x40, false, "EST5", 5 * 3600}, {0xE0, true, "EST5", 5 * 3600}};
    for (auto &r : runs) inZone(r.tz, [&] {
        MERStructure m, back;
        P2C_InitMERStructure(&m);
        m.coord1 = -5, m.coord2 = 0x12345678, strcpy(m.text1, "Well 7"), strcpy(m.text2, "N\xE9");
        m.byte1 = 1, m.word1 = -2, m.byte2 = 3, m.byte3 = 4, m.byte4 = 5, m.time = t, m.byte5 = 6, m.word2 = 700, m.byte6 = 8;
        m.dword1 = 0x89ABCDEF, m.byte7 = 9, m.word3 = 10, m.year = 1234, m.flag = r.early, m.word4 = -11, m.seconds = 99;
        const std::string name = v.make([&](int16_t h) {
            EXPECT_EQ(saveStart(h, r.flags1, 0x20), -1);
            EXPECT_EQ(P2C_MER_File_Add_Data(h, &m), -1);
        });
        EXPECT_EQ((Longs{m.year, m.seconds}), (Longs{2011, 30})) << "refined from the time stamp";
        EXPECT_EQ(contents(name), head(r.flags1, 0x20) + coordsAndText1 + (r.early ? text2 : Bytes{}) + numbers
                                      + (r.early ? zeros(1) : text2) + (r.early ? "01 03" : "01 02") + "02 F5 FF 01 1E FF")
            << r.tz;
        In in(name);
        ASSERT_EQ(in.start(), -1);
        EXPECT_EQ(C2P_LoadFileOfMER(in.h, &back), -1);
        if (!(r.flags1 & 0x80)) m.coord1 *= 4, m.coord2 *= 4;
        m.time = t + r.shift;  // the stamp is broken down as UTC and composed as local time
        EXPECT_EQ(show(back), show(m)) << r.tz;
        EXPECT_EQ(C2P_LoadFileOfMER(in.h, &back), 128);
        EXPECT_EQ(GetErrno(), -57);
    });
}

// A MER stamp as the loader composes it, with the C library's mktime: the stamp's fields as local
// time without daylight saving, then, when year or seconds are given, that time as mktime left it
// normalised (daylight-saving state included) with them put in.
struct Stamp {
    int nibble, month, day, hour, minute, year, seconds;  // year, seconds -1: absent
    Bytes bytes() const {
        const int w = hour * 2048 + minute * 32 + day;
        return Bytes{4, uint8_t(w), uint8_t(month * 16 + nibble), uint8_t(w >> 8), uint8_t(w)};
    }
    Bytes record() const {  // late layout, every other member absent
        return hex("00 00 00 01 00 00 00 02") + zeros(6) + bytes() + zeros(6)
               + (year < 0 ? zeros(1) : Bytes{2, uint8_t(year), uint8_t(year >> 8)}) + zeros(3)
               + (seconds < 0 ? zeros(1) : Bytes{1, uint8_t(seconds)}) + "FF";
    }
    int32_t composed() const {
        tm t{};
        t.tm_year = nibble + 90, t.tm_mon = month - 1, t.tm_mday = day, t.tm_hour = hour, t.tm_min = minute;
        setZone(getenv("TZ"));  // as mktime itself would, also on a C library that reads the zone once
        time_t v = mktime(&t);
        if (year >= 0 || seconds >= 0) {
            if (year >= 0) t.tm_year = year - 1900;
            if (seconds >= 0) t.tm_sec = int8_t(seconds);
            v = mktime(&t);
        }
        return v < 0 || v > INT32_MAX ? -1 : int32_t(v);
    }
};

// Loaded stamps equal mktime's composition in zones with and without daylight saving, on every day
// of a year around the hours zones change at, refined by years on the other side of a change and by
// seconds that carry into the minute; and in a zone whose offset moved by a quarter of an hour
// (Kathmandu, 1 January 1986, when 00:00 to 00:14 did not exist): times of that hour on both sides
// of the gap, one after another.
TEST(MerFiles, StampTimesEqualMktimeAcrossZonesTransitionsAndZoneChanges) {
    Vol v;
    std::vector<Stamp> stamps;
    const int years[] = {-1, 2011, 1995, 1969}, seconds[] = {-1, 30, 99, 0xFB, 0};
    for (int month = 1, k = 0; month <= 12; month++)
        for (int day = 1; day <= 31; day++)
            for (int hour : {0, 1, 2, 3})
                for (int minute : {0, 59}) stamps.push_back({5, month, day, hour, minute, years[k % 4], seconds[k++ % 5]});
    stamps.push_back({0, 0, 0, 0, 0, 2011, 30});      // all zero: no time
    stamps.push_back({15, 15, 31, 31, 63, -1, -1});   // every field beyond its range
    for (int minute : {30, 5, 59, 14, 15}) stamps.push_back({1, 1, 1, 0, minute, 1986, 10});
    Bytes file = head(0xC0, 0x20);
    for (const Stamp &s : stamps) file = file + s.record();
    const std::string name = v.put(file);
    const char *zones[] = {"UTC",        "EST5EDT", "CET-1CEST", "AEST-10AEDT,M10.1.0,M4.1.0/3", "LHST-10:30LHDT-11,M10.1.0,M4.1.0",
                           "Asia/Kathmandu"};
    for (const char *tz : zones) inZone(tz, [&] {
        In in(name);
        MERStructure m;
        ASSERT_EQ(in.start(), -1);
        for (const Stamp &s : stamps) {
            ASSERT_EQ(C2P_LoadFileOfMER(in.h, &m), -1);
            const int32_t want = s.nibble + s.month + s.day + s.hour + s.minute ? s.composed() : 0;
            ASSERT_EQ(m.time, want) << tz << " " << testing::PrintToString(s.bytes()) << " " << s.year << " " << s.seconds;
        }
    });
}

// A stamp is local standard time whatever the season: in EST5EDT 10:00 is 15:00 UTC on either side
// of a daylight-saving change, refined by seconds or by a year or not (the refinement keeps the state
// the stamp's conversion showed, 11:00 daylight in summer). The loader caches the zone's offsets: the
// state of one side of a change must not carry to the other, in either order, nor an offset outlive a
// change of TZ between loads (tzset called) or between records (not called; TZ replaced, or set where
// it was absent).
TEST(MerFiles, StampsOnBothSidesOfADaylightSavingChangeAndAfterZoneChanges) {
    Vol v;
    const Stamp stamps[] = {  // 1995: daylight saving from 2 April to 29 October; the last three in the other zone
        {5, 7, 1, 10, 0, -1, 30},  {5, 1, 15, 10, 0, -1, 99}, {5, 4, 2, 3, 0, -1, 0},  {5, 4, 1, 23, 59, -1, 0},
        {5, 10, 30, 10, 0, -1, 0}, {5, 10, 27, 10, 0, -1, 0}, {5, 7, 2, 10, 0, -1, -1}, {5, 3, 20, 10, 0, 2011, 5},
        {5, 3, 20, 10, 0, 2011, 5}, {5, 7, 2, 10, 0, -1, -1}, {0, 0, 0, 0, 0, 2011, 30}};
    Bytes file = head(0xC0, 0x20);
    for (const Stamp &s : stamps) file = file + s.record();
    const std::string name = v.put(file);
    const char *zones[] = {"EST5EDT", "UTC", nullptr, "EST5EDT"};  // null: no TZ, the system's zone
    for (const char *tz : zones) inZone(tz, [&] {
        In in(name);
        MERStructure m;
        ASSERT_EQ(in.start(), -1);
        for (const Stamp &s : stamps) {
            if (&s == stamps + 8) putZone(tz && tz[0] == 'E' ? "UTC" : "EST5EDT");
            const char *now = getenv("TZ");
            ASSERT_EQ(C2P_LoadFileOfMER(in.h, &m), -1);
            if (!now) continue;
            const int shift = std::string(now) == "UTC" ? 0 : 5;
            EXPECT_EQ(m.time, s.month ? utc(s.year < 0 ? 1995 : s.year, s.month, s.day, s.hour + shift, s.minute, std::max(s.seconds, 0)) : 0)
                << getenv("TZ") << " " << testing::PrintToString(s.bytes()) << " " << s.year << " " << s.seconds;
        }
    });
}

// Records are parsed in place while they lie in the current block and through the byte layer from
// the first field that does not: records of every length, written early, late and undeclared (the
// loader guesses), cross block ends at every field and load as written.
TEST(MerFiles, RecordsAcrossBlockEndsLoadAsWritten) {
    Vol v;
    std::vector<MERStructure> records(300);
    for (size_t i = 0; i < records.size(); i++) {
        MERStructure &m = records[i];
        P2C_InitMERStructure(&m);
        m.coord1 = int32_t(i * 7), m.coord2 = -int32_t(i);
        snprintf(m.text1, sizeof m.text1, "%.*s", int(i % 23), "abcdefghijklmnopqrstuvwxyz");
        snprintf(m.text2, sizeof m.text2, "%.*s", int(1 + i % 17), "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
        if (i % 3) m.byte1 = int8_t(i), m.word1 = int16_t(i * 3);
        if (i % 4) m.time = int32_t(800000000 + i * 3607);
        if (i % 5) m.dword1 = uint32_t(i * 100003), m.flag = uint8_t(i % 2);
    }
    const uint8_t heads[][2] = {{0xE0, 0x20}, {0xC0, 0x20}, {0xC0, 0xC0}};  // early, late, undeclared (written early)
    for (auto &h : heads) inZone("UTC", [&] {
        const std::string name = v.make([&](int16_t w) {
            EXPECT_EQ(saveStart(w, h[0], h[1]), -1);
            for (MERStructure &m : records) EXPECT_EQ(P2C_MER_File_Add_Data(w, &m), -1);
        });
        In in(name);
        MERStructure back;
        ASSERT_EQ(in.start(), -1);
        for (const MERStructure &m : records) {
            ASSERT_EQ(C2P_LoadFileOfMER(in.h, &back), -1);
            ASSERT_EQ(show(back), show(m)) << int(h[0]) << " " << int(h[1]);
        }
        EXPECT_EQ(C2P_LoadFileOfMER(in.h, &back), 128);
        FS_Delete(name.c_str());
    });
}

// A record that ends inside its four stamp bytes: each missing byte is what the byte reader gives
// past the end, -1, that is 0xFF.
TEST(MerFiles, StampBytesPastTheEndAreFF) {
    Vol v;
    const Bytes before = head(0xC0, 0x20) + "00 00 00 01 00 00 00 02" + zeros(6);
    struct { const char *stamp; int32_t time; } cases[] = {
        {"04 0F 55", utc(1995, 5, 16, 8, 3, 0)},  // W = 0xFFFF: 1995-05-15, hour 31, minute 63
        {"04 0F", utc(2006, 3, 16, 8, 3, 0)}};    // and month 15, year nibble 15: 2005-15-15 31:63
    for (auto &c : cases) inZone("UTC", [&] {
        In in(v.put(before + c.stamp));
        MERStructure m;
        ASSERT_EQ(in.start(), -1);
        EXPECT_EQ(C2P_LoadFileOfMER(in.h, &m), -57) << c.stamp;
        EXPECT_EQ(m.time, c.time) << c.stamp;
    });
}

// Undeclared, the layout is decided per record; declared, it overrides the decision.
TEST(MerFiles, TextLayoutDecisionAndMalformedRecords) {
    Vol v;
    const Bytes coords = hex("00 00 C8 00 00 00 64 00 01 54"), undecidable = hex("03 61 62 63 03 61 62 63") + zeros(15) + "FF";
    const Bytes late = hex("01 05 02 07 00") + zeros(11) + "01 51 00 00 00 FF";  // byte1 5, word1 7, text2 Q
    const Bytes early = hex("01 45 01 05 02 07 00") + zeros(15) + "FF";          // text2 E, byte1 5, word1 7
    struct { Bytes records; uint8_t flags1, flags2; std::vector<int16_t> results; int byte1, word1; const char *text2; }
    cases[] = {
        {late, 0xC0, 0xC0, {-1}, 5, 7, "Q"}, {early, 0xC0, 0xC0, {-1}, 5, 7, "E"},
        {hex("01 05") + zeros(16) + "FF", 0xC0, 0xC0, {-1}, 5, -1, ""},               // F3 empty, F2 a control byte: late
        {hex("01 45 00 02 07 00") + zeros(15) + "FF", 0xC0, 0xC0, {-1}, -1, 7, "E"},  // F3 empty, F2 printable: early
        {undecidable, 0xC0, 0xC0, {8}, -1, -1, ""}, {early + coords + undecidable, 0xC0, 0xC0, {-1, 8}, -1, -1, "abc"},
        {early, 0xC0, 0x20, {8}, 0x45, -1, ""}, {late, 0xE0, 0x20, {8}, -1, -1, ""}};
    for (auto &c : cases) {
        In in(v.put(head(c.flags1, c.flags2) + coords + c.records));
        MERStructure m;
        ASSERT_EQ(in.start(), -1);
        for (int16_t want : c.results) EXPECT_EQ(C2P_LoadFileOfMER(in.h, &m), want) << testing::PrintToString(c.records);
        EXPECT_EQ(std::make_tuple(int(m.byte1), int(m.word1), std::string(m.text1), std::string(m.text2)),
                  std::make_tuple(c.byte1, c.word1, std::string("T"), std::string(c.text2)));
    }
    MERStructure m;
    const Bytes xy = hex("00 00 C8 00 00 00 64 00"), null = hex("FF 7F FF FF FF 7F FF FF");
    struct { Bytes record; uint8_t flags1; int16_t result; std::string text1; int byte1; uint32_t coord1; } bad[] = {
        {hex("00 00 C8 00 00"), 0xC0, 128, "", -1, 0},
        {xy + "01 41 01 05 03 01 02 03 FF", 0xC0, 8, "A", 5, 100},  // word1 three bytes
        {xy + "03 41 09 42 FF", 0xC0, -1, "", -1, 100},             // control character
        {xy + "01 41 01 05" + zeros(20), 0xC0, -57, "A", 5, 100},   // no record end
        {xy + "01 41 01 05" + zeros(20) + "02 AA BB FF", 0xC0, -1, "A", 5, 100},
        {null + "01 41 FF", 0xC0, 512, "A", -1, 0x7FFFFFFF}, {null + "01 41 FF", 0x40, 512, "A", -1, 0xFFFFFFFC},
        {xy + text(std::string(50, 'y')) + "FF", 0xC0, -1, std::string(39, 'y'), -1, 100}};  // beyond the capacity
    for (auto &c : bad) {
        const bool complete = c.result == -1 || c.result == 512;  // then a record at the null position follows
        In in(v.put(head(c.flags1, 0x20) + c.record + (complete ? "FF 7F FF FF FF 7F FF FF FF" : "")));
        ASSERT_EQ(in.start(), -1);
        EXPECT_EQ(C2P_LoadFileOfMER(in.h, &m), c.result) << testing::PrintToString(c.record);
        GetErrno();
        EXPECT_EQ(std::make_tuple(std::string(m.text1), int(m.byte1), uint32_t(m.coord1)), std::make_tuple(c.text1, c.byte1, c.coord1));
        if (complete) {
            EXPECT_EQ(C2P_LoadFileOfMER(in.h, &m), 512) << "the record after it";
        }
    }
}

TEST(TrackFiles, PointsBreaksAndScaling) {
    Vol v;
    TrackStructure brk, plain, full, gap, back;
    for (TrackStructure *t : {&brk, &plain, &full, &gap}) P2C_InitTrackStructure(t);
    brk.coord1 = 5, brk.coord2 = 6, brk.byte2 = gap.byte2 = 0, brk.word1 = 9;
    plain.coord1 = 100, plain.coord2 = 200;
    full.coord1 = 0x12345678, full.coord2 = -2, full.byte1 = 1, full.byte2 = 2, full.byte3 = 3, full.byte4 = 4;
    full.word1 = -300, full.dword1 = 0xDEADBEEF, full.word2 = 0x8001, full.dword2 = 7, full.word3 = 9, full.word4 = 0xFFFE;
    const Bytes breakBytes = hex("FF 7F FF FF FF 7F FF FF 00 FF");
    for (uint8_t flags1 : {uint8_t{0xC0}, uint8_t{0x40}}) {
        const std::string name = v.make([&](int16_t h) {
            EXPECT_EQ(saveStart(h, flags1, 0xC0), -1);
            EXPECT_EQ(P2C_Create_File_Add_Break(h), -1);
            for (TrackStructure *t : {&brk, &plain, &full}) EXPECT_EQ(P2C_Track_File_Add_Data(h, t), -1);
        });
        EXPECT_EQ(contents(name), head(flags1, 0xC0) + breakBytes + breakBytes + "00 00 64 00 00 00 C8 00" + zeros(10) + "FF"
                                      + "34 12 78 56 FF FF FE FF 01 01 01 02 01 03 01 04 02 D4 FE 04 EF BE AD DE 02 01 80"
                                      + "04 07 00 00 00 02 09 00 02 FE FF FF");
        In in(name);
        ASSERT_EQ(in.start(), -1);
        for (TrackStructure want : {gap, gap, plain, full}) {
            const int k = flags1 & 0x80 ? 1 : 4;  // quarter units: scaled, breaks excepted
            want.coord1 *= k, want.coord2 *= k;
            EXPECT_EQ(C2P_LoadFileOfTrack(in.h, &back), -1);
            EXPECT_EQ(show(back), show(want)) << int(flags1);
        }
        EXPECT_EQ(C2P_LoadFileOfTrack(in.h, &back), 128);
        EXPECT_EQ(GetErrno(), -57);
    }
    const Bytes xy = hex("00 00 64 00 00 00 C8 00"), h5 = head(0xC0, 0xC0), h0 = hex("00 00");
    const Bytes ten = hex("01 01 01 02 01 03 01 04 02 05 00 04 06 00 00 00 02 07 00 04 08 00 00 00 02 09 00 02 0A 00");
    struct { Bytes file; int16_t result; int byte1, byte4, word4; bool breakFollows; } bad[] = {
        {h5 + "00 00 64 00 00 00", 128, -1, -1, 0xFFFF, false}, {h5 + xy, -57, -1, -1, 0xFFFF, false},
        {h5 + xy + "01 05 02 01 00 FF" + breakBytes, 8, 5, -1, 0xFFFF, false},       // byte2 two bytes wide
        {h5 + xy + "01 05 01 06 01 07 FF" + breakBytes, -1, 5, -1, 0xFFFF, true},   // ends after byte3
        {h5 + xy + "01 05 32" + zeros(50) + "FF", 8, 5, -1, 0xFFFF, false},         // beyond the capacity
        {h5 + xy + ten, 128, 1, 4, 10, false},                                       // no record end
        {h0 + xy + ten + breakBytes, -1, 1, 4, 10, true},                            // format 0: nothing skipped
        {h0 + xy + "01 05 00" + breakBytes, -1, 5, -1, 0xFFFF, true}};
    for (auto &c : bad) {
        In in(v.put(c.file));
        ASSERT_EQ(in.start(), -1);
        EXPECT_EQ(C2P_LoadFileOfTrack(in.h, &back), c.result) << testing::PrintToString(c.file);
        GetErrno();
        EXPECT_EQ((Longs{back.byte1, back.byte4, back.word4}), (Longs{c.byte1, c.byte4, c.word4}));
        if (!c.breakFollows) continue;
        EXPECT_EQ(C2P_LoadFileOfTrack(in.h, &back), -1) << "the break after it";
        EXPECT_EQ(back.byte2, 0);
    }
}

// Items after the last field are stepped over up to the record end, in place or through the byte
// layer: items of every length cross block ends at every offset.
TEST(TrackFiles, ItemsBeforeTheRecordEndAreSteppedOverAcrossBlockEnds) {
    Vol v;
    auto swapped = [](uint32_t c) { return Bytes{uint8_t(c >> 16), uint8_t(c >> 24), uint8_t(c), uint8_t(c >> 8)}; };
    Bytes file = head(0xC0, 0xC0);
    const int points = 400;
    for (int i = 0; i < points; i++) {
        file = file + swapped(uint32_t(i)) + swapped(uint32_t(i + 1)) + Bytes{1, uint8_t(i)} + zeros(9);
        for (int k = 0; k < i % 4; k++) file = file + Bytes{uint8_t(i % 7)} + Bytes(size_t(i % 7), 0xEE);
        file.push_back(0xFF);
    }
    In in(v.put(file));
    TrackStructure t;
    ASSERT_EQ(in.start(), -1);
    for (int i = 0; i < points; i++) {
        ASSERT_EQ(C2P_LoadFileOfTrack(in.h, &t), -1) << i;
        ASSERT_EQ((Longs{t.coord1, t.coord2, t.byte1}), (Longs{i, i + 1, int8_t(i)})) << i;
    }
    EXPECT_EQ(C2P_LoadFileOfTrack(in.h, &t), 128);
}

TEST(LineAndArea, RecordsWrittenLoadedAndMalformed) {
    Vol v;
    LineHeader line, lineBack;
    AreaHeader area, areaBack;
    AreaData data, dataBack;
    memset(&line, 0, sizeof line), memset(&lineBack, 0, sizeof line), memset(&area, 0, sizeof area);
    memset(&areaBack, 0, sizeof area);
    FS_InitLineHeader(&line), FS_InitAreaHeader(&area), FS_InitLineData(&data);
    strcpy(line.name, "A1"), line.lineId = 7;
    area.line = line, area.line.lineByte = 0xFF, area.line.lineValue = 0x10203, area.line.lineWords[5] = 0xFFFF;
    Bytes areaBytes = hex("02 41 31 02 07 00 01 FF 04 03 02 01 00") + "02 00 00 02 00 00 02 00 00 02 00 00 02 00 00 00";
    for (int i = 0; i < 4; i++) area.areaWords[i] = uint16_t(0x100 + i), areaBytes = areaBytes + Bytes{2, uint8_t(i), 1};
    for (int i = 0; i < 16; i++)
        area.areaTable[i] = uint16_t(i == 3 ? 0xFFFF : 0x8000 + i),
        areaBytes = areaBytes + (i == 3 ? zeros(1) : Bytes{2, uint8_t(i), 0x80});
    data.dataValue1 = 1, data.dataValue2 = 0xFFFFFFFF;
    const std::string name = v.make([&](int16_t h) {
        LineHeader zero = line;
        AreaHeader zeroArea = area;
        zero.lineId = zeroArea.line.lineId = 0;
        EXPECT_EQ(FS_SaveLineHeader(h, &zero), -103);
        EXPECT_EQ(FS_SaveAreaHeader(h, &zeroArea), -103);
        EXPECT_EQ(FS_SaveAreaData(h, nullptr), -103);
        GetErrno();
        EXPECT_EQ(FS_SaveLineHeader(h, &line), -1);
        EXPECT_EQ(FS_SaveAreaHeader(h, &area), -1);
        EXPECT_EQ(FS_SaveLineData(h, &data), -1);
    });
    const Bytes lineTail = hex("02 07 00 01 00 04 00 00 00 00 02 00 00 02 00 00 02 00 00 02 00 00 02 00 00 02 00 00 FF");
    EXPECT_EQ(contents(name), text("A1") + lineTail + areaBytes + "FF 04 01 00 00 00 00 FF");
    {
        In h(v.put(head(0xC0, 0xC0)));
        ASSERT_EQ(h.start(), -1);  // a format-5 transfer
        In recs(name);
        EXPECT_EQ(FS_LoadLineHeader(recs.h, &lineBack), -1);
        EXPECT_EQ(FS_LoadAreaHeader(recs.h, &areaBack), -1);
        EXPECT_EQ(FS_LoadAreaData(recs.h, &dataBack), -1);
        area.line.lineWords[5] = 0, area.areaTable[3] = 0;  // absent values load as 0
        EXPECT_EQ(0, memcmp(&lineBack, &line, sizeof line)) << testing::PrintToString(lineBack);
        EXPECT_EQ(0, memcmp(&areaBack, &area, sizeof area)) << testing::PrintToString(areaBack);
        EXPECT_EQ((Longs{dataBack.dataValue1, dataBack.dataValue2}), (Longs{1, 0}));
        EXPECT_EQ(recs.rest().size(), 0u);
        EXPECT_EQ(FS_LoadAreaHeader(recs.h, nullptr), -103);
    }
    enum Kind { Line, Area, Data };
    const Bytes h5 = head(0xC0, 0xC0), h0 = hex("00 00");
    struct { Bytes head, record; Kind kind; int16_t result; std::string name; uint32_t first, second; size_t left; } bad[] = {
        {h5, text(std::string(40, 'n')) + lineTail, Line, -1, std::string(31, 'n'), 7, 0, 0},
        {h5, hex("02 41 31 02 07 00 FF 00 FF 7E"), Line, -1, "A1", 7, 0, 3},  // ended early: complete at that end
        {h5, hex("02 41 31 02 07 00 01 00 04 00 00 00 00") + zeros(6), Line, 128, "A1", 7, 0, 0},  // no record end
        {h5, hex("02 41 31 FF 02 05 00 FF 7E"), Area, -1, "A1", 0, 0, 5},  // complete at its early end
        {h5, zeros(14) + "04 01 00 00 00 FF", Area, 8, "", 0, 0, 1},        // areaTable four bytes wide
        {h0, hex("04 01 00 00 00 04 02 00 00 00 7E"), Data, -1, "", 1, 2, 1}};  // format 0: nothing skipped
    for (auto &c : bad) {
        In h(v.put(c.head));
        ASSERT_EQ(h.start(), -1);
        In in(v.put(c.record));
        AreaHeader a;
        AreaData d;
        memset(&a, 0x5A, sizeof a), memset(&d, 0x5A, sizeof d);
        const int16_t r = c.kind == Line   ? FS_LoadLineHeader(in.h, &a.line)
                          : c.kind == Area ? FS_LoadAreaHeader(in.h, &a)
                                           : FS_LoadAreaData(in.h, &d);
        EXPECT_EQ(r, c.result) << testing::PrintToString(c.record);
        GetErrno();
        const uint32_t first = c.kind == Line ? uint16_t(a.line.lineId) : a.areaWords[0];
        const Longs got = c.kind == Data ? Longs{d.dataValue1, d.dataValue2} : Longs{first, a.line.name == c.name};
        EXPECT_EQ(got, (c.kind == Data ? Longs{c.first, c.second} : Longs{c.first, 1})) << testing::PrintToString(c.record);
        EXPECT_EQ(in.rest().size(), c.left) << testing::PrintToString(c.record);
    }
}

}  // namespace
