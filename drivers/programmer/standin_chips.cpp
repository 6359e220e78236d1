// Chip sets and their image files: what a cartridge, or a card used at
// flash level, answers to identification, reads, programming and erasing.
//
// PEROM chips (one per set) take any data. A flash configuration is one or
// two NOR chips, each answering its code at every address it covers:
//   1 MiB: 0x89A6 (1 MiB chip) at 0; nothing at 0x100000
//   2 MiB: 0x89A6 at 0 and 0x89A6 at 0x100000 (two 1 MiB chips)
//   3 MiB: 0x89AA (2 MiB chip) at 0, 0x89A6 at 0x200000
//   4 MiB: 0x89AA at 0 and 0x89AA at 0x200000
// NOR programming only clears bits: a block that would set one is refused
// whole and nothing changes. An erase sets the 64 KiB sector holding the
// address to 0xFF.
#include <string.h>

#include <vector>

#include "cardfs_volume.h"
#include "standin.h"

namespace kvs {
namespace {

constexpr uint32_t kMiB = 0x100000;

struct FlashChip {
    uint32_t base, size;
    uint16_t code;
};
const FlashChip kFlashChips[4][2] = {
    {{0, kMiB, 0x89A6}, {0, 0, kNoCode}},
    {{0, kMiB, 0x89A6}, {kMiB, kMiB, 0x89A6}},
    {{0, 2 * kMiB, 0x89AA}, {2 * kMiB, kMiB, 0x89A6}},
    {{0, 2 * kMiB, 0x89AA}, {2 * kMiB, 2 * kMiB, 0x89AA}},
};

bool inChips(const ChipSet &set, uint32_t address, uint32_t count) {
    return address <= set.capacity && count <= set.capacity - address;
}

// The first step of every operation that changes a chip set: counts it
// towards a power cut and lets an injected fault hit it. Returns false with
// `result` set when the operation goes no further.
bool mayChange(Power &power, uint32_t count, int fault, int32_t failed, int32_t &result) {
    power = drawPower(count);
    result = failed;
    if (power.kind == Power::Off) return false;
    if (power.kind == Power::On && faultHits(fault)) {
        if (fault == KVS_FAULT_ERASE) result = eraseFaultResult();
        return false;
    }
    return true;
}

int32_t program(ChipSet *set, bool nor, uint32_t address, const void *data, uint32_t count) {
    ++counters().programs;
    Power power;
    int32_t result;
    if (!mayChange(power, count, KVS_FAULT_PROGRAM, kProgramFailed, result)) return result;
    if (!set || isPerom(set->chip) == nor || !inChips(*set, address, count) || (count && !data))
        return kProgramFailed;
    const uint8_t *next = static_cast<const uint8_t *>(data);
    std::vector<uint8_t> old(count);
    if (readAt(set->fd, address, old.data(), count) != count) return kProgramFailed;
    if (nor)
        for (uint32_t i = 0; i < count; ++i)
            if ((old[i] & next[i]) != next[i]) return kProgramFailed;
    if (power.kind == Power::Cut) {
        landTorn(set->fd, address, old.data(), next, power);
        return kProgramFailed;
    }
    return writeAt(set->fd, address, next, count) ? 0 : kProgramFailed;
}

}  // namespace

void landTorn(int fd, uint32_t offset, const uint8_t *old, const uint8_t *next, const Power &power) {
    if (!power.torn) return;
    std::vector<uint8_t> landed(next, next + power.prefix + 1);
    landed[power.prefix] = power.tear(old[power.prefix], next[power.prefix]);
    writeAt(fd, offset, landed.data(), power.prefix + 1);
}

bool isPerom(uint16_t chip) { return chip > KVS_FLASH_4M; }

int16_t openChipSet(ChipSet &set, const char *imagePath, uint16_t chip) {
    const int32_t capacity = KVS_ChipCapacity(chip);
    if (!imagePath || capacity <= 0) return CARDFS_E_ARGUMENT;
    const int fd = openHostFile(imagePath, HostAccess::ReadWrite, true);
    if (fd < 0) return CARDFS_E_IO;
    const int64_t size = hostFileSize(fd);
    if (size < 0) {
        closeHostFile(fd);
        return CARDFS_E_IO;
    }
    if (size == 0) {  // a new chip set comes erased
        const std::vector<uint8_t> erased(kSectorSize, 0xFF);
        for (uint32_t at = 0; at < uint32_t(capacity); at += kSectorSize)
            if (!writeAt(fd, at, erased.data(), kSectorSize)) {
                closeHostFile(fd);
                return CARDFS_E_IO;
            }
    } else if (size != capacity) {
        closeHostFile(fd);
        return CARDFS_E_ARGUMENT;
    }
    closeChipSet(set);
    set.fd = fd;
    set.chip = chip;
    set.capacity = uint32_t(capacity);
    return kDone;
}

void closeChipSet(ChipSet &set) {
    if (set.fd >= 0) closeHostFile(set.fd);
    set = ChipSet();
}

ChipSet *selectedCartridge() {
    State &s = state();
    if (s.cartridgeSlot < 0 || s.cartridgeSlot >= kCartridgeSlots) return nullptr;
    ChipSet &set = s.cartridge[s.cartridgeSlot];
    return set.present() ? &set : nullptr;
}

ChipSet *selectedReaderCard() {
    State &s = state();
    if (s.readerSlot < 0 || s.readerSlot >= kReaderSlots) return nullptr;
    ChipSet &set = s.reader[s.readerSlot].chips;
    return set.present() ? &set : nullptr;
}

uint16_t peromCode(const ChipSet *set) {
    if (!set || !isPerom(set->chip) || faultHolds(KVS_FAULT_UNKNOWN_CHIP)) return kNoCode;
    return set->chip;
}

uint16_t flashCode(const ChipSet *set, uint32_t address) {
    if (!set || isPerom(set->chip) || faultHolds(KVS_FAULT_UNKNOWN_CHIP)) return kNoCode;
    for (const FlashChip &c : kFlashChips[set->chip - KVS_FLASH_1M])
        if (address >= c.base && address - c.base < c.size) return c.code;
    return kNoCode;
}

void readChips(const ChipSet *set, uint32_t address, void *buffer, uint32_t count) {
    ++counters().reads;
    if (!buffer) return;
    memset(buffer, 0xFF, count);
    if (!set || address >= set->capacity) return;
    const uint32_t n = count < set->capacity - address ? count : set->capacity - address;
    readAt(set->fd, address, buffer, n);
}

int32_t programPerom(ChipSet *set, uint32_t address, const void *data, uint32_t count) {
    return program(set, false, address, data, count);
}

int32_t programFlash(ChipSet *set, uint32_t address, const void *data, uint32_t count) {
    return program(set, true, address, data, count);
}

int32_t eraseSector(ChipSet *set, uint32_t address) {
    ++counters().erases;
    Power power;
    int32_t result;
    if (!mayChange(power, kSectorSize, KVS_FAULT_ERASE, kEraseFailed, result)) return result;
    if (!set || isPerom(set->chip) || address >= set->capacity) return kEraseFailed;
    const uint32_t start = address & ~(kSectorSize - 1);
    const std::vector<uint8_t> erased(kSectorSize, 0xFF);
    if (power.kind == Power::Cut) {
        std::vector<uint8_t> old(kSectorSize);
        if (readAt(set->fd, start, old.data(), kSectorSize) == kSectorSize)
            landTorn(set->fd, start, old.data(), erased.data(), power);
        return kEraseFailed;
    }
    return writeAt(set->fd, start, erased.data(), kSectorSize) ? 0 : kEraseFailed;
}

}  // namespace kvs

using namespace kvs;

extern "C" {

KVS_API int32_t KVS_ChipCapacity(uint16_t chip) {
    switch (chip) {
    case KVS_PEROM_1F5B:
    case KVS_PEROM_1FA4: return 512 * 1024;
    case KVS_PEROM_1FD5: return 128 * 1024;
    case KVS_PEROM_1FDA: return 256 * 1024;
    case KVS_FLASH_1M:
    case KVS_FLASH_2M:
    case KVS_FLASH_3M:
    case KVS_FLASH_4M: return int32_t(chip * kMiB);
    default: return 0;
    }
}

KVS_API int16_t KVS_InsertCartridge(int16_t slot, const char *imagePath, uint16_t chip) {
    if (slot < 0 || slot >= kCartridgeSlots) return CARDFS_E_ARGUMENT;
    try {
        return openChipSet(state().cartridge[slot], imagePath, chip);
    } catch (...) {
        return CARDFS_E_IO;
    }
}

KVS_API int16_t KVS_RemoveCartridge(int16_t slot) {
    if (slot < 0 || slot >= kCartridgeSlots) return CARDFS_E_ARGUMENT;
    closeChipSet(state().cartridge[slot]);
    return kDone;
}

}  // extern "C"
