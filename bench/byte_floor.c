/* The floor of a call per byte: an exported function in a shared object of
 * its own that does only what FS_Putc and FS_Getc must do for a byte inside
 * the current block of an open-file record the host can see: check the
 * handle and the position, store or load the byte, store the position (and,
 * writing, the status). At a block end it only moves back to the block's
 * start, where the library would write or read a block. */
#include <stdint.h>

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
