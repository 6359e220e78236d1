// Track records: a point is a coordinate pair (first coordinate first) and
// ten optional small values; a break between two segments is the null
// position with one empty field.
#include "codec/record_reader.h"
#include "datafiles/transfer.h"

namespace cardfs {
namespace {

const uint8_t kBreakRecord[10] = {0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0x00, 0xFF};

CARDFS_INLINE int16_t read_point_fields(RecordReader &in, TrackStructure *t) {
    int16_t st = in.member(&t->byte1);
    if (st == 0) st = in.member(&t->byte2);
    if (st == 0) st = in.member(&t->byte3);
    if (st == 0) st = in.member(&t->byte4);
    if (st == 0) st = in.member(&t->word1);
    if (st == 0) st = in.member(&t->dword1);
    if (st == 0) st = in.member(&t->word2);
    if (st == 0) st = in.member(&t->dword2);
    if (st == 0) st = in.member(&t->word3);
    if (st == 0) st = in.member(&t->word4);
    return st;
}

// The longest point of ordinary fields: the pair, the ten fields at their
// widths and the record end.
constexpr int32_t kLongestPlainPoint = 8 + 4 * 2 + 4 * 3 + 2 * 5 + 1;

// A coordinate: bytes 1, 0, 3, 2 from the top, that is the little-endian
// word of its four bytes with its halves swapped.
uint32_t swapped(const uint8_t *b) {
    const uint32_t v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return v << 16 | v >> 16;
}

// A field of the member's own width, or absent; false for any other length
// (a record end among them).
template <typename T>
CARDFS_INLINE bool take_plain(const uint8_t *&p, T *member) {
    const uint8_t length = *p;
    if (length == 0) return ++p, true;
    if (length != sizeof(T)) return false;
    uint32_t v = p[1];
    if (sizeof(T) >= 2) v |= uint32_t(p[2]) << 8;
    if (sizeof(T) == 4) v |= uint32_t(p[3]) << 16 | uint32_t(p[4]) << 24;
    *member = static_cast<T>(v);
    p += 1 + sizeof(T);
    return true;
}

// The common point, read in one pass: not a break, each of its ten fields
// of its own width or absent, then the record end 0xFF of a format 1 to 5
// file, all in the current block with nothing pending. Its room is checked
// once, against the longest such point. Reading it field by field gives the
// same members and consumes the same bytes; any other record gives false,
// with nothing consumed (members may hold values taken so far).
bool load_plain_point(int16_t handle, TrackStructure *t) {
    if (status_pending() || g_transfer.recordEnd != kRecordEndWritten || g_transfer.fileFormat == 0) return false;
    const ReadWindow window = read_window(handle);
    if (window.data == nullptr || window.size < kLongestPlainPoint) return false;
    const uint8_t *p = window.data;
    const uint32_t first = swapped(p), second = swapped(p + 4);
    if (is_null_position(first, second)) return false;
    p += 8;
    const bool plain = take_plain(p, &t->byte1) && take_plain(p, &t->byte2) && take_plain(p, &t->byte3) &&
                       take_plain(p, &t->byte4) && take_plain(p, &t->word1) && take_plain(p, &t->dword1) &&
                       take_plain(p, &t->word2) && take_plain(p, &t->dword2) && take_plain(p, &t->word3) &&
                       take_plain(p, &t->word4) && *p == kRecordEndWritten;
    if (!plain) return false;
    const uint32_t factor = g_transfer.scaleByFour ? 4 : 1;
    t->coord1 = int32_t(first * factor);
    t->coord2 = int32_t(second * factor);
    consume(handle, int32_t(p + 1 - window.data));
    return true;
}

// Any record, field by field (in place while it lies in the block).
CARDFS_OUT_OF_LINE int16_t load_record(int16_t handle, TrackStructure *track) {
    RecordReader in(handle, int16_t(g_transfer.recordEnd));
    uint32_t first = 0, second = 0;
    if (!in.swapped_dword(&first) || !in.swapped_dword(&second)) return kNoRecord;
    int16_t st = in.pending();
    if (st != kOk) return st;
    if (is_null_position(first, second)) {
        track->byte2 = 0;
    } else {
        uint32_t factor = g_transfer.scaleByFour ? 4 : 1;
        track->coord1 = int32_t(first * factor);
        track->coord2 = int32_t(second * factor);
        st = read_point_fields(in, track);
        if (st == kRecordComplete) return kOk;
        if (st != 0) return st;
    }
    // A format 0 record ends with its last field.
    if (g_transfer.fileFormat == 0) return kOk;
    return in.skip_to_record_end() == kEnd ? kNoRecord : kOk;
}

int16_t write_point(int16_t handle, const TrackStructure *t) {
    FieldWriter w(handle);
    w.pair(uint32_t(t->coord1), uint32_t(t->coord2)).byte(t->byte1).byte(t->byte2).byte(t->byte3).byte(t->byte4);
    w.word(uint16_t(t->word1)).dword(t->dword1).word(t->word2).dword(t->dword2).word(t->word3).word(t->word4);
    return w.end().status;
}

}  // namespace
}  // namespace cardfs

using namespace cardfs;

namespace cardfs {
namespace {

CARDFS_INLINE void init_track(TrackStructure *track) {
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

}  // namespace
}  // namespace cardfs

extern "C" CARDFS_API void P2C_InitTrackStructure(TrackStructure *track) {
    if (track != nullptr) init_track(track);
}

extern "C" CARDFS_API int16_t C2P_LoadFileOfTrack(int16_t handle, TrackStructure *track) {
    if (track == nullptr) return CARDFS_E_ARGUMENT;
    init_track(track);
    if (load_plain_point(handle, track)) return kOk;
    init_track(track);
    return load_record(handle, track);
}

extern "C" CARDFS_API int16_t P2C_Create_File_Add_Break(int16_t handle) {
    return put_bytes(handle, kBreakRecord, int32_t(sizeof kBreakRecord));
}

extern "C" CARDFS_API int16_t P2C_Track_File_Add_Data(int16_t handle, TrackStructure *track) {
    if (track == nullptr) return CARDFS_E_ARGUMENT;
    if (track->byte2 == 0) return P2C_Create_File_Add_Break(handle);
    return write_point(handle, track);
}
