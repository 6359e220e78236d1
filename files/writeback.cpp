// Writing one changed directory entry back together with the allocation
// map. On flash media every write-back puts a complete new copy of the
// system area into the next slot (moving to the other system sector, erased
// first, when a sector is used up) and then invalidates the old copy.
#include <string.h>

#include "files/files_internal.h"
#include "volume/volume_internal.h"

namespace cardfs {
namespace {

// Where the next copy of the system area goes, erasing its sector first
// when it opens a new one.
int16_t next_slot(DeviceDescriptor *d, int32_t header, int32_t *next) {
    const FlashGeometry *fg = d->flashGeometry;
    int32_t perSector = blocks_per_sector(d);
    int32_t size = fg->systemAreaBlocks;
    if ((header + 2 * size) / perSector == header / perSector) {
        *next = header + size;
        return kOk;
    }
    int32_t sector = (header / perSector + 1) % fg->systemSectors;
    *next = sector * perSector;
    return dev_erase(d, sector);
}

// Copies the directory blocks other than the changed one, as stored.
int16_t copy_unchanged(DeviceDescriptor *d, int32_t from, int32_t to, int32_t changed) {
    for (int32_t i = 0; i < d->dirBlocks; i++) {
        if (i == changed) continue;
        int16_t st = dev_read(d, from + i, g_volume.scratch);
        if (st == kOk) st = dev_write(d, to + i, g_volume.scratch);
        if (st != kOk) return st;
    }
    return kOk;
}

// Clears bytes 1 to 3 of the old header block; flash bits only go to 0.
int16_t invalidate(DeviceDescriptor *d, int32_t header) {
    int16_t st = dev_read(d, header, g_volume.scratch);
    if (st != kOk) return st;
    memset(g_volume.scratch + 1, 0, 3);
    return dev_write(d, header, g_volume.scratch);
}

// Merges the kept entry into the directory block as it stands on the
// medium and writes the block to its place in the new copy.
int16_t write_entry_block(DirScan *scan, int32_t from, int32_t to) {
    DeviceDescriptor *d = scan->device;
    uint8_t kept[16];
    memcpy(kept, scan_entry(scan), 16);
    int32_t index = int32_t(reinterpret_cast<uint8_t *>(scan_entry(scan)) - scan->block) / 16;
    int16_t st = dev_read(d, from, scan->block);
    if (st != kOk) return st;
    dir_block_to_host(scan->block, d->blockSize);
    if (index * 16 < d->blockSize) memcpy(scan->block + index * 16, kept, 16);
    dir_block_to_medium(scan->block, d->blockSize);
    st = dev_write(d, to, scan->block);
    dir_block_to_host(scan->block, d->blockSize);
    return st;
}

}  // namespace

int16_t write_back_entry(DirScan *scan) {
    DeviceDescriptor *d = scan->device;
    if (d == nullptr) return CARDFS_E_SCAN_NOT_OPEN;
    int32_t header = 0;
    int16_t st = find_header(d, &header);
    if (st != kOk) return st;
    // The changed block by its place in the directory, so that a scan
    // opened before the system area moved still lands in the current copy.
    int32_t changed = int32_t{scan->currentBlock} - scan->startBlock;
    if (changed < 0 || changed >= d->dirBlocks) return CARDFS_E_NOT_FOUND;
    bool flash = d->flashGeometry != nullptr;
    int32_t next = header;
    if (flash) {
        if ((st = next_slot(d, header, &next)) != kOk) return st;
        if ((st = copy_unchanged(d, header, next, changed)) != kOk) return st;
    }
    if ((st = write_entry_block(scan, header + changed, next + changed)) != kOk) return st;
    if (flash && (st = invalidate(d, header)) != kOk) return st;
    scan->startBlock = uint16_t(next);
    scan->currentBlock = uint16_t(next + changed);
    return write_map(d, next);
}

}  // namespace cardfs
