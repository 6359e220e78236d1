// Opening files for reading and reading them sequentially, byte by byte or
// in runs. A run copies whole stretches of the current block at once; what
// the caller sees is exactly what reading byte by byte gives.
#include <string.h>

#include "files/file_window.h"

namespace cardfs {
namespace {

// Bytes that can be taken from the buffer without a block change, or 0
// when the next byte needs FS_Getc (block end, end of file, odd state).
int32_t run_available(const FileInfo *r) {
    if (r->device == nullptr || r->position < 0 || r->limit > kBufferSize || r->position >= r->limit) return 0;
    return r->limit - r->position;
}

// Advances to the block named by the link word.
int16_t advance(FileInfo *r) {
    r->blocksDone++;
    uint16_t link = link_word(r);
    // A chain that runs on longer than the medium has blocks loops.
    if (!(link & kLastBlock) && r->blocksDone > r->device->totalBlocks) return CARDFS_E_VERIFY;
    return load_block(r, link);
}

// Whether the block after the current one is followed by another in the
// chain checked at open, so that it can be read without the record's buffer.
bool next_is_inner(const FileInfo *r) {
    return int32_t{r->blocksDone} + 2 < checked_blocks(r) && !(link_word(r) & kLastBlock);
}

// advance() for a block whose data the caller's buffer takes whole at `to`:
// the block is read to `to` - 2, its link word over the two bytes delivered
// last, which are put back. The record keeps its buffer and takes only the
// link word, so the next change follows the chain; a block that turns out
// to be the last is copied into the buffer and ends like advance().
int16_t advance_into(FileInfo *r, uint8_t *to) {
    r->blocksDone++;
    const uint16_t block = link_word(r);
    if (r->blocksDone > r->device->totalBlocks) return CARDFS_E_VERIFY;
    uint8_t *at = to - layout::kLinkSize;
    uint8_t kept[layout::kLinkSize];
    memcpy(kept, at, sizeof kept);
    const int16_t st = dev_read(r->device, block, at);
    uint16_t link;
    memcpy(&link, at, sizeof link);
    memcpy(at, kept, sizeof kept);
    if (st != kOk) return st;
    link = encode_file_buffer(&link);
    set_link_word(r, link);
    if (!(link & kLastBlock)) return kOk;
    memcpy(r->buffer + layout::kLinkSize, to, size_t(r->device->blockSize - layout::kLinkSize));
    return finish_block(r, link);
}

// FS_Getc beyond its common case: refusals, odd states and block changes.
CARDFS_OUT_OF_LINE int16_t getc_slow(int16_t handle) {
    FileInfo *r = record_of(handle);
    if (r == nullptr || handle == g_files.writer) {
        store(CARDFS_E_NOT_OPEN);
        return -1;
    }
    if (r->device == nullptr) return -1;
    if (r->position < 0 || r->limit > kBufferSize || r->position > r->limit) {
        store(CARDFS_E_VERIFY);
        return -1;
    }
    if (r->position == r->limit) {
        int16_t st = advance(r);
        if (st != kOk) {
            store(st);
            return -1;
        }
    }
    return r->buffer[r->position++];
}

}  // namespace
}  // namespace cardfs

using namespace cardfs;

extern "C" CARDFS_API int16_t FS_OpenR(const char *name) {
    int16_t h = 0;
    if (int16_t st = find_free_record(&h); st != kOk) return st;
    FileInfo *r = record_of(h);
    r->blocksDone = 0;
    ParsedName parsed;
    int16_t st = parse_file_name(name, &parsed);
    if (st != kOk) return store(st);
    r->device = parsed.device;
    st = find_entry(parsed.device, parsed.name, parsed.extension, &r->scan);
    if (st == kOk) st = check_chain(r);
    if (st != kOk) {
        release_record(h);
        return store(st);
    }
    store(kOk);
    return h;
}

extern "C" CARDFS_API CARDFS_PER_BYTE int16_t FS_Getc(int16_t handle) {
    if (FileInfo *r = ready_reader(handle)) return r->buffer[r->position++];
    return getc_slow(handle);
}

extern "C" CARDFS_API int16_t FS_ReadFileEx(int16_t handle, void *buffer, uint32_t count) {
    if (count == 0) return store(kOk);
    if (buffer == nullptr) return store(CARDFS_E_ARGUMENT);
    uint8_t *out = static_cast<uint8_t *>(buffer);
    FileInfo *r = record_of(handle);
    bool readable = r != nullptr && handle != g_files.writer;
    // Blocks read straight into out leave the record's buffer behind; the
    // flag says the last block read was one, for a run that stops at an error.
    bool bypassed = false;
    while (count > 0) {
        int32_t run = readable ? run_available(r) : 0;
        if (run == 0 && readable && r->device != nullptr && r->position == r->limit && r->limit <= kBufferSize) {
            const uint32_t data = uint32_t(r->device->blockSize - layout::kLinkSize);
            const bool direct = r->limit == r->device->blockSize && out - static_cast<uint8_t *>(buffer) >= layout::kLinkSize &&
                                count > data && next_is_inner(r);
            int16_t st = direct ? advance_into(r, out) : advance(r);  // what FS_Getc does at a block end
            if (st != kOk) {
                // A block change that failed before loading a block leaves the
                // record at the end of the last one, which it must then hold.
                if (bypassed && r->position == r->device->blockSize) memcpy(r->buffer + layout::kLinkSize, out - data, data);
                return store(st);
            }
            bypassed = direct && r->position == r->limit;
            if (bypassed) out += data, count -= data;
            continue;
        }
        if (run == 0) {
            int16_t c = FS_Getc(handle);
            if (c == -1) return int16_t(g_frame.status);
            *out++ = uint8_t(c);
            count--;
            continue;
        }
        uint32_t n = uint32_t(run) < count ? uint32_t(run) : count;
        memcpy(out, r->buffer + r->position, n);
        r->position = int16_t(r->position + int32_t(n));
        out += n;
        count -= n;
    }
    return store(kOk);
}

extern "C" CARDFS_API int16_t FS_ReadFile(int16_t handle, void *buffer, int16_t count) {
    if (count <= 0) return store(kOk);
    return FS_ReadFileEx(handle, buffer, uint32_t(count));
}

extern "C" CARDFS_API int16_t FS_CloseR(int16_t handle) {
    if (record_of(handle) == nullptr) return store(CARDFS_E_NOT_OPEN);
    if (handle == g_files.writer) return store(CARDFS_E_WRITING);
    release_record(handle);
    return kOk;
}

extern "C" CARDFS_API FileInfo *FS_FileInfo(int16_t handle) { return record_of(handle); }
