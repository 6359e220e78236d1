// Makes the seed corpora of the fuzz targets with the library's own writers:
//   fuzz_seeds DIR   writes DIR/medium/*, DIR/datafiles/*, DIR/ops/*
// medium: volumes of every geometry holding files written, renamed and deleted, described sparsely;
// datafiles: tag streams, raw files, MER, track, line and area files as the writers make them;
// ops: short scripts of every call.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_common.h"

using namespace fuzz;

namespace {

std::string g_dir;

Bytes operator+(Bytes a, const Bytes &b) { return a.insert(a.end(), b.begin(), b.end()), a; }

void save(const std::string &target, const std::string &name, const Bytes &b) {
    std::filesystem::create_directories(g_dir + "/" + target);
    std::ofstream(g_dir + "/" + target + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
}

Bytes bytesOf(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; i++) b[i] = uint8_t(seed + i * 31 + (i >> 5));
    return b;
}

void put(const char *name, const Bytes &b) {
    const int16_t h = FS_OpenW(name);
    if (h < 0) fail(std::string("seed file ") + name);
    if (!b.empty()) FS_WriteFileEx(h, b.data(), uint32_t(b.size()));
    FS_CloseW(h);
}

// A volume of each geometry: files of 0, 1, 3 blocks and more, one renamed, one deleted, and on
// flash enough changes to move the system area on.
void media() {
    for (int g = 0; g < kGeometries; g++) {
        ramdev::RamDevice *r = medium(g);
        std::memset(r->data.data(), fillOf(r, false), r->data.size());
        resetLibrary();
        useAlone(r);
        if (FS_Format("A:SEED") != -1 || FS_Init(nullptr) != -1) fail("seed volume");
        put("DATA.1", bytesOf(100, 1));
        put("EMPTY.3", {});
        put("BIG.2", bytesOf(3 * r->blockSizeBytes(), 2));
        put("GONE.4", bytesOf(40, 4));
        put("OLD.5", bytesOf(700, 5));
        FS_Delete("GONE.4");
        FS_Rename("OLD.5", "NEW.6");
        const Bytes plain = describeMedium(g, r);
        save("medium", "volume-" + std::to_string(g), Bytes{0x1F} + plain);
        // The same volume with its map lost: every block free.
        DirScan s;
        FS_OpenDir(nullptr, &s);
        std::memset(r->block(s.startBlock + r->geometry.dirBlocks), 0, r->blockSizeBytes());
        save("medium", "map-lost-" + std::to_string(g), Bytes{0x21} + describeMedium(g, r));
    }
}

// Writes a file with fn, returns its bytes.
template <class F> Bytes written(F fn) {
    ramdev::RamDevice *r = medium(4);
    std::memset(r->data.data(), 0, r->data.size());
    resetLibrary();
    useAlone(r);
    FS_Format("A:SEED");
    FS_Init(nullptr);
    const int16_t h = FS_OpenW("S.1");
    fn(h);
    FS_CloseW(h);
    Bytes out;
    const int16_t rh = FS_OpenR("S.1");
    for (int16_t c; (c = FS_Getc(rh)) != -1;) out.push_back(uint8_t(c));
    FS_CloseR(rh);
    return out;
}

void startFile(int16_t h, uint8_t flags1, uint8_t flags2) {
    HeaderFileStructure hs;
    P2C_InitHeaderFileStructure(&hs)->flags1 = flags1, hs.flags2 = flags2;
    P2C_Do_Save_Start_DateTime(h, 12, 30, 99, 5, 7, &hs);
}

void datafiles() {
    save("datafiles", "tags", Bytes{0, 0} + written([](int16_t h) {
        TagRecord t;
        for (uint16_t n : {0, 5, 25, 28, 29, 31}) {
            FS_InitTag(&t)->tagNumber = n, t.tagValue = n == 28 ? 500 : 1;
            n == 25 || n == 29 ? FS_SaveWordTag(h, &t) : n == 28 ? FS_SaveFloatTag(h, &t) : FS_SaveByteTag(h, &t);
        }
        FS_SaveEndTag(h);
    }));
    save("datafiles", "raw", Bytes{1, 0} + written([](int16_t h) {
        RawHeader rh;
        FS_InitRawHeader(&rh)->rawKind = 1, rh.rawParam = 7, rh.rawValue = 0x01020304;
        FS_RawWriteHeader(h, &rh);
        const Bytes b = bytesOf(300, 9);
        FS_RawWrite(h, b.data(), uint32_t(b.size()));
    }));
    for (uint8_t flags : {0x00, 0xA0, 0x20}) {
        save("datafiles", "mer-" + std::to_string(flags), Bytes{2, 1} + written([flags](int16_t h) {
            startFile(h, uint8_t(0x80 | flags), uint8_t(flags & 0x20 ? 0x20 : 0));
            MERStructure m;
            for (int i = 0; i < 3; i++) {
                P2C_InitMERStructure(&m);
                m.coord1 = 1000 * i, m.coord2 = -77 * i, m.byte1 = int8_t(i), m.word1 = 300, m.time = 1000000000 + i;
                std::strcpy(m.text1, "first"), std::strcpy(m.text2, "second"), m.flag = uint8_t(i % 2);
                P2C_MER_File_Add_Data(h, &m);
            }
        }));
    }
    save("datafiles", "track", Bytes{3, 1} + written([](int16_t h) {
        startFile(h, 0x00, 0x00);
        TrackStructure t;
        for (int i = 0; i < 4; i++) {
            P2C_InitTrackStructure(&t);
            t.coord1 = i * 40, t.coord2 = i * 9, t.byte1 = 1, t.word1 = int16_t(i), t.dword2 = 77;
            i == 2 ? P2C_Create_File_Add_Break(h) : P2C_Track_File_Add_Data(h, &t);
        }
    }));
    save("datafiles", "lines", Bytes{4, 1} + written([](int16_t h) {
        startFile(h, 0x80, 0x00);
        LineHeader l;
        FS_InitLineHeader(&l);
        std::strcpy(l.name, "line"), l.lineId = 3, l.lineValue = 9, l.lineWords[2] = 5;
        FS_SaveLineHeader(h, &l);
        AreaData d = {1, 2};
        FS_SaveLineData(h, &d);
    }));
    save("datafiles", "areas", Bytes{5, 1} + written([](int16_t h) {
        startFile(h, 0x80, 0x00);
        AreaHeader a;
        FS_InitAreaHeader(&a);
        std::strcpy(a.line.name, "area"), a.line.lineId = 4, a.areaWords[1] = 8, a.areaTable[15] = 3;
        FS_SaveAreaHeader(h, &a);
        AreaData d = {5, 6};
        FS_SaveAreaData(h, &d);
    }));
    save("datafiles", "datetime", Bytes{6, 0} + written([](int16_t h) { startFile(h, 0x80, 0x20); }));
}

// Scripts of the ops target: opcodes and their argument bytes (see ops.cpp).
void ops() {
    const Bytes create = {0, 0, 2, 6, 0x80, 3, 40, 4, 6}, read = {5, 0, 6, 0, 0x85, 6, 0, 0x40, 7, 0};
    const Bytes change = {9, 0, 4, 8, 2, 11, 0, 12, 13, 0, 13, 1, 10, 14};
    const Bytes full = {0, 3, 2, 6, 0x80, 255, 255, 2, 6, 0x80, 255, 255, 4, 6, 13, 1};
    const Bytes faults = {0, 4, 31, 5, 2, 6, 0x80, 9, 9, 4, 6, 31, 0, 8, 4, 13, 1, 63, 1, 9, 4, 1};
    const Bytes bad = {0, 9, 0, 11, 0, 255, 2, 2, 0x81, 4, 3, 7, 6, 6, 0x40, 15, 0, 0, 0, 9, 1, 7};
    for (int g = 0; g < kGeometries; g++) {
        save("ops", "basic-" + std::to_string(g), Bytes{uint8_t(g)} + create + read + change);
        save("ops", "faults-" + std::to_string(g), Bytes{uint8_t(g)} + create + faults + read);
    }
    save("ops", "full", Bytes{4} + full + full + full);
    save("ops", "bad", Bytes{5} + bad + create);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    g_dir = argv[1];
    media();
    datafiles();
    ops();
    return 0;
}
