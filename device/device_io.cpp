// Checked access to a device: geometry validation and range-checked block,
// byte and sector operations. Nothing above this file calls a descriptor's
// operations directly, so no damaged number can reach a driver.
#include "device/frame.h"

namespace cardfs {
namespace {

using layout::kBlocksPerBitByte;
using layout::kBlocksPerPairByte;

bool block_size_ok(int32_t bs) { return bs >= 16 && bs <= kBufferSize && bs % 16 == 0; }

int16_t flash_geometry_check(const DeviceDescriptor *d) {
    const FlashGeometry *fg = d->flashGeometry;
    if (fg->ReadBytes == nullptr || fg->EraseSector == nullptr) return CARDFS_E_NO_DEVICE;
    if (fg->sectorSize <= 0 || fg->sectorSize % d->blockSize != 0) return CARDFS_E_NO_VOLUME;
    int32_t perSector = fg->sectorSize / d->blockSize;
    if (perSector % kBlocksPerPairByte != 0) return CARDFS_E_NO_VOLUME;
    if (fg->sectorCount < 2 || fg->sectorCount > layout::kMaxSectors) return CARDFS_E_NO_VOLUME;
    if (fg->systemSectors < 2 || fg->systemSectors >= fg->sectorCount) return CARDFS_E_NO_VOLUME;
    if (fg->systemAreaBlocks < d->dirBlocks + 1 || fg->systemAreaBlocks > perSector) return CARDFS_E_NO_VOLUME;
    if (int32_t{fg->sectorCount} * perSector > d->totalBlocks) return CARDFS_E_NO_VOLUME;
    if ((int32_t{d->totalBlocks} + kBlocksPerPairByte - 1) / kBlocksPerPairByte > d->blockSize) return CARDFS_E_NO_VOLUME;
    if (int32_t{d->headerBlock} + fg->systemAreaBlocks > perSector) return CARDFS_E_NO_VOLUME;
    return kOk;
}

}  // namespace

int16_t geometry_check(const DeviceDescriptor *d) {
    if (d == nullptr) return CARDFS_E_NO_DEVICE;
    if (d->ReadBlock == nullptr || d->WriteBlock == nullptr) return CARDFS_E_NO_DEVICE;
    if (!block_size_ok(d->blockSize) || d->totalBlocks <= 0 || d->dirBlocks < 1) return CARDFS_E_NO_VOLUME;
    int32_t mapBlock = int32_t{d->headerBlock} + d->dirBlocks;
    if (mapBlock >= d->totalBlocks) return CARDFS_E_NO_VOLUME;
    if (d->firstDataBlock <= mapBlock || d->firstDataBlock > d->totalBlocks) return CARDFS_E_NO_VOLUME;
    if (d->flashGeometry != nullptr) return flash_geometry_check(d);
    if ((int32_t{d->totalBlocks} + kBlocksPerBitByte - 1) / kBlocksPerBitByte > d->blockSize) return CARDFS_E_NO_VOLUME;
    return kOk;
}

int16_t dev_read(DeviceDescriptor *d, int32_t block, void *buffer) {
    if (d->ReadBlock == nullptr) return CARDFS_E_NO_DEVICE;
    if (!block_size_ok(d->blockSize)) return CARDFS_E_NO_VOLUME;
    if (block < 0 || block >= d->totalBlocks) return CARDFS_E_ARGUMENT;
    return d->ReadBlock(d, static_cast<int16_t>(block), buffer);
}

int16_t dev_write(DeviceDescriptor *d, int32_t block, void *buffer) {
    if (d->WriteBlock == nullptr) return CARDFS_E_NO_DEVICE;
    if (!block_size_ok(d->blockSize)) return CARDFS_E_NO_VOLUME;
    if (block < 0 || block >= d->totalBlocks) return CARDFS_E_ARGUMENT;
    return d->WriteBlock(d, static_cast<int16_t>(block), buffer);
}

int16_t dev_read_bytes(DeviceDescriptor *d, uint32_t address, int16_t count, void *buffer) {
    FlashGeometry *fg = d->flashGeometry;
    if (fg == nullptr || fg->ReadBytes == nullptr) return CARDFS_E_NO_DEVICE;
    uint64_t size = uint64_t(uint16_t(d->totalBlocks)) * uint64_t(uint16_t(d->blockSize));
    if (count < 0 || uint64_t{address} + uint64_t(count) > size) return CARDFS_E_ARGUMENT;
    return fg->ReadBytes(d, address, count, buffer);
}

int16_t dev_init(DeviceDescriptor *d) { return d->InitDevice != nullptr ? d->InitDevice(d) : int16_t(CARDFS_E_NO_DEVICE); }

int16_t dev_prepare(DeviceDescriptor *d) {
    return d->PrepareMedium != nullptr ? d->PrepareMedium(d) : int16_t(CARDFS_E_NO_DEVICE);
}

int16_t dev_erase(DeviceDescriptor *d, int32_t sector) {
    FlashGeometry *fg = d->flashGeometry;
    if (fg == nullptr || fg->EraseSector == nullptr) return CARDFS_E_NO_DEVICE;
    if (sector < 0 || sector >= fg->sectorCount) return CARDFS_E_ARGUMENT;
    return fg->EraseSector(d, static_cast<int16_t>(sector));
}

}  // namespace cardfs
