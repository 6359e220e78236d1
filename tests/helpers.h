// Helpers shared by the tests: bytes, mounted RAM volumes, whole files written and read back.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ram_device.h"

using Bytes = std::vector<uint8_t>;
using Ints = std::vector<int>;
using Longs = std::vector<long long>;  // values of several fields, compared at once (64 bits on Windows too)
using Read = std::pair<int32_t, Bytes>;  // status that ended the read, bytes read
using Dev = std::unique_ptr<ramdev::RamDevice, void (*)(ramdev::RamDevice *)>;

// A new, empty directory for one test's files under the system's temporary
// directory; empty when none can be made.
inline std::string newTempDir(const char *prefix) {
    std::random_device seed;
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    for (int attempt = 0; !error && attempt < 100; ++attempt) {
        const std::filesystem::path dir = base / (prefix + std::to_string(seed()));
        if (std::filesystem::create_directory(dir, error)) return dir.string();
    }
    return "";
}

inline Bytes fileBytes(const std::string &path, size_t offset = 0, size_t count = SIZE_MAX) {  // what the file has of them
    std::ifstream in(path, std::ios::binary);
    const Bytes all(std::istreambuf_iterator<char>(in), {});
    offset = std::min(offset, all.size());
    return Bytes(all.begin() + long(offset), all.begin() + long(offset + std::min(count, all.size() - offset)));
}
inline void putFile(const std::string &path, const Bytes &b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
}

inline Bytes hex(const char *s) {
    Bytes b;
    unsigned v;
    for (int n; sscanf(s, " %x%n", &v, &n) == 1; s += n) b.push_back(uint8_t(v));
    return b;
}
inline Bytes operator+(Bytes a, const Bytes &b) { return a.insert(a.end(), b.begin(), b.end()), a; }
inline Bytes operator+(Bytes a, const char *h) { return a + hex(h); }
inline Bytes pattern(size_t n, uint32_t seed) {
    Bytes b(n);
    std::mt19937 g(seed);
    for (auto &c : b) c = uint8_t(g());
    if (n) b[0] = 0xFF;  // a data byte 0xFF must not look like the end
    return b;
}
// blockSize, totalBlocks, headerBlock, dirBlocks, firstDataBlock; on flash sectorCount, systemAreaBlocks,
// KiB per sector, systemSectors.
inline Ints geometry(const DeviceDescriptor *d) {
    const FlashGeometry *f = d->flashGeometry;
    Ints g = {d->blockSize, d->totalBlocks, d->headerBlock, d->dirBlocks, d->firstDataBlock};
    if (f) g.insert(g.end(), {f->sectorCount, f->systemAreaBlocks, int(f->sectorSize / 1024), f->systemSectors});
    return g;
}
inline uint16_t word(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
inline void putWord(uint8_t *p, uint16_t v) { p[0] = uint8_t(v), p[1] = uint8_t(v >> 8); }
inline int blocksFor(size_t n, int bs) { return n == 0 ? 1 : int((n + size_t(bs) - 3) / size_t(bs - 2)); }

inline void release(ramdev::RamDevice *r) {  // every block, byte and sector the library asked for lay on the medium
    EXPECT_EQ(r->outside, 0) << "requests outside the medium";
    ramdev::destroy(r);
}
inline Dev own(ramdev::RamDevice *r) { return Dev(r, release); }
// The one device of a fresh table, formatted with `label` and mounted unless label is null.
inline Dev mounted(ramdev::RamDevice *r, const char *label = "A:VOL") {
    static DeviceDescriptor *table[2];
    table[0] = r->dev(), table[1] = nullptr;
    EXPECT_EQ(FS_SetDeviceTable(table), -1);
    if (label) {
        EXPECT_EQ(FS_Format(label), -1);
        EXPECT_EQ(FS_Init(nullptr), -1);
    }
    r->resetCounters();
    return own(r);
}

// The flash allocator's cursor, the sector of the last allocation, belongs to
// the library and not to a volume: a mount, a format or loading a map leaves
// it where it is, so that blocks are placed as on media written in the field,
// and the first file on a fresh volume goes to the first empty sector from
// the cursor on. Tests that expect blocks in given places park it first, on a
// scratch volume of 8-block sectors whose only partly used sector is `sector`.
inline void parkAllocationCursor(int sector) {
    Dev d = mounted(ramdev::makeFlash(512, 256, 1, 16, 4096, 32, 2), "A:PARK");
    d->block(sector * 8)[0] = 0;
    d->block(1)[sector * 2] = 0x03;  // its first block in use on the map
    EXPECT_EQ(FS_OpenW("park.1"), 0);
    EXPECT_EQ(FS_Init(nullptr), -1);  // drops the file; the cursor stays
}

inline int16_t writeFile(const std::string &name, const Bytes &b) {
    int16_t h = FS_OpenW(name.c_str());
    if (h < 0) return h;
    int16_t st = b.empty() ? -1 : FS_WriteFileEx(h, b.data(), uint32_t(b.size())), cl = FS_CloseW(h);
    return st != -1 ? st : cl;
}
inline Read readAll(int16_t h) {  // reads an open file to its end (at most 4 MiB) and closes it
    Read r;
    for (int16_t c; r.second.size() < (1u << 22) && (c = FS_Getc(h)) != -1;) r.second.push_back(uint8_t(c));
    r.first = GetErrno();
    FS_CloseR(h);
    return r;
}
inline Read readBack(const std::string &name) {
    const int16_t h = FS_OpenR(name.c_str());
    return h < 0 ? Read{h, {}} : readAll(h);
}
inline Read ok(const Bytes &b) { return {-57, b}; }

inline std::vector<DirEntry> listDir(DeviceDescriptor *dev = nullptr) {  // entry 0 is the volume header
    std::vector<DirEntry> v;
    DirScan s;
    DirEntry e;
    for (int st = FS_OpenDir(dev, &s); st == -1; st = FS_ReadDir(&s)) FS_GetDirEntry(&s, &e), v.push_back(e);
    return v;
}
inline int headerOf(ramdev::RamDevice *r) {
    DirScan s;
    return FS_OpenDir(r->dev(), &s) == -1 ? s.startBlock : -1;
}
inline Bytes mapOf(ramdev::RamDevice *r) {  // the allocation map block on the medium
    const uint8_t *m = r->block(headerOf(r) + r->geometry.dirBlocks);
    return Bytes(m, m + r->blockSizeBytes());
}
inline Ints chainOf(ramdev::RamDevice *r, int first, size_t limit = 4096) {  // blocks as the link words run
    Ints v;
    for (int b = first & 0x7FFF; v.size() < limit && b < r->geometry.totalBlocks; b = word(r->block(b))) {
        v.push_back(b);
        if (word(r->block(b)) & 0x8000) break;
    }
    return v;
}

struct Vol {  // a freshly formatted RAM diskette, mounted as A:, for the data-file tests
    Dev d = mounted(ramdev::makeDiskette(), "A:DATA");
    int files = 0;
    template <class F> std::string make(F fn) {  // a new file written by fn(handle)
        std::string name = "F." + std::to_string(++files);
        int16_t h = FS_OpenW(name.c_str());
        EXPECT_GE(h, 0);
        fn(h);
        EXPECT_EQ(FS_CloseW(h), -1) << name;  // also: refusals above left the status alone
        return name;
    }
    std::string put(const Bytes &b) {
        return make([&](int16_t h) { EXPECT_EQ(b.empty() ? -1 : FS_WriteFileEx(h, b.data(), uint32_t(b.size())), -1); });
    }
};
struct In {  // a file open for reading
    int16_t h;
    explicit In(const std::string &name) : h(FS_OpenR(name.c_str())) { EXPECT_GE(h, 0) << name; }
    ~In() { FS_CloseR(h); }
    Bytes rest() {  // the bytes not read yet
        Bytes b;
        for (int16_t c; (c = FS_Getc(h)) != -1;) b.push_back(uint8_t(c));
        EXPECT_EQ(GetErrno(), -57);
        return b;
    }
    int16_t start() {
        int16_t sec, pri;
        return C2P_Do_Load_Start(h, 1, &sec, &pri);
    }
};
inline Bytes contents(const std::string &name) { return In(name).rest(); }
// A format-5 transfer head with the given start-record flags.
inline Bytes head(uint8_t flags1, uint8_t flags2) {
    return Bytes{5, 0, 0, 0, 1, flags1, 2, 0xFF, 0x7F, 1, flags2} + "04 00 00 00 00 FF";
}
