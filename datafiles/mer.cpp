// MER records: a coordinate pair (second coordinate first), two texts, a
// time stamp and optional small numbers. The second text stands either
// right after the first (early layout) or after the year (late layout);
// files that do not declare which are read by guessing from field lengths.
#include <string.h>

#include "codec/record_reader.h"
#include "datafiles/transfer.h"

namespace cardfs {
namespace {

constexpr uint16_t kEarly = 1, kLate = 2;  // values of merLayoutSeen

bool is_control_byte(uint8_t b) {
    const uint8_t low = uint8_t(b & 0x7F);
    return has_control_char(&low, 1);
}

// With the layout undeclared, the lengths of the two fields after text1
// tell it: byte1 has length 1, word1 length 2, a text usually neither.
uint16_t guess_layout(const Field &f2, const Field &f3) {
    const uint16_t seen = g_transfer.merLayoutSeen;
    if (f2.length != 0) {
        if (f3.length == 2) return kLate;
        if (f3.length == 1) return kEarly;
        if (f3.length == 0) return f2.length == 1 && is_control_byte(f2.data[0]) ? kLate : kEarly;
        return seen;
    }
    if (f3.length == 1) return kEarly;
    if (f3.length == 2) return kLate;
    return seen != 0 ? seen : kLate;
}

uint16_t record_layout(const Field &f2, const Field &f3) {
    if (g_transfer.merTextLayout == 1) return kEarly;
    if (g_transfer.merTextLayout == 0) return kLate;
    return guess_layout(f2, f3);
}

int16_t byte_from(const Field &f, int8_t *member) {
    if (f.length == 0) return 0;
    if (f.length != 1) return kFieldLength;
    *member = int8_t(f.data[0]);
    return 0;
}

int16_t word_from(const Field &f, int16_t *member) {
    if (f.length == 0) return 0;
    if (f.length != 2) return kFieldLength;
    *member = field_to_int(f.data);
    return 0;
}

// text1, then text2/byte1/word1 in whichever layout this record has.
CARDFS_INLINE int16_t read_head(RecordReader &in, MERStructure *mer) {
    uint8_t second[kFieldCapacity + 1], third[kFieldCapacity + 1];
    Field f2 = {nullptr, 0}, f3 = {nullptr, 0};
    int16_t st = in.text(mer->text1, int32_t(sizeof mer->text1));
    if (st == 0) st = in.field(&f2, second, true);
    if (st == 0) st = in.field(&f3, third);
    if (st != 0) return st;
    const uint16_t layout = record_layout(f2, f3);
    if (layout == 0) return kFieldLength;
    g_transfer.merLayoutSeen = layout;
    if (layout == kLate) {
        st = byte_from(f2, &mer->byte1);
        return st == 0 ? word_from(f3, &mer->word1) : st;
    }
    store_text(f2.data, f2.length, mer->text2, int32_t(sizeof mer->text2));
    st = byte_from(f3, &mer->byte1);
    return st == 0 ? in.member(&mer->word1) : st;
}

// The stamp carries no seconds and only the year modulo 16; *present
// tells the caller to refine it with the year and seconds fields.
void decode_stamp(const uint8_t d[4], MERStructure *mer, struct tm *kept, bool *present) {
    const int day = d[0] & 0x1F, month = d[1] >> 4, yearNibble = d[1] & 0x0F;
    const int w = d[2] * 256 + d[3];
    const int hour = (w >> 11) & 0x1F, minute = (w >> 5) & 0x3F;
    if (hour == 0 && minute == 0 && day == 0 && month == 0 && yearNibble == 0) {
        mer->time = 0;
        return;
    }
    memset(kept, 0, sizeof *kept);  // no daylight saving
    kept->tm_year = yearNibble + 90;
    kept->tm_mon = month - 1;
    kept->tm_mday = day;
    kept->tm_hour = hour;
    kept->tm_min = minute;
    refresh_local_zone();
    mer->time = make_time_local(kept);
    *present = true;
}

CARDFS_INLINE int16_t read_stamp(RecordReader &in, MERStructure *mer, struct tm *kept, bool *present) {
    const int16_t length = in.byte();
    const int16_t st = in.check(length);
    if (st != 0 || length == 0) return st;
    if (length != 4) return kFieldLength;
    // Four byte reads without checks: a byte past the end is the reader's
    // -1 (0xFF), and a failure stays pending for the next field's check.
    uint8_t d[4];
    for (uint8_t &b : d) b = uint8_t(in.byte());
    decode_stamp(d, mer, kept, present);
    return 0;
}

CARDFS_INLINE int16_t read_flag(RecordReader &in, MERStructure *mer) {
    uint8_t buffer[kFieldCapacity + 1];
    Field f;
    const int16_t st = in.field(&f, buffer);
    if (st != 0 || f.length == 0) return st;
    if (f.length != 1) return kFieldLength;
    const uint8_t value = f.data[0];
    mer->flag = value != 0xFF && (value & 2) ? uint8_t(value & 1) : 0xFF;
    return 0;
}

CARDFS_INLINE int16_t read_fields(RecordReader &in, MERStructure *mer, struct tm *kept, bool *stamped) {
    int16_t st = read_head(in, mer);
    if (st == 0) st = in.member(&mer->byte2);
    if (st == 0) st = in.member(&mer->byte3);
    if (st == 0) st = in.member(&mer->byte4);
    if (st == 0) st = read_stamp(in, mer, kept, stamped);
    if (st == 0) st = in.member(&mer->byte5);
    if (st == 0) st = in.member(&mer->word2);
    if (st == 0) st = in.member(&mer->byte6);
    if (st == 0) st = in.member(&mer->dword1);
    if (st == 0) st = in.member(&mer->byte7);
    if (st == 0) st = in.member(&mer->word3);
    if (st == 0) st = in.member(&mer->year);
    if (st == 0) st = in.text(mer->text2, int32_t(sizeof mer->text2));
    if (st == 0) st = read_flag(in, mer);
    if (st == 0) st = in.member(&mer->word4);
    if (st == 0) st = in.member(&mer->seconds);
    return st;
}

// The kept time as the stamp's conversion normalised it, its daylight-saving
// state included.
void refine_time(MERStructure *mer, struct tm *kept) {
    if (mer->year != 0xFFFF) kept->tm_year = mer->year - 1900;
    if (mer->seconds != 0xFF) kept->tm_sec = int8_t(mer->seconds);
    mer->time = local_time_value(*kept);
}

// Sets the caller's year and seconds from the time, which the stamp holds
// only in part.
int16_t put_stamp(int16_t handle, MERStructure *mer) {
    struct tm t;
    if (!break_time_utc(mer->time, &t)) return put_byte_field(handle, 0xFFFF);
    mer->year = uint16_t(t.tm_year + 1900);
    mer->seconds = uint8_t(t.tm_sec);
    const uint16_t w = uint16_t(t.tm_hour * 2048 + t.tm_min * 32 + t.tm_mday);
    const uint8_t low = uint8_t(w & 0xFF);
    const uint8_t stamp[5] = {4, low, uint8_t((t.tm_mon + 1) * 16 + ((t.tm_year - 90) & 0x0F)), uint8_t(w >> 8), low};
    return put_bytes(handle, stamp, 5);
}

void put_head(FieldWriter &w, const MERStructure *mer) {
    w.pair(uint32_t(mer->coord2), uint32_t(mer->coord1)).text(mer->text1, sizeof mer->text1);
    if (g_transfer.merTextLayout == 1) w.text(mer->text2, sizeof mer->text2);
    w.byte(mer->byte1).word(uint16_t(mer->word1)).byte(mer->byte2).byte(mer->byte3).byte(mer->byte4);
}

uint16_t flag_field(uint8_t flag) {
    if (flag == 0xFF) return 0xFFFF;
    return flag == 0 ? 2 : 3;
}

void put_tail(FieldWriter &w, const MERStructure *mer) {
    static const uint8_t kEmpty = 0;
    w.byte(mer->byte5).word(uint16_t(mer->word2)).byte(mer->byte6).dword(mer->dword1);
    w.byte(mer->byte7).word(uint16_t(mer->word3)).word(mer->year);
    if (g_transfer.merTextLayout == 0)
        w.text(mer->text2, sizeof mer->text2);
    else
        w.bytes(&kEmpty, 1);
    w.raw_byte(flag_field(mer->flag)).word(uint16_t(mer->word4)).byte(int8_t(mer->seconds)).end();
}

}  // namespace
}  // namespace cardfs

using namespace cardfs;

extern "C" CARDFS_API void P2C_InitMERStructure(MERStructure *mer) {
    if (mer == nullptr) return;
    mer->size = 128;
    mer->coord1 = 0;
    mer->coord2 = 0;
    mer->text1[0] = '\0';
    mer->text2[0] = '\0';
    mer->byte1 = mer->byte2 = mer->byte3 = mer->byte4 = mer->byte5 = mer->byte6 = mer->byte7 = -1;
    mer->word1 = mer->word2 = mer->word3 = mer->word4 = -1;
    mer->time = -1;
    mer->dword1 = 0xFFFFFFFF;
    mer->year = 0xFFFF;
    mer->flag = 0xFF;
    mer->seconds = 0xFF;
}

extern "C" CARDFS_API int16_t C2P_LoadFileOfMER(int16_t handle, MERStructure *mer) {
    if (mer == nullptr) return CARDFS_E_ARGUMENT;
    P2C_InitMERStructure(mer);
    RecordReader in(handle, int16_t(g_transfer.recordEnd));
    uint32_t second = 0, first = 0;
    if (!in.swapped_dword(&second) || !in.swapped_dword(&first)) return kNoRecord;
    int16_t st = in.pending();
    if (st != kOk) return st;
    const int16_t loaded = is_null_position(second, first) ? kNullPosition : kOk;
    // The null position is scaled too; the result is decided on the pair as read.
    const uint32_t factor = g_transfer.scaleByFour ? 4 : 1;
    mer->coord2 = int32_t(second * factor);
    mer->coord1 = int32_t(first * factor);
    struct tm kept = {};
    bool stamped = false;
    st = read_fields(in, mer, &kept, &stamped);
    if (st == kRecordComplete) return loaded;
    if (st != 0) return st;
    if (stamped) refine_time(mer, &kept);
    // A record that runs out before its end is complete all the same; a
    // failure on the way stays pending and is taken next.
    (void)in.skip_to_record_end();
    st = in.pending();
    return st != kOk ? st : loaded;
}

extern "C" CARDFS_API int16_t P2C_MER_File_Add_Data(int16_t handle, MERStructure *mer) {
    if (mer == nullptr) return CARDFS_E_ARGUMENT;
    FieldWriter w(handle);
    put_head(w, mer);
    if (w.status == kOk) w.status = put_stamp(handle, mer);
    put_tail(w, mer);
    return w.status;
}
