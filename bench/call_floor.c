/* The floors of a call per byte and of a call per track point: exported
 * functions in a shared object of their own, as the library is one.
 *
 * Per byte, only what FS_Putc and FS_Getc must do for a byte inside the
 * current block of an open-file record the host can see: check the handle
 * and the position, store or load the byte, store the position (and,
 * writing, the status). At a block end it only moves back to the block's
 * start, where the library would write or read a block.
 *
 * Per track point, only what loading the common point must do once its
 * bytes are in memory: reset the caller's structure, check the room, the
 * null position and every length byte against absent or the member's
 * width, store the present values and the pair, and move on. */
#include <stdint.h>
#include <string.h>

#include "cardfs.h"

#define FLOOR_API __attribute__((visibility("default")))

static FileInfo records[2];
static int16_t writer = -1;
static int32_t status = -1;

FLOOR_API FileInfo *floor_open(int16_t handle, int writing, int16_t blockSize) {
    FileInfo *r = &records[handle & 1];
    r->position = writing ? 2 : 0;
    r->limit = blockSize;
    writer = writing ? handle : -1;
    return r;
}

FLOOR_API int16_t floor_putc(int16_t c, int16_t handle) {
    if ((uint16_t)handle >= 2 || handle != writer) return -56;
    FileInfo *r = &records[handle];
    int16_t at = r->position;
    if (at < 2 || at > r->limit) return -10;
    if (at == r->limit) at = 2;
    r->buffer[at] = (uint8_t)c;
    r->position = (int16_t)(at + 1);
    status = -1;
    return -1;
}

FLOOR_API int16_t floor_getc(int16_t handle) {
    if ((uint16_t)handle >= 2 || handle == writer) return -1;
    FileInfo *r = &records[handle];
    int16_t at = r->position;
    if (at < 0 || at > r->limit || r->limit > 1024) return -1;
    if (at == r->limit) at = 2;
    r->position = (int16_t)(at + 1);
    return r->buffer[at];
}

/* A field of the member's width at *p, or absent; 0 for anything else. */
#define TAKE(p, member)                                                 \
    (*(p) == 0 ? ((p)++, 1)                                             \
     : *(p) != sizeof(member) ? 0                                       \
     : (memcpy(&(member), (p) + 1, sizeof(member)), (p) += 1 + sizeof(member), 1))

enum { kLongestPoint = 8 + 4 * 2 + 4 * 3 + 2 * 5 + 1 };

static uint32_t swapped(const uint8_t *b) {
    uint32_t v;
    memcpy(&v, b, 4);
    return v << 16 | v >> 16;
}

/* The point at *cursor (kLongestPoint bytes readable, or the end of the
 * data): 0 with *cursor past it, or -1 for anything else. */
FLOOR_API int16_t floor_track_point(const uint8_t **cursor, const uint8_t *end, int scaleByFour, TrackStructure *t) {
    const uint8_t *p = *cursor;
    uint32_t first, second, factor = scaleByFour ? 4 : 1;
    int plain;
    t->size = 36, t->coord1 = 0, t->coord2 = 0;
    t->byte1 = t->byte2 = t->byte3 = t->byte4 = -1;
    t->word1 = -1, t->dword1 = 0xFFFFFFFF, t->word2 = 0xFFFF, t->dword2 = 0xFFFFFFFF, t->word3 = 0xFFFF, t->word4 = 0xFFFF;
    if (end - p < kLongestPoint) return -1;
    first = swapped(p), second = swapped(p + 4);
    if ((first == 0x7FFFFFFF && second == 0x7FFFFFFF) || (first == 0x7FFF && second == 0x7FFF)) return -1;
    p += 8;
    plain = TAKE(p, t->byte1) && TAKE(p, t->byte2) && TAKE(p, t->byte3) && TAKE(p, t->byte4) && TAKE(p, t->word1) &&
            TAKE(p, t->dword1) && TAKE(p, t->word2) && TAKE(p, t->dword2) && TAKE(p, t->word3) && TAKE(p, t->word4) &&
            *p == 0xFF;
    if (!plain) return -1;
    t->coord1 = (int32_t)(first * factor), t->coord2 = (int32_t)(second * factor);
    *cursor = p + 1;
    return 0;
}
