// Block allocation (order, full media, flash release, skip and reclamation), the capacity
// queries, and descriptors whose geometry cannot hold a volume.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ram_device.h"

using ramdev::Op;
using ramdev::RamDevice;

namespace {
using Dev = std::unique_ptr<RamDevice, void (*)(RamDevice *)>;
using Ints = std::vector<int>;

Dev mounted(RamDevice *r, bool format = true) {  // the one device of a fresh table
    static DeviceDescriptor *table[2];
    table[0] = r->dev(), table[1] = nullptr;
    EXPECT_EQ(FS_SetDeviceTable(table), -1);
    if (format) EXPECT_TRUE(FS_Format("A:ALLOC") == -1 && FS_Init(nullptr) == -1);
    return Dev(r, ramdev::destroy);
}

std::vector<long> figures() {  // block size, device size, total, used, free blocks, free bytes
    return {FS_BlockSize(), FS_DeviceSize(), FS_TotalBlocks(), FS_BlocksUsed(), FS_BlocksFree(), FS_SpaceFree()};
}

int16_t writeFile(const char *name, size_t n, uint8_t seed) {  // bytes seed + i
    int16_t h = FS_OpenW(name);
    for (size_t i = 0; h >= 0 && i < n; i++)
        if (int16_t st = FS_Putc(int16_t((seed + i) & 0xFF), h); st != -1) return FS_CloseW(h), st;
    return h < 0 ? h : FS_CloseW(h);
}

bool readsBack(const char *name, size_t n, uint8_t seed) {
    int16_t h = FS_OpenR(name);
    bool same = h >= 0;
    for (size_t i = 0; i < n && same; i++) same = FS_Getc(h) == int16_t((seed + i) & 0xFF);
    same = same && FS_Getc(h) == -1 && GetErrno() == -57;
    return FS_CloseR(h), same;
}

Ints firstBlocks(std::initializer_list<const char *> bases) {
    Ints v;
    for (const char *base : bases) {
        std::string name8 = (base + std::string(8, ' ')).substr(0, 8);
        DirScan s;
        DirEntry e{};
        int first = -1;
        for (int st = FS_OpenDir(nullptr, &s); st == -1 && first < 0; st = FS_ReadDir(&s))
            if (FS_GetDirEntry(&s, &e) == -1 && e.extension && !std::memcmp(e.name, name8.data(), 8)) first = e.firstBlock;
        v.push_back(first);
    }
    return v;
}

const uint8_t *flashMap(RamDevice *r) {  // map block of the valid system-area copy
    for (int b = 0; b < r->geometry.firstDataBlock; b++)
        if (std::memcmp(r->block(b) + 1, "DOS", 3) == 0) return r->block(b + r->geometry.dirBlocks);
    return nullptr;
}

// 512-byte blocks, 8 to a sector; sectors 0-1 system, data sectors 2-5 (map bytes 4-11).
// Block 16 is marked in use by hand, so allocation goes on in sector 2 whatever came before.
Dev smallFlash() {
    Dev f = mounted(ramdev::makeFlash(512, 48, 1, 16, 4096, 6, 2));
    f->block(1)[4] = 0x03;
    f->resetCounters();
    return f;
}
}  // namespace

TEST(VolumeAlloc, DisketteLowestFreeBlockFirstAndFull) {
    Dev d = mounted(ramdev::makeDiskette(2880, 0));
    ASSERT_EQ(writeFile("A.1", 600, 1), -1);
    ASSERT_EQ(writeFile("B.1", 1, 2), -1);
    ASSERT_EQ(writeFile("C.1", 0, 0), -1);
    EXPECT_EQ(firstBlocks({"A", "B", "C"}), (Ints{3, 5, 6}));
    EXPECT_EQ(d->block(2)[0], 0x7F);
    ASSERT_EQ(FS_Delete("A.1"), -1);
    EXPECT_EQ(d->block(2)[0], 0x67);
    for (const char *name : {"D.1", "E.1", "F.1"}) ASSERT_EQ(writeFile(name, 1, 4), -1);
    EXPECT_EQ(firstBlocks({"D", "E", "F"}), (Ints{3, 4, 7}));

    // 20 blocks: only map bytes 0 and 1 take part, so blocks 16-19 are never handed out.
    Dev t = mounted(ramdev::makeDiskette(20, 0));
    ASSERT_EQ(writeFile("BIG.1", 13 * 510, 7), -1);
    EXPECT_EQ(FS_OpenW("MORE.1"), -3);
    EXPECT_EQ(Ints(t->block(2), t->block(2) + 3), (Ints{0xFF, 0xFF, 0}));
    EXPECT_EQ((Ints{FS_TotalBlocks(), FS_BlocksUsed()}), (Ints{17, 16}));
    EXPECT_TRUE(readsBack("BIG.1", 13 * 510, 7));
}

TEST(VolumeAlloc, FlashSkipsStaleBlocksAndErasesDirtySector) {
    Dev f = smallFlash();
    f->block(17)[0] = 0x00;  // stale data in a block the map calls free
    f->block(29)[1] = 0x00;  // and in sector 3, not in use yet
    ASSERT_EQ(writeFile("S.1", 10, 1), -1);
    EXPECT_EQ(firstBlocks({"S"}), Ints{18});
    ASSERT_NE(flashMap(f.get()), nullptr);
    EXPECT_EQ(flashMap(f.get())[4], 0x3B) << "16 in use, 17 released, 18 in use";
    ASSERT_EQ(writeFile("A.1", 5 * 510, 2), -1);  // 19-23 fill sector 2
    EXPECT_EQ(f->sectorErases[3], 0u);
    ASSERT_EQ(writeFile("T.1", 1, 3), -1);
    EXPECT_EQ(f->sectorErases[3], 1u) << "a sector taken into use is erased when dirty";
    EXPECT_TRUE(firstBlocks({"T"}) == Ints{24} && readsBack("T.1", 1, 3));
}

TEST(VolumeAlloc, FlashReleaseAndReclamation) {
    Dev f = smallFlash();
    ASSERT_EQ(writeFile("A.1", 7 * 510, 1), -1);  // 17-23
    ASSERT_EQ(writeFile("B.1", 3 * 510, 2), -1);  // 24-26
    ASSERT_EQ(writeFile("C.1", 5 * 510, 3), -1);  // 27-31
    ASSERT_EQ(writeFile("D.1", 8 * 510, 4), -1);  // 32-39; sector 5 is the spare
    EXPECT_EQ(firstBlocks({"A", "B", "C", "D"}), (Ints{17, 24, 27, 32}));
    EXPECT_EQ((Ints{FS_TotalBlocks(), FS_BlocksUsed()}), (Ints{24, 24}));
    EXPECT_EQ(FS_OpenW("X.1"), -3) << "nothing released, although the spare is erased";
    ASSERT_EQ(FS_Delete("B.1"), -1);
    EXPECT_EQ(flashMap(f.get())[6], 0xEA) << "24-26 released (10), 27 in use";
    EXPECT_EQ(FS_BlocksUsed(), 21);
    std::vector<uint8_t> before(f->block(27), f->block(32));
    f->resetCounters();
    ASSERT_EQ(writeFile("E.1", 600, 5), -1);
    EXPECT_EQ(firstBlocks({"A", "C", "E"}), (Ints{17, 27, 24}));
    EXPECT_EQ(std::vector<uint8_t>(f->block(27), f->block(32)), before) << "live blocks keep place and content";
    for (int b = 43; b < 48; b++) EXPECT_EQ(f->blockWrites[b], 1u) << "copied to the spare: " << b;
    EXPECT_EQ(std::vector<uint32_t>(f->sectorErases.begin() + 2, f->sectorErases.end()),
              (std::vector<uint32_t>{0, 1, 0, 1})) << "sector 3 and the spare erased once";
    for (int b = 40; b < 48; b++) EXPECT_EQ(f->block(b)[0] & f->block(b)[300], 0xFF) << b;
    const uint8_t *map = flashMap(f.get());
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(Ints(map + 4, map + 12), (Ints{0xFF, 0xFF, 0xCF, 0xFF, 0xFF, 0xFF, 0, 0}))
        << "24-25 in use, 26 free, 27 in use; the spare stays free";
    EXPECT_EQ(FS_BlocksUsed(), 23);
    EXPECT_TRUE(readsBack("C.1", 5 * 510, 3));
    EXPECT_TRUE(readsBack("E.1", 600, 5));
}

TEST(VolumeQueries, Figures) {
    Dev n = mounted(ramdev::makeDiskette(2880, 0), false);
    n->initStatus = -100;
    ASSERT_EQ(FS_Init(nullptr), -100);
    EXPECT_EQ(figures(), (std::vector<long>{0xFFEE, -18, -18, -18, -18, -18})) << "no current device";
    Dev d = mounted(ramdev::makeDiskette(1440, 0));
    EXPECT_EQ(NameToDevice("C:"), nullptr);  // leaves -18 behind
    // The reserved blocks share the first data block's map byte, so they count as used.
    EXPECT_EQ(figures(), (std::vector<long>{512, 720, 1437, 3, 1434, 1434 * 512}));
    EXPECT_EQ(GetErrno(), -18) << "the queries leave the status alone";
    int16_t h = FS_OpenW("OPEN.3");
    for (int i = 0; i < 1100 && h >= 0; i++) ASSERT_EQ(FS_Putc(int16_t(i), h), -1);
    EXPECT_EQ(FS_BlocksUsed(), 3) << "blocks of an open write are not on the medium's map yet";
    ASSERT_EQ(FS_CloseW(h), -1);
    EXPECT_EQ(FS_BlocksUsed(), 6);
    d->armFault(Op::Read, 1, -321);
    EXPECT_EQ(FS_BlocksUsed(), -321);

    Dev c = mounted(ramdev::makeFlashCard(18), false);
    ASSERT_EQ(FS_Init(nullptr), -6);
    EXPECT_EQ(figures(), (std::vector<long>{512, 1024, 1664, -6, 1670, 1670 * 512})) << "no header copy";
    ASSERT_EQ(FS_Format("CARD"), -1);
    EXPECT_EQ(figures(), (std::vector<long>{512, 1024, 1664, 0, 1664, 1664 * 512}));
}

TEST(VolumeQueries, GeometryThatCannotHoldAVolume) {
    // 1100 bytes overflow every block buffer; 24 is no multiple of 16; 256-byte blocks cannot
    // hold the 360-byte map of 2880 blocks; 65 flash sectors; system sectors past the end.
    for (int variant = 0; variant < 5; variant++) {
        Dev d = mounted(variant < 3 ? ramdev::makeDiskette(2880, 0) : ramdev::makeFlashCard(17));
        const int16_t sizes[] = {1100, 24, 256};
        if (variant < 3) d->geometry.blockSize = sizes[variant];
        if (variant == 3) d->flash.sectorCount = 65;
        if (variant == 4) d->flash.systemSectors = 17;
        d->resetCounters();
        EXPECT_EQ(FS_Init(nullptr), -6) << variant;
        if (variant < 3) EXPECT_EQ(FS_Format("A:BAD"), -6) << variant;
        EXPECT_EQ(FS_OpenW("F.1"), -6) << variant;
        EXPECT_EQ(d->count.of(Op::Read) + d->count.of(Op::Write) + d->count.of(Op::ReadBytes), 0u) << variant;
    }
}
