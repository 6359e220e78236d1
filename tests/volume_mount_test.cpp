// Device table, status variable, mounting, drive names and file-name building.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "ram_device.h"

using ramdev::Op;
using ramdev::RamDevice;

namespace {
using Dev = std::unique_ptr<RamDevice, void (*)(RamDevice *)>;
Dev diskette(int32_t type) { return Dev(ramdev::makeDiskette(2880, type), ramdev::destroy); }

void putHeader(RamDevice *r, int block, const char *sig, const char *label, uint8_t version) {
    uint8_t *p = r->block(block);
    std::memset(p, 0, r->blockSizeBytes());
    std::memcpy(p, sig, 4), std::memcpy(p + 4, label, 8);
    p[12] = uint8_t(r->geometry.totalBlocks), p[13] = uint8_t(r->geometry.totalBlocks >> 8), p[14] = version;
}

std::string mountedLabel() {  // entry 0 of a fresh scan is the volume header
    DirScan s;
    DirEntry e;
    if (FS_OpenDir(nullptr, &s) != -1 || FS_GetDirEntry(&s, &e) != -1) return "<none>";
    return std::string(e.name, 8);
}
}  // namespace

TEST(VolumeMount, TableInitDoCdAndNames) {
    Dev a = diskette(0), b = diskette(1);
    DeviceDescriptor *empty[] = {nullptr}, *gap[] = {a->dev(), nullptr, b->dev(), nullptr};
    ASSERT_EQ(FS_SetDeviceTable(empty), -1);
    EXPECT_EQ(FS_Init(nullptr), -58);
    EXPECT_EQ(GetErrno(), -58);
    EXPECT_EQ(GetErrno(), -1);
    ASSERT_EQ(FS_SetDeviceTable(gap), -1);
    EXPECT_EQ(FS_SetDeviceTable(nullptr), -58);
    EXPECT_EQ(FS_GetDevicesNum(), 1) << "a refused table keeps the previous one; the first null ends it";
    putHeader(a.get(), 0, "DDOS", "VOLA    ", 1);
    putHeader(b.get(), 0, "DDOS", "VOLB    ", 1);
    EXPECT_EQ(FS_Init("B:"), -18);
    EXPECT_EQ(a->count.of(Op::Init), 0u);
    EXPECT_EQ(FS_Init(nullptr), -1);
    EXPECT_EQ(mountedLabel(), "VOLA    ");
    EXPECT_EQ(FS_GetDeviceType(), 2);

    DeviceDescriptor *two[] = {a->dev(), b->dev(), nullptr};
    ASSERT_EQ(FS_SetDeviceTable(two), -1);
    EXPECT_EQ(FS_Init("b:"), -1);
    EXPECT_EQ(mountedLabel(), "VOLB    ");
    EXPECT_EQ(NameToDevice("file.1"), b->dev());
    EXPECT_EQ(NameToDevice("C:"), nullptr);
    EXPECT_EQ(DoCd("A:"), -1);
    b->initStatus = -321;  // a driver's own code reaches the host unchanged
    EXPECT_EQ(DoCd("B:"), -321);
    EXPECT_EQ(GetErrno(), -321);
    EXPECT_EQ(FS_GetCurrDeviceLetter(), 0) << "the current device stays";
}

TEST(VolumeMount, HeaderSignatureAndVersion) {
    Dev a = diskette(0);
    DeviceDescriptor *table[] = {a->dev(), nullptr};
    ASSERT_EQ(FS_SetDeviceTable(table), -1);
    const struct { const char *sig; uint8_t version; int16_t want; } cases[] = {
        {"XDOS", 1, -1}, {"\0DOS", 0, -1}, {"DDOT", 1, -6}, {"DdOS", 1, -6}, {"DDOS", 2, -8}};
    for (const auto &c : cases) {
        putHeader(a.get(), 0, c.sig, "VOLUME  ", c.version);
        EXPECT_EQ(FS_Init(nullptr), c.want) << c.sig + 1 << " v" << int(c.version);
        EXPECT_EQ(FS_GetCurrDeviceLetter(), c.want == -8 ? -18 : 0) << c.sig + 1;
    }
}

TEST(VolumeMount, FlashHeaderSearch) {
    Dev c(ramdev::makeFlashCard(), ramdev::destroy);
    DeviceDescriptor *table[] = {c->dev(), nullptr};
    ASSERT_EQ(FS_SetDeviceTable(table), -1);
    // Sector 0: an invalidated copy in slot 0, valid ones in slots 2 and 4; one more in sector 1.
    putHeader(c.get(), 0, "D\0\0\0", "OLD     ", 1);
    putHeader(c.get(), 34, "DDOS", "LOWER   ", 1);
    putHeader(c.get(), 68, "DDOS", "HIGHER  ", 2);
    putHeader(c.get(), 128, "DDOS", "SECTOR1 ", 2);
    c->resetCounters();
    EXPECT_EQ(FS_Init(nullptr), -1);
    EXPECT_EQ(c->count.of(Op::ReadBytes), 3u);
    EXPECT_EQ(mountedLabel(), "LOWER   ");
    // Erased sector 0 is probed once; sector 1 has three invalidated copies, then a valid one.
    std::fill(c->data.begin(), c->data.end(), 0xFF);
    for (int blk : {128, 145, 162}) putHeader(c.get(), blk, "D\0\0\0", "OLD     ", 1);
    putHeader(c.get(), 179, "DDOS", "SLOT3   ", 1);
    c->resetCounters();
    EXPECT_EQ(FS_Init(nullptr), -1);
    EXPECT_EQ(c->count.of(Op::ReadBytes), 5u);
    EXPECT_EQ(mountedLabel(), "SLOT3   ");
    // Block 119 of a sector lies past its last whole 17-block slot.
    putHeader(c.get(), 179, "D\0\0\0", "OLD     ", 1);
    putHeader(c.get(), 128 + 119, "DDOS", "OUTSIDE ", 1);
    c->resetCounters();
    EXPECT_EQ(FS_Init(nullptr), -6);
    EXPECT_EQ(c->count.of(Op::ReadBytes), 8u);
}

TEST(VolumeNames, BuildFileName) {
    auto build = [](const char *field, int16_t number) {
        std::unique_ptr<char[]> name8(new char[8]);  // exactly 8 bytes, no terminator
        std::memcpy(name8.get(), field, 8);
        char out[16];
        int16_t n = BuildFileName(out, name8.get(), number);
        return std::to_string(n) + " " + out;
    };
    EXPECT_EQ(build("ABCDEFGH", 123), "12 ABCDEFGH.123");
    EXPECT_EQ(build("DATA\t\n  ", 7), "8 DATA.007");
}
