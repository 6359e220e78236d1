// Raw files: a four-field header record, then bytes passed through as they
// are.
#include "codec/codec.h"

using namespace cardfs;

extern "C" CARDFS_API RawHeader *FS_InitRawHeader(RawHeader *header) {
    if (header == nullptr) return nullptr;
    header->rawKind = -1;
    header->rawValue = 0xFFFFFFFF;
    header->rawParam = 1;
    return header;
}

extern "C" CARDFS_API int16_t FS_RawWriteHeader(int16_t handle, RawHeader *header) {
    if (header == nullptr) return CARDFS_E_ARGUMENT;
    int16_t st = put_int_field(handle, 6);
    if (st == kOk) st = put_int_field(handle, header->rawKind == 1 ? header->rawParam : 1);
    if (st == kOk) st = put_int_field(handle, uint16_t(header->rawKind));
    if (st == kOk) st = put_dword_field(handle, header->rawValue);
    if (st == kOk) st = put_bytes(handle, &kRecordEndWritten, 1);
    return st;
}

namespace {

// A raw file has no transfer head, and its header is always closed by
// 0xFF: it is read with that record end whatever transfer ran before.
int16_t read_header(int16_t handle, RawHeader *header) {
    const FieldReader in = {handle, kRecordEndWritten};
    for (int field = 0; field < 4; field++) {
        uint8_t value[6];
        int16_t r = read_field(in, value, 5);
        int16_t pending = take_pending_status();
        if (pending != kOk) return pending;
        if (r == kEnd) return CARDFS_E_EOF;
        if (r == 0) continue;
        // A record-end byte in place of a field is a wrong length too.
        if (r != (field == 3 ? 4 : 2)) return kFieldLength;
        if (field == 1) header->rawParam = uint16_t(field_to_int(value));
        if (field == 2) header->rawKind = field_to_int(value);
        if (field == 3) header->rawValue = field_to_dword(value);
    }
    return skip_to_record_end(in) == kEnd ? kNoRecord : kOk;
}

}  // namespace

extern "C" CARDFS_API int16_t FS_RawReadHeader(int16_t handle, RawHeader *header) {
    if (header == nullptr) return CARDFS_E_ARGUMENT;
    return read_header(handle, header);
}

extern "C" CARDFS_API int16_t FS_RawWrite(int16_t handle, const void *buffer, uint32_t count) {
    if (buffer == nullptr) return CARDFS_E_ARGUMENT;
    return FS_WriteFileEx(handle, buffer, count);
}

extern "C" CARDFS_API int16_t FS_RawRead(int16_t handle, void *buffer, uint32_t count) {
    if (buffer == nullptr) return CARDFS_E_ARGUMENT;
    return FS_ReadFileEx(handle, buffer, count);
}
