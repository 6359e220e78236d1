// Mounting, formatting and the volume test byte for byte, allocation, reclamation, capacity, bad geometry.
#include "helpers.h"

using ramdev::Op;
using ramdev::RamDevice;

namespace {
Bytes header(size_t size, const char *label8, uint16_t total, uint8_t sizeCode, const char *sig = "DDOS", uint8_t version = 1) {
    Bytes v(size, 0);
    std::memcpy(v.data(), sig, 4), std::memcpy(v.data() + 4, label8, 8);
    putWord(&v[12], total), v[14] = version, v[15] = sizeCode;
    return v;
}
void putHeader(RamDevice *r, int block, const char *sig, const char *label, uint8_t version) {
    const Bytes h = header(r->blockSizeBytes(), label, uint16_t(r->geometry.totalBlocks), 0, sig, version);
    std::copy(h.begin(), h.end(), r->block(block));
}
std::string mountedLabel() { return std::string(listDir()[0].name, 8); }  // entry 0 is the volume header
Bytes blockOf(RamDevice *r, int b, int n = 1) { return Bytes(r->block(b), r->block(b + n)); }
Bytes mapBlock(size_t size, size_t fullBytes, uint8_t last) {  // in-use bits of the system area
    Bytes v(size, 0);
    std::fill(v.begin(), v.begin() + long(fullBytes), 0xFF);
    return v[fullBytes] = last, v;
}
Ints chainOfEntry(RamDevice *r, size_t k) { return chainOf(r, listDir()[k].firstBlock); }
// 512-byte blocks, 8 to a sector; sectors 0-1 system, data sectors 2-5 (map bytes 4-11).
Dev smallFlash(int cursor = 2) {
    parkAllocationCursor(cursor);
    return mounted(ramdev::makeFlash(512, 48, 1, 16, 4096, 6, 2));
}
std::vector<long> figures() {  // block size, device size, total, used, free blocks, free bytes
    return {FS_BlockSize(), FS_DeviceSize(), FS_TotalBlocks(), FS_BlocksUsed(), FS_BlocksFree(), FS_SpaceFree()};
}
}  // namespace

TEST(VolumeMount, TableInitDoCdAndNames) {
    Dev a = own(ramdev::makeDiskette(2880, 0)), b = own(ramdev::makeDiskette(2880, 1));
    DeviceDescriptor *empty[] = {nullptr}, *gap[] = {a->dev(), nullptr, b->dev(), nullptr};
    DeviceDescriptor *two[] = {a->dev(), b->dev(), nullptr};
    ASSERT_EQ(FS_SetDeviceTable(empty), -1);
    EXPECT_EQ(FS_Init(nullptr), -58);
    EXPECT_EQ(GetErrno(), -58);
    EXPECT_EQ(GetErrno(), -1);
    ASSERT_EQ(FS_SetDeviceTable(gap), -1);
    EXPECT_EQ(FS_SetDeviceTable(nullptr), -58);
    EXPECT_EQ(FS_GetDevicesNum(), 1) << "a refused table keeps the previous one; the first null ends it";
    putHeader(a.get(), 0, "DDOS", "VOLA    ", 1), putHeader(b.get(), 0, "DDOS", "VOLB    ", 1);
    EXPECT_EQ(FS_Init("B:"), -18);
    EXPECT_EQ(a->count.of(Op::Init), 0u) << "entry 0 is current without having been initialised";
    EXPECT_EQ(FS_Init(nullptr), -1);
    EXPECT_EQ(mountedLabel(), "VOLA    ");
    EXPECT_EQ(FS_GetDeviceType(), 2);
    ASSERT_EQ(FS_SetDeviceTable(two), -1);
    EXPECT_EQ(FS_Init("b:"), -1);
    EXPECT_EQ(mountedLabel(), "VOLB    ");
    EXPECT_EQ(NameToDevice("file.1"), b->dev());
    EXPECT_EQ(NameToDevice("C:"), nullptr);
    EXPECT_EQ(DoCd("A:"), -1);
    b->initStatus = -321;  // a driver's own code reaches the host unchanged; the current device stays
    EXPECT_EQ(DoCd("B:"), -321);
    EXPECT_EQ(GetErrno(), -321);
    EXPECT_EQ(FS_GetCurrDeviceLetter(), 0);
    char out[16], name8[8];  // exactly 8 bytes, no terminator
    std::memcpy(name8, "ABCDEFGH", 8);
    EXPECT_EQ(BuildFileName(out, name8, 123), 12);
    EXPECT_STREQ(out, "ABCDEFGH.123");
    EXPECT_EQ(BuildFileName(out, "DATA\t\n  ", 7), 8);
    EXPECT_STREQ(out, "DATA.007");
}

TEST(VolumeMount, HeaderSignatureVersionAndFlashSearch) {
    Dev a = mounted(ramdev::makeDiskette(), nullptr);
    const struct { const char *sig; uint8_t version; int16_t want; } cases[] = {
        {"XDOS", 1, -1}, {"\0DOS", 0, -1}, {"DDOT", 1, -6}, {"DdOS", 1, -6}, {"DDOS", 2, -8}};
    for (const auto &c : cases) {
        putHeader(a.get(), 0, c.sig, "VOLUME  ", c.version);
        EXPECT_EQ(FS_Init(nullptr), c.want) << c.sig + 1 << " v" << int(c.version);
        EXPECT_EQ(FS_GetCurrDeviceLetter(), c.want == -8 ? -18 : 0) << c.sig + 1;
    }
    Dev c = mounted(ramdev::makeFlashCard(), nullptr);
    auto probes = [&](int16_t want) {  // header reads a mount makes
        c->resetCounters();
        EXPECT_EQ(FS_Init(nullptr), want);
        return c->count.of(Op::ReadBytes);
    };
    // Sector 0: an invalidated copy in slot 0, valid ones in slots 2 and 4; one more in sector 1.
    putHeader(c.get(), 0, "D\0\0\0", "OLD     ", 1), putHeader(c.get(), 34, "DDOS", "LOWER   ", 1);
    putHeader(c.get(), 68, "DDOS", "HIGHER  ", 2), putHeader(c.get(), 128, "DDOS", "SECTOR1 ", 2);
    EXPECT_EQ(probes(-1), 3u);
    EXPECT_EQ(mountedLabel(), "LOWER   ");
    // Erased sector 0 is probed once; sector 1 has three invalidated copies, then a valid one.
    std::fill(c->data.begin(), c->data.end(), 0xFF);
    for (int blk : {128, 145, 162}) putHeader(c.get(), blk, "D\0\0\0", "OLD     ", 1);
    putHeader(c.get(), 179, "DDOS", "SLOT3   ", 1);
    EXPECT_EQ(probes(-1), 5u);
    EXPECT_EQ(mountedLabel(), "SLOT3   ");
    // Block 119 of a sector lies past its last whole 17-block slot.
    putHeader(c.get(), 179, "D\0\0\0", "OLD     ", 1), putHeader(c.get(), 128 + 119, "DDOS", "OUTSIDE ", 1);
    EXPECT_EQ(probes(-6), 8u);
}

TEST(VolumeFormat, DisketteCardAndCartridge) {
    Dev a = own(ramdev::makeDiskette(2880, 0)), b = own(ramdev::makeDiskette(1440, 1)), card = own(ramdev::makeFlashCard(17));
    std::fill(a->data.begin(), a->data.end(), 0xA5);
    std::fill(card->data.begin(), card->data.end(), 0x00);  // PrepareMedium has to erase it
    DeviceDescriptor *table[] = {a->dev(), b->dev(), card->dev(), nullptr};
    ASSERT_EQ(FS_SetDeviceTable(table), -1);
    ASSERT_EQ(FS_Init(nullptr), -6);
    EXPECT_EQ(FS_Format("A:MYDISK"), -1);
    EXPECT_EQ(blockOf(a.get(), 0), header(512, "MYDISK  ", 2880, 90));
    EXPECT_EQ(blockOf(a.get(), 1), Bytes(512, 0));
    EXPECT_EQ(blockOf(a.get(), 2), mapBlock(512, 0, 0x07));
    EXPECT_EQ(blockOf(a.get(), 3), Bytes(512, 0xA5)) << "data blocks are not written";
    EXPECT_EQ(a->count.of(Op::Write), 3u);
    EXPECT_EQ(FS_Format("B:NAMEISLONG.5"), -1) << "the extension plays no part";
    EXPECT_EQ(blockOf(b.get(), 0), header(512, "NAMEISLO", 1440, 45));
    EXPECT_EQ(FS_Format("C:CARD"), -1);
    EXPECT_EQ(FS_GetCurrDeviceLetter(), 0) << "the current device does not change";
    EXPECT_EQ(blockOf(card.get(), 0), header(512, "CARD    ", 2048, 64));
    EXPECT_EQ(blockOf(card.get(), 1, 15), Bytes(15 * 512, 0));
    EXPECT_EQ(blockOf(card.get(), 16), mapBlock(512, 64, 0));
    EXPECT_EQ(blockOf(card.get(), 17), Bytes(512, 0xFF));
    EXPECT_EQ(DoCd("C:"), -1);

    Dev cart = mounted(ramdev::makeFlashCartridge4M(10), "A:CART");
    EXPECT_EQ(blockOf(cart.get(), 0), header(1024, "CART    ", 4096, 0)) << "the size code wraps to 0";
    EXPECT_EQ(blockOf(cart.get(), 8), mapBlock(1024, 32, 0));
    const uint8_t foreign[] = {0xFF, 0x12, 0xFF, 0x12};
    std::memcpy(cart->block(0), foreign, 4);
    cart->resetCounters();
    EXPECT_EQ(DoCd("A:"), -17);
    EXPECT_EQ(FS_Format("A:X"), -17);
    EXPECT_EQ(cart->count.of(Op::Prepare) + cart->count.of(Op::Write), 0u) << "nothing prepared or written";
    cart->block(0)[3] = 0xFF;  // byte 3 erased: not foreign
    EXPECT_EQ(FS_Format("A:XUPS"), -1) << "another card kind's word at bytes 5 to 8 is a label here";
    EXPECT_EQ(DoCd("A:"), -1);
    cart->desc.deviceType = 17;  // the check is for cartridges only
    std::memcpy(cart->block(0), foreign, 4);
    EXPECT_EQ(FS_Format("A:X"), -1);
}

TEST(VolumeTest, PatternsMismatchAndFormat) {
    Dev d = mounted(ramdev::makeDiskette(2048, 0), nullptr);
    d->armFault(Op::Read, 4, -1, ramdev::Fault::Flipped);  // block 4 reads back other data
    EXPECT_EQ(FS_Test("A:T"), -10);
    EXPECT_EQ(d->struck, 4);
    EXPECT_EQ(d->count.of(Op::Write), 4u) << "the test stops at block 4 and does not format";
    EXPECT_EQ(FS_Init(nullptr), -6);
    d->resetCounters();
    EXPECT_EQ(FS_Test("A:TESTED"), -1);
    EXPECT_EQ(d->count.of(Op::Write), 12u + 3u) << "blocks 0, 1, 2, 4 ... 1024, then the format's three";
    EXPECT_EQ(d->count.of(Op::Read), 12u) << "each tested block read back once";
    for (int b = 4, k = 3; b < 2048; b *= 2, k++)
        for (size_t i = 0; i < 512; i++) ASSERT_EQ(d->block(b)[i], uint8_t(i + size_t(k))) << b;
    EXPECT_EQ(blockOf(d.get(), 0), header(512, "TESTED  ", 2048, 64));
    EXPECT_EQ(FS_Init(nullptr), -1);
    d->armFault(Op::Write, 3, -321);
    EXPECT_EQ(FS_Test("A:T"), -321);
}

TEST(VolumeAlloc, DisketteOf20BlocksUsesTwoMapBytes) {  // blocks 16-19 are never handed out
    Dev t = mounted(ramdev::makeDiskette(20, 0));
    ASSERT_EQ(writeFile("BIG.1", pattern(13 * 510, 7)), -1);
    EXPECT_EQ(FS_OpenW("MORE.1"), -3);
    EXPECT_EQ(Ints(t->block(2), t->block(2) + 3), (Ints{0xFF, 0xFF, 0}));
    EXPECT_EQ(FS_TotalBlocks(), 17);
    EXPECT_EQ(FS_BlocksUsed(), 16);
    EXPECT_EQ(readBack("BIG.1"), ok(pattern(13 * 510, 7)));
}

TEST(VolumeAlloc, FlashSkipsStaleBlocks) {
    Dev f = smallFlash();
    ASSERT_EQ(writeFile("R.1", {}), -1);
    f->block(17)[0] = 0x00;  // stale data in a block the map calls free, in a sector in use
    ASSERT_EQ(writeFile("S.1", pattern(600, 1)), -1);
    EXPECT_EQ(chainOfEntry(f.get(), 2), (Ints{18, 19}));
    EXPECT_EQ(mapOf(f.get())[4], 0xFB) << "16 in use, 17 released, 18 and 19 in use";
}

// The cursor is the library's, not the volume's: a fresh volume takes its first block from the first
// empty sector at or after the one the last allocation came from, wrapping round past the last sector.
TEST(VolumeAlloc, FlashCursorOutlivesFormatAndMount) {
    Dev f = smallFlash(4);
    ASSERT_EQ(writeFile("A.1", {}), -1);
    EXPECT_EQ(chainOfEntry(f.get(), 1), Ints{32});
    ASSERT_EQ(FS_Format("A:AGAIN"), -1);
    ASSERT_EQ(FS_Init(nullptr), -1);
    ASSERT_EQ(writeFile("B.1", pattern(17 * 510, 2)), -1);
    EXPECT_EQ(chainOfEntry(f.get(), 1), (Ints{32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 16}));
}

TEST(VolumeAlloc, FlashReleaseAndReclamation) {
    Dev f = smallFlash();
    const int sizes[] = {8, 3, 5, 8};  // blocks 16-23, 24-26, 27-31, 32-39; sector 5 is the spare
    for (int i = 0; i < 4; i++) ASSERT_EQ(writeFile(std::string{char('A' + i)} + ".1", pattern(size_t(sizes[i] * 510), uint32_t(i + 1))), -1);
    EXPECT_EQ(chainOfEntry(f.get(), 3), (Ints{27, 28, 29, 30, 31}));
    EXPECT_EQ(FS_TotalBlocks(), 24);
    EXPECT_EQ(FS_BlocksUsed(), 24);
    EXPECT_EQ(FS_OpenW("X.1"), -3) << "nothing released, although the spare is erased";
    ASSERT_EQ(FS_Delete("B.1"), -1);
    EXPECT_EQ(mapOf(f.get())[6], 0xEA) << "24-26 released (10), 27 in use";
    EXPECT_EQ(FS_BlocksUsed(), 21);
    const Bytes live = blockOf(f.get(), 27, 5);
    ASSERT_EQ(writeFile("E.1", pattern(600, 5)), -1);  // sector 3 is reclaimed through the spare
    EXPECT_EQ(chainOfEntry(f.get(), 2), (Ints{24, 25}));
    EXPECT_EQ(blockOf(f.get(), 27, 5), live) << "live blocks keep place and content";
    EXPECT_EQ(blockOf(f.get(), 26), Bytes(512, 0xFF)) << "the released block is erased";
    EXPECT_EQ(blockOf(f.get(), 40, 8), Bytes(8 * 512, 0xFF)) << "the spare is erased again";
    const Bytes map = mapOf(f.get());
    EXPECT_EQ(Ints(map.begin() + 4, map.begin() + 12), (Ints{0xFF, 0xFF, 0xCF, 0xFF, 0xFF, 0xFF, 0, 0}))
        << "24-25 in use, 26 free, 27 in use; the spare stays free";
    EXPECT_EQ(FS_BlocksUsed(), 23);
    EXPECT_EQ(readBack("C.1"), ok(pattern(5 * 510, 3)));
    EXPECT_EQ(readBack("E.1"), ok(pattern(600, 5)));
}

TEST(VolumeQueries, Figures) {
    Dev n = mounted(ramdev::makeDiskette(), nullptr);
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
    EXPECT_EQ(FS_CloseW(h), -1);
    EXPECT_EQ(FS_BlocksUsed(), 6);
    d->armFault(Op::Read, 1, -321);
    EXPECT_EQ(FS_BlocksUsed(), -321);
    Dev c = mounted(ramdev::makeFlashCard(18), nullptr);
    ASSERT_EQ(FS_Init(nullptr), -6);
    EXPECT_EQ(figures(), (std::vector<long>{512, 1024, 1664, -6, 1670, 1670 * 512})) << "no header copy";
    ASSERT_EQ(FS_Format("CARD"), -1);
    EXPECT_EQ(figures(), (std::vector<long>{512, 1024, 1664, 0, 1664, 1664 * 512}));
}

TEST(VolumeQueries, GeometryThatCannotHoldAVolume) {
    // 1100 bytes overflow every block buffer; 24 is no multiple of 16; 256-byte blocks cannot hold the
    // 360-byte map of 2880 blocks; 65 flash sectors; system sectors past the end.
    for (int variant = 0; variant < 5; variant++) {
        Dev d = mounted(variant < 3 ? ramdev::makeDiskette() : ramdev::makeFlashCard());
        const int16_t sizes[] = {1100, 24, 256};
        if (variant < 3) d->geometry.blockSize = sizes[variant];
        if (variant == 3) d->flash.sectorCount = 65;
        if (variant == 4) d->flash.systemSectors = 17;
        d->resetCounters();
        EXPECT_EQ(FS_Init(nullptr), -6) << variant;
        EXPECT_EQ(variant < 3 ? FS_Format("A:BAD") : -6, -6) << variant;
        EXPECT_EQ(FS_OpenW("F.1"), -6) << variant;
        EXPECT_EQ(d->count.of(Op::Read) + d->count.of(Op::Write) + d->count.of(Op::ReadBytes), 0u) << variant;
    }
}
