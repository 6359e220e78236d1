// The byte-order hooks as the library applies them itself. Media and data
// files keep integers least significant byte first, and each hook composes
// a value from its bytes in that order: EncDecINT's (v >> 8) * 256 +
// (v & 0xFF) is v for every 16-bit v, and EncDecDWORD returns its argument
// on the little-endian hosts the library runs on. The exported hooks
// (byte_order.cpp) are these functions; inside the library they are
// inline, so a conversion that changes nothing costs nothing.
#pragma once

#include <stdint.h>
#include <string.h>

namespace cardfs {

inline uint16_t enc_dec_int(uint16_t value) { return uint16_t((value >> 8) * 256 + (value & 0xFF)); }

inline uint32_t enc_dec_dword(uint32_t value) {
    uint8_t b[4];
    memcpy(b, &value, 4);
    return ((uint32_t(b[3]) * 256 + b[2]) * 256 + b[1]) * 256 + b[0];
}

// The link word of a file block buffer: EncodeFileBuffer right after a
// block is read, DecodeFileBuffer before one is written (and Encode again
// after the write). Both replace the word by EncDecINT of it.
inline uint16_t encode_file_buffer(uint16_t *word) { return *word = enc_dec_int(*word); }
inline uint16_t decode_file_buffer(uint16_t *word) { return *word = enc_dec_int(*word); }

// The four words of every directory entry go through the internal
// EncDecINT when a directory block is read and around its write. As that
// changes no word, converting a block changes no byte: the conversion
// points stay where the format puts them and do nothing.
inline void dir_block_to_host(uint8_t *, int32_t) {}
inline void dir_block_to_medium(uint8_t *, int32_t) {}

}  // namespace cardfs
