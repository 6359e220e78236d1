// Track records: a point is a coordinate pair (first coordinate first) and
// ten optional small values; a break between two segments is the null
// position with one empty field.
#include "datafiles/transfer.h"

namespace cardfs {
namespace {

const uint8_t kBreakRecord[10] = {0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0x00, 0xFF};

int16_t read_point_fields(const FieldReader &in, TrackStructure *t) {
    int16_t st = read_member(in, &t->byte1);
    if (st == 0) st = read_member(in, &t->byte2);
    if (st == 0) st = read_member(in, &t->byte3);
    if (st == 0) st = read_member(in, &t->byte4);
    if (st == 0) st = read_member(in, &t->word1);
    if (st == 0) st = read_member(in, &t->dword1);
    if (st == 0) st = read_member(in, &t->word2);
    if (st == 0) st = read_member(in, &t->dword2);
    if (st == 0) st = read_member(in, &t->word3);
    if (st == 0) st = read_member(in, &t->word4);
    return st;
}

int16_t write_point(int16_t handle, const TrackStructure *t) {
    FieldWriter w(handle);
    w.pair(uint32_t(t->coord1), uint32_t(t->coord2)).byte(t->byte1).byte(t->byte2).byte(t->byte3).byte(t->byte4);
    w.word(uint16_t(t->word1)).dword(t->dword1).word(t->word2).dword(t->dword2).word(t->word3).word(t->word4);
    return w.end().status;
}

uint32_t swapped(const uint8_t *b) { return uint32_t(b[1]) << 24 | uint32_t(b[0]) << 16 | uint32_t(b[3]) << 8 | b[2]; }

// Takes one field of the member's width from the block: false when the
// record cannot be loaded in place; *ended once the record end was met.
template <typename T>
bool take_field(BufferedRecord &in, uint8_t recordEnd, T *member, bool *ended) {
    if (*ended) return true;
    const uint8_t *length = in.take(1), *data = nullptr;
    if (length == nullptr) return false;
    if (*length == recordEnd) return *ended = true;
    if (*length == 0) return true;
    if (*length != sizeof(T) || (data = in.take(int32_t(sizeof(T)))) == nullptr) return false;
    uint32_t v = data[0];
    if (sizeof(T) >= 2) v |= uint32_t(data[1]) << 8;
    if (sizeof(T) == 4) v |= uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
    *member = static_cast<T>(v);
    return true;
}

// Loads an ordinary point that lies complete and well formed in the current
// block, as reading it field by field would; false, with nothing read, for
// anything else (members may then hold values taken so far).
bool load_in_place(int16_t handle, TrackStructure *t) {
    BufferedRecord in(handle);
    const uint8_t *pair = in.usable() ? in.take(8) : nullptr;
    if (pair == nullptr || is_null_position(swapped(pair), swapped(pair + 4))) return false;
    TrackStructure &loaded = *t;
    const uint8_t end = uint8_t(g_transfer.recordEnd);
    bool endedEarly = false;
    const bool taken = take_field(in, end, &loaded.byte1, &endedEarly) && take_field(in, end, &loaded.byte2, &endedEarly) &&
                       take_field(in, end, &loaded.byte3, &endedEarly) && take_field(in, end, &loaded.byte4, &endedEarly) &&
                       take_field(in, end, &loaded.word1, &endedEarly) && take_field(in, end, &loaded.dword1, &endedEarly) &&
                       take_field(in, end, &loaded.word2, &endedEarly) && take_field(in, end, &loaded.dword2, &endedEarly) &&
                       take_field(in, end, &loaded.word3, &endedEarly) && take_field(in, end, &loaded.word4, &endedEarly);
    if (!taken) return false;
    if (!endedEarly && g_transfer.fileFormat != 0 && !in.skip_to_record_end(end)) return false;
    const uint32_t factor = g_transfer.scaleByFour ? 4 : 1;
    loaded.coord1 = int32_t(swapped(pair) * factor);
    loaded.coord2 = int32_t(swapped(pair + 4) * factor);
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
    P2C_InitTrackStructure(track);
    uint32_t first = 0, second = 0;
    if (!read_swapped_dword(handle, &first) || !read_swapped_dword(handle, &second)) return kNoRecord;
    int16_t st = take_pending_status();
    if (st != kOk) return st;
    if (is_null_position(first, second)) {
        track->byte2 = 0;
    } else {
        uint32_t factor = g_transfer.scaleByFour ? 4 : 1;
        track->coord1 = int32_t(first * factor);
        track->coord2 = int32_t(second * factor);
        st = read_point_fields(transfer_reader(handle), track);
        if (st == kRecordComplete) return kOk;
        if (st != 0) return st;
    }
    // A format 0 record ends with its last field.
    if (g_transfer.fileFormat == 0) return kOk;
    return skip_to_record_end(transfer_reader(handle)) == kEnd ? kNoRecord : kOk;
}

extern "C" CARDFS_API int16_t P2C_Create_File_Add_Break(int16_t handle) {
    return put_bytes(handle, kBreakRecord, int32_t(sizeof kBreakRecord));
}

extern "C" CARDFS_API int16_t P2C_Track_File_Add_Data(int16_t handle, TrackStructure *track) {
    if (track == nullptr) return CARDFS_E_ARGUMENT;
    if (track->byte2 == 0) return P2C_Create_File_Add_Break(handle);
    return write_point(handle, track);
}
