// Track records: a point is a coordinate pair (first coordinate first) and
// ten optional small values; a break between two segments is the null
// position with one empty field.
#include "datafiles/codec.h"
#include "volume/volume_internal.h"

namespace cardfs {
namespace {

const uint8_t kBreakRecord[10] = {0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0x00, 0xFF};

int16_t read_point_fields(int16_t handle, TrackStructure *t) {
    int16_t st = read_member(handle, &t->byte1);
    if (st == 0) st = read_member(handle, &t->byte2);
    if (st == 0) st = read_member(handle, &t->byte3);
    if (st == 0) st = read_member(handle, &t->byte4);
    if (st == 0) st = read_member(handle, &t->word1);
    if (st == 0) st = read_member(handle, &t->dword1);
    if (st == 0) st = read_member(handle, &t->word2);
    if (st == 0) st = read_member(handle, &t->dword2);
    if (st == 0) st = read_member(handle, &t->word3);
    if (st == 0) st = read_member(handle, &t->word4);
    return st;
}

int16_t write_point(int16_t handle, const TrackStructure *t) {
    FieldWriter w(handle);
    w.pair(uint32_t(t->coord1), uint32_t(t->coord2)).byte(t->byte1).byte(t->byte2).byte(t->byte3).byte(t->byte4);
    w.word(uint16_t(t->word1)).dword(t->dword1).word(t->word2).dword(t->dword2).word(t->word3).word(t->word4);
    return w.end().status;
}

uint32_t swapped(const uint8_t *b) { return uint32_t(b[1]) << 24 | uint32_t(b[0]) << 16 | uint32_t(b[3]) << 8 | b[2]; }

void store_point_field(TrackStructure *t, int i, uint32_t v) {
    switch (i) {
    case 0: t->byte1 = int8_t(v); break;
    case 1: t->byte2 = int8_t(v); break;
    case 2: t->byte3 = int8_t(v); break;
    case 3: t->byte4 = int8_t(v); break;
    case 4: t->word1 = int16_t(v); break;
    case 5: t->dword1 = v; break;
    case 6: t->word2 = uint16_t(v); break;
    case 7: t->dword2 = v; break;
    case 8: t->word3 = uint16_t(v); break;
    default: t->word4 = uint16_t(v); break;
    }
}

// Loads an ordinary point that lies complete and well formed in the current
// block, as reading it field by field would; false, with nothing read or
// changed, for anything else.
bool load_in_place(int16_t handle, TrackStructure *t) {
    static const int8_t kWidth[10] = {1, 1, 1, 1, 2, 4, 2, 4, 2, 2};
    BufferedRecord in(handle);
    const uint8_t *pair = in.usable() ? in.take(8) : nullptr;
    if (pair == nullptr || is_null_position(swapped(pair), swapped(pair + 4))) return false;
    TrackStructure loaded = *t;
    const uint8_t recordEnd = uint8_t(g_transfer.recordEnd);
    bool endedEarly = false;
    for (int i = 0; i < 10 && !endedEarly; i++) {
        const uint8_t *length = in.take(1), *data = nullptr;
        if (length == nullptr) return false;
        if (*length == recordEnd) endedEarly = true;
        if (endedEarly || *length == 0) continue;
        if (*length != kWidth[i] || (data = in.take(*length)) == nullptr) return false;
        store_point_field(&loaded, i, kWidth[i] == 1 ? data[0] : kWidth[i] == 2 ? uint16_t(field_to_int(data)) : field_to_dword(data));
    }
    if (!endedEarly && g_transfer.fileFormat != 0 && !in.skip_to_record_end()) return false;
    const uint32_t factor = g_transfer.scaleByFour ? 4 : 1;
    loaded.coord1 = int32_t(swapped(pair) * factor);
    loaded.coord2 = int32_t(swapped(pair + 4) * factor);
    *t = loaded;
    in.commit();
    return true;
}

}  // namespace
}  // namespace cardfs

using namespace cardfs;

extern "C" CARDFS_API void P2C_InitTrackStructure(TrackStructure *track) {
    if (track == nullptr) return;
    track->size = 36;
    track->coord1 = 0;
    track->coord2 = 0;
    track->byte1 = track->byte2 = track->byte3 = track->byte4 = -1;
    track->word1 = -1;
    track->dword1 = 0xFFFFFFFF;
    track->word2 = 0xFFFF;
    track->dword2 = 0xFFFFFFFF;
    track->word3 = 0xFFFF;
    track->word4 = 0xFFFF;
}

extern "C" CARDFS_API int16_t C2P_LoadFileOfTrack(int16_t handle, TrackStructure *track) {
    if (track == nullptr) return CARDFS_E_ARGUMENT;
    P2C_InitTrackStructure(track);
    if (load_in_place(handle, track)) return kOk;
    uint32_t first = 0, second = 0;
    if (!read_swapped_dword(handle, &first) || !read_swapped_dword(handle, &second)) return kNoRecord;
    int16_t st = int16_t(GetErrno());
    if (st != kOk) return st;
    if (is_null_position(first, second)) {
        track->byte2 = 0;
    } else {
        uint32_t factor = g_transfer.scaleByFour ? 4 : 1;
        track->coord1 = int32_t(first * factor);
        track->coord2 = int32_t(second * factor);
        st = read_point_fields(handle, track);
        if (st == kRecordComplete) return kOk;
        if (st != 0) return st;
    }
    // A format 0 record ends with its last field.
    if (g_transfer.fileFormat == 0) return kOk;
    return skip_to_record_end(handle) == kEnd ? kNoRecord : kOk;
}

extern "C" CARDFS_API int16_t P2C_Create_File_Add_Break(int16_t handle) {
    return put_bytes(handle, kBreakRecord, int32_t(sizeof kBreakRecord));
}

extern "C" CARDFS_API int16_t P2C_Track_File_Add_Data(int16_t handle, TrackStructure *track) {
    if (track == nullptr) return CARDFS_E_ARGUMENT;
    if (track->byte2 == 0) return P2C_Create_File_Add_Break(handle);
    return write_point(handle, track);
}
