// Internal interface of the device frame and volume layer.
//
// Process-wide state of this layer lives in three places, each defined in
// the file named beside it:
//   g_status      the status variable                    (status.cpp)
//   g_devices     device table and current device        (device_table.cpp)
//   g_volume      map buffer, scratch buffer, flash state (alloc_map.cpp)
#pragma once

#include <stdint.h>

#include "cardfs.h"

namespace cardfs {

constexpr int16_t kOk = -1;
constexpr int kBufferSize = 1024;
constexpr int kMaxSectors = 64;

// The white space of C's isspace in the "C" locale.
inline bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// ---- status (status.cpp) ----
extern int32_t g_status;
// Stores st in the status variable and returns it.
inline int16_t store(int16_t st) {
    g_status = st;
    return st;
}

// ---- device table (device_table.cpp) ----
struct DeviceTableState {
    DeviceDescriptor **table;
    DeviceDescriptor *current;
};
extern DeviceTableState g_devices;
int16_t device_class(const DeviceDescriptor *device);

// ---- checked device access (device_io.cpp) ----
// -1 when the descriptor describes a medium that can hold a volume; -6
// otherwise. Every path that reads a volume runs it first.
int16_t geometry_check(const DeviceDescriptor *device);
// Block operations refuse block numbers outside the medium (-103) and
// block sizes the 1024-byte buffers cannot hold (-6).
int16_t dev_read(DeviceDescriptor *device, int32_t block, void *buffer);
int16_t dev_write(DeviceDescriptor *device, int32_t block, void *buffer);
int16_t dev_read_bytes(DeviceDescriptor *device, uint32_t address, int16_t count, void *buffer);
int16_t dev_erase(DeviceDescriptor *device, int32_t sector);
inline int32_t blocks_per_sector(const DeviceDescriptor *device) {
    return device->flashGeometry->sectorSize / device->blockSize;
}

// ---- mounting (mount.cpp) ----
// Header block H, or a failure status (negative, below -1). H is returned
// through *header.
int16_t find_header(DeviceDescriptor *device, int32_t *header);
int16_t mount(DeviceDescriptor *device);
int16_t foreign_check(DeviceDescriptor *device, bool initialise);

// ---- allocation map (alloc_map.cpp) ----
struct FlashState {
    uint16_t useCount[kMaxSectors];  // blocks of a sector whose pair is not 00
    int16_t freeSectors;             // data sectors with use count 0
    int16_t cursor;                  // sector of the last allocation
    int32_t openByte[kMaxSectors];   // map bytes from the sector's start up to it are full
};
struct VolumeState {
    uint8_t map[kBufferSize];      // allocation map of the volume being changed
    uint8_t loaded[kBufferSize];   // the map as loaded: what the medium records
    uint8_t scratch[kBufferSize];  // work block: checks, copies, chain walks
    int32_t mapHint;               // map bytes below it are known full (one-bit map)
    FlashState flash;
};
extern VolumeState g_volume;

int16_t load_map(DeviceDescriptor *device);
int16_t write_map(DeviceDescriptor *device, int32_t header);
// A block number (0..32767) now in use, or -3.
int32_t allocate_block(DeviceDescriptor *device);
void release_block(DeviceDescriptor *device, int32_t block);
// True for a block that may belong to a file: on the medium and outside
// the system area.
bool data_block(const DeviceDescriptor *device, int32_t block);
int16_t release_chain(DeviceDescriptor *device, uint16_t first, uint16_t count);
int16_t build_initial_map(DeviceDescriptor *device);
// Flash media: when a power cut stopped a reclamation, live blocks of the
// reclaimed sector may exist only in the (free) spare; copies found in free
// sectors are programmed back. Does nothing while a file is being written,
// whose map it would replace.
int16_t restore_interrupted_reclaim(DeviceDescriptor *device);

// ---- file layer hooks used here ----
// True while a file is open for writing (files/open_files.cpp).
bool writer_open();

}  // namespace cardfs
