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

extern "C" CARDFS_API int16_t FS_Getc(int16_t handle) {
    if (FileInfo *r = ready_reader(handle)) return r->buffer[r->position++];
    return getc_slow(handle);
}

extern "C" CARDFS_API int16_t FS_ReadFileEx(int16_t handle, void *buffer, uint32_t count) {
    if (count == 0) return store(kOk);
    if (buffer == nullptr) return store(CARDFS_E_ARGUMENT);
    uint8_t *out = static_cast<uint8_t *>(buffer);
    FileInfo *r = record_of(handle);
    bool readable = r != nullptr && handle != g_files.writer;
    while (count > 0) {
        int32_t run = readable ? run_available(r) : 0;
        if (run == 0 && readable && r->device != nullptr && r->position == r->limit && r->limit <= kBufferSize) {
            int16_t st = advance(r);  // what FS_Getc does at a block end
            if (st != kOk) return store(st);
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
