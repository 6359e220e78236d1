// Capacity and device queries on the current device.
#include "volume/volume_internal.h"

namespace cardfs {
namespace {

int32_t ones(uint8_t byte) {
    int32_t n = 0;
    for (; byte; byte = uint8_t(byte & (byte - 1))) n++;
    return n;
}

int32_t used_pairs(uint8_t byte) {
    int32_t n = 0;
    for (int k = 0; k < 4; k++) n += ((byte >> (2 * k)) & 3) == layout::kUsed;
    return n;
}

// Blocks in use by the map on the medium, from the byte that holds the
// first data block on.
int32_t count_used(const DeviceDescriptor *d, const uint8_t *map) {
    bool flash = is_flash(d);
    int32_t perByte = flash ? layout::kBlocksPerPairByte : layout::kBlocksPerBitByte;
    int32_t sum = 0;
    for (int32_t i = d->firstDataBlock / perByte; i < d->totalBlocks / perByte; i++) {
        if (map[i] == 0xFF)
            sum += perByte;
        else
            sum += flash ? used_pairs(map[i]) : ones(map[i]);
    }
    return sum;
}

}  // namespace
}  // namespace cardfs

using namespace cardfs;

extern "C" CARDFS_API uint16_t FS_BlockSize(void) {
    DeviceDescriptor *d = g_frame.current;
    return d == nullptr ? uint16_t(CARDFS_E_NO_DEVICE) : uint16_t(d->blockSize);
}

extern "C" CARDFS_API int32_t FS_DeviceSize(void) {
    DeviceDescriptor *d = g_frame.current;
    if (d == nullptr) return CARDFS_E_NO_DEVICE;
    return int32_t{d->totalBlocks} * d->blockSize / 1024;
}

extern "C" CARDFS_API int16_t FS_TotalBlocks(void) {
    DeviceDescriptor *d = g_frame.current;
    if (d == nullptr) return CARDFS_E_NO_DEVICE;
    int32_t n = int32_t{d->totalBlocks} - d->firstDataBlock;
    if (d->flashGeometry != nullptr && d->blockSize > 0) n -= d->flashGeometry->sectorSize / d->blockSize;
    return int16_t(n);
}

extern "C" CARDFS_API int16_t FS_BlocksUsed(void) {
    DeviceDescriptor *d = g_frame.current;
    if (d == nullptr) return CARDFS_E_NO_DEVICE;
    int32_t header = 0;
    int16_t st = find_header(d, &header);
    if (st == kOk) st = dev_read(d, header + d->dirBlocks, scratch_block());
    if (st != kOk) return store(st);
    return int16_t(count_used(d, scratch_block()));
}

extern "C" CARDFS_API int16_t FS_BlocksFree(void) {
    if (g_frame.current == nullptr) return CARDFS_E_NO_DEVICE;
    return int16_t(uint16_t(FS_TotalBlocks()) - uint16_t(FS_BlocksUsed()));
}

extern "C" CARDFS_API int32_t FS_SpaceFree(void) {
    DeviceDescriptor *d = g_frame.current;
    if (d == nullptr) return CARDFS_E_NO_DEVICE;
    return int32_t{FS_BlocksFree()} * d->blockSize;
}

extern "C" CARDFS_API int16_t FS_GetCurrDeviceLetter(void) {
    DeviceDescriptor *d = g_frame.current;
    if (d == nullptr) return store(CARDFS_E_NO_DEVICE);
    return int16_t(d->deviceType);
}
