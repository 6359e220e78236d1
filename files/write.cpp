// Creating files and writing them sequentially. A full block is written
// when the first byte for the next one arrives; the last block, the
// directory entry and the map are written by FS_CloseW, which keeps the
// file only when the last status was success.
#include <string.h>

#include "files/files_internal.h"

namespace cardfs {
namespace {

// The record of the file open for writing, if handle names it.
FileInfo *writer_record(int16_t handle) {
    if (g_files.writers == 0 || handle != g_files.writer) return nullptr;
    FileInfo *r = record_of(handle);
    return (r != nullptr && r->device != nullptr) ? r : nullptr;
}

// Claims a free entry in the record's scan for the new file.
int16_t claim_entry(FileInfo *r, const ParsedName &name) {
    int16_t st = FS_OpenDir(r->device, &r->scan);
    if (st != kOk) return st;
    if (find_free_entry(&r->scan) != kOk) return CARDFS_E_DIR_FULL;
    memcpy(r->scan.entry->name, name.name, 8);
    r->scan.entry->extension = uint16_t(name.extension | kOpenForWriting);
    return kOk;
}

// Links a new block behind the full buffer and writes the buffer out.
int16_t next_block(FileInfo *r) {
    DeviceDescriptor *d = r->device;
    CARDFS_ASSERT(r->position == d->blockSize);
    int32_t block = 0;
    if (int16_t st = allocate_block(d, &block); st != kOk) return st;
    set_link_word(r, uint16_t(block));
    uint16_t *link = reinterpret_cast<uint16_t *>(r->buffer);
    decode_file_buffer(link);
    int16_t st = dev_write(d, r->bufferBlock, r->buffer);
    if (st != kOk) {
        release_block(d, block);
        return st;
    }
    encode_file_buffer(link);
    scan_entry(&r->scan)->blockCount++;
    r->blocksDone++;
    r->bufferBlock = uint16_t(block);
    r->position = layout::kLinkSize;
    return kOk;
}

// Writes the last block: link word 0x8000 + bytes in use, rest zero.
int16_t write_last_block(FileInfo *r) {
    DeviceDescriptor *d = r->device;
    set_link_word(r, uint16_t(kLastBlock + r->position));
    memset(r->buffer + r->position, 0, size_t(d->blockSize - r->position));
    uint16_t *link = reinterpret_cast<uint16_t *>(r->buffer);
    decode_file_buffer(link);
    int16_t st = dev_write(d, r->bufferBlock, r->buffer);
    encode_file_buffer(link);
    return st;
}

void discard(FileInfo *r) {
    DirEntry *e = scan_entry(&r->scan);
    e->extension = 0;
    // A chain that cannot be followed to its end keeps the rest of its
    // blocks in use: they leak, and no file is hurt.
    (void)release_chain(r->device, e->firstBlock, e->blockCount);
    release_block(r->device, r->bufferBlock);
}

bool position_sane(const FileInfo *r) { return r->position >= layout::kLinkSize && r->position <= r->device->blockSize; }

int16_t open_for_writing(int16_t h, const char *name) {
    FileInfo *r = record_of(h);
    ParsedName parsed;
    int16_t st = parse_file_name(name, &parsed);
    if (st != kOk) return st;
    if (parsed.extension == 0) return CARDFS_E_ARGUMENT;
    r->device = parsed.device;
    st = find_entry(parsed.device, parsed.name, parsed.extension, &r->scan);
    if (st == kOk) return CARDFS_E_EXISTS;
    if (st != CARDFS_E_NOT_FOUND) return st;
    store(kOk);
    if ((st = claim_entry(r, parsed)) != kOk) return st;
    if ((st = load_map(r->device)) != kOk) return st;
    int32_t block = 0;
    if ((st = allocate_block(r->device, &block)) != kOk) return st;
    DirEntry *e = r->scan.entry;
    e->firstBlock = uint16_t(block);
    e->blockCount = 1;
    r->bufferBlock = uint16_t(block);
    r->position = layout::kLinkSize;
    r->blocksDone = 0;
    return kOk;
}

// FS_Putc beyond its common case: refusals, odd states and block changes.
CARDFS_OUT_OF_LINE int16_t putc_slow(int16_t c, int16_t handle) {
    const uint8_t byte = uint8_t(c);
    return FS_WriteFileEx(handle, &byte, 1);
}

}  // namespace
}  // namespace cardfs

using namespace cardfs;

extern "C" CARDFS_API int16_t FS_OpenW(const char *name) {
    if (writer_open()) return store(CARDFS_E_WRITING);
    int16_t h = 0;
    if (int16_t st = find_free_record(&h); st != kOk) return st;
    int16_t st = open_for_writing(h, name);
    if (st != kOk) {
        release_record(h);
        return store(st);
    }
    g_files.writers++;
    g_files.writer = h;
    return h;
}

extern "C" CARDFS_API int16_t FS_WriteFileEx(int16_t handle, const void *buffer, uint32_t count) {
    if (count == 0) return store(kOk);
    FileInfo *r = writer_record(handle);
    if (r == nullptr) return store(CARDFS_E_NOT_OPEN);
    if (buffer == nullptr) return store(CARDFS_E_ARGUMENT);
    if (!position_sane(r)) return store(CARDFS_E_VERIFY);
    const uint8_t *in = static_cast<const uint8_t *>(buffer);
    int32_t blockSize = r->device->blockSize;
    while (count > 0) {
        if (r->position >= blockSize) {
            int16_t st = next_block(r);
            if (st != kOk) return store(st);
        }
        uint32_t room = uint32_t(blockSize - r->position);
        uint32_t n = room < count ? room : count;
        memcpy(r->buffer + r->position, in, n);
        r->position = int16_t(r->position + int32_t(n));
        in += n;
        count -= n;
    }
    return store(kOk);
}

// The common case stores the byte at once: the file open for writing, with
// room left in its block.
extern "C" CARDFS_API CARDFS_PER_BYTE int16_t FS_Putc(int16_t c, int16_t handle) {
    // The writer is -1 while no file is open for writing: no handle that
    // passes the range check matches it.
    if (uint16_t(handle) < kRecords && handle == g_files.writer) {
        FileInfo &r = g_files.records[handle];
        if (r.device != nullptr && r.position >= layout::kLinkSize && r.position < r.device->blockSize) {
            r.buffer[r.position++] = uint8_t(c);
            return store(kOk);
        }
    }
    return putc_slow(c, handle);
}

extern "C" CARDFS_API int16_t FS_Puts(const char *text, int16_t handle) {
    if (text == nullptr) return store(CARDFS_E_ARGUMENT);
    return FS_WriteFileEx(handle, text, uint32_t(strlen(text)));
}

extern "C" CARDFS_API int16_t FS_WriteFile(int16_t handle, const void *buffer, int16_t count) {
    if (count <= 0) return store(kOk);
    return FS_WriteFileEx(handle, buffer, uint32_t(count));
}

extern "C" CARDFS_API int16_t FS_CloseW(int16_t handle) {
    if (g_files.writers == 0) {
        g_files.writers = 0;
        return store(kOk);
    }
    FileInfo *r = writer_record(handle);
    if (r == nullptr) return store(CARDFS_E_NOT_OPEN);
    CARDFS_ASSERT(g_files.writers == 1 && record_of(g_files.writer) == r);
    // Kept only after a successful last call and a last block on the
    // medium: a file whose last block could not be written is discarded
    // like one whose append failed, and the close reports the failure.
    int16_t result = kOk;
    bool keep = !status_pending() && position_sane(r);
    if (keep) {
        scan_entry(&r->scan)->extension &= uint16_t(~kOpenForWriting);
        result = write_last_block(r);
        keep = result == kOk;
    }
    if (!keep) discard(r);
    int16_t st = write_back_entry(&r->scan, WriteOrder::MapFirst);
    if (st != kOk) result = st;
    g_files.writers--;
    g_files.writer = -1;
    release_record(handle);
    if (result != kOk) store(result);
    return result;
}
