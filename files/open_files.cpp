// The two open-file records, handles, and loading of file blocks with the
// chain check.
#include <string.h>

#include "files/files_internal.h"

namespace cardfs {

void reset_open_files() {
    for (FileInfo &r : g_files.records) {
        r.device = nullptr;
        r.bufferBlock = 0;
        r.position = r.limit = r.blocksDone = 0;
    }
    g_files.writers = 0;
    g_files.writer = -1;
    for (int32_t &n : g_files.checked) n = 0;
}

int16_t find_free_record(int16_t *handle) {
    for (int16_t h = 0; h < kRecords; h++) {
        if (g_files.records[h].device == nullptr) {
            g_files.checked[h] = 0;
            *handle = h;
            return kOk;
        }
    }
    return store(CARDFS_E_NO_RECORD);
}

void release_record(int16_t handle) {
    FileInfo *r = record_of(handle);
    CARDFS_ASSERT(r != nullptr);
    if (r == nullptr) return;
    r->device = nullptr;
    FS_CloseDir(&r->scan);
}

FileInfo *record_of(int16_t handle) {
    return (handle >= 0 && handle < kRecords) ? &g_files.records[handle] : nullptr;
}

uint16_t link_word(const FileInfo *r) {
    uint16_t link;
    memcpy(&link, r->buffer, layout::kLinkSize);
    return link;
}

void set_link_word(FileInfo *r, uint16_t link) { memcpy(r->buffer, &link, layout::kLinkSize); }

// Loads a file block. A last block must claim between 2 and blockSize
// bytes in use; anything else is a damaged block (-10).
int16_t load_block(FileInfo *r, uint16_t block) {
    if (int16_t(block) < 0) return CARDFS_E_EOF;
    DeviceDescriptor *d = r->device;
    int16_t st = dev_read(d, block, r->buffer);
    if (st != kOk) return st;
    uint16_t link = link_word(r);
    link = encode_file_buffer(&link);
    set_link_word(r, link);
    return finish_block(r, link);
}

int16_t finish_block(FileInfo *r, uint16_t link) {
    r->position = layout::kLinkSize;
    if (!(link & kLastBlock)) {
        r->limit = r->device->blockSize;
        return kOk;
    }
    int16_t used = int16_t(link & layout::kLinkValue);
    if (used < layout::kLinkSize || used > r->device->blockSize) {
        r->limit = layout::kLinkSize;
        return CARDFS_E_VERIFY;
    }
    r->limit = used;
    return kOk;
}

int16_t load_first_block(FileInfo *r) { return load_block(r, scan_entry(&r->scan)->firstBlock & layout::kLinkValue); }

static int16_t walk_chain(FileInfo *r) {
    int32_t expected = scan_entry(&r->scan)->blockCount;
    int16_t st = load_first_block(r);
    for (int32_t counted = 1; st == kOk; counted++) {
        uint16_t link = link_word(r);
        if (link & kLastBlock) {
            if (counted != expected) return CARDFS_E_VERIFY;
            checked_blocks(r) = counted;
            return load_first_block(r);
        }
        if (expected < counted) return CARDFS_E_VERIFY;
        st = load_block(r, link);
    }
    return st;
}

// A chain broken on flash media may be one whose sector a power cut caught
// in the middle of a reclamation: its blocks are restored from the spare
// and the chain is checked once more. Restoring loads the map, so it waits
// while a file is being written; the chain is checked again all the same.
int16_t check_chain(FileInfo *r) {
    int16_t st = walk_chain(r);
    if (st != CARDFS_E_VERIFY || !is_flash(r->device)) return st;
    if (!writer_open() && restore_interrupted_reclaim(r->device) != kOk) return st;
    return walk_chain(r);
}

}  // namespace cardfs
