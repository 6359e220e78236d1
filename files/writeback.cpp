// Writing one changed directory entry back together with the allocation
// map, and the order of device writes that keeps every committed file
// through a power cut at any write.
//
// Media rewritten in place (diskettes, PEROM):
//   commit (FS_CloseW)   1. file blocks, each when the first byte for the next
//                           arrives, then the last block: blocks the medium's
//                           map still calls free and no entry names
//                        2. the map, the file's blocks in use
//                        3. the directory block with the entry
//   delete               1. the directory block, the entry free
//                        2. the map, the blocks free
//   rename               1. the directory block   2. the map (unchanged)
//   A cut before the last write leaves the old state, except that blocks of
//   the map may stay in use with no entry naming them: blocks leak, but no
//   entry ever names a block the map calls free, so no file is lost or
//   cross-linked.
//
// Flash media: every operation writes a complete new copy of directory and
// map into the next slot of the system area:
//   1. slots after the current one that show writes (an interrupted copy)
//      are invalidated and passed over; past the sector's last whole slot
//      the next system sector is erased and its first slot taken
//   2. directory blocks 1 .. dirBlocks-1 (the changed one merged with the
//      entry, the others copied), then the map
//   3. the header block, bytes 1 to 3 left erased
//   4. the same block again with the signature; programming only clears
//      bits, so this write adds nothing but "DOS"
//   5. the old copy's header block with bytes 1 to 3 cleared
//   Mounting takes the first copy that carries the signature. Before 4 that
//   is the old copy; from 4 on the new one is complete, and until 5 either
//   copy found first is a whole state: the operation happened or it did
//   not. File blocks go only into erased blocks the loaded map calls free,
//   so a cut while writing them changes no committed file.
//   Reclamation (during allocation) changes no map on the medium: it copies
//   a sector's live blocks to the free spare, erases the sector and copies
//   them back. After a cut the spare is the only copy; a chain found broken
//   on opening, every allocation before it erases or uses a free sector
//   that shows writes, and FS_Repair restore the live blocks from it.
//
// FS_CloseW keeps a file only when the status variable holds -1 and its
// last block was written; otherwise it frees the entry and the file's
// blocks, and the same write-back records that.
#include <string.h>

#include "files/files_internal.h"

namespace cardfs {
namespace {

// Clears bytes 1 to 3 of a header block; flash bits only go to 0.
int16_t invalidate(DeviceDescriptor *d, int32_t header) {
    uint8_t *block = scratch_block();
    int16_t st = dev_read(d, header, block);
    if (st != kOk) return st;
    memset(block + layout::kSignature, 0, layout::kSignatureLength);
    return dev_write(d, header, block);
}

// True when the slot at block h shows writes: an interrupted write-back
// left it. Its first directory block after the header is the first one a
// write-back programs, and a written directory block never starts 0xFFFF.
int16_t slot_dirty(DeviceDescriptor *d, int32_t h, bool *dirty) {
    uint8_t probe[layout::kBlankProbe] = {layout::kErased, layout::kErased};
    int32_t first = d->dirBlocks > 1 ? h + 1 : h;
    int16_t st = dev_read_bytes(d, uint32_t(first * d->blockSize), layout::kBlankProbe, probe);
    *dirty = probe[0] != layout::kErased || probe[1] != layout::kErased;
    return st;
}

// Where the next copy of the system area goes: the next slot of the same
// sector while one fits, else the first slot of the next system sector,
// erased first. Slots left dirty by an interrupted write-back are
// invalidated and passed over.
int16_t next_slot(DeviceDescriptor *d, int32_t header, int32_t *next) {
    const FlashGeometry *fg = d->flashGeometry;
    int32_t perSector = blocks_per_sector(d);
    int32_t size = fg->systemAreaBlocks;
    for (int32_t h = header; (h + 2 * size) / perSector == h / perSector; h += size) {
        bool dirty = false;
        int16_t st = slot_dirty(d, h + size, &dirty);
        if (st != kOk) return st;
        if (!dirty) {
            *next = h + size;
            return kOk;
        }
        if ((st = invalidate(d, h + size)) != kOk) return st;
    }
    int32_t sector = (header / perSector + 1) % fg->systemSectors;
    *next = sector * perSector;
    return dev_erase(d, sector);
}

int16_t copy_block(DeviceDescriptor *d, int32_t from, int32_t to) {
    uint8_t *block = scratch_block();
    int16_t st = dev_read(d, from, block);
    return st == kOk ? dev_write(d, to, block) : st;
}

// Merges the kept entry into the directory block as it stands on the
// medium (other scans may have changed other entries) and writes the block
// to its place in the new copy.
// Leaves the scan's block in medium order, ready to be written.
int16_t merge_entry(DirScan *scan, int32_t from) {
    DeviceDescriptor *d = scan->device;
    uint8_t kept[layout::kEntrySize];
    memcpy(kept, scan_entry(scan), sizeof kept);
    int32_t index = int32_t(reinterpret_cast<uint8_t *>(scan_entry(scan)) - scan->block) / layout::kEntrySize;
    int16_t st = dev_read(d, from, scan->block);
    if (st != kOk) return st;
    dir_block_to_host(scan->block, d->blockSize);
    if (index * layout::kEntrySize < d->blockSize) memcpy(scan->block + index * layout::kEntrySize, kept, sizeof kept);
    dir_block_to_medium(scan->block, d->blockSize);
    return kOk;
}

int16_t write_entry_block(DirScan *scan, int32_t from, int32_t to) {
    int16_t st = merge_entry(scan, from);
    if (st != kOk) return st;
    st = dev_write(scan->device, to, scan->block);
    dir_block_to_host(scan->block, scan->device->blockSize);
    return st;
}

int16_t write_dir_block(DirScan *scan, int32_t i, int32_t changed, int32_t from, int32_t to) {
    if (i == changed) return write_entry_block(scan, from + i, to + i);
    return copy_block(scan->device, from + i, to + i);
}

// The new copy's header block, programmed twice: first with bytes 1 to 3
// left erased, then with the signature, so that a write cut short can
// never leave a signature on an incomplete block.
int16_t write_header_block(DirScan *scan, int32_t from, int32_t changed, int32_t to) {
    DeviceDescriptor *d = scan->device;
    uint8_t *block = changed == 0 ? scan->block : scratch_block();
    int16_t st = changed == 0 ? merge_entry(scan, from) : dev_read(d, from, block);
    if (st != kOk) return st;
    uint8_t *signature = block + layout::kSignature;
    uint8_t kept[layout::kSignatureLength];
    memcpy(kept, signature, sizeof kept);
    memset(signature, layout::kErased, sizeof kept);
    st = dev_write(d, to, block);
    memcpy(signature, kept, sizeof kept);
    if (st == kOk) st = dev_write(d, to, block);
    if (changed == 0) dir_block_to_host(block, d->blockSize);
    return st;
}

// In place: a commit records its blocks in the map before the entry names
// them, a deletion drops the entry before the map frees its blocks, so a
// power cut between the two writes can leak blocks but never lose a file.
int16_t write_in_place(DirScan *scan, int32_t header, int32_t changed, WriteOrder order) {
    DeviceDescriptor *d = scan->device;
    int16_t st = kOk;
    if (order == WriteOrder::MapFirst) st = write_map(d, header);
    if (st == kOk) st = write_entry_block(scan, header + changed, header + changed);
    if (st == kOk && order == WriteOrder::EntryFirst) st = write_map(d, header);
    return st;
}

// On flash: a complete new copy whose header block is written last, so a
// copy carries the signature only once everything in it is in place; then
// the old copy is invalidated.
int16_t write_new_copy(DirScan *scan, int32_t header, int32_t changed, int32_t *next) {
    DeviceDescriptor *d = scan->device;
    int16_t st = next_slot(d, header, next);
    CARDFS_ASSERT(st != kOk || (*next + d->flashGeometry->systemAreaBlocks <=
                                d->flashGeometry->systemSectors * blocks_per_sector(d)));
    for (int32_t i = 1; i < d->dirBlocks && st == kOk; i++) st = write_dir_block(scan, i, changed, header, *next);
    if (st == kOk) st = write_map(d, *next);
    if (st == kOk) st = write_header_block(scan, header, changed, *next);
    if (st == kOk) st = invalidate(d, header);
    return st;
}

}  // namespace

int16_t write_back_entry(DirScan *scan, WriteOrder order) {
    DeviceDescriptor *d = scan->device;
    if (d == nullptr) return CARDFS_E_SCAN_NOT_OPEN;
    int32_t header = 0;
    int16_t st = find_header(d, &header);
    if (st != kOk) return st;
    // The changed block by its place in the directory, so that a scan
    // opened before the system area moved still lands in the current copy.
    int32_t changed = int32_t{scan->currentBlock} - scan->startBlock;
    if (changed < 0 || changed >= d->dirBlocks) return CARDFS_E_NOT_FOUND;
    int32_t next = header;
    CARDFS_ASSERT(!is_flash(d) || header % blocks_per_sector(d) % d->flashGeometry->systemAreaBlocks == 0);
    if (!is_flash(d))
        st = write_in_place(scan, header, changed, order);
    else
        st = write_new_copy(scan, header, changed, &next);
    if (st != kOk) return st;
    scan->startBlock = uint16_t(next);
    scan->currentBlock = uint16_t(next + changed);
    return kOk;
}

}  // namespace cardfs
