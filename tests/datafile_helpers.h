// Helpers shared by the tag, raw and field-data tests: a RAM volume, files written from
// bytes or by a writer, and files read back.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ram_device.h"

using Bytes = std::vector<uint8_t>;

inline Bytes hex(const char *s) {
    Bytes b;
    unsigned v;
    for (int n; sscanf(s, " %x%n", &v, &n) == 1; s += n) b.push_back(uint8_t(v));
    return b;
}
inline Bytes operator+(Bytes a, const Bytes &b) { return a.insert(a.end(), b.begin(), b.end()), a; }
inline Bytes operator+(Bytes a, const char *h) { return a + hex(h); }

struct Vol {  // a freshly formatted RAM diskette, mounted as A:
    ramdev::RamDevice *d = ramdev::makeDiskette();
    DeviceDescriptor *table[2] = {d->dev(), nullptr};
    int files = 0;
    Vol() {
        FS_SetDeviceTable(table);
        EXPECT_TRUE(FS_Format("A:DATA") == -1 && FS_Init(nullptr) == -1);
    }
    ~Vol() { ramdev::destroy(d); }
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
