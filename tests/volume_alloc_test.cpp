// Block allocation as files see it (order, full media, flash release, skip and reclamation),
// the capacity queries, and descriptors whose geometry cannot hold a volume.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cardfs.h"
#include "ram_device.h"

using ramdev::Op;
using ramdev::RamDevice;

namespace {

using Dev = std::unique_ptr<RamDevice, void (*)(RamDevice *)>;

Dev only(RamDevice *r) {  // the one device of a fresh table
    static DeviceDescriptor *table[2];
    table[0] = r->dev(), table[1] = nullptr;
    EXPECT_EQ(FS_SetDeviceTable(table), -1);
    return Dev(r, ramdev::destroy);
}

Dev formatted(RamDevice *r) {  // ... formatted and mounted
    Dev d = only(r);
    EXPECT_EQ(FS_Init(nullptr), -6);
    EXPECT_EQ(FS_Format("A:ALLOC"), -1);
    EXPECT_EQ(FS_Init(nullptr), -1);
    return d;
}

// Block size, device size, total, used and free blocks, free bytes.
std::vector<long> figures() {
    return {FS_BlockSize(), FS_DeviceSize(), FS_TotalBlocks(), FS_BlocksUsed(), FS_BlocksFree(), FS_SpaceFree()};
}

// Writes n bytes (seed + i) as a new file: the first failure, or what closing returns.
int16_t writeFile(const char *name, size_t n, uint8_t seed) {
    int16_t h = FS_OpenW(name);
    if (h < 0) return h;
    for (size_t i = 0; i < n; i++) {
        int16_t st = FS_Putc(int16_t((seed + i) & 0xFF), h);
        if (st != -1) return FS_CloseW(h), st;
    }
    return FS_CloseW(h);
}

bool readsBack(const char *name, size_t n, uint8_t seed) {
    int16_t h = FS_OpenR(name);
    bool same = h >= 0;
    for (size_t i = 0; i < n && same; i++) same = FS_Getc(h) == int16_t((seed + i) & 0xFF);
    same = same && FS_Getc(h) == -1 && GetErrno() == -57;
    FS_CloseR(h);
    return same;
}

DirEntry entryOf(const char *base) {  // a live file's entry, by its base name
    std::string name8 = (base + std::string(8, ' ')).substr(0, 8);
    DirScan s;
    DirEntry e{};
    EXPECT_EQ(FS_OpenDir(nullptr, &s), -1);
    while (FS_ReadDir(&s) == -1)
        if (FS_GetDirEntry(&s, &e) == -1 && e.extension != 0 && std::memcmp(e.name, name8.data(), 8) == 0) return e;
    return DirEntry{};
}

std::vector<int> firstBlocks(std::initializer_list<const char *> bases) {
    std::vector<int> v;
    for (const char *n : bases) v.push_back(entryOf(n).firstBlock);
    return v;
}
using Ints = std::vector<int>;

const uint8_t *flashMap(RamDevice *r) {  // map block of the valid system-area copy
    for (int b = 0; b < r->geometry.firstDataBlock; b++)
        if (std::memcmp(r->block(b) + 1, "DOS", 3) == 0) return r->block(b + r->geometry.dirBlocks);
    return nullptr;
}

// 512-byte blocks, 8 to a sector; sectors 0-1 system, data sectors 2-5 (map bytes 4-5, 6-7,
// 8-9, 10-11). Block 16 is marked in use by hand, so that allocation goes on in sector 2
// whatever sector the allocator used last.
Dev smallFlash() {
    Dev f = formatted(ramdev::makeFlash(512, 48, 1, 16, 4096, 6, 2));
    f->block(1)[4] = 0x03;
    f->resetCounters();
    return f;
}

}  // namespace

TEST(VolumeAlloc, DisketteLowestFreeBlockFirst) {
    Dev d = formatted(ramdev::makeDiskette(2880, 0));
    ASSERT_EQ(writeFile("A.1", 600, 1), -1);
    ASSERT_EQ(writeFile("B.1", 1, 2), -1);
    ASSERT_EQ(writeFile("C.1", 0, 0), -1);
    EXPECT_EQ(firstBlocks({"A", "B", "C"}), (Ints{3, 5, 6}));
    EXPECT_EQ(entryOf("A").blockCount, 2);
    EXPECT_EQ(d->block(3)[0] | d->block(3)[1] << 8, 4) << "link to the next block";
    EXPECT_EQ(d->block(4)[0] | d->block(4)[1] << 8, 0x8000 + 2 + 90) << "last block, bytes in use";
    EXPECT_EQ(d->block(2)[0], 0x7F);
    ASSERT_EQ(FS_Delete("A.1"), -1);
    EXPECT_EQ(d->block(2)[0], 0x67);
    for (const char *name : {"D.1", "E.1", "F.1"}) ASSERT_EQ(writeFile(name, 1, 4), -1);
    EXPECT_EQ(firstBlocks({"D", "E", "F"}), (Ints{3, 4, 7}));
    EXPECT_EQ(d->block(2)[0] | d->block(2)[1] << 8, 0xFF);
    EXPECT_TRUE(readsBack("B.1", 1, 2));
    EXPECT_TRUE(readsBack("E.1", 1, 4));

    // 20 blocks: only map bytes 0 and 1 take part, so blocks 16-19 are never handed out.
    Dev t = formatted(ramdev::makeDiskette(20, 0));
    ASSERT_EQ(writeFile("BIG.1", 13 * 510, 7), -1);
    EXPECT_EQ(FS_OpenW("MORE.1"), -3);
    EXPECT_EQ(GetErrno(), -3);
    EXPECT_EQ(Ints(t->block(2), t->block(2) + 3), (Ints{0xFF, 0xFF, 0}));
    for (int b = 16; b < 20; b++) EXPECT_EQ(t->blockWrites[b], 0u) << b;
    EXPECT_EQ((Ints{FS_TotalBlocks(), FS_BlocksUsed()}), (Ints{17, 16}));
    EXPECT_TRUE(readsBack("BIG.1", 13 * 510, 7));
}

TEST(VolumeAlloc, FlashSkipsStaleBlocksAndErasesDirtySector) {
    Dev f = smallFlash();
    f->block(17)[0] = 0x00;  // stale data in a block the map calls free
    f->block(29)[1] = 0x00;  // and in sector 3, not in use yet
    ASSERT_EQ(writeFile("S.1", 10, 1), -1);
    EXPECT_EQ(entryOf("S").firstBlock, 18);
    ASSERT_NE(flashMap(f.get()), nullptr);
    EXPECT_EQ(flashMap(f.get())[4], 0x3B) << "16 in use, 17 released, 18 in use";
    EXPECT_EQ(FS_BlocksUsed(), 2);
    ASSERT_EQ(writeFile("A.1", 5 * 510, 2), -1);  // 19-23 fill sector 2
    EXPECT_EQ(f->sectorErases[3], 0u);
    ASSERT_EQ(writeFile("T.1", 1, 3), -1);
    EXPECT_EQ(entryOf("T").firstBlock, 24);
    EXPECT_EQ(f->sectorErases[3], 1u) << "a sector taken into use is erased when dirty";
    EXPECT_TRUE(readsBack("T.1", 1, 3));
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
    EXPECT_EQ(GetErrno(), -3);

    ASSERT_EQ(FS_Delete("B.1"), -1);
    EXPECT_EQ(flashMap(f.get())[6], 0xEA) << "24-26 released (10), 27 in use";
    EXPECT_EQ(FS_BlocksUsed(), 21);
    std::vector<uint8_t> before(f->block(27), f->block(32));
    f->resetCounters();
    ASSERT_EQ(writeFile("E.1", 600, 5), -1);
    EXPECT_EQ(firstBlocks({"A", "C", "E"}), (Ints{17, 27, 24}));
    EXPECT_EQ(entryOf("E").blockCount, 2);
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

TEST(VolumeQueries, WithoutCurrentDevice) {
    Dev d = only(ramdev::makeDiskette(2880, 0));
    d->initStatus = -100;
    ASSERT_EQ(FS_Init(nullptr), -100);
    EXPECT_EQ(GetErrno(), -100);
    EXPECT_EQ(FS_BlocksUsed(), -18);
    EXPECT_EQ(GetErrno(), -1) << "FS_BlocksUsed does not store -18";
    EXPECT_EQ(FS_GetCurrDeviceLetter(), -18);
    EXPECT_EQ(GetErrno(), -18);
    EXPECT_EQ(figures(), (std::vector<long>{0xFFEE, -18, -18, -18, -18, -18}));
    DirScan s;
    EXPECT_EQ(FS_FilesPresent(&s), -18);
    EXPECT_EQ(FS_Format("NOLETTER"), -55);
    EXPECT_EQ(FS_Test("NOLETTER"), -55);
    EXPECT_EQ(d->count.of(Op::Write), 0u);
}

TEST(VolumeQueries, DisketteFigures) {
    Dev a(ramdev::makeDiskette(2880, 0), ramdev::destroy), b(ramdev::makeDiskette(1440, 1), ramdev::destroy);
    DeviceDescriptor *table[] = {a->dev(), b->dev(), nullptr};
    ASSERT_EQ(FS_SetDeviceTable(table), -1);
    ASSERT_EQ(FS_Init(nullptr), -6);
    ASSERT_EQ(FS_Format("A:Q"), -1);
    ASSERT_EQ(FS_Format("B:Q"), -1);
    ASSERT_EQ(FS_Init(nullptr), -1);
    EXPECT_EQ(NameToDevice("C:"), nullptr);  // leaves -18 behind
    // The reserved blocks share the first data block's map byte, so they count as used.
    EXPECT_EQ(figures(), (std::vector<long>{512, 1440, 2877, 3, 2874, 2874 * 512}));
    EXPECT_EQ(GetErrno(), -18) << "the queries leave the status alone";
    DirScan s;
    EXPECT_EQ(FS_FilesPresent(&s), 0);
    EXPECT_EQ(GetErrno(), -4);

    ASSERT_EQ(writeFile("ONE.1", 600, 0), -1);
    ASSERT_EQ(writeFile("TWO.2", 0, 0), -1);
    int16_t h = FS_OpenW("OPEN.3");
    for (int i = 0; i < 1100 && h >= 0; i++) ASSERT_EQ(FS_Putc(int16_t(i), h), -1);
    EXPECT_EQ(FS_BlocksUsed(), 6) << "blocks of an open write are not on the medium's map yet";
    ASSERT_EQ(FS_CloseW(h), -1);
    EXPECT_EQ(FS_BlocksUsed(), 9);
    EXPECT_EQ(FS_FilesPresent(&s), 3);
    ASSERT_EQ(FS_Delete("ONE.1"), -1);
    EXPECT_EQ(FS_BlocksUsed(), 7);
    EXPECT_EQ(FS_FilesPresent(&s), 2);

    ASSERT_EQ(DoCd("B:"), -1);
    EXPECT_EQ(figures(), (std::vector<long>{512, 720, 1437, 3, 1434, 1434 * 512}));
    EXPECT_EQ(FS_GetCurrDeviceLetter(), 1);
    b->armFault(Op::Read, 1, -321);
    EXPECT_EQ(FS_BlocksUsed(), -321);
    EXPECT_EQ(GetErrno(), -321);
    b->armFault(Op::Read, 1, -321);
    EXPECT_EQ(FS_BlocksFree(), 1437 + 321) << "free figures compute with the failure code";
}

TEST(VolumeQueries, FlashFigures) {
    Dev c = only(ramdev::makeFlashCard(18));
    ASSERT_EQ(FS_Init(nullptr), -6);
    EXPECT_EQ(figures(), (std::vector<long>{512, 1024, 1664, -6, 1670, 1670 * 512})) << "no header copy";
    EXPECT_EQ(GetErrno(), -6);
    ASSERT_EQ(FS_Format("CARD"), -1);
    EXPECT_EQ(figures(), (std::vector<long>{512, 1024, 1664, 0, 1664, 1664 * 512}));
}

TEST(VolumeQueries, GeometryThatCannotHoldAVolume) {
    // 1100 bytes overflow every block buffer; 24 is no multiple of 16; 256-byte blocks cannot
    // hold the 360-byte map of 2880 blocks; 65 flash sectors; system sectors past the end.
    for (int variant = 0; variant < 5; variant++) {
        Dev d = only(variant < 3 ? ramdev::makeDiskette(2880, 0) : ramdev::makeFlashCard(17));
        ASSERT_EQ(FS_Init(nullptr), -6);
        ASSERT_EQ(FS_Format("A:GOOD"), -1);
        const int16_t sizes[] = {1100, 24, 256};
        if (variant < 3) d->geometry.blockSize = sizes[variant];
        if (variant == 3) d->flash.sectorCount = 65;
        if (variant == 4) d->flash.systemSectors = 17;
        d->resetCounters();
        EXPECT_EQ(FS_Init(nullptr), -6) << variant;
        if (variant < 3) {  // (the RAM flash's own PrepareMedium fails on such a geometry)
            EXPECT_EQ(FS_Format("A:BAD"), -6) << variant;
            EXPECT_EQ(FS_Test("A:BAD"), -6) << variant;
        }
        DirScan s;
        EXPECT_EQ(FS_OpenDir(nullptr, &s), -6) << variant;
        EXPECT_EQ(FS_OpenW("F.1"), -6) << variant;
        EXPECT_EQ(FS_BlocksUsed(), -6) << variant;
        EXPECT_EQ(d->count.of(Op::Read) + d->count.of(Op::Write) + d->count.of(Op::ReadBytes), 0u) << variant;
    }
}
