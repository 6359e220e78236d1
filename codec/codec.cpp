// The field codec: a field is a length byte and that many data bytes (0 =
// absent), a record ends where the record-end byte stands in place of a
// length byte. Integers are little-endian through the byte-order hooks;
// coordinates have their 16-bit halves swapped.
#include <stdlib.h>
#include <string.h>

#include "codec/codec.h"
#include "codec/record_reader.h"

namespace cardfs {

static const uint8_t kAbsent[1] = {0};

int16_t read_field(const FieldReader &in, uint8_t *buffer, int16_t capacity) {
    buffer[0] = 0;
    int16_t length = read_byte(in.handle);
    if (length == kEnd || length == in.recordEnd || length == 0) return length;
    int16_t n = length < capacity ? length : capacity;
    // A data byte that cannot be read leaves its failure pending in the
    // status variable, where the caller's check of the field finds it.
    (void)FS_ReadFile(in.handle, buffer, n);
    buffer[n] = 0;
    for (int16_t i = n; i < length; i++) (void)read_byte(in.handle);
    return n;
}

int16_t field_to_int(const uint8_t *b) { return int16_t(b[0] | (b[1] << 8)); }

uint32_t field_to_dword(const uint8_t *b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

bool read_swapped_dword(int16_t handle, uint32_t *value) {
    uint32_t b[4];
    for (uint32_t &byte : b) {
        int16_t c = read_byte(handle);
        if (c == kEnd) return false;
        byte = uint32_t(c);
    }
    *value = b[1] << 24 | b[0] << 16 | b[3] << 8 | b[2];
    return true;
}

int16_t skip_to_record_end(const FieldReader &in) {
    int16_t b = read_byte(in.handle);
    while (b != kEnd) {
        if (b == in.recordEnd) return b;
        for (int16_t i = 0; i < b; i++) (void)read_byte(in.handle);
        b = read_byte(in.handle);
    }
    return kEnd;
}

int16_t field_through_file(FieldReader in, Field *f, uint8_t *buffer) {
    const int16_t r = read_field(in, buffer, kFieldCapacity);
    const int16_t st = check_field(in, r);
    f->data = buffer;
    f->length = st == 0 ? r : 0;
    return st;
}

int16_t check_field(const FieldReader &in, int16_t r) {
    int16_t pending = take_pending_status();
    if (pending != kOk) return pending;
    if (r == kEnd) return CARDFS_E_EOF;
    if (r == in.recordEnd) return kRecordComplete;
    return 0;
}

int16_t read_number(const FieldReader &in, int16_t width, uint32_t *value, bool *present) {
    uint8_t field[43];
    if (present != nullptr) *present = false;
    int16_t r = read_field(in, field, 42);
    int16_t st = check_field(in, r);
    if (st != 0 || r == 0) return st;
    if (r != width) return kFieldLength;
    *value = width == 1 ? field[0] : width == 2 ? uint16_t(field_to_int(field)) : field_to_dword(field);
    if (present != nullptr) *present = true;
    return 0;
}

int16_t read_text(const FieldReader &in, char *member, int32_t size) {
    uint8_t field[43];
    int16_t r = read_field(in, field, 42);
    int16_t st = check_field(in, r);
    if (st == 0) store_text(field, r, member, size);
    return st;
}

// One run instead of a call per byte: the same bytes, and on a failure the
// same bytes before it, as FS_Putc one by one.
int16_t put_bytes(int16_t handle, const uint8_t *bytes, int32_t count) {
    return count > 0 ? FS_WriteFileEx(handle, bytes, uint32_t(count)) : kOk;
}

int16_t put_byte_field(int16_t handle, uint16_t value) {
    if (value == 0xFFFF) return put_bytes(handle, kAbsent, 1);
    const uint8_t field[2] = {1, uint8_t(value)};
    return put_bytes(handle, field, 2);
}

int16_t put_int_field(int16_t handle, uint16_t value) {
    if (value == 0xFFFF) return put_bytes(handle, kAbsent, 1);
    uint16_t v = enc_dec_int(value);
    const uint8_t field[3] = {2, uint8_t(v), uint8_t(v >> 8)};
    return put_bytes(handle, field, 3);
}

int16_t put_dword_field(int16_t handle, uint32_t value) {
    if (value == 0xFFFFFFFF) return put_bytes(handle, kAbsent, 1);
    uint32_t v = enc_dec_dword(value);
    const uint8_t field[5] = {4, uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    return put_bytes(handle, field, 5);
}

int16_t put_swapped_dword_pair(int16_t handle, uint32_t first, uint32_t second) {
    uint8_t bytes[8];
    const uint32_t values[2] = {first, second};
    for (int i = 0; i < 2; i++) {
        uint32_t v = values[i];
        bytes[4 * i] = uint8_t(v >> 16), bytes[4 * i + 1] = uint8_t(v >> 24);
        bytes[4 * i + 2] = uint8_t(v), bytes[4 * i + 3] = uint8_t(v >> 8);
    }
    return put_bytes(handle, bytes, 8);
}

int16_t put_text_field(int16_t handle, const char *text, size_t size) {
    size_t length = strnlen(text, size);
    int16_t st = FS_Putc(int16_t(length & 0xFF), handle);
    if (st != kOk || length == 0) return st;
    return FS_WriteFileEx(handle, text, uint32_t(length));
}

}  // namespace cardfs
