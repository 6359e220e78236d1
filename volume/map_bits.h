// The allocation map held in g_volume.map, shared by the map's two files:
// one bit per block on rewritable media, a pair of bits per block on flash
// media (layout::Pair).
#pragma once

#include "volume/volume_internal.h"

namespace cardfs {

inline uint8_t pair_in(const uint8_t *map, int32_t n) {
    CARDFS_ASSERT(n >= 0 && n / layout::kBlocksPerPairByte < kBufferSize);
    return uint8_t((map[n / 4] >> (2 * (n % 4))) & 3);
}
inline uint8_t pair_of(int32_t n) { return pair_in(g_volume.map, n); }

inline void set_pair(int32_t n, uint8_t value) {
    CARDFS_ASSERT(n >= 0 && n / layout::kBlocksPerPairByte < kBufferSize && value <= layout::kUsed);
    uint8_t &byte = g_volume.map[n / 4];
    int shift = 2 * (n % 4);
    byte = uint8_t((byte & ~(3 << shift)) | (value << shift));
}

// ---- the flash allocator (flash_alloc.cpp) ----
// Counts the blocks in use per sector after the map was loaded.
void count_sector_use(const DeviceDescriptor *device);
// Marks a free block of the sector to allocate from in use: *block, or -3.
[[nodiscard]] int16_t find_free_pair(DeviceDescriptor *device, int32_t *block);

}  // namespace cardfs
