// What the mount keeps of the volume between requests: the files with
// their sizes, and the library's two open-file records.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace tool::mount {

struct FileFacts {
    uint32_t size = 0;
    uint16_t blocks = 0;
    bool sized = false;  // size measured (files never change once written)
};

// An open file of the mount. Its library handle can change: reading again
// from the start closes and reopens the file.
constexpr int16_t kFree = -1;    // OpenFile::handle of a free slot
constexpr int16_t kBroken = -2;  // of a slot whose file could not be reopened
struct OpenFile {
    int16_t handle = kFree;  // the library's handle, or kFree, kBroken
    std::string name;
    uint32_t position = 0; // bytes read or written so far
    bool writing = false;
    int32_t status = -1;   // writing: the first failure, kept for the close
};

// Rereads the directory; sizes already measured are kept. 0 or -errno.
int refreshListing();
// The file's facts with its size measured, or null (errno in *error).
const FileFacts *lookup(const std::string &name, int *error);
const std::map<std::string, FileFacts> &listing();
void forget(const std::string &name);
void remember(const std::string &name, const FileFacts &facts);

// The mount's open files: as many slots as the library has records.
constexpr int kSlots = 2;
OpenFile &openFile(int slot);
// A free slot, or -1.
int freeSlot();
// Reads count bytes at offset into out, reopening or skipping ahead when
// the offset is not where the file stands; bytes read or -errno.
int readAt(int slot, char *out, uint32_t count, uint32_t offset, uint32_t size);

}  // namespace tool::mount
