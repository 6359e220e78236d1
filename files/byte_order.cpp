// Byte-order hooks. Media keep integers least significant byte first; each
// hook composes the value from its bytes in that order, so on the
// little-endian hosts the library runs on each is an identity, applied at
// every point where a value crosses between memory and medium.
#include <string.h>

#include "files/files_internal.h"

namespace cardfs {
namespace {

uint16_t enc_dec_int(uint16_t value) { return uint16_t((value >> 8) * 256 + (value & 0xFF)); }

// Converts the four words of every 16-byte entry (offsets 0, 2, 12, 14).
void convert_entries(uint8_t *block, int32_t blockSize) {
    for (int32_t e = 0; e + layout::kEntrySize <= blockSize; e += layout::kEntrySize) {
        for (int w : layout::kEntryWords) {
            uint16_t v;
            memcpy(&v, block + e + w, 2);
            v = enc_dec_int(v);
            memcpy(block + e + w, &v, 2);
        }
    }
}

}  // namespace

void dir_block_to_host(uint8_t *block, int32_t blockSize) { convert_entries(block, blockSize); }
void dir_block_to_medium(uint8_t *block, int32_t blockSize) { convert_entries(block, blockSize); }

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
