// Internal interface of the device frame, the bottom layer: the status
// variable, the host's device table, and checked access to a device. Every
// layer above reaches a medium only through the dev_* calls here, so no
// damaged number from a medium can reach a driver.
#pragma once

#include <stdint.h>

#include "cardfs.h"
#include "device/invariant.h"
#include "device/layout.h"

// A function off the hot path: refusals and block changes behind a call
// that is taken rarely, so that the common case stays a few instructions.
// And its opposite, for the few small functions of a per-byte or per-field
// loop that the compiler would otherwise leave as calls. A call made once
// per byte starts on a cache line of its own, so that its few instructions
// are fetched alike wherever the linker puts it.
#if defined(__GNUC__)
#define CARDFS_OUT_OF_LINE __attribute__((noinline, cold))
#define CARDFS_INLINE inline __attribute__((always_inline))
#define CARDFS_PER_BYTE __attribute__((aligned(64)))
#else
#define CARDFS_OUT_OF_LINE
#define CARDFS_INLINE inline
#define CARDFS_PER_BYTE
#endif

namespace cardfs {

constexpr int16_t kOk = -1;
constexpr int kBufferSize = layout::kBlockBuffer;

// The white space of C's isspace in the "C" locale.
inline bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// ---- the frame's state ----
// status   The status variable: 0 until the first operation stores one.
//          Interface calls store their result through store(); GetErrno
//          returns it and resets it to -1. Two protocols read it: FS_CloseW
//          keeps a file only while it holds -1, and the record readers take
//          a pending failure from it after every field.
// table    The host's null-terminated device table (FS_SetDeviceTable);
//          the host owns it. Entry 0 is "A:", entry 1 "B:".
// current  The current device: set by FS_Init and DoCd when a device mounts
//          or works but carries no volume; null until then.
struct DeviceFrame {
    int32_t status;
    DeviceDescriptor **table;
    DeviceDescriptor *current;
};
inline DeviceFrame g_frame = {0, nullptr, nullptr};

// Stores st in the status variable and returns it.
inline int16_t store(int16_t st) {
    g_frame.status = st;
    return st;
}
inline bool status_pending() { return g_frame.status != kOk; }

// ---- device table (device_table.cpp) ----
layout::DeviceClass device_class(const DeviceDescriptor *device);

// ---- checked device access (device_io.cpp) ----
// -1 when the descriptor describes a medium that can hold a volume; -6
// otherwise (-18 without the operations). Every path that reads a volume
// runs it first.
[[nodiscard]] int16_t geometry_check(const DeviceDescriptor *device);
// Block operations refuse block numbers outside the medium (-103) and
// block sizes the 1024-byte buffers cannot hold (-6); byte reads refuse
// ranges outside the medium, erases sectors outside it.
[[nodiscard]] int16_t dev_read(DeviceDescriptor *device, int32_t block, void *buffer);
[[nodiscard]] int16_t dev_write(DeviceDescriptor *device, int32_t block, void *buffer);
[[nodiscard]] int16_t dev_read_bytes(DeviceDescriptor *device, uint32_t address, int16_t count, void *buffer);
[[nodiscard]] int16_t dev_erase(DeviceDescriptor *device, int32_t sector);
// InitDevice and PrepareMedium; -18 for a descriptor without them.
[[nodiscard]] int16_t dev_init(DeviceDescriptor *device);
[[nodiscard]] int16_t dev_prepare(DeviceDescriptor *device);

inline bool is_flash(const DeviceDescriptor *device) { return device->flashGeometry != nullptr; }
// Blocks per erase sector; only for a flash geometry that passed geometry_check.
inline int32_t blocks_per_sector(const DeviceDescriptor *device) {
    CARDFS_ASSERT(is_flash(device) && device->blockSize > 0);
    return device->flashGeometry->sectorSize / device->blockSize;
}

}  // namespace cardfs
