#include "ram_device.h"

#include <cstring>

namespace ramdev {
namespace {

RamDevice *self(DeviceDescriptor *d) { return reinterpret_cast<RamDevice *>(d); }

// Counts the call and decides whether it fails: an armed fault, or power
// that is off. Returns -1 when the operation may proceed.
int16_t gate(RamDevice *r, Op op) {
    r->count.calls[static_cast<int>(op)]++;
    if (r->powerOff) return kPowerOff;
    if (r->failAt != 0 && r->failOp == op && ++r->failSeen == r->failAt) {
        r->failAt = 0;
        return r->failStatus;
    }
    return -1;
}

// Spends one unit of the power budget on a write or erase. Returns false
// when power goes off with this operation (it is then not applied, or only
// torn).
bool spendPower(RamDevice *r) {
    if (r->powerBudget < 0) return true;
    if (r->powerBudget == 0) {
        r->powerOff = true;
        return false;
    }
    r->powerBudget--;
    return true;
}

bool blockInRange(RamDevice *r, int16_t block) {
    return block >= 0 && block < r->geometry.totalBlocks &&
           static_cast<size_t>(block + 1) * r->blockSizeBytes() <= r->data.size();
}

// Programs bytes the way NOR flash does: refused if any bit would go 0->1.
int16_t program(RamDevice *r, uint8_t *dst, const uint8_t *src, size_t n) {
    if (r->isFlash) {
        uint8_t setBits = 0;  // bits the write would raise from 0 to 1
        for (size_t i = 0; i < n; i++) setBits |= uint8_t(~dst[i] & src[i]);
        if (setBits != 0) return kFlashSetBit;
    }
    std::memcpy(dst, src, n);
    return -1;
}

int16_t opWrite(DeviceDescriptor *d, int16_t block, void *buffer) {
    RamDevice *r = self(d);
    int16_t st = gate(r, Op::Write);
    if (st != -1) return st;
    if (!blockInRange(r, block)) return -103;
    size_t n = r->blockSizeBytes();
    if (!spendPower(r)) {
        if (r->tornWrites) program(r, r->block(block), static_cast<uint8_t *>(buffer), n / 2);
        return kPowerOff;
    }
    st = program(r, r->block(block), static_cast<uint8_t *>(buffer), n);
    if (st != -1) return st;
    r->blockWrites[block]++;
    r->count.bytesWritten += n;
    return -1;
}

int16_t opRead(DeviceDescriptor *d, int16_t block, void *buffer) {
    RamDevice *r = self(d);
    int16_t st = gate(r, Op::Read);
    if (st != -1) return st;
    if (!blockInRange(r, block)) return -103;
    std::memcpy(buffer, r->block(block), r->blockSizeBytes());
    r->blockReads[block]++;
    r->count.bytesRead += r->blockSizeBytes();
    return -1;
}

int16_t opReadBytes(DeviceDescriptor *d, uint32_t address, int16_t count, void *buffer) {
    RamDevice *r = self(d);
    int16_t st = gate(r, Op::ReadBytes);
    if (st != -1) return st;
    if (count < 0 || static_cast<uint64_t>(address) + static_cast<uint64_t>(count) > r->data.size())
        return -103;
    std::memcpy(buffer, r->data.data() + address, static_cast<size_t>(count));
    r->count.bytesRead += static_cast<uint64_t>(count);
    return -1;
}

int16_t opErase(DeviceDescriptor *d, int16_t sector) {
    RamDevice *r = self(d);
    int16_t st = gate(r, Op::Erase);
    if (st != -1) return st;
    size_t size = static_cast<size_t>(r->flash.sectorSize);
    if (sector < 0 || sector >= r->flash.sectorCount || (sector + 1) * size > r->data.size())
        return -103;
    if (!spendPower(r)) {
        if (r->tornWrites) std::memset(r->data.data() + sector * size, 0xFF, size / 2);
        return kPowerOff;
    }
    std::memset(r->data.data() + sector * size, 0xFF, size);
    r->sectorErases[sector]++;
    r->count.bytesWritten += size;
    return -1;
}

void fillGeometry(RamDevice *r) {
    DeviceDescriptor &d = r->desc;
    d.blockSize = r->geometry.blockSize;
    d.totalBlocks = r->geometry.totalBlocks;
    d.headerBlock = r->geometry.headerBlock;
    d.dirBlocks = r->geometry.dirBlocks;
    d.firstDataBlock = r->geometry.firstDataBlock;
    d.flashGeometry = r->isFlash ? &r->flash : nullptr;
}

int16_t opInit(DeviceDescriptor *d) {
    RamDevice *r = self(d);
    int16_t st = gate(r, Op::Init);
    if (st != -1) return st;
    fillGeometry(r);
    return r->initStatus;
}

int16_t opPrepare(DeviceDescriptor *d) {
    RamDevice *r = self(d);
    int16_t st = gate(r, Op::Prepare);
    if (st != -1) return st;
    if (r->prepareStatus != -1) return r->prepareStatus;
    fillGeometry(r);
    if (r->isFlash) {
        for (int16_t s = 0; s < r->flash.sectorCount; s++) {
            st = opErase(d, s);
            if (st != -1) return st;
        }
    }
    return -1;
}

RamDevice *build(int16_t blockSize, int16_t totalBlocks, int16_t dirBlocks, int16_t firstDataBlock,
                 int32_t deviceType, bool isFlash) {
    RamDevice *r = new RamDevice();
    std::memset(&r->desc, 0, sizeof r->desc);
    std::memset(&r->geometry, 0, sizeof r->geometry);
    std::memset(&r->flash, 0, sizeof r->flash);
    r->geometry.blockSize = blockSize;
    r->geometry.totalBlocks = totalBlocks;
    r->geometry.dirBlocks = dirBlocks;
    r->geometry.firstDataBlock = firstDataBlock;
    r->isFlash = isFlash;
    r->data.assign(static_cast<size_t>(blockSize) * static_cast<size_t>(totalBlocks), isFlash ? 0xFF : 0x00);
    r->blockReads.assign(static_cast<size_t>(totalBlocks), 0);
    r->blockWrites.assign(static_cast<size_t>(totalBlocks), 0);
    r->desc.WriteBlock = opWrite;
    r->desc.ReadBlock = opRead;
    r->desc.PrepareMedium = opPrepare;
    r->desc.InitDevice = opInit;
    r->desc.deviceType = deviceType;
    fillGeometry(r);
    return r;
}

}  // namespace

void RamDevice::armFault(Op op, uint64_t nth, int16_t status) {
    failOp = op;
    failAt = nth;
    failSeen = 0;
    failStatus = status;
}

void RamDevice::resetCounters() {
    count = Counters();
    blockReads.assign(blockReads.size(), 0);
    blockWrites.assign(blockWrites.size(), 0);
    sectorErases.assign(sectorErases.size(), 0);
}

RamDevice *makeDiskette(int16_t totalBlocks, int32_t deviceType) {
    return build(512, totalBlocks, 2, 3, deviceType, false);
}

RamDevice *makeFlash(int16_t blockSize, int16_t totalBlocks, int16_t dirBlocks, int16_t firstDataBlock,
                     int32_t sectorSize, int16_t sectorCount, int16_t systemSectors, int32_t deviceType) {
    RamDevice *r = build(blockSize, totalBlocks, dirBlocks, firstDataBlock, deviceType, true);
    r->flash.sectorSize = sectorSize;
    r->flash.sectorCount = sectorCount;
    r->flash.systemSectors = systemSectors;
    r->flash.systemAreaBlocks = static_cast<int16_t>(dirBlocks + 1);
    r->flash.ReadBytes = opReadBytes;
    r->flash.EraseSector = opErase;
    r->sectorErases.assign(static_cast<size_t>(sectorCount), 0);
    return r;
}

RamDevice *makeFlashCard(int32_t deviceType) {
    return makeFlash(512, 2048, 16, 256, 65536, 16, 2, deviceType);
}

RamDevice *makeFlashCartridge4M(int32_t deviceType) {
    return makeFlash(1024, 4096, 8, 128, 65536, 64, 2, deviceType);
}

void destroy(RamDevice *device) { delete device; }

}  // namespace ramdev
