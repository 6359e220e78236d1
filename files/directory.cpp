// Directory scans and the lookup of a file by name.
#include <string.h>

#include "files/files_internal.h"

namespace cardfs {
namespace {

// Moves the scan to the next directory block, or reports -4 at the end of
// the directory (also for a scan whose block lies outside it).
int16_t next_block(DirScan *scan) {
    DeviceDescriptor *d = scan->device;
    scan->currentBlock++;
    int32_t header = 0;
    int16_t st = find_header(d, &header);
    if (st != kOk) return st;
    if (scan->currentBlock < header || scan->currentBlock >= header + d->dirBlocks) return CARDFS_E_NOT_FOUND;
    scan->entryIndex = 0;
    st = dev_read(d, scan->currentBlock, scan->block);
    if (st != kOk) return st;
    dir_block_to_host(scan->block, d->blockSize);
    return kOk;
}

DirEntry *entry_at(DirScan *scan, int32_t index) {
    return reinterpret_cast<DirEntry *>(scan->block + index * layout::kEntrySize);
}

// Moves the scan forward as repeated FS_ReadDir calls would, until found()
// accepts an entry: -1 with the scan on it, or the status of the call that
// would have ended the scan. Entries inside a block are stepped in a tight
// loop; a block change is FS_ReadDir's own, with its device operations.
// The scan and the status variable end as those calls would leave them.
template <class Found>
int16_t scan_until(DirScan *scan, Found found) {
    const int32_t perBlock = scan->device->blockSize / layout::kEntrySize;
    while (scan->entryIndex >= 0 && scan->entryIndex < perBlock) {
        for (int32_t i = scan->entryIndex + 1; i < perBlock; i++) {
            if (found(*entry_at(scan, i))) {
                scan->entryIndex = int16_t(i);
                scan->entry = entry_at(scan, i);
                return store(kOk);
            }
        }
        scan->entryIndex = int16_t(perBlock - 1);
        scan->entry = entry_at(scan, perBlock - 1);
        int16_t st = FS_ReadDir(scan);
        if (st != kOk) return st;
        if (found(*scan->entry)) return kOk;
    }
    return FS_ReadDir(scan);
}

}  // namespace

int16_t find_entry(DeviceDescriptor *d, const char name[8], uint16_t extension, DirScan *scan) {
    int16_t st = FS_OpenDir(d, scan);
    if (st != kOk) return st;
    // No file has extension 0: it marks free entries.
    if (extension == 0) return store(CARDFS_E_NOT_FOUND);
    const uint64_t wanted = folded_name(name);
    return scan_until(scan, [&](const DirEntry &e) { return e.extension == extension && folded_name(e.name) == wanted; });
}

int16_t find_free_entry(DirScan *scan) {
    return scan_until(scan, [](const DirEntry &e) { return e.extension == 0; });
}

}  // namespace cardfs

using namespace cardfs;

extern "C" CARDFS_API int16_t FS_OpenDir(DeviceDescriptor *device, DirScan *scan) {
    if (scan == nullptr) return store(CARDFS_E_ARGUMENT);
    DeviceDescriptor *d = device != nullptr ? device : g_frame.current;
    if (d == nullptr) return store(CARDFS_E_NO_DEVICE);
    int32_t header = 0;
    int16_t st = find_header(d, &header);
    if (st != kOk) return store(st);
    scan->device = d;
    scan->startBlock = scan->currentBlock = uint16_t(header);
    scan->entryIndex = 0;
    scan->entry = reinterpret_cast<DirEntry *>(scan->block);
    st = dev_read(d, header, scan->block);
    if (st == kOk && !layout::has_signature(scan->block)) st = CARDFS_E_NO_VOLUME;
    if (st != kOk) {
        scan->device = nullptr;
        return store(st);
    }
    dir_block_to_host(scan->block, d->blockSize);
    return store(kOk);
}

extern "C" CARDFS_API int16_t FS_ReadDir(DirScan *scan) {
    if (scan == nullptr) return store(CARDFS_E_ARGUMENT);
    DeviceDescriptor *d = scan->device;
    if (d == nullptr) return store(CARDFS_E_SCAN_NOT_OPEN);
    int32_t perBlock = d->blockSize / layout::kEntrySize;
    if (scan->entryIndex < 0 || scan->entryIndex >= perBlock || perBlock > layout::kMaxEntriesPerBlock) return store(CARDFS_E_NOT_FOUND);
    scan->entryIndex++;
    if (scan->entryIndex == perBlock) {
        int16_t st = next_block(scan);
        if (st != kOk) return store(st);
    }
    scan->entry = reinterpret_cast<DirEntry *>(scan->block + scan->entryIndex * layout::kEntrySize);
    return store(kOk);
}

extern "C" CARDFS_API int16_t FS_GetDirEntry(DirScan *scan, DirEntry *out) {
    if (scan == nullptr || out == nullptr) return store(CARDFS_E_ARGUMENT);
    memcpy(out, scan_entry(scan), sizeof *out);
    return store(kOk);
}

extern "C" CARDFS_API int16_t FS_CloseDir(DirScan *) { return kOk; }

extern "C" CARDFS_API int16_t FS_FilesPresent(DirScan *scan) {
    if (scan == nullptr) return store(CARDFS_E_ARGUMENT);
    int16_t st = FS_OpenDir(g_frame.current, scan);
    if (st != kOk) return st;
    int16_t files = 0;
    (void)scan_until(scan, [&files](const DirEntry &e) {
        if (e.extension != 0) files++;
        return false;
    });
    FS_CloseDir(scan);
    return files;
}
