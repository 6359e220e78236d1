// Internal interface of the directory and file layer.
//
// Process-wide state of this layer: g_files, the two open-file records and
// the writer bookkeeping (open_files.cpp).
#pragma once

#include <stdint.h>

#include "cardfs.h"

namespace cardfs {

constexpr int kRecords = 2;
constexpr uint16_t kLastBlock = 0x8000;   // link word: last block, low bits = bytes in use
constexpr uint16_t kOpenForWriting = 0x8000;  // extension bit of an entry being written

// ---- names (names.cpp) ----
struct ParsedName {
    DeviceDescriptor *device;
    char name[8];        // space padded
    uint16_t extension;  // 0..999
};
// -1, or -55 when the name gives no device to use.
int16_t parse_file_name(const char *text, ParsedName *out);
bool names_equal(const char *a, const char *b);

// ---- byte order of directory blocks (byte_order.cpp) ----
void dir_block_to_host(uint8_t *block, int32_t blockSize);
void dir_block_to_medium(uint8_t *block, int32_t blockSize);

// ---- directory (directory.cpp, writeback.cpp) ----
// The entry the scan stands on (inside its block), recomputed from
// entryIndex so that a damaged scan cannot point outside the block.
DirEntry *scan_entry(DirScan *scan);
// Finds name.extension through scan; -1 with the scan on the entry, -4
// when there is no such file, or the status that ended the scan.
int16_t find_entry(DeviceDescriptor *device, const char name[8], uint16_t extension, DirScan *scan);
// Writes the scan's current entry and the allocation map to the medium.
// The order matters on media rewritten in place: MapFirst when the change
// takes blocks (a commit), EntryFirst when it gives them back (a deletion).
enum class WriteOrder { MapFirst, EntryFirst };
int16_t write_back_entry(DirScan *scan, WriteOrder order);

// ---- open-file records (open_files.cpp) ----
struct OpenFiles {
    FileInfo records[kRecords];
    int16_t writers;  // files open for writing: 0 or 1
    int16_t writer;   // handle of that file, -1 when none
};
extern OpenFiles g_files;

void reset_open_files();
// FS_Getc without the call while the next byte is in the record's buffer;
// the record readers take every byte through it.
inline int16_t next_byte(int16_t handle) {
    if (handle >= 0 && handle < kRecords && handle != g_files.writer) {
        FileInfo &r = g_files.records[handle];
        if (r.device != nullptr && r.position >= 0 && r.position < r.limit && r.limit <= 1024)
            return r.buffer[r.position++];
    }
    return FS_Getc(handle);
}
// A free handle, or -51 (stored).
int16_t find_free_record();
void release_record(int16_t handle);
// The record of handle 0 or 1, or null for any other handle.
FileInfo *record_of(int16_t handle);
int16_t load_block(FileInfo *record, uint16_t block);
// Follows the chain from the entry's first block and checks it has exactly
// blockCount blocks; then loads the first block again.
int16_t check_chain(FileInfo *record);
// Loads the first block of the entry the record's scan stands on.
int16_t load_first_block(FileInfo *record);
uint16_t link_word(const FileInfo *record);
void set_link_word(FileInfo *record, uint16_t link);

// ---- deleting (delete_rename.cpp) ----
// Frees the entry the record's scan stands on and releases its chain, then
// writes the entry and the map back. The map must be loaded.
int16_t delete_entry(FileInfo *record);

}  // namespace cardfs
