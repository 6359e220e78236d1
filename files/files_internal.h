// Internal interface of the directory and file layer. Calls the volume
// layer and the device frame below it.
#pragma once

#include <stdint.h>
#include <string.h>

#include "files/byte_order.h"
#include "volume/volume_internal.h"

namespace cardfs {

constexpr int kRecords = 2;
using layout::kLastBlock;
using layout::kOpenForWriting;

// ---- the open files ----
// records  The two open-file records, handles 0 and 1. A record is free
//          while its device is null; FS_OpenR, FD_OpenR and FS_OpenW claim
//          one, the closes and every failed open free it. Delete, rename
//          and FD_Delete borrow a free record's scan and buffer for the
//          length of the call.
// writers  Files open for writing, 0 or 1; writer is that file's handle,
//          -1 when there is none. Set by FS_OpenW, cleared by FS_CloseW.
// checked  Per record, the blocks of the chain its open checked, 0 for a
//          file opened without the check: runs read the blocks before the
//          last straight into the caller's buffer.
// FS_Init forgets everything here.
struct OpenFiles {
    FileInfo records[kRecords];
    int16_t writers;
    int16_t writer;
    int32_t checked[kRecords];
};
inline OpenFiles g_files = {{}, 0, -1, {}};

inline int32_t &checked_blocks(const FileInfo *record) { return g_files.checked[record - g_files.records]; }

inline bool writer_open() { return g_files.writers > 0; }

// ---- names (names.cpp) ----
struct ParsedName {
    DeviceDescriptor *device;
    char name[8];        // space padded
    uint16_t extension;  // 0..999
};
// -1, or -55 when the name gives no device to use.
[[nodiscard]] int16_t parse_file_name(const char *text, ParsedName *out);
// The 8 name bytes with 'A' to 'Z' folded to 'a' to 'z', as one word: two
// names are equal without regard to case when their words are. All bytes
// at once: a byte gets 0x20 when its high bit is clear and its low seven
// bits lie in 'A' to 'Z' (each test leaves its answer in bit 7).
inline uint64_t folded_name(const char name[8]) {
    constexpr uint64_t kBytes = 0x0101010101010101u, kHigh = 0x8080808080808080u;
    uint64_t v;
    memcpy(&v, name, 8);
    const uint64_t low7 = v & ~kHigh;
    const uint64_t atLeastA = low7 + (0x80 - 'A') * kBytes, aboveZ = low7 + (0x80 - 'Z' - 1) * kBytes;
    return v | (atLeastA & ~aboveZ & ~v & kHigh) >> 2;
}

// ---- directory (directory.cpp, writeback.cpp) ----
// The entry the scan stands on (inside its block), recomputed from
// entryIndex so that a damaged scan cannot point outside the block.
inline DirEntry *scan_entry(DirScan *scan) {
    uintptr_t base = reinterpret_cast<uintptr_t>(scan->block);
    uintptr_t at = reinterpret_cast<uintptr_t>(scan->entry);
    if (at >= base && at < base + sizeof scan->block && (at - base) % layout::kEntrySize == 0) return scan->entry;
    constexpr int32_t kLast = layout::kMaxEntriesPerBlock - 1;
    int32_t index = scan->entryIndex < 0 ? 0 : (scan->entryIndex > kLast ? kLast : scan->entryIndex);
    return reinterpret_cast<DirEntry *>(scan->block + index * layout::kEntrySize);
}
// Finds name.extension through scan; -1 with the scan on the entry, -4
// when there is no such file, or the status that ended the scan.
[[nodiscard]] int16_t find_entry(DeviceDescriptor *device, const char name[8], uint16_t extension, DirScan *scan);
// Moves an open scan to the next free entry: -1, or the status that ended
// the scan.
[[nodiscard]] int16_t find_free_entry(DirScan *scan);
// Writes the scan's current entry and the allocation map to the medium.
// The order matters on media rewritten in place: MapFirst when the change
// takes blocks (a commit), EntryFirst when it gives them back (a deletion).
enum class WriteOrder { MapFirst, EntryFirst };
[[nodiscard]] int16_t write_back_entry(DirScan *scan, WriteOrder order);

// ---- open-file records (open_files.cpp) ----
void reset_open_files();
// A free record into *handle, or -51 (stored).
[[nodiscard]] int16_t find_free_record(int16_t *handle);
void release_record(int16_t handle);
// The record of handle 0 or 1, or null for any other handle.
FileInfo *record_of(int16_t handle);
[[nodiscard]] int16_t load_block(FileInfo *record, uint16_t block);
// The record's position and limit for the block in its buffer, whose link
// word (host order) is link; -10 for a last block claiming too few or too
// many bytes.
[[nodiscard]] int16_t finish_block(FileInfo *record, uint16_t link);
// Follows the chain from the entry's first block and checks it has exactly
// blockCount blocks; then loads the first block again.
[[nodiscard]] int16_t check_chain(FileInfo *record);
// Loads the first block of the entry the record's scan stands on.
[[nodiscard]] int16_t load_first_block(FileInfo *record);
uint16_t link_word(const FileInfo *record);
void set_link_word(FileInfo *record, uint16_t link);

// ---- surveying a volume (survey.cpp) ----
// Follows the chain of every entry of the device's directory through scan,
// compares the blocks followed with map (a map block as on the medium, or
// the loaded one) and fills report (cardfs_repair.h). Afterwards
// live_block tells which blocks the chains hold.
[[nodiscard]] int16_t survey_volume(DeviceDescriptor *device, const uint8_t *map, DirScan *scan,
                                    FS_RepairReport *report);
bool live_block(int32_t block);

// ---- deleting (delete_rename.cpp) ----
// Frees the entry the record's scan stands on and releases its chain, then
// writes the entry and the map back. The map must be loaded.
[[nodiscard]] int16_t delete_entry(FileInfo *record);

}  // namespace cardfs
