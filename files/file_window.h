// What the layers above the files may see of a file open for reading: its
// next byte without a call while the byte is in the current block, and the
// unread bytes of that block, which the field codec parses in place.
#pragma once

#include "files/files_internal.h"

namespace cardfs {

// The record of a file open for reading whose next byte lies in its
// buffer, or null: FS_Getc's common case, which reads that byte and
// changes nothing else.
inline FileInfo *ready_reader(int16_t handle) {
    if (uint16_t(handle) >= kRecords || handle == g_files.writer) return nullptr;
    FileInfo &r = g_files.records[handle];
    // Compared unsigned, a negative position or limit is out of range too.
    const bool ready = uint16_t(r.position) < uint16_t(r.limit) && uint16_t(r.limit) <= kBufferSize && r.device != nullptr;
    return ready ? &r : nullptr;
}

// FS_Getc without the call while the next byte is in the record's buffer.
inline int16_t read_byte(int16_t handle) {
    if (FileInfo *r = ready_reader(handle)) return r->buffer[r->position++];
    return FS_Getc(handle);
}

// The unread bytes of the current block; data is null for a handle that
// names no file open for reading (or a record in an odd state).
struct ReadWindow {
    const uint8_t *data;
    int32_t size;
};
inline ReadWindow read_window(int16_t handle) {
    if (uint16_t(handle) >= kRecords || handle == g_files.writer) return {nullptr, 0};
    const FileInfo &r = g_files.records[handle];
    // Compared unsigned, a negative position or limit is out of range too.
    if (r.device == nullptr || uint16_t(r.position) > uint16_t(r.limit) || uint16_t(r.limit) > kBufferSize) return {nullptr, 0};
    return {r.buffer + r.position, r.limit - r.position};
}

// Marks the first n bytes of the handle's window as read.
inline void consume(int16_t handle, int32_t n) {
    FileInfo &r = g_files.records[handle];
    CARDFS_ASSERT(n >= 0 && r.position + n <= r.limit);
    r.position = int16_t(r.position + n);
}

}  // namespace cardfs
