// What the fuzz targets share: the library back to a fresh start before each input, the RAM media of
// the four geometries, the input read as a byte stream, the statuses the library may report, and the
// medium descriptions the medium target and the seed maker agree on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ram_device.h"
#include "volume_image.h"

namespace fuzz {

using Bytes = std::vector<uint8_t>;

// Every process-wide state of the library as in a fresh process (the open files, the status, the
// device table, the map and the flash cursor, the transfer state), so that an input replays alone.
void resetLibrary();

// The media: 0 diskette 720 KB, 1 diskette 1.44 MB, 2 card image 1 MiB, 3 cartridge 4 MiB; and two
// small ones that fill up and reclaim quickly: 4 diskette of 256 blocks, 5 flash of 256 blocks in 16
// sectors of 16 blocks. Made once; the caller sets their bytes.
constexpr int kGeometries = 6;
ramdev::RamDevice *medium(int which);
// Makes the medium the only device of the table (drive A:).
void useAlone(ramdev::RamDevice *r);
volimage::Image decode(ramdev::RamDevice *r);

// Statuses the library documents, and what the RAM devices add (-77 a flash write that would set a
// bit, -78 power off); the loaders' positive results are checked by their target.
bool documented(int status);
// Reports a broken property and ends the run, so that libFuzzer keeps the input.
[[noreturn]] void fail(const std::string &what);
void expect(bool ok, const std::string &what);

// The input as a stream; past its end every read gives 0.
struct Input {
    const uint8_t *at, *end;
    Input(const uint8_t *data, size_t size) : at(data), end(data + size) {}
    bool empty() const { return at >= end; }
    size_t left() const { return size_t(end - at); }
    uint8_t byte() { return at < end ? *at++ : 0; }
    uint16_t u16() { return uint16_t(byte() | byte() << 8); }
};

// A medium description: byte 0 the geometry (low 3 bits, modulo kGeometries) and bit 3 the fill
// inverted (flash erased 0xFF, diskettes 0x00); then chunks, each a 16-bit block, a 16-bit offset in
// the block and a kind: bit 7 clear, kind + 1 literal bytes follow; set, one byte repeated
// (kind & 0x3F) + 1 times, times 64 when bit 6 is set. Writes past the medium's end are cut off.
// applyMedium returns the geometry; describeMedium makes the chunks of a medium's bytes.
int applyMedium(Input &in);
Bytes describeMedium(int geometry, ramdev::RamDevice *r);
uint8_t fillOf(ramdev::RamDevice *r, bool inverted);

}  // namespace fuzz
