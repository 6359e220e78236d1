// Fuzz target: every data-file loader on a file whose bytes the fuzzer gives. Byte 0 chooses the
// reading (tag stream, raw header and blocks, transfer head then MER, track, line or area records,
// the date/time record, or loaders mixed call by call), byte 1 the load-start selector and the mix;
// the rest is the file, written to a RAM diskette and read back through the file layer. Every result
// must be one the loaders document, and each call must use up at least one byte until the file is
// exhausted: a file of n bytes is read to its end in at most n + 2 calls.
#include <cstring>
#include <set>

#include "fuzz_common.h"

using namespace fuzz;

namespace {

enum Mode { kTags, kRaw, kMer, kTrack, kLines, kAreas, kDateTime, kMixed, kModes };

bool loaderResult(int r) {
    static const std::set<int> results = {-1, 1, 4, 8, 128, 512, -57, -103, -104, -10};
    return results.count(r) == 1;
}

struct Records {
    MERStructure mer;
    TrackStructure track;
    LineHeader line;
    AreaHeader area;
    AreaData data;
    TagRecord tag;
    RawHeader raw;
    uint8_t bytes[300];
};

// One loader call of the kind k; returns its result.
int16_t load(int k, int16_t h, Records &r) {
    switch (k) {
    case kTags: return FS_ReadTag(h, FS_InitTag(&r.tag));
    case kRaw: return FS_RawRead(h, r.bytes, 1 + r.bytes[0] % 250);
    case kMer: return C2P_LoadFileOfMER(h, &r.mer);
    case kTrack: return C2P_LoadFileOfTrack(h, &r.track);
    case kLines: return r.bytes[1] & 1 ? FS_LoadLineHeader(h, &r.line) : FS_LoadLineData(h, &r.data);
    case kAreas: return r.bytes[1] & 1 ? FS_LoadAreaHeader(h, &r.area) : FS_LoadAreaData(h, &r.data);
    default: return FS_RawReadHeader(h, FS_InitRawHeader(&r.raw));
    }
}

// Starts the reading: a load start, a raw header, a date/time record, or nothing.
void start(int mode, uint8_t param, int16_t h, Records &r) {
    int16_t sec = 0, pri = 0, t[5];
    LoadStartInfo info;
    int16_t st = -1;
    if (mode == kRaw) st = FS_RawReadHeader(h, FS_InitRawHeader(&r.raw));
    else if (mode == kDateTime) st = C2P_Get_DateTime(h, &t[0], &t[1], &t[2], &t[3], &t[4]);
    else if (mode != kTags && !(param & 0x80)) st = C2P_Do_Load_StartEx(h, int16_t(param & 0x1F), &sec, &pri, &info);
    expect(loaderResult(st), "the start of the reading gave " + std::to_string(st));
}

bool goesOn(int r) { return r == -1 || r == 512 || r == 8 || r == -104; }

void readAll(int mode, uint8_t param, int16_t h, size_t size) {
    Records r;
    std::memset(&r, 0, sizeof r);
    start(mode, param, h, r);
    uint32_t mix = param;
    int k = mode == kDateTime ? kMer : mode;
    for (size_t call = 0;; call++) {
        if (mode == kMixed) mix = mix * 1103515245u + 12345u, k = int(mix >> 16) % kDateTime;
        r.bytes[0] = uint8_t(call * 37), r.bytes[1] = uint8_t(mix >> 8);
        const int16_t res = load(k, h, r);
        expect(loaderResult(res), "loader " + std::to_string(k) + " gave " + std::to_string(res));
        (void)GetErrno();
        if (!goesOn(res)) break;
        expect(call <= size + 2, "loader " + std::to_string(k) + " goes on without using up the file");
    }
}

ramdev::RamDevice *volume() {
    static ramdev::RamDevice *r = nullptr;
    static Bytes system;  // the formatted system area, put back before each input
    if (!r) {
        r = medium(4);
        resetLibrary();
        useAlone(r);
        if (FS_Format("A:DATA") != -1) fail("cannot format the diskette");
        system.assign(r->data.begin(), r->data.begin() + 3 * 512);
    }
    std::memcpy(r->data.data(), system.data(), system.size());
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2 || size > 60000) return 0;
    const int mode = data[0] % kModes;
    const uint8_t param = data[1];
    ramdev::RamDevice *r = volume();
    resetLibrary();
    useAlone(r);
    expect(FS_Init(nullptr) == -1, "the diskette does not mount");
    int16_t h = FS_OpenW("IN.1");
    expect(h >= 0, "FS_OpenW");
    if (size > 2) expect(FS_WriteFileEx(h, data + 2, uint32_t(size - 2)) == -1, "FS_WriteFileEx");
    expect(FS_CloseW(h) == -1, "FS_CloseW");
    h = FS_OpenR("IN.1");
    expect(h >= 0, "FS_OpenR");
    readAll(mode, param, h, size - 2);
    FS_CloseR(h);
    expect(r->outside == 0, "a request outside the medium");
    return 0;
}
