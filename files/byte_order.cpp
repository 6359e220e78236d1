// Byte-order hooks. Media keep integers least significant byte first; each
// hook composes the value from its bytes in that order, so on the
// little-endian hosts the library runs on each is an identity, applied at
// every point where a value crosses between memory and medium. The entry
// words of directory blocks go through the internal form of EncDecINT,
// which files_internal.h keeps as the no-op it amounts to.
#include <string.h>

#include "files/files_internal.h"

namespace cardfs {
namespace {

uint16_t enc_dec_int(uint16_t value) { return uint16_t((value >> 8) * 256 + (value & 0xFF)); }

}  // namespace
}  // namespace cardfs

extern "C" CARDFS_API uint16_t EncDecINT(uint16_t value) { return cardfs::enc_dec_int(value); }

extern "C" CARDFS_API uint32_t EncDecDWORD(uint32_t value) {
    uint8_t b[4];
    memcpy(b, &value, 4);
    return ((uint32_t(b[3]) * 256 + b[2]) * 256 + b[1]) * 256 + b[0];
}

extern "C" CARDFS_API uint16_t DecodeFileBuffer(uint16_t *word) {
    if (word == nullptr) return 0;
    *word = EncDecINT(*word);
    return *word;
}

extern "C" CARDFS_API uint16_t EncodeFileBuffer(uint16_t *word) { return DecodeFileBuffer(word); }
