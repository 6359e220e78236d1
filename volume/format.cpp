// Formatting a medium and the destructive write-and-read-back volume test.
#include <string.h>

#include "volume/volume_internal.h"

namespace cardfs {
namespace {

// The volume header: signature, label, total blocks, version, medium size
// in units of 16 KiB (low 8 bits).
void put_header(const DeviceDescriptor *d, const char label[8], uint8_t *block) {
    memcpy(block, layout::kFormatSignature, 4);
    memcpy(block + layout::kLabel, label, 8);
    layout::put16(block + layout::kTotalBlocks, uint16_t(d->totalBlocks));
    block[layout::kVersion] = layout::kHighestVersion;
    block[layout::kSizeCode] = uint8_t((int32_t{d->totalBlocks} * d->blockSize) >> layout::kSizeCodeShift);
}

int16_t write_volume(DeviceDescriptor *d, const char label[8]) {
    uint8_t *block = scratch_block();
    memset(block, 0, kBufferSize);
    put_header(d, label, block);
    int16_t st = dev_write(d, d->headerBlock, block);
    if (st != kOk) return st;
    memset(block, 0, kBufferSize);
    for (int32_t i = 1; i < d->dirBlocks; i++) {
        st = dev_write(d, d->headerBlock + i, block);
        if (st != kOk) return st;
    }
    return build_initial_map(d);
}

// PrepareMedium, then the geometry it left must hold a volume.
int16_t prepare(DeviceDescriptor *d) {
    int16_t st = dev_prepare(d);
    return st != kOk ? st : geometry_check(d);
}

uint8_t pattern_byte(int32_t i, int32_t k) { return uint8_t((i + k) % 256); }

int16_t test_block(DeviceDescriptor *d, int32_t block, int32_t k) {
    uint8_t *buffer = scratch_block();
    for (int32_t i = 0; i < d->blockSize; i++) buffer[i] = pattern_byte(i, k);
    int16_t st = dev_write(d, block, buffer);
    if (st != kOk) return st;
    memset(buffer, 0, kBufferSize);
    st = dev_read(d, block, buffer);
    if (st != kOk) return st;
    for (int32_t i = 0; i < d->blockSize; i++)
        if (buffer[i] != pattern_byte(i, k)) return CARDFS_E_VERIFY;
    return kOk;
}

}  // namespace

int16_t format_device(DeviceDescriptor *d, const char label[8]) {
    int16_t st = kOk;
    if (device_class(d) == layout::DeviceClass::Cartridge) {
        if ((st = dev_init(d)) != kOk || (st = foreign_check(d)) != kOk) return st;
    }
    if ((st = prepare(d)) != kOk) return st;
    return write_volume(d, label);
}

// Block k of the test is block 0, then 2^(k-1), each filled with the
// pattern (i + k) mod 256.
int16_t test_device(DeviceDescriptor *d) {
    int16_t st = prepare(d);
    int32_t k = 0;
    for (int32_t b = 0; st == kOk && b < d->totalBlocks; b = (b == 0 ? 1 : b * 2), k++) st = test_block(d, b, k);
    return st;
}

}  // namespace cardfs
