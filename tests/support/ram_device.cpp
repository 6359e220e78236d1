#include "ram_device.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace ramdev {
namespace {

RamDevice *self(DeviceDescriptor *d) { return reinterpret_cast<RamDevice *>(d); }
uint64_t mix(uint64_t id) { return std::mt19937_64(id)(); }  // well-spread bits from a small number

// Counts the call; -1 lets it go ahead. *silent: the armed fault strikes it without a status.
int16_t gate(RamDevice *r, Op op, bool *silent = nullptr) {
    r->count.calls[static_cast<int>(op)]++;
    if (r->powerOff) return kPowerOff;
    if (r->faultAt == 0 || r->faultOp != op || ++r->faultSeen != r->faultAt) return -1;
    r->faultAt = 0;
    if (r->faultKind == Fault::Fails || !silent) return r->faultStatus;
    return *silent = true, -1;
}

uint8_t *blockAt(RamDevice *r, int32_t b) {  // null, and counted, outside the medium
    const bool inside = b >= 0 && b < r->geometry.totalBlocks && size_t(b + 1) * r->blockSizeBytes() <= r->data.size();
    return inside ? r->block(b) : (r->outside++, nullptr);
}

// What a torn write or erase (src null) leaves of the n bytes at dst.
void tear(RamDevice *r, uint8_t *dst, const uint8_t *src, size_t n) {
    const uint64_t h = mix(r->cutId);
    const size_t unit = src || r->tornBits ? 1 : r->blockSizeBytes();
    const size_t done = size_t(h % (n / unit + 1)) * unit;
    for (size_t i = 0; i < done; i++) dst[i] = src ? src[i] : 0xFF;
    if (done < n && r->isFlash && r->tornBits) dst[done] ^= uint8_t((dst[done] ^ (src ? src[done] : 0xFF)) & (h >> 32));
}

// Applies a write or erase (src null) of n bytes at dst unless it is lost or the power is cut.
int16_t apply(RamDevice *r, uint8_t *dst, const uint8_t *src, size_t n, bool lost) {
    if (lost) return -1;
    if (r->powerBudget == 0) {
        r->powerOff = true;
        if (r->tornWrites) tear(r, dst, src, n);
        return kPowerOff;
    }
    if (r->powerBudget > 0) r->powerBudget--;
    src ? void(std::memcpy(dst, src, n)) : void(std::memset(dst, 0xFF, n));
    return -1;
}

// Copies n bytes out; a flipped read gets a bit changed among its first four bytes (link word, entry
// words, signature) and one further on.
int16_t deliver(RamDevice *r, void *buffer, const uint8_t *src, size_t n, bool flip, int32_t block) {
    auto *p = static_cast<uint8_t *>(buffer);
    if (n <= 4) {  // the flash probes: a library call costs more than the bytes
        for (size_t i = 0; i < n; i++) p[i] = src[i];
    } else {
        std::memcpy(p, src, n);
    }
    if (!flip) return -1;
    const uint64_t h = mix(r->faultSeen);
    p[h % std::min<size_t>(n, 4)] ^= uint8_t(1u << (h >> 8 & 7));
    if (n > 4) p[4 + (h >> 16) % (n - 4)] ^= uint8_t(1u << (h >> 48 & 7));
    r->struck = block;
    return -1;
}

// NOR programming only clears bits: true when src would set a bit that dst has cleared. Checked 8 bytes
// at a time, so that the device's own check does not swamp the library's time in the benchmarks.
bool setsClearedBit(const uint8_t *dst, const uint8_t *src, size_t n) {
    uint64_t set = 0;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t s, o;
        std::memcpy(&s, src + i, 8), std::memcpy(&o, dst + i, 8);
        set |= s & ~o;
    }
    for (; i < n; i++) set |= uint64_t(src[i] & ~dst[i]);
    return set != 0;
}

int16_t opWrite(DeviceDescriptor *d, int16_t b, void *buffer) {
    RamDevice *r = self(d);
    bool lost = false;
    const int16_t st = gate(r, Op::Write, &lost);
    uint8_t *dst = st == -1 ? blockAt(r, b) : nullptr;
    if (dst == nullptr) return st == -1 ? -103 : st;
    const auto *src = static_cast<const uint8_t *>(buffer);
    if (r->isFlash && r->checkPrograms && setsClearedBit(dst, src, r->blockSizeBytes())) return kFlashSetBit;
    if (lost) r->struck = b;
    return apply(r, dst, src, r->blockSizeBytes(), lost);
}

int16_t opErase(DeviceDescriptor *d, int16_t s) {
    RamDevice *r = self(d);
    bool lost = false;
    const int16_t st = gate(r, Op::Erase, &lost);
    const size_t size = size_t(r->flash.sectorSize);
    if (st != -1) return st;
    if (s < 0 || s >= r->flash.sectorCount || size_t(s + 1) * size > r->data.size()) return r->outside++, -103;
    if (lost) r->struck = int32_t(size_t(s) * size / r->blockSizeBytes());
    const int16_t done = apply(r, r->data.data() + size_t(s) * size, nullptr, size, lost);
    if (done == -1 && !lost) r->sectorErases[size_t(s)]++;
    return done;
}

int16_t opRead(DeviceDescriptor *d, int16_t b, void *buffer) {
    RamDevice *r = self(d);
    bool flip = false;
    const int16_t st = gate(r, Op::Read, &flip);
    const uint8_t *src = st == -1 ? blockAt(r, b) : nullptr;
    return src ? deliver(r, buffer, src, r->blockSizeBytes(), flip, b) : st == -1 ? int16_t(-103) : st;
}

int16_t opReadBytes(DeviceDescriptor *d, uint32_t address, int16_t count, void *buffer) {
    RamDevice *r = self(d);
    bool flip = false;
    const int16_t st = gate(r, Op::ReadBytes, &flip);
    if (st != -1) return st;
    if (count < 0 || uint64_t{address} + uint64_t(count) > r->data.size()) return r->outside++, -103;
    const int32_t block = flip ? int32_t(address / r->blockSizeBytes()) : -1;  // a division only for a flipped read
    return deliver(r, buffer, r->data.data() + address, size_t(count), flip, block);
}

void fillGeometry(RamDevice *r) {  // the geometry fields lead the descriptor
    std::memcpy(&r->desc, &r->geometry, offsetof(DeviceDescriptor, WriteBlock));
    r->desc.flashGeometry = r->isFlash ? &r->flash : nullptr;
}

int16_t opInit(DeviceDescriptor *d) {
    const int16_t st = gate(self(d), Op::Init);
    return st != -1 ? st : (fillGeometry(self(d)), self(d)->initStatus);
}

int16_t opPrepare(DeviceDescriptor *d) {
    RamDevice *r = self(d);
    int16_t st = gate(r, Op::Prepare);
    if (st == -1) fillGeometry(r);
    for (int16_t s = 0; r->isFlash && s < r->flash.sectorCount && st == -1; s++) st = opErase(d, s);
    return st;
}

RamDevice *build(int16_t blockSize, int16_t totalBlocks, int16_t dirBlocks, int16_t firstDataBlock,
                 int32_t deviceType, bool isFlash) {
    RamDevice *r = new RamDevice();
    DeviceDescriptor &g = r->geometry;
    g.blockSize = blockSize, g.totalBlocks = totalBlocks, g.dirBlocks = dirBlocks, g.firstDataBlock = firstDataBlock;
    r->isFlash = isFlash;
    r->data.assign(size_t(blockSize) * size_t(totalBlocks), isFlash ? 0xFF : 0x00);
    r->desc.WriteBlock = opWrite, r->desc.ReadBlock = opRead, r->desc.PrepareMedium = opPrepare;
    r->desc.InitDevice = opInit, r->desc.deviceType = deviceType;
    fillGeometry(r);
    return r;
}

}  // namespace

void RamDevice::armFault(Op op, uint64_t nth, int16_t status, Fault kind) {
    faultOp = op, faultKind = kind, faultAt = nth, faultSeen = 0, faultStatus = status, struck = -1;
}

void RamDevice::cutPowerAfter(int64_t n, bool torn) {
    powerBudget = n, cutId = uint64_t(n), tornWrites = torn, powerOff = false;
}

RamDevice *makeDiskette(int16_t totalBlocks, int32_t deviceType) { return build(512, totalBlocks, 2, 3, deviceType, false); }
RamDevice *makeFlash(int16_t blockSize, int16_t totalBlocks, int16_t dirBlocks, int16_t firstDataBlock,
                     int32_t sectorSize, int16_t sectorCount, int16_t systemSectors, int32_t deviceType) {
    RamDevice *r = build(blockSize, totalBlocks, dirBlocks, firstDataBlock, deviceType, true);
    r->flash = FlashGeometry{sectorSize, sectorCount, systemSectors, int16_t(dirBlocks + 1), opReadBytes, opErase};
    r->sectorErases.assign(size_t(sectorCount), 0);
    return r;
}
RamDevice *makeFlashCard(int32_t deviceType) { return makeFlash(512, 2048, 16, 256, 65536, 16, 2, deviceType); }
RamDevice *makeFlashCartridge4M(int32_t deviceType) { return makeFlash(1024, 4096, 8, 128, 65536, 64, 2, deviceType); }
void destroy(RamDevice *device) { delete device; }

}  // namespace ramdev
