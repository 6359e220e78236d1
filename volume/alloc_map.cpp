// The block allocation map: loading and writing it, taking blocks into use
// and giving them back, and the map of a new volume. The flash allocator
// behind find_free_pair lives in flash_alloc.cpp.
#include <string.h>

#include "volume/map_bits.h"

namespace cardfs {
namespace {

using layout::kUsed;

// Blocks that never belong to a file: the system area and, on flash media,
// the whole system sectors. Damaged chains cannot free them.
bool reserved(const DeviceDescriptor *d, int32_t n) {
    if (n >= d->headerBlock && n < d->firstDataBlock) return true;
    return is_flash(d) && n < d->flashGeometry->systemSectors * blocks_per_sector(d);
}

void mark_reserved_used(const DeviceDescriptor *d) {
    for (int32_t n = d->headerBlock; n < d->firstDataBlock; n++) mark_used(d, n);
}

// For a byte that is not 0xFF.
int32_t lowest_zero_bit(uint8_t byte) { return __builtin_ctz(~uint32_t{byte}); }

// One-bit map: the lowest free block, searched from the first byte not
// known to be full.
int16_t find_free_bit(const DeviceDescriptor *d, int32_t *block) {
    uint8_t *map = g_volume.map;
    int32_t end = d->totalBlocks / 8;
    int32_t i = g_volume.mapHint;
    for (; i + 8 <= end; i += 8) {
        uint64_t word;
        memcpy(&word, map + i, 8);
        if (word != ~uint64_t{0}) break;
    }
    for (; i < end; i++) {
        if (map[i] == 0xFF) continue;
        g_volume.mapHint = i;
        int32_t bit = lowest_zero_bit(map[i]);
        map[i] = uint8_t(map[i] | (1 << bit));
        *block = i * 8 + bit;
        CARDFS_ASSERT(*block < d->totalBlocks);
        return kOk;
    }
    g_volume.mapHint = end;
    return CARDFS_E_MEDIUM_FULL;
}

int16_t find_free_block(DeviceDescriptor *d, int32_t *block) {
    return is_flash(d) ? find_free_pair(d, block) : find_free_bit(d, block);
}

// Flash: whether block b reads erased at its start; a block that does not
// holds stale data its pair does not show.
int16_t probe_blank(DeviceDescriptor *d, int32_t b, bool *blank) {
    uint8_t probe[layout::kBlankProbe];
    int16_t st = dev_read_bytes(d, uint32_t(d->blockSize * b), layout::kBlankProbe, probe);
    *blank = st == kOk && probe[0] == layout::kErased && probe[1] == layout::kErased;
    return st;
}

}  // namespace

void mark_used(const DeviceDescriptor *d, int32_t n) {
    if (is_flash(d))
        set_pair(n, kUsed);
    else
        g_volume.map[n / 8] = uint8_t(g_volume.map[n / 8] | (1 << (n % 8)));
}

void mark_free(DeviceDescriptor *d, int32_t n) {
    release_block(d, n);
    if (is_flash(d) && data_block(d, n)) set_pair(n, layout::kFree);
}

bool map_in_use(const DeviceDescriptor *d, const uint8_t *map, int32_t n) {
    if (is_flash(d)) return pair_in(map, n) == kUsed;
    return (map[n / 8] >> (n % 8)) & 1;
}

int16_t load_map(DeviceDescriptor *d) {
    int32_t header = 0;
    int16_t st = find_header(d, &header);
    if (st != kOk) return st;
    st = dev_read(d, header + d->dirBlocks, g_volume.map);
    if (st != kOk) return st;
    mark_reserved_used(d);
    g_volume.mapHint = 0;
    if (is_flash(d)) {
        memcpy(g_volume.loaded, g_volume.map, sizeof g_volume.loaded);
        count_sector_use(d);
    }
    return kOk;
}

int16_t write_map(DeviceDescriptor *d, int32_t header) { return dev_write(d, header + d->dirBlocks, g_volume.map); }

// On flash media every block found is probed: one that is not erased is
// marked released and the search goes on. A block whose probe cannot be
// read stays marked in use until the volume is formatted again.
int16_t allocate_block(DeviceDescriptor *d, int32_t *block) {
    int32_t b = 0;
    int16_t st = find_free_block(d, &b);
    while (st == kOk && is_flash(d)) {
        bool blank = false;
        if (probe_blank(d, b, &blank) == kOk) {
            if (blank) break;
            set_pair(b, layout::kReleased);
        }
        st = find_free_block(d, &b);
    }
    if (st == kOk) *block = b;
    return st;
}

bool data_block(const DeviceDescriptor *d, int32_t n) { return n >= 0 && n < d->totalBlocks && !reserved(d, n); }

void release_block(DeviceDescriptor *d, int32_t n) {
    if (!data_block(d, n)) return;
    if (is_flash(d)) {
        set_pair(n, layout::kReleased);
        return;
    }
    g_volume.map[n / 8] = uint8_t(g_volume.map[n / 8] & ~(1 << (n % 8)));
    if (n / 8 < g_volume.mapHint) g_volume.mapHint = n / 8;
}

int16_t release_chain(DeviceDescriptor *d, uint16_t first, uint16_t count) {
    int32_t b = first & layout::kLinkValue;
    uint8_t *block = scratch_block();
    for (int32_t i = 1; i < int32_t{count}; i++) {
        release_block(d, b);
        int16_t st = dev_read(d, b, block);
        if (st != kOk) return st;
        b = layout::get16(block) & layout::kLinkValue;
    }
    release_block(d, b);
    return kOk;
}

// The map of a new volume: the system area in use, everything else free.
int16_t build_initial_map(DeviceDescriptor *d) {
    memset(g_volume.map, 0, sizeof g_volume.map);
    mark_reserved_used(d);
    g_volume.mapHint = 0;
    return write_map(d, d->headerBlock);
}

}  // namespace cardfs
