// Reading one record of a file open for reading, field by field, in place:
// while the record's bytes lie in the current block of the file, fields
// are taken from the block buffer directly; from the first item that does
// not lie there complete (or when a failure is pending at the start), every
// read goes through the byte layer exactly as the codec's field functions
// read (read_field, check_field, read_byte), and the bytes taken in place
// are marked read first. Each item is therefore read the same either way:
// what the caller sees (members, results, the status variable, the bytes
// consumed, the device operations) does not depend on where a record lies.
#pragma once

#include <string.h>

#include "codec/codec.h"

namespace cardfs {

// A field as read: length 0 for an absent value, else up to kFieldCapacity
// bytes at data.
constexpr int16_t kFieldCapacity = 42;
struct Field {
    const uint8_t *data;
    int16_t length;
};

// A field read through the byte layer, into buffer (kFieldCapacity + 1 bytes).
int16_t field_through_file(FieldReader in, Field *f, uint8_t *buffer);

// The reader keeps its place in registers when the loader's functions are
// inlined into one: nothing takes its address, and its slow paths get
// copies of what they need.
class RecordReader {
public:
    RecordReader(int16_t handle, int16_t recordEnd) : file_{handle, recordEnd} { resume(); }
    ~RecordReader() { leave(); }
    RecordReader(const RecordReader &) = delete;
    RecordReader &operator=(const RecordReader &) = delete;

    // One byte as read_byte gives it: -1 when it cannot be read.
    CARDFS_INLINE int16_t byte() {
        if (at_ != end_) return *take(1);
        leave();
        const int16_t b = read_byte(file_.handle);
        resume();
        return b;
    }

    // Four bytes with the 16-bit halves swapped, as read_swapped_dword.
    CARDFS_INLINE bool swapped_dword(uint32_t *value) {
        if (end_ - at_ >= 4) {
            const uint8_t *b = take(4);
            *value = uint32_t(b[1]) << 24 | uint32_t(b[0]) << 16 | uint32_t(b[3]) << 8 | b[2];
            return true;
        }
        leave();
        const bool read = read_swapped_dword(file_.handle, value);
        resume();
        return read;
    }

    // What check_field makes of a length byte r: 0 to go on, or the
    // loader's result. In place nothing can be pending, and r is a byte.
    CARDFS_INLINE int16_t check(int16_t r) {
        if (at_ == nullptr) return check_field(copy(), r);
        return r == file_.recordEnd ? kRecordComplete : 0;
    }

    // A pending failure, taken as take_pending_status takes it. In place
    // nothing can be pending: the status variable held -1 when the record
    // was begun, and nothing has been read through the byte layer since.
    CARDFS_INLINE int16_t pending() { return at_ != nullptr ? kOk : take_pending_status(); }

    // One field: 0 with *f set, or the loader's result (check_field's).
    // Read through the byte layer, its bytes go to buffer (kFieldCapacity +
    // 1 bytes); read in place, f->data points into the block, which the
    // next read may replace, unless `keep` copies them to buffer too.
    CARDFS_INLINE int16_t field(Field *f, uint8_t *buffer, bool keep = false) {
        if (at_ != end_) {
            const int16_t length = *at_;
            if (length == file_.recordEnd || length == 0 || end_ - at_ > length) {
                take(1);
                if (length == file_.recordEnd) return kRecordComplete;
                f->data = take(length);
                f->length = length < kFieldCapacity ? length : kFieldCapacity;
                if (keep) f->data = copied(f->data, f->length, buffer);
                return 0;
            }
        }
        leave();
        const int16_t st = field_through_file(file_, f, buffer);
        resume();
        return st;
    }

    // A numeric field of the member's own width; absent leaves the member.
    // 0 to go on, or the loader's result (kFieldLength for a wrong width).
    template <typename T>
    CARDFS_INLINE int16_t member(T *m) {
        // The common cases first: the field in place at its own width, or
        // absent (0 is not the record end here).
        if (end_ - at_ > int32_t(sizeof(T))) {
            const uint8_t length = *at_;
            if (length == sizeof(T)) {
                uint32_t v = at_[1];
                if (sizeof(T) >= 2) v |= uint32_t(at_[2]) << 8;
                if (sizeof(T) == 4) v |= uint32_t(at_[3]) << 16 | uint32_t(at_[4]) << 24;
                *m = static_cast<T>(v);
                at_ += 1 + sizeof(T);
                return 0;
            }
            if (length == 0 && file_.recordEnd != 0) return ++at_, 0;
        }
        uint8_t buffer[kFieldCapacity + 1];
        Field f;
        const int16_t st = field(&f, buffer);
        if (st != 0 || f.length == 0) return st;
        if (f.length != int16_t(sizeof(T))) return kFieldLength;
        uint32_t v = f.data[0];
        if (sizeof(T) >= 2) v |= uint32_t(f.data[1]) << 8;
        if (sizeof(T) == 4) v |= uint32_t(f.data[2]) << 16 | uint32_t(f.data[3]) << 24;
        *m = static_cast<T>(v);
        return 0;
    }

    // A text field into member (size bytes) under the text rule.
    CARDFS_INLINE int16_t text(char *m, int32_t size) {
        uint8_t buffer[kFieldCapacity + 1];
        Field f;
        const int16_t st = field(&f, buffer);
        if (st == 0) store_text(f.data, f.length, m, size);
        return st;
    }

    // As skip_to_record_end: the record-end byte, or -1 when the data ran
    // out first.
    CARDFS_INLINE int16_t skip_to_record_end() {
        while (at_ != end_) {
            const int16_t item = *at_;
            if (item == file_.recordEnd) return *take(1);
            if (end_ - at_ <= item) break;
            take(1 + item);
        }
        leave();
        return cardfs::skip_to_record_end(copy());
    }

private:
    // A field's bytes copied out of the block; a copy of fixed size where the
    // block has the bytes, which the compiler makes a few moves.
    CARDFS_INLINE const uint8_t *copied(const uint8_t *data, int16_t length, uint8_t *buffer) const {
        if (end_ - data >= kFieldCapacity) return static_cast<const uint8_t *>(memcpy(buffer, data, kFieldCapacity));
        return static_cast<const uint8_t *>(memcpy(buffer, data, size_t(length)));
    }
    CARDFS_INLINE const uint8_t *take(int32_t n) {
        const uint8_t *p = at_;
        at_ += n;
        return p;
    }
    // Back to the block, now the one the byte layer stands in, unless a
    // failure is pending (the byte layer's next check must find it).
    CARDFS_INLINE void resume() {
        if (status_pending()) return;
        const ReadWindow window = read_window(file_.handle);
        start_ = at_ = window.data, end_ = window.data + window.size;
    }
    // Through the byte layer; the bytes taken in place are marked read.
    // Outside the block at_ and end_ are both null, so every test for room
    // in the block fails.
    CARDFS_INLINE void leave() {
        if (at_ == nullptr) return;
        consume(file_.handle, int32_t(at_ - start_));
        start_ = at_ = end_ = nullptr;
    }
    FieldReader copy() const { return file_; }

    FieldReader file_;
    const uint8_t *start_ = nullptr, *at_ = nullptr, *end_ = nullptr;  // in place: the block from the record's start
};

}  // namespace cardfs
