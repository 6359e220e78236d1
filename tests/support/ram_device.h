// RAM-backed devices for tests and benchmarks.
//
// RamDevice embeds a DeviceDescriptor as its first member, so the library's
// callbacks find their device again from the descriptor pointer. Two kinds:
//  - rewritable (diskette-like): a block write simply replaces the block;
//  - NOR flash: programming may only clear bits; a write that would set one
//    is refused with kFlashSetBit and changes nothing; erasing a sector sets
//    it to 0xFF.
// Every operation is counted (totals and per block / per sector), and faults
// can be injected: the Nth call of an operation fails with a given status,
// or power is cut after N more writes and erases (every later operation
// then fails with kPowerOff until restorePower()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cardfs.h"

namespace ramdev {

constexpr int16_t kFlashSetBit = -77;  // write would set a cleared bit
constexpr int16_t kPowerOff = -78;     // power was cut

enum class Op { Read = 0, Write, ReadBytes, Erase, Init, Prepare, Count };

struct Counters {
    uint64_t calls[static_cast<int>(Op::Count)] = {};
    uint64_t bytesRead = 0;     // bytes moved out of the medium
    uint64_t bytesWritten = 0;  // bytes moved into the medium
    uint64_t of(Op op) const { return calls[static_cast<int>(op)]; }
};

struct RamDevice {
    DeviceDescriptor desc;  // must stay first
    FlashGeometry flash;
    std::vector<uint8_t> data;
    bool isFlash = false;

    // Geometry that InitDevice and PrepareMedium put into desc (a driver
    // fills the descriptor at run time). Tests may change it.
    DeviceDescriptor geometry;
    int16_t initStatus = -1;     // what InitDevice returns
    int16_t prepareStatus = -1;  // what PrepareMedium returns

    Counters count;
    std::vector<uint32_t> blockReads, blockWrites, sectorErases;

    // Fault injection: the call with number failAt (1-based, counted from
    // arming) of failOp returns failStatus; 0 disarms.
    Op failOp = Op::Read;
    uint64_t failAt = 0;
    uint64_t failSeen = 0;
    int16_t failStatus = -100;

    // Power cut: after powerBudget more writes+erases, power goes off; the
    // write that hits the budget is not applied (or, if tornWrites, only
    // its first half is). -1 = unlimited.
    int64_t powerBudget = -1;
    bool tornWrites = false;
    bool powerOff = false;

    void armFault(Op op, uint64_t nth, int16_t status);
    void cutPowerAfter(int64_t writes) { powerBudget = writes; powerOff = false; }
    void restorePower() { powerBudget = -1; powerOff = false; }
    void resetCounters();

    uint8_t *block(int b) { return data.data() + static_cast<size_t>(b) * geometry.blockSize; }
    size_t blockSizeBytes() const { return static_cast<size_t>(geometry.blockSize); }
    DeviceDescriptor *dev() { return &desc; }
};

// 512-byte blocks, 2 directory blocks, header 0, first data block 3.
RamDevice *makeDiskette(int16_t totalBlocks = 2880, int32_t deviceType = 0);
// Card-image geometry: 512-byte blocks, 2048 blocks, 16 directory blocks,
// first data block 256, 16 sectors of 64 KiB, 2 system sectors, 17-block
// system area. Starts erased.
RamDevice *makeFlashCard(int32_t deviceType = 17);
// 4 MiB cartridge geometry: 1024-byte blocks, 4096 blocks, 8 directory
// blocks, first data block 128, 64 sectors of 64 KiB, 9-block system area.
RamDevice *makeFlashCartridge4M(int32_t deviceType = 17);
// Any flash geometry (starts erased).
RamDevice *makeFlash(int16_t blockSize, int16_t totalBlocks, int16_t dirBlocks,
                     int16_t firstDataBlock, int32_t sectorSize, int16_t sectorCount,
                     int16_t systemSectors, int32_t deviceType = 17);
void destroy(RamDevice *device);

}  // namespace ramdev
