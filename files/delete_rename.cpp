// Deleting and renaming files by name.
#include <string.h>

#include "files/files_internal.h"

namespace cardfs {

// Releases the chain by following link words until the last block. The
// walk stays inside the data area and follows at most as many blocks as
// the medium has, so a damaged chain cannot free the system area or loop.
int16_t delete_entry(FileInfo *r) {
    DeviceDescriptor *d = r->scan.device;
    DirEntry *e = scan_entry(&r->scan);
    e->extension = 0;
    int16_t block = int16_t(e->firstBlock);
    for (int32_t steps = 0; block >= 0 && data_block(d, block) && steps < d->totalBlocks; steps++) {
        release_block(d, block);
        int16_t st = dev_read(d, block, r->buffer);
        if (st != kOk) return st;
        uint16_t *link = reinterpret_cast<uint16_t *>(r->buffer);
        block = int16_t(encode_file_buffer(link));
    }
    return write_back_entry(&r->scan, WriteOrder::EntryFirst);
}

}  // namespace cardfs

using namespace cardfs;

namespace {

int16_t delete_by_name(FileInfo *r, const char *name) {
    ParsedName parsed;
    int16_t st = parse_file_name(name, &parsed);
    if (st != kOk) return st;
    r->device = parsed.device;
    if ((st = find_entry(parsed.device, parsed.name, parsed.extension, &r->scan)) != kOk) return st;
    if ((st = load_map(parsed.device)) != kOk) return st;
    return delete_entry(r);
}

// Fails with -5 when the new name exists on its device.
int16_t check_new_name(FileInfo *r, const ParsedName &to) {
    r->device = to.device;
    int16_t st = find_entry(to.device, to.name, to.extension, &r->scan);
    if (st == kOk) return CARDFS_E_EXISTS;
    return st == CARDFS_E_NOT_FOUND ? kOk : st;
}

int16_t rename_entry(FileInfo *r, const char *oldName, const ParsedName &to) {
    ParsedName from;
    int16_t st = parse_file_name(oldName, &from);
    if (st != kOk) return st;
    if (from.device != to.device) return CARDFS_E_CROSS_DEVICE;
    r->device = from.device;
    if ((st = find_entry(from.device, from.name, from.extension, &r->scan)) != kOk) return st;
    DirEntry *e = scan_entry(&r->scan);
    memcpy(e->name, to.name, 8);
    e->extension = to.extension;
    if ((st = load_map(from.device)) != kOk) return st;
    return write_back_entry(&r->scan, WriteOrder::EntryFirst);
}

}  // namespace

extern "C" CARDFS_API int16_t FS_Delete(const char *name) {
    if (writer_open()) return store(CARDFS_E_WRITING);
    int16_t h = 0;
    if (int16_t st = find_free_record(&h); st != kOk) return st;
    int16_t st = delete_by_name(record_of(h), name);
    release_record(h);
    return store(st);
}

extern "C" CARDFS_API int16_t FS_Rename(const char *oldName, const char *newName) {
    if (writer_open()) return store(CARDFS_E_WRITING);
    int16_t h = 0;
    if (int16_t st = find_free_record(&h); st != kOk) return st;
    ParsedName to;
    int16_t st = parse_file_name(newName, &to);
    if (st == kOk && to.extension == 0) st = CARDFS_E_ARGUMENT;
    if (st == kOk) st = check_new_name(record_of(h), to);
    release_record(h);
    if (st != kOk) return store(st);
    store(kOk);
    if ((st = find_free_record(&h)) != kOk) return st;
    st = rename_entry(record_of(h), oldName, to);
    release_record(h);
    return store(st);
}
