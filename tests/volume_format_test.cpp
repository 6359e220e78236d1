// Formatting and the destructive volume test, checked byte for byte on the medium.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "ram_device.h"

using ramdev::Op;
using ramdev::RamDevice;

namespace {
using Dev = std::unique_ptr<RamDevice, void (*)(RamDevice *)>;
using Bytes = std::vector<uint8_t>;

Bytes blockOf(RamDevice *r, int b) { return Bytes(r->block(b), r->block(b) + r->blockSizeBytes()); }

Bytes header(size_t size, const char *label8, uint16_t total, uint8_t sizeCode) {
    Bytes v(size, 0);
    std::memcpy(v.data(), "DDOS", 4), std::memcpy(v.data() + 4, label8, 8);
    v[12] = uint8_t(total), v[13] = uint8_t(total >> 8), v[14] = 1, v[15] = sizeCode;
    return v;
}

Bytes mapBlock(size_t size, size_t fullBytes, uint8_t last) {  // in-use bits of the system area
    Bytes v(size, 0);
    std::fill(v.begin(), v.begin() + long(fullBytes), 0xFF);
    return v[fullBytes] = last, v;
}

int16_t (*realRead)(DeviceDescriptor *, int16_t, void *);
int16_t readBlock4Wrong(DeviceDescriptor *d, int16_t block, void *buffer) {
    int16_t st = realRead(d, block, buffer);
    if (st == -1 && block == 4) static_cast<uint8_t *>(buffer)[100] ^= 0x10;
    return st;
}
}  // namespace

TEST(VolumeFormat, DisketteAndCard) {
    Dev a(ramdev::makeDiskette(2880, 0), ramdev::destroy), b(ramdev::makeDiskette(1440, 1), ramdev::destroy);
    Dev card(ramdev::makeFlashCard(17), ramdev::destroy);
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
    for (int blk = 1; blk < 16; blk++) EXPECT_EQ(blockOf(card.get(), blk), Bytes(512, 0)) << blk;
    EXPECT_EQ(blockOf(card.get(), 16), mapBlock(512, 64, 0));
    EXPECT_EQ(blockOf(card.get(), 17), Bytes(512, 0xFF));
    EXPECT_EQ(DoCd("C:"), -1);
}

TEST(VolumeFormat, CartridgeSizeCodeAndForeignContent) {
    Dev cart(ramdev::makeFlashCartridge4M(10), ramdev::destroy);
    DeviceDescriptor *table[] = {cart->dev(), nullptr};
    ASSERT_EQ(FS_SetDeviceTable(table), -1);
    EXPECT_EQ(FS_Format("A:CART"), -1);
    EXPECT_EQ(blockOf(cart.get(), 0), header(1024, "CART    ", 4096, 0)) << "the size code wraps to 0";
    EXPECT_EQ(blockOf(cart.get(), 8), mapBlock(1024, 32, 0));
    const uint8_t foreign[] = {0xFF, 0x12, 0xFF, 0x12};
    std::memcpy(cart->block(0), foreign, 4);
    cart->resetCounters();
    EXPECT_EQ(DoCd("A:"), -17);
    EXPECT_EQ(FS_Format("A:X"), -17);
    EXPECT_EQ(cart->count.of(Op::Prepare) + cart->count.of(Op::Write), 0u);
    cart->block(0)[3] = 0xFF;  // byte 3 erased: not foreign
    EXPECT_EQ(FS_Format("A:XUPS"), -1);  // another card kind's word at bytes 5 to 8
    EXPECT_EQ(DoCd("A:"), -1);
    cart->desc.deviceType = 17;  // the check is for cartridges only
    std::memcpy(cart->block(0), foreign, 4);
    EXPECT_EQ(FS_Format("A:X"), -1);
}

TEST(VolumeTest, PatternsMismatchAndFormat) {
    Dev d(ramdev::makeDiskette(2048, 0), ramdev::destroy);
    realRead = d->desc.ReadBlock, d->desc.ReadBlock = readBlock4Wrong;
    DeviceDescriptor *table[] = {d->dev(), nullptr};
    ASSERT_EQ(FS_SetDeviceTable(table), -1);
    EXPECT_EQ(FS_Test("A:T"), -10);
    EXPECT_EQ(d->count.of(Op::Write), 4u) << "the test stops at block 4 and does not format";
    EXPECT_EQ(FS_Init(nullptr), -6);
    d->desc.ReadBlock = realRead;
    d->resetCounters();
    EXPECT_EQ(FS_Test("A:TESTED"), -1);
    EXPECT_EQ(d->count.of(Op::Write), 12u + 3u) << "blocks 0, 1, 2, 4 ... 1024, then the format's three";
    for (int b = 4, k = 3; b < 2048; b *= 2, k++) {
        EXPECT_EQ(d->blockWrites[b] * 10 + d->blockReads[b], 11u) << b;
        for (size_t i = 0; i < 512; i++) ASSERT_EQ(d->block(b)[i], uint8_t(i + k)) << b;
    }
    EXPECT_EQ(blockOf(d.get(), 0), header(512, "TESTED  ", 2048, 64));
    EXPECT_EQ(FS_Init(nullptr), -1);
    d->armFault(Op::Write, 3, -321);
    EXPECT_EQ(FS_Test("A:T"), -321);
}
