// File descriptors: a file named by its directory position, checked by its
// extension word and the check value of its name bytes.
#include <string.h>

#include "files/files_internal.h"

namespace cardfs {
namespace {

// Exclusive-or of the 8 name bytes, each widened with its sign.
uint16_t name_check(const char name[8]) {
    uint16_t check = 0;
    for (int i = 0; i < 8; i++) check = uint16_t(check ^ uint16_t(int16_t(int8_t(name[i]))));
    return check;
}

void describe(DirScan *scan, uint16_t extension, FileDescr *descr) {
    DeviceDescriptor *d = scan->device;
    const DirEntry *e = scan_entry(scan);
    descr->device = d;
    descr->entryNumber = int16_t((int32_t{scan->currentBlock} - scan->startBlock) * (d->blockSize / layout::kEntrySize) +
                                 int32_t(reinterpret_cast<const uint8_t *>(e) - scan->block) / layout::kEntrySize);
    descr->extension = extension;
    descr->nameCheck = name_check(e->name);
}

// Opens scan on the descriptor's device and places it on the described
// entry; -4 when the position lies outside the directory or the entry no
// longer matches.
int16_t find_by_descr(const FileDescr *descr, DirScan *scan) {
    int16_t st = FS_OpenDir(descr->device, scan);
    if (st != kOk) return st;
    DeviceDescriptor *d = scan->device;
    int32_t perBlock = d->blockSize / layout::kEntrySize;
    if (descr->entryNumber < 0 || descr->entryNumber / perBlock >= d->dirBlocks) return CARDFS_E_NOT_FOUND;
    int32_t block = scan->startBlock + descr->entryNumber / perBlock;
    if ((st = dev_read(d, block, scan->block)) != kOk) return st;
    dir_block_to_host(scan->block, d->blockSize);
    scan->currentBlock = uint16_t(block);
    scan->entryIndex = int16_t(descr->entryNumber % perBlock);
    scan->entry = reinterpret_cast<DirEntry *>(scan->block + scan->entryIndex * layout::kEntrySize);
    const DirEntry *e = scan->entry;
    if (e->extension != descr->extension || name_check(e->name) != descr->nameCheck) return CARDFS_E_NOT_FOUND;
    return kOk;
}

int16_t open_by_descr(const FileDescr *descr, bool checkChain) {
    if (descr == nullptr) return store(CARDFS_E_ARGUMENT);
    int16_t h = 0;
    if (int16_t st = find_free_record(&h); st != kOk) return st;
    FileInfo *r = record_of(h);
    r->blocksDone = 0;
    int16_t st = find_by_descr(descr, &r->scan);
    if (st == kOk) {
        r->device = r->scan.device;
        st = load_first_block(r);
        if (st == kOk && checkChain) st = check_chain(r);
    }
    if (st != kOk) {
        release_record(h);
        return store(st);
    }
    store(kOk);
    return h;
}

}  // namespace
}  // namespace cardfs

using namespace cardfs;

extern "C" CARDFS_API int16_t FD_GetCurrFileDescr(DirScan *scan, FileDescr *descr) {
    if (scan == nullptr || descr == nullptr) return store(CARDFS_E_ARGUMENT);
    if (scan->device == nullptr) return store(CARDFS_E_SCAN_NOT_OPEN);
    describe(scan, scan_entry(scan)->extension, descr);
    return store(kOk);
}

extern "C" CARDFS_API int16_t FD_GetFileDescr(int16_t handle, FileDescr *descr) {
    if (descr == nullptr) return store(CARDFS_E_ARGUMENT);
    FileInfo *r = record_of(handle);
    if (r == nullptr || r->device == nullptr) return store(CARDFS_E_NOT_OPEN);
    describe(&r->scan, uint16_t(scan_entry(&r->scan)->extension & ~kOpenForWriting), descr);
    return store(kOk);
}

extern "C" CARDFS_API int16_t FD_OpenR(FileDescr *descr) { return open_by_descr(descr, true); }

extern "C" CARDFS_API int16_t FD_OpenR_NoIntegrityTest(FileDescr *descr) { return open_by_descr(descr, false); }

extern "C" CARDFS_API int16_t FD_CloseR(int16_t handle) { return FS_CloseR(handle); }

extern "C" CARDFS_API int16_t FD_Delete(FileDescr *descr) {
    if (descr == nullptr) return store(CARDFS_E_ARGUMENT);
    if (writer_open()) return store(CARDFS_E_WRITING);
    int16_t h = 0;
    if (int16_t st = find_free_record(&h); st != kOk) return st;
    // The free record lends its scan and buffer; it is not claimed.
    FileInfo *r = record_of(h);
    int16_t st = find_by_descr(descr, &r->scan);
    if (st == kOk) st = load_map(r->scan.device);
    if (st == kOk) st = delete_entry(r);
    return store(st);
}

extern "C" CARDFS_API int16_t FD_GetNameOfFile(FileDescr *descr, char *name, DirScan *scan) {
    if (descr == nullptr || name == nullptr || scan == nullptr) return store(CARDFS_E_ARGUMENT);
    int16_t st = find_by_descr(descr, scan);
    if (st != kOk) return store(st);
    const char *source = scan->entry->name;
    int i = 0;
    for (; i < 8 && source[i] != '\0'; i++) name[i] = source[i];
    for (; i < 8; i++) name[i] = '\0';
    FS_CloseDir(scan);
    return store(kOk);
}
