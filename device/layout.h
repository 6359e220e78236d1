// The on-medium layout in one place: the volume header, directory entries,
// the allocation map and the link word of file blocks, with the byte order
// every multi-byte integer on a medium has (least significant byte first).
//
//   block H                  volume header = directory entry 0
//   blocks H .. H+dirBlocks-1   the directory, 16-byte entries
//   block H+dirBlocks        the allocation map
//   firstDataBlock ..        file blocks, each opening with a link word
//
// On flash media H moves: every directory update writes a complete new copy
// of directory and map (systemAreaBlocks blocks, a "slot") into the system
// sectors, and the valid copy is the first whose header carries the
// signature.
#pragma once

#include <stdint.h>

namespace cardfs {
namespace layout {

// Every block buffer holds this many bytes; blockSize never exceeds it.
constexpr int kBlockBuffer = 1024;
constexpr int kMaxSectors = 64;

// ---- volume header (bytes of block H) ----
constexpr int kSignature = 1;          // "DOS" at bytes 1..3: all that mounting checks
constexpr int kSignatureLength = 3;
constexpr char kFormatSignature[] = "DDOS";  // byte 0 is written 'D' and never checked
constexpr int kLabel = 4;              // 8 bytes, space padded
constexpr int kTotalBlocks = 12;       // 16-bit
constexpr int kVersion = 14;           // mounting refuses a version above kHighestVersion
constexpr int kSizeCode = 15;          // medium bytes >> kSizeCodeShift, low 8 bits
constexpr uint8_t kHighestVersion = 1;
constexpr int kSizeCodeShift = 14;     // units of 16 KiB

// ---- directory entry (16 bytes) ----
constexpr int kEntrySize = 16;
constexpr int kMaxEntriesPerBlock = kBlockBuffer / kEntrySize;
constexpr int kEntryExtension = 0;     // 0: free entry
constexpr int kEntryFirstBlock = 2;
constexpr int kEntryName = 4;          // 8 bytes, space padded
constexpr int kEntryBlockCount = 12;
constexpr int kEntryReserved = 14;
constexpr int kEntryWords[4] = {kEntryExtension, kEntryFirstBlock, kEntryBlockCount, kEntryReserved};
constexpr uint16_t kOpenForWriting = 0x8000;  // extension bit of an entry being written

// ---- link word: the first 2 bytes of every file block ----
constexpr int kLinkSize = 2;
constexpr uint16_t kLastBlock = 0x8000;  // set: last block, low bits = bytes in use (link word included)
constexpr uint16_t kLinkValue = 0x7FFF;  // next block, or bytes in use of a last block

// ---- allocation map ----
// Rewritable media: one bit per block, block n = bit n % 8 of byte n / 8, 1 in use.
constexpr int kBlocksPerBitByte = 8;
// Flash media: two bits per block, block n = bits 2(n % 4)..2(n % 4)+1 of byte n / 4.
constexpr int kBlocksPerPairByte = 4;
enum Pair : uint8_t {
    kFree = 0,      // erased, may be written
    kReleased = 2,  // holds stale data until its sector is reclaimed
    kUsed = 3,
};
constexpr uint8_t kReleasedBits = 0xAA;  // the high bit of every pair: no pair of the byte is free

// ---- flash probes ----
constexpr int kBlankProbe = 2;  // a block whose first 2 bytes read 0xFF 0xFF is taken as erased
constexpr uint8_t kErased = 0xFF;

// Device classes as FS_GetDeviceType reports them, from deviceType.
enum class DeviceClass : int16_t { Other = 0, Cartridge = 1, Diskette = 2, Unused = 3 };

// ---- byte order ----
inline uint16_t get16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
inline void put16(uint8_t *p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
// The 3 signature bytes "DOS", and a header block that carries them.
inline bool is_signature(const uint8_t *p) { return p[0] == 'D' && p[1] == 'O' && p[2] == 'S'; }
inline bool has_signature(const uint8_t *block) { return is_signature(block + kSignature); }

}  // namespace layout
}  // namespace cardfs
