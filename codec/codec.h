// Internal interface of the field codec: the field and record encoding
// every structured file is built from. A field is a length byte and that
// many data bytes (0 = absent value); a record ends where its record-end
// byte stands in place of a length byte. The record end is the reader's
// argument: it depends on the file (the transfer head's format byte, or
// 0xFF for raw headers), which this layer does not know. Writers always end
// records with 0xFF.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "cardfs.h"
#include "files/file_window.h"

namespace cardfs {

// A file read field by field, and the byte that ends its records.
struct FieldReader {
    int16_t handle;
    int16_t recordEnd;
};

// The readers take a failure the byte layer left pending (a short read, a
// device error) from the status variable after every field, and they take
// it through GetErrno, which resets the variable to -1: a host that reads
// on after a loader's failure starts clean. That reset is part of the
// loaders' interface; this is the one place that does it.
inline int16_t take_pending_status() { return int16_t(GetErrno()); }

constexpr uint8_t kRecordEndWritten = 0xFF;  // every record this library writes ends so
constexpr int16_t kEnd = -1;           // a byte that could not be read (0xFFFF)
constexpr int16_t kFieldLength = CARDFS_R_FIELD_LENGTH;
constexpr int16_t kNoRecord = CARDFS_R_NO_RECORD;
constexpr int16_t kNullPosition = CARDFS_R_NULL_POSITION;

// ---- reading ----
// Reads one field into buffer (capacity + 1 bytes). Returns the number of
// bytes stored (at most capacity, followed by a NUL), 0 for an absent value,
// recordEnd when the record ended, or -1 when the length byte could not be
// read. Data reads are not checked: their failure stays pending.
[[nodiscard]] int16_t read_field(const FieldReader &in, uint8_t *buffer, int16_t capacity);
int16_t field_to_int(const uint8_t *buffer);
uint32_t field_to_dword(const uint8_t *buffer);
// Four bytes, halves swapped (bits 16-23, 24-31, 0-7, 8-15). false when a
// byte could not be read; *value is then unchanged.
[[nodiscard]] bool read_swapped_dword(int16_t handle, uint32_t *value);
// Steps over length-prefixed items up to and including the record-end
// byte; returns that byte, or -1 when the data ran out first.
[[nodiscard]] int16_t skip_to_record_end(const FieldReader &in);
inline bool is_null_position(uint32_t a, uint32_t b) {
    return (a == 0x7FFFFFFF && b == 0x7FFFFFFF) || (a == 0x7FFF && b == 0x7FFF);
}

// The field-reading protocol: one step per field. check_field returns 0
// when the caller should decode r bytes (r is then 0 for an absent value
// or the field's length), or the result the loader must return: a pending
// status, -57 for an unreadable length byte, or kRecordComplete when the
// record ended.
constexpr int16_t kRecordComplete = 0x7FFF;
[[nodiscard]] int16_t check_field(const FieldReader &in, int16_t r);
// Reads a numeric field of the given width (1, 2 or 4) into *value;
// absent leaves it. Returns 0 to go on, or the loader's result as above
// (kFieldLength for a wrong width). *present, when given, tells whether a
// value was stored.
[[nodiscard]] int16_t read_number(const FieldReader &in, int16_t width, uint32_t *value, bool *present = nullptr);
// Reads a text field into member (size bytes, NUL-terminated); absent or
// with control characters leaves it. Returns 0 or the loader's result.
[[nodiscard]] int16_t read_text(const FieldReader &in, char *member, int32_t size);

// Eight bytes at a time: a byte below 0x20 borrows into its bit 7 when 0x20
// is taken from it (bytes from 0x80 up are excluded by their own bit 7),
// and 0x7F is the byte that 0x7F turns into zero. A borrow that spills into
// the next byte comes from a control character, so the answer is exact.
inline bool has_control_word(const uint8_t *text) {
    constexpr uint64_t kBytes = 0x0101010101010101u, kHigh = 0x8080808080808080u;
    uint64_t v;
    memcpy(&v, text, 8);
    const uint64_t del = v ^ (0x7F * kBytes);
    return (((v - 0x20 * kBytes) | (del - kBytes)) & ~v & kHigh) != 0;
}

// Whether a text holds a byte below 0x20 or 0x7F. A text of 8 bytes or
// more ends with the 8 bytes before its end, which may overlap the last
// whole word.
inline bool has_control_char(const uint8_t *text, int32_t length) {
    if (length < 8) {
        for (int32_t i = 0; i < length; i++)
            if (text[i] < 0x20 || text[i] == 0x7F) return true;
        return false;
    }
    for (int32_t i = 0; i + 8 <= length; i += 8)
        if (has_control_word(text + i)) return true;
    return has_control_word(text + length - 8);
}

// Exactly n bytes, in words where there are eight or more (the last word
// may overlap the one before it).
inline void copy_text(char *to, const uint8_t *from, int32_t n) {
    if (n < 8) {
        for (int32_t i = 0; i < n; i++) to[i] = char(from[i]);
        return;
    }
    for (int32_t i = 0; i + 8 <= n; i += 8) memcpy(to + i, from + i, 8);
    memcpy(to + n - 8, from + n - 8, 8);
}

// Stores a text read by read_field into member (size bytes) under the text
// rule: an absent text or one with a control character leaves the member;
// any other is stored, cut to size - 1 bytes, and NUL-terminated.
inline void store_text(const uint8_t *field, int16_t length, char *member, int32_t size) {
    if (length <= 0 || has_control_char(field, length)) return;
    const int32_t n = length < size - 1 ? length : size - 1;
    copy_text(member, field, n);
    member[n] = '\0';
}

// Reads one numeric field of the member's own width; an absent value
// leaves the member as it is. Returns 0 or the loader's result.
template <typename T>
int16_t read_member(const FieldReader &in, T *member) {
    uint32_t value = uint32_t(*member);
    int16_t st = read_number(in, int16_t(sizeof(T)), &value);
    if (st == 0) *member = static_cast<T>(value);
    return st;
}

// ---- writing; each returns -1 or the first failing write status ----
[[nodiscard]] int16_t put_bytes(int16_t handle, const uint8_t *bytes, int32_t count);
[[nodiscard]] int16_t put_byte_field(int16_t handle, uint16_t value);
[[nodiscard]] int16_t put_int_field(int16_t handle, uint16_t value);
[[nodiscard]] int16_t put_dword_field(int16_t handle, uint32_t value);
[[nodiscard]] int16_t put_swapped_dword_pair(int16_t handle, uint32_t first, uint32_t second);
// A text member of size bytes: its length byte, then its characters up to
// the terminator or the member's end.
[[nodiscard]] int16_t put_text_field(int16_t handle, const char *text, size_t size);

// Writes the fields of a record one after another; after the first failing
// write nothing more is written and status keeps that failure.
class FieldWriter {
public:
    explicit FieldWriter(int16_t handle) : handle_(handle) {}
    // Signed byte members go sign-extended: -1 is written as absent.
    FieldWriter &byte(int8_t v) { return step(status == kOk ? put_byte_field(handle_, uint16_t(int16_t(v))) : status); }
    FieldWriter &raw_byte(uint16_t v) { return step(status == kOk ? put_byte_field(handle_, v) : status); }
    FieldWriter &word(uint16_t v) { return step(status == kOk ? put_int_field(handle_, v) : status); }
    FieldWriter &dword(uint32_t v) { return step(status == kOk ? put_dword_field(handle_, v) : status); }
    FieldWriter &pair(uint32_t a, uint32_t b) { return step(status == kOk ? put_swapped_dword_pair(handle_, a, b) : status); }
    FieldWriter &text(const char *t, size_t size) { return step(status == kOk ? put_text_field(handle_, t, size) : status); }
    FieldWriter &words(const uint16_t *w, int count) {
        for (int i = 0; i < count; i++) word(w[i]);
        return *this;
    }
    FieldWriter &bytes(const uint8_t *b, int32_t n) { return step(status == kOk ? put_bytes(handle_, b, n) : status); }
    FieldWriter &end() { return bytes(&kRecordEndWritten, 1); }
    int16_t status = kOk;

private:
    FieldWriter &step(int16_t st) {
        status = st;
        return *this;
    }
    int16_t handle_;
};


}  // namespace cardfs
