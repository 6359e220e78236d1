#include "fuzz_common.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "datafiles/transfer.h"
#include "files/files_internal.h"

namespace fuzz {

void resetLibrary() {
    cardfs::g_frame = {0, nullptr, nullptr};
    cardfs::reset_open_files();
    std::memset(&cardfs::g_volume, 0, sizeof cardfs::g_volume);
    cardfs::g_transfer = {0, 0, 0, 0, 0};
}

ramdev::RamDevice *medium(int which) {
    static ramdev::RamDevice *media[kGeometries] = {
        ramdev::makeDiskette(1440), ramdev::makeDiskette(2880),       ramdev::makeFlashCard(),
        ramdev::makeFlashCartridge4M(), ramdev::makeDiskette(256), ramdev::makeFlash(512, 256, 2, 32, 8192, 16, 2),
    };
    ramdev::RamDevice *r = media[which % kGeometries];
    r->restorePower();
    r->faultAt = 0;
    r->outside = 0;
    r->resetCounters();
    return r;
}

void useAlone(ramdev::RamDevice *r) {
    static DeviceDescriptor *table[2];
    table[0] = r->dev(), table[1] = nullptr;
    FS_SetDeviceTable(table);
}

volimage::Image decode(ramdev::RamDevice *r) {
    return volimage::decode(r->desc, [r](int32_t b) -> const uint8_t * {
        return b >= 0 && b < r->geometry.totalBlocks ? r->block(b) : nullptr;
    });
}

bool documented(int st) {
    static const std::set<int> codes = {-1,  -2,  -3,  -4,  -5,  -6,  -8,  -10,  -17,  -18,  -43,  -44,  -51, -52,
                                        -55, -56, -57, -58, -59, -60, -77, -78, -100, -101, -102, -103, -104};
    return codes.count(st) == 1;
}

void fail(const std::string &what) {
    std::fprintf(stderr, "cardfs fuzz: %s\n", what.c_str());
    std::abort();
}

void expect(bool ok, const std::string &what) {
    if (!ok) fail(what);
}

uint8_t fillOf(ramdev::RamDevice *r, bool inverted) { return uint8_t((r->isFlash ? 0xFF : 0x00) ^ (inverted ? 0xFF : 0)); }

int applyMedium(Input &in) {
    const uint8_t head = in.byte();
    const int geometry = (head & 7) % kGeometries;
    ramdev::RamDevice *r = medium(geometry);
    std::memset(r->data.data(), fillOf(r, head & 8), r->data.size());
    const size_t bs = r->blockSizeBytes(), total = r->data.size();
    while (!in.empty()) {
        const size_t block = in.u16() % size_t(r->geometry.totalBlocks), offset = in.u16() % bs;
        const uint8_t kind = in.byte();
        size_t at = block * bs + offset;
        if (kind & 0x80) {
            const size_t n = size_t((kind & 0x3F) + 1) << ((kind & 0x40) ? 6 : 0);
            const uint8_t value = in.byte();
            for (size_t i = 0; i < n && at < total; i++) r->data[at++] = value;
        } else {
            for (size_t i = 0; i <= kind && !in.empty(); i++) {
                const uint8_t value = in.byte();
                if (at < total) r->data[at++] = value;
            }
        }
    }
    return geometry;
}

namespace {

void putChunk(Bytes &out, size_t at, size_t bs, uint8_t kind) {
    const size_t block = at / bs, offset = at % bs;
    out.insert(out.end(), {uint8_t(block), uint8_t(block >> 8), uint8_t(offset), uint8_t(offset >> 8), kind});
}

size_t runLength(const Bytes &d, size_t at) {
    size_t n = 1;
    while (at + n < d.size() && d[at + n] == d[at] && n < 64 * 64) n++;
    return n;
}

}  // namespace

Bytes describeMedium(int geometry, ramdev::RamDevice *r) {
    const uint8_t fill = fillOf(r, false);
    Bytes out = {uint8_t(geometry)};
    const size_t bs = r->blockSizeBytes();
    const Bytes &d = r->data;
    for (size_t at = 0; at < d.size();) {
        if (d[at] == fill) {
            at++;
            continue;
        }
        size_t run = runLength(d, at);
        if (run >= 8) {
            const size_t units = run >= 64 ? run / 64 : run;
            putChunk(out, at, bs, uint8_t(0x80 | (run >= 64 ? 0x40 : 0) | (units - 1)));
            out.push_back(d[at]);
            at += run >= 64 ? units * 64 : units;
            continue;
        }
        size_t n = 0;
        while (at + n < d.size() && n < 128 && d[at + n] != fill && runLength(d, at + n) < 8) n++;
        if (n == 0) n = 1;
        putChunk(out, at, bs, uint8_t(n - 1));
        out.insert(out.end(), d.begin() + long(at), d.begin() + long(at + n));
        at += n;
    }
    return out;
}

}  // namespace fuzz
