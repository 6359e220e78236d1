// Internal interface of the volume layer: mounting, the allocation map and
// its flash allocator, formatting and the volume test. Calls only the
// device frame below it.
#pragma once

#include <stdint.h>

#include "device/frame.h"

namespace cardfs {

// ---- the volume's state ----
// map       The allocation map of the volume being changed: load_map reads
//           it from the medium (and marks the system area in use), the
//           allocator and the releases change it, write_map puts it back.
//           A file open for writing owns it from FS_OpenW to FS_CloseW;
//           delete and rename load it afresh, which is why they, formatting
//           and the volume test are refused while a file is being written.
// loaded    Flash media: the map exactly as load_map read it, what the
//           medium records; restoring an interrupted reclamation trusts
//           only blocks live in both.
// scratch   The one shared work block. Mounting, formatting, the volume
//           test, chain releases, reclamation, the capacity query and the
//           system-area write-back each fill it and use it up within one
//           call of their own; nobody keeps data in it across a call into
//           another function that may use it.
// mapHint   One-bit maps: map bytes below it are known to be full. Reset by
//           every load of the map, lowered by every release.
// flash     Flash media, see FlashState.
struct FlashState {
    // Recomputed from the map by every load_map:
    uint16_t useCount[layout::kMaxSectors];  // blocks of a sector whose pair is not free
    int16_t freeSectors;                     // data sectors with use count 0
    int32_t openByte[layout::kMaxSectors];   // map bytes from the sector's start up to it are full
    int32_t perSector;                       // blocks per sector, kept for the allocation of every block
    // The sector of the last allocation. It lives as long as the library:
    // no mount, format or map load resets it, so that allocation goes on
    // where the last one stopped, and blocks land where media written in
    // the field have them. 0 before the first allocation.
    int16_t cursor;
};
struct VolumeState {
    uint8_t map[kBufferSize];
    uint8_t loaded[kBufferSize];
    uint8_t scratch[kBufferSize];
    int32_t mapHint;
    FlashState flash;
};
inline VolumeState g_volume = {};

inline uint8_t *scratch_block() { return g_volume.scratch; }

// ---- mounting (mount.cpp) ----
// Finds the header block H of the device's volume into *header.
[[nodiscard]] int16_t find_header(DeviceDescriptor *device, int32_t *header);
// Cartridges: block 0 starting FF x FF x (x not FF) holds another
// system's content, which neither mounting nor formatting touches (-17).
[[nodiscard]] int16_t foreign_check(DeviceDescriptor *device);
// Checks the volume on a device (signature and version of its header).
[[nodiscard]] int16_t mount(DeviceDescriptor *device);
// Makes the first device of the table current, or the one `name` names,
// and mounts it: what FS_Init does once the open files are forgotten.
[[nodiscard]] int16_t init_devices(const char *name);

// ---- allocation map (alloc_map.cpp, flash_alloc.cpp) ----
[[nodiscard]] int16_t load_map(DeviceDescriptor *device);
[[nodiscard]] int16_t write_map(DeviceDescriptor *device, int32_t header);
// Takes a free block into use: *block on success, -3 when the medium is
// full (or a failure from the device on flash media).
[[nodiscard]] int16_t allocate_block(DeviceDescriptor *device, int32_t *block);
// Frees a data block: free on rewritable media, released on flash. Blocks
// outside the data area are left alone.
void release_block(DeviceDescriptor *device, int32_t block);
// True for a block that may belong to a file: on the medium and outside
// the system area.
bool data_block(const DeviceDescriptor *device, int32_t block);
// Whether a map (the loaded one, or a copy of a map block) marks block n in
// use: its bit set, or its pair 11 on flash.
bool map_in_use(const DeviceDescriptor *device, const uint8_t *map, int32_t block);
// Marks block n in use on the loaded map.
void mark_used(const DeviceDescriptor *device, int32_t block);
// Marks data block n free on the loaded map; on flash only for a block
// that reads erased.
void mark_free(DeviceDescriptor *device, int32_t block);
// Releases count blocks of the chain starting at first, following link
// words. Stops at the first block that cannot be read.
[[nodiscard]] int16_t release_chain(DeviceDescriptor *device, uint16_t first, uint16_t count);
// Writes the map of a new volume (system area in use) after block H.
[[nodiscard]] int16_t build_initial_map(DeviceDescriptor *device);
// Flash media: when a power cut stopped a reclamation, live blocks of the
// reclaimed sector may exist only in the (free) spare; copies found in free
// sectors are programmed back. Loads the map: not while a file is being
// written, whose map it would replace.
[[nodiscard]] int16_t restore_interrupted_reclaim(DeviceDescriptor *device);

// ---- formatting (format.cpp) ----
// Prepares the medium and writes an empty volume labelled label.
[[nodiscard]] int16_t format_device(DeviceDescriptor *device, const char label[8]);
// The destructive write-and-read-back test of blocks 0, 1, 2, 4, 8, ...
[[nodiscard]] int16_t test_device(DeviceDescriptor *device);

}  // namespace cardfs
