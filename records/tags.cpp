// Tag streams: each value carries a tag number that selects its kind, range
// and scale from a fixed table; the stream ends with the tag FF FF.
#include <string.h>

#include "codec/codec.h"

namespace cardfs {
namespace {

enum Kind : uint8_t { kLong = 1, kWord = 2, kByte = 3, kFloat = 4, kSigned = 0x80 };

TagInfo tag_row(uint16_t n) {
    if (n == 25) return {kWord, 0, 65535, 1};
    if (n == 29 || n == 36) return {kWord, 0, 1000, 1};
    if (n == 28) return {kFloat, 0, 1000, 10};
    if (n == 30) return {kFloat, 0, 100, 10};
    if (n == 32) return {kFloat, 0, 500, 10};
    if (n == 26 || n == 27 || n == 31) return {kByte, 0, 255, 1};
    if (n == 0 || (n >= 33 && n <= 35)) return {kByte, 0, 100, 1};
    return {kByte, 0, 1, 1};  // 1 to 24 and 37
}

bool in_range(const TagInfo &t, uint32_t value) {
    if (t.tagType == kFloat)
        return double(t.tagMin) / t.tagScale <= double(value) / t.tagScale &&
               double(value) / t.tagScale <= double(t.tagMax) / t.tagScale;
    if (t.tagType & kSigned)
        return int32_t(t.tagMin) <= int32_t(value) && int32_t(value) <= int32_t(t.tagMax);
    return t.tagMin <= value && value <= t.tagMax;
}

// Checks a tag against the saving function's kind and writes it: the
// number low byte first, then size value bytes (little-endian).
int16_t save_tag(int16_t handle, const TagRecord *tag, uint8_t kind, uint32_t value, int32_t size) {
    if (tag == nullptr || tag->tagNumber >= CARDFS_TAG_COUNT) return CARDFS_E_ARGUMENT;
    TagInfo t = tag_row(tag->tagNumber);
    bool kindOk = kind == kFloat ? t.tagType == kFloat : (t.tagType & ~kSigned) == kind;
    if (!kindOk || !FS_CheckTagRange(tag->tagNumber, value)) return CARDFS_E_RANGE;
    uint16_t number = enc_dec_int(tag->tagNumber);
    const uint8_t bytes[6] = {uint8_t(number), uint8_t(number >> 8), uint8_t(value),
                              uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    return put_bytes(handle, bytes, 2 + size);
}

int32_t value_size(uint8_t type) {
    switch (type) {
    case kLong: case kLong | kSigned: case kFloat: return 4;
    case kWord: case kWord | kSigned: return 2;
    case kByte: case kByte | kSigned: return 1;
    default: return 0;
    }
}

}  // namespace
}  // namespace cardfs

using namespace cardfs;

extern "C" CARDFS_API TagRecord *FS_InitTag(TagRecord *tag) {
    if (tag != nullptr) tag->tagNumber = 0, tag->tagValue = 0;
    return tag;
}

extern "C" CARDFS_API int16_t FS_GetTagInfo(uint16_t number, TagInfo *info) {
    if (info == nullptr || number >= CARDFS_TAG_COUNT) return CARDFS_E_ARGUMENT;
    *info = tag_row(number);
    return kOk;
}

extern "C" CARDFS_API uint8_t FS_CheckTagRange(uint16_t number, uint32_t value) {
    return number < CARDFS_TAG_COUNT && in_range(tag_row(number), value) ? 1 : 0;
}

extern "C" CARDFS_API int16_t FS_SaveByteTag(int16_t handle, TagRecord *tag) {
    return save_tag(handle, tag, kByte, tag ? tag->tagValue & 0xFF : 0, 1);
}

extern "C" CARDFS_API int16_t FS_SaveWordTag(int16_t handle, TagRecord *tag) {
    return save_tag(handle, tag, kWord, tag ? enc_dec_int(uint16_t(tag->tagValue)) : 0, 2);
}

extern "C" CARDFS_API int16_t FS_SaveLongTag(int16_t handle, TagRecord *tag) {
    return save_tag(handle, tag, kLong, tag ? enc_dec_dword(tag->tagValue) : 0, 4);
}

extern "C" CARDFS_API int16_t FS_SaveFloatTag(int16_t handle, TagRecord *tag) {
    return save_tag(handle, tag, kFloat, tag ? tag->tagValue : 0, 4);
}

extern "C" CARDFS_API int16_t FS_SaveEndTag(int16_t handle) {
    static const uint8_t kEndTag[2] = {0xFF, 0xFF};
    return put_bytes(handle, kEndTag, 2);
}

extern "C" CARDFS_API int16_t FS_ReadTag(int16_t handle, TagRecord *tag) {
    if (tag == nullptr) return CARDFS_E_ARGUMENT;
    // The number goes into the record as read, low byte first: a number cut
    // short by the end of the file keeps the byte that was there.
    int16_t st = FS_ReadFile(handle, &tag->tagNumber, 2);
    if (st != kOk) return st;
    if (tag->tagNumber == CARDFS_TAG_END) return CARDFS_R_NO_RECORD;
    if (tag->tagNumber >= CARDFS_TAG_COUNT) return CARDFS_E_RANGE;
    int32_t size = value_size(tag_row(tag->tagNumber).tagType);
    if (size == 0) return CARDFS_E_RANGE;
    uint8_t bytes[4];
    if ((st = FS_ReadFile(handle, bytes, int16_t(size))) != kOk) return st;
    for (int32_t i = 0; i < size; i++)
        tag->tagValue = (tag->tagValue & ~(uint32_t(0xFF) << (8 * i))) | uint32_t(bytes[i]) << (8 * i);
    return FS_CheckTagRange(tag->tagNumber, tag->tagValue) ? kOk : int16_t(CARDFS_E_RANGE);
}
