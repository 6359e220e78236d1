// Helpers shared by the tests: bytes, mounted RAM volumes, whole files written and read back.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ram_device.h"

using Bytes = std::vector<uint8_t>;
using Read = std::pair<int32_t, Bytes>;  // status that ended the read, bytes read
using Dev = std::unique_ptr<ramdev::RamDevice, void (*)(ramdev::RamDevice *)>;

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
inline uint16_t word(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
inline void putWord(uint8_t *p, uint16_t v) { p[0] = uint8_t(v), p[1] = uint8_t(v >> 8); }
inline int blocksFor(size_t n, int bs) { return n == 0 ? 1 : int((n + bs - 3) / (bs - 2)); }

// The one device of a fresh table, formatted with `label` and mounted unless label is null.
inline Dev mounted(ramdev::RamDevice *r, const char *label = "A:VOL") {
    static DeviceDescriptor *table[2];
    table[0] = r->dev(), table[1] = nullptr;
    EXPECT_EQ(FS_SetDeviceTable(table), -1);
    if (label) EXPECT_TRUE(FS_Format(label) == -1 && FS_Init(nullptr) == -1);
    return r->resetCounters(), Dev(r, ramdev::destroy);
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
    return r.first = GetErrno(), FS_CloseR(h), r;
}
inline Read readBack(const std::string &name) {
    const int16_t h = FS_OpenR(name.c_str());
    return h < 0 ? Read{h, {}} : readAll(h);
}
inline Read ok(const Bytes &b) { return {-57, b}; }

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
        return make([&](int16_t h) { EXPECT_TRUE(b.empty() || FS_WriteFileEx(h, b.data(), uint32_t(b.size())) == -1); });
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
