// A volume decoded straight from a medium's blocks, without the library: the header found as mounting
// finds it, every file entry with its chain followed and its bytes, and the map. Tests, the soak and
// the fuzzers compare what the library says with it, and check the invariants a power cut or a device
// fault must not break.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cardfs.h"

namespace volimage {

using Bytes = std::vector<uint8_t>;
// blockSize bytes of block b, or null when it cannot be read.
using BlockSource = std::function<const uint8_t *(int32_t b)>;

struct File {
    std::string name;  // base without trailing spaces, lower case, "." and the extension: "data.7"
    int entry = 0;     // position in the directory
    uint16_t first = 0, count = 0;
    std::vector<int32_t> chain;  // blocks followed (as FS_Check follows them)
    bool whole = false;          // exactly count blocks, the last one valid
    Bytes content;               // the data of a whole chain
};

struct Image {
    bool mounts = false;  // a header carrying the signature was found, version at most 1
    int32_t header = -1;
    std::vector<File> files;
    Bytes map;
    std::map<std::string, Bytes> contents() const;  // the whole files by name
    // Map state of block b: one bit (0 free, 1 in use) or a pair (0 free, 3 in use, 2 released).
    int state(int32_t b) const;
    bool inUse(int32_t b) const { return state(b) == (flash ? 3 : 1); }
    bool flash = false;
    int32_t totalBlocks = 0, firstDataBlock = 0, systemBlocks = 0;  // systemBlocks: flash system sectors
    bool dataBlock(int32_t b) const { return b >= 0 && b < totalBlocks && b >= firstDataBlock && b >= systemBlocks; }
};

// Decodes the volume on a medium of the descriptor's geometry; without content the chains are
// followed and no file's bytes are gathered.
Image decode(const DeviceDescriptor &geometry, const BlockSource &source, bool content = true);

struct Health {
    std::string problem;  // the first broken invariant: a chain not whole, a block in two files, a live
                          // block free on the map; "" when none
    int leaked = 0;       // data blocks in use on the map that no file holds
    int live = 0;
};
Health health(const Image &image);

// A file name as the library compares it: "[X:]base.ext" to "base.ext", base cut to 8 characters and
// lower case, extension as a number (no dot: 999).
std::string canonical(const std::string &name);

}  // namespace volimage
