// The exported byte-order hooks; byte_order.h has their computation, which
// the library applies inline at every point where a value crosses between
// memory and medium.
#include "files/files_internal.h"

using namespace cardfs;

extern "C" CARDFS_API uint16_t EncDecINT(uint16_t value) { return enc_dec_int(value); }

extern "C" CARDFS_API uint32_t EncDecDWORD(uint32_t value) { return enc_dec_dword(value); }

extern "C" CARDFS_API uint16_t DecodeFileBuffer(uint16_t *word) { return word != nullptr ? decode_file_buffer(word) : 0; }

extern "C" CARDFS_API uint16_t EncodeFileBuffer(uint16_t *word) { return word != nullptr ? encode_file_buffer(word) : 0; }
