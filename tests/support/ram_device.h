// RAM-backed devices for tests and benchmarks. A rewritable device (diskette-like) replaces a block
// on each write; a NOR-flash device only clears bits when it programs (a write that would set one is
// refused with kFlashSetBit) and sets a sector to 0xFF when it erases. Calls are counted; a request
// outside the medium is refused with -103 and counted in `outside`.
// armFault: call n of an operation from now fails with a status, or succeeds having written nothing
// (Fault::Lost) or having read flipped bits (Fault::Flipped). cutPowerAfter(n): the write or erase
// after n more is cut, and every call fails with kPowerOff until restorePower(). A cut operation is
// not applied; a torn one is applied to a prefix, and on flash with tornBits one more byte gets part
// of its change (without tornBits an erase stops at a block boundary). Prefix and bits follow from
// cutId (n) alone, so a failing cut replays from its number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cardfs.h"

namespace ramdev {

constexpr int16_t kFlashSetBit = -77;  // write would set a cleared bit
constexpr int16_t kPowerOff = -78;     // power was cut

enum class Op { Read = 0, Write, ReadBytes, Erase, Init, Prepare, Count };
enum class Fault { Fails, Lost, Flipped };

struct Counters {
    uint64_t calls[static_cast<int>(Op::Count)] = {};
    uint64_t of(Op op) const { return calls[static_cast<int>(op)]; }
};

struct RamDevice {
    DeviceDescriptor desc{};  // first, so the callbacks find the device from the descriptor pointer
    FlashGeometry flash{};
    std::vector<uint8_t> data;
    bool isFlash = false;
    DeviceDescriptor geometry{};  // what InitDevice and PrepareMedium put into desc; tests may change it
    int16_t initStatus = -1;      // what InitDevice returns
    Counters count;
    std::vector<uint32_t> sectorErases;  // flash: erases of each sector
    int outside = 0;
    Op faultOp = Op::Read;
    Fault faultKind = Fault::Fails;
    uint64_t faultAt = 0, faultSeen = 0;  // faultAt 0: disarmed
    int16_t faultStatus = -100;
    int32_t struck = -1;       // block the armed fault struck, once it has
    int64_t powerBudget = -1;  // writes and erases left; -1: unlimited
    uint64_t cutId = 0;
    bool tornWrites = false, tornBits = true, powerOff = false;
    // Flash: refuse a write that would set a cleared bit. Only the benchmark's rows of library work
    // alone switch it off, for writes it knows to be valid.
    bool checkPrograms = true;

    void armFault(Op op, uint64_t nth, int16_t status = -100, Fault kind = Fault::Fails);
    void cutPowerAfter(int64_t n, bool torn = false);
    void restorePower() { powerBudget = -1, powerOff = false; }
    void resetCounters() { count = Counters(), sectorErases.assign(sectorErases.size(), 0); }
    uint8_t *block(int b) { return data.data() + static_cast<size_t>(b) * blockSizeBytes(); }
    size_t blockSizeBytes() const { return static_cast<size_t>(geometry.blockSize); }
    DeviceDescriptor *dev() { return &desc; }
};

RamDevice *makeDiskette(int16_t totalBlocks = 2880, int32_t deviceType = 0);  // 512-byte blocks, 2 directory blocks
// Card image: 512-byte blocks, 2048 blocks, 16 directory blocks, 16 sectors of 64 KiB, 2 of them system.
RamDevice *makeFlashCard(int32_t deviceType = 17);
// 4 MiB cartridge: 1024-byte blocks, 4096 blocks, 8 directory blocks, 64 sectors of 64 KiB, 2 system.
RamDevice *makeFlashCartridge4M(int32_t deviceType = 17);
// Any flash geometry; flash devices start erased.
RamDevice *makeFlash(int16_t blockSize, int16_t totalBlocks, int16_t dirBlocks, int16_t firstDataBlock,
                     int32_t sectorSize, int16_t sectorCount, int16_t systemSectors, int32_t deviceType = 17);
void destroy(RamDevice *device);

}  // namespace ramdev
