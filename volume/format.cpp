// Formatting a medium and the destructive write-and-read-back volume test.
#include <string.h>

#include "files/files_internal.h"
#include "volume/volume_internal.h"

namespace cardfs {
namespace {

// The volume header: signature, label, total blocks (little-endian),
// version 1, medium size in units of 16 KiB. Mounting checks only bytes 1
// to 3 of the signature ("DOS"); byte 0 is written as 'D'.
void put_header(const DeviceDescriptor *d, const char label[8], uint8_t *block) {
    memcpy(block, "DDOS", 4);
    memcpy(block + 4, label, 8);
    uint16_t total = EncDecINT(uint16_t(d->totalBlocks));
    memcpy(block + 12, &total, 2);
    block[14] = 1;
    block[15] = uint8_t((int32_t{d->totalBlocks} * d->blockSize) >> 14);
}

int16_t write_volume(DeviceDescriptor *d, const char label[8]) {
    uint8_t *block = g_volume.scratch;
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

// Resolves the device of a name and makes sure no write is in progress.
int16_t target_of(const char *name, ParsedName *parsed) {
    if (writer_open()) return CARDFS_E_WRITING;
    return parse_file_name(name, parsed);
}

void fill_pattern(uint8_t *block, int32_t size, int32_t k) {
    for (int32_t i = 0; i < size; i++) block[i] = uint8_t((i + k) % 256);
}

int16_t test_block(DeviceDescriptor *d, int32_t block, int32_t k) {
    uint8_t *buffer = g_volume.scratch;
    fill_pattern(buffer, d->blockSize, k);
    int16_t st = dev_write(d, block, buffer);
    if (st != kOk) return st;
    memset(buffer, 0, kBufferSize);
    st = dev_read(d, block, buffer);
    if (st != kOk) return st;
    for (int32_t i = 0; i < d->blockSize; i++)
        if (buffer[i] != uint8_t((i + k) % 256)) return CARDFS_E_VERIFY;
    return kOk;
}

}  // namespace
}  // namespace cardfs

using namespace cardfs;

extern "C" CARDFS_API int16_t FS_Format(const char *name) {
    ParsedName parsed;
    int16_t st = target_of(name, &parsed);
    if (st != kOk) return store(st);
    DeviceDescriptor *d = parsed.device;
    if (device_class(d) == 1 && (st = foreign_check(d, true)) != kOk) return store(st);
    if (d->PrepareMedium == nullptr) return store(CARDFS_E_NO_DEVICE);
    if ((st = d->PrepareMedium(d)) != kOk) return store(st);
    if ((st = geometry_check(d)) != kOk) return store(st);
    if ((st = write_volume(d, parsed.name)) != kOk) return store(st);
    return store(kOk);
}

extern "C" CARDFS_API int16_t FS_Test(const char *name) {
    ParsedName parsed;
    int16_t st = target_of(name, &parsed);
    if (st != kOk) return store(st);
    DeviceDescriptor *d = parsed.device;
    if (d->PrepareMedium == nullptr) return store(CARDFS_E_NO_DEVICE);
    if ((st = d->PrepareMedium(d)) != kOk) return store(st);
    if ((st = geometry_check(d)) != kOk) return store(st);
    int32_t k = 0;
    for (int32_t b = 0; b < d->totalBlocks; b = (b == 0 ? 1 : b * 2), k++)
        if ((st = test_block(d, b, k)) != kOk) return store(st);
    return FS_Format(name);
}
