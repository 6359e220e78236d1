// The model the operation-script fuzz target (ops.cpp) and the soak (soak.cpp) check the library
// against: the committed files by name, the file open for writing, the block arithmetic that tells
// how much room they take, and the fault armed for the current call on the RAM medium.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cardfs.h"
#include "ram_device.h"
#include "volume_image.h"

namespace model {

using Bytes = std::vector<uint8_t>;
using Files = std::map<std::string, Bytes>;

struct Writer {
    int16_t h;
    std::string name;
    Bytes data;
    bool uncertain = false;  // a device fault struck while writing: its content is not known
};
struct Reader {
    int16_t h;
    std::string name;
    size_t pos = 0;
    bool exact = true;  // false once the bytes under it may have changed or a read failed
};

struct Model {
    ramdev::RamDevice *r;
    Files files;
    std::optional<Writer> writer;
    bool armed = false;  // a fault was armed for the current call

    explicit Model(ramdev::RamDevice *device) : r(device) {}
    bool hit() const { return armed && r->faultAt == 0; }  // it struck during the current call
    void disarm() { armed = hit(), r->faultAt = 0; }      // no fault from here on; hit() as it was

    // The medium decoded without the library; without content only the chains are followed.
    volimage::Image image(bool content = true) const {
        ramdev::RamDevice *d = r;
        return volimage::decode(d->desc, [d](int32_t b) -> const uint8_t * {
            return b >= 0 && b < d->geometry.totalBlocks ? d->block(b) : nullptr;
        }, content);
    }
    // Blocks a file of n bytes takes: blockSize - 2 bytes each after the link word, one when empty.
    int blocks(size_t n) const {
        const size_t room = r->blockSizeBytes() - 2;
        return n == 0 ? 1 : int((n + room - 1) / room);
    }
    // Free blocks of the volume once the committed files and the open one hold theirs.
    int freeBlocks() const {
        int used = writer ? blocks(writer->data.size()) : 0;
        for (const auto &f : files) used += blocks(f.second.size());
        return FS_TotalBlocks() - used;
    }
    // -3 (full) is believable only when the free blocks come near what a call needs; flash also
    // keeps a spare sector and may hold one sector of released blocks.
    bool mayBeFull(int need) const {
        return freeBlocks() < need + (r->isFlash ? 2 * int(r->flash.sectorSize / r->geometry.blockSize) : 0);
    }
};

}  // namespace model
