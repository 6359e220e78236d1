// The chips of a cartridge or a card at flash level: the codes they answer,
// the geometry each chip set gives, and filling a descriptor from them.
// The cartridge and the flash-level card share it; each keeps its own
// flash records, which carry its own byte-read and erase operations.
#pragma once

#include "drivers/objects.h"

namespace cardfs {
namespace drivers {

enum ChipKind : uint8_t { kChipNone = 0, kChipFlash = 1, kChipPerom = 2 };

struct ChipGeometry {
    uint16_t code;  // PEROM: manufacturer x 256 + device; flash: unused
    int16_t blockSize, totalBlocks, dirBlocks, firstDataBlock;
};
// Page-programmed chips, by the code they answer.
constexpr ChipGeometry kPeromChips[] = {
    {0x1F5B, 512, 1024, 4, 5},    // 512 KiB
    {0x1FA4, 256, 2048, 8, 9},    // 512 KiB
    {0x1FD5, 128, 1024, 16, 17},  // 128 KiB
    {0x1FDA, 256, 1024, 16, 17},  // 256 KiB
};
// Sector-erased chip sets of 1, 2, 3 and 4 MiB: 64 KiB sectors, the first
// two holding the system area.
struct FlashConfiguration {
    ChipGeometry geometry;
    int16_t sectorCount, systemAreaBlocks;
};
constexpr int kFlashConfigurations = 4;
constexpr int32_t kSectorSize = 65536;
constexpr int16_t kSystemSectors = 2;
constexpr FlashConfiguration kFlashChips[kFlashConfigurations] = {
    {{0, 512, 2048, 16, 256}, 16, 17},
    {{0, 1024, 2048, 8, 128}, 32, 9},
    {{0, 1024, 3072, 8, 128}, 48, 9},
    {{0, 1024, 4096, 8, 128}, 64, 9},
};
constexpr uint16_t kFlashLow = 0x89A6;   // a 1 MiB flash chip
constexpr uint16_t kFlashHigh = 0x89AA;  // a 2 MiB flash chip

using BlockWriter = int16_t (*)(DeviceDescriptor *, int16_t, void *);
using ByteReader = int16_t (*)(DeviceDescriptor *, uint32_t, int16_t, void *);
using SectorEraser = int16_t (*)(DeviceDescriptor *, int16_t);

// A driver's own record for flash configuration i.
constexpr FlashGeometry flash_record(int i, ByteReader read, SectorEraser erase) {
    return FlashGeometry{kSectorSize, kFlashChips[i].sectorCount, kSystemSectors, kFlashChips[i].systemAreaBlocks,
                         read, erase};
}

struct ChipMatch {
    ChipKind kind;
    int row;  // into kPeromChips or kFlashChips
};

// Identifies the chips through `codes`, which answers perom() and
// flash(address) with manufacturer x 256 + device. A PEROM code is asked
// first; then the flash chip at 0 and, for a second chip, at 1 or 2 MiB.
template <class Codes>
ChipMatch identify_chips(Codes &codes) {
    const uint16_t perom = codes.perom();
    for (int i = 0; i < int(sizeof kPeromChips / sizeof kPeromChips[0]); i++)
        if (kPeromChips[i].code == perom) return {kChipPerom, i};
    const uint16_t first = codes.flash(0);
    if (first == kFlashLow) return {kChipFlash, codes.flash(0x100000) == kFlashLow ? 1 : 0};
    if (first == kFlashHigh) {
        const uint16_t second = codes.flash(0x200000);
        return {kChipFlash, second == kFlashLow ? 2 : second == kFlashHigh ? 3 : 1};
    }
    return {kChipNone, 0};
}

// Codes as the USB programmer and the media reader give them: two bytes.
template <class Object>
struct ByteCodes {
    Object *object;
    uint16_t perom() {
        uint8_t manufacturer = 0, device = 0;
        object->GetID_PEROM(&manufacturer, &device);
        return uint16_t(manufacturer << 8 | device);
    }
    uint16_t flash(uint32_t address) {
        uint8_t manufacturer = 0, device = 0;
        object->GetID_Flash(address, &manufacturer, &device);
        return uint16_t(manufacturer << 8 | device);
    }
};

// Describes the device by the chips found: geometry, writer and flash
// record, and the chip kind of its slot. Chips of no known kind: -18, and
// nothing is changed.
int16_t describe(DeviceDescriptor *d, ChipMatch match, BlockWriter peromWriter, BlockWriter flashWriter,
                 FlashGeometry *flashRecords, uint8_t *chipKind);

// The status of a sector erase: 0 succeeded, anything else is reported by
// its low 16 bits.
inline int16_t erase_status(int32_t result) { return result == 0 ? kOk : int16_t(uint16_t(uint32_t(result))); }

// Erases every sector of a flash medium in order; the first failure ends it.
inline int16_t erase_all(DeviceDescriptor *d, SectorEraser erase) {
    for (int16_t s = 0; s < d->flashGeometry->sectorCount; s++) {
        const int16_t st = erase(d, s);
        if (st != kOk) return st;
    }
    return kOk;
}

// Byte address of a block; block numbers are 0 to 32767.
inline uint32_t block_address(const DeviceDescriptor *d, int16_t block) {
    return uint32_t(uint16_t(block)) * uint32_t(uint16_t(d->blockSize));
}

}  // namespace drivers
}  // namespace cardfs
