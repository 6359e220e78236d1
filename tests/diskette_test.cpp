// The diskette driver end to end on the KERNEL32 stand-in: diskette images
// of both sizes in drives A: and B:, reached the Windows NT way (drive
// devices) and the Windows 9x way (BIOS services of VWIN32). Drive handles,
// the platform and the media kinds are process-wide: CTest gives every
// test a process of its own, and the test that needs them as they start
// skips itself after another test.
#include <algorithm>
#include <filesystem>

#include "cardfs_kernel32_standin.h"
#include "helpers.h"

namespace {

constexpr uint32_t kNT = K32S_PLATFORM_NT, k9x = K32S_PLATFORM_9X;
constexpr uint32_t k720 = 737280, k144 = 1474560;
constexpr size_t kSector = 512;

struct Case {
    uint32_t platform, bytes;
};
const Case kCases[] = {{kNT, k144}, {kNT, k720}, {k9x, k144}, {k9x, k720}};
std::string describe(const Case &c) {
    return std::string(c.platform == kNT ? "NT " : "9x ") + (c.bytes == k144 ? "1.44 MB" : "720 KB");
}

DeviceDescriptor *drive(int n) { return W32_DISK_GetDevicePtr(int16_t(n)); }
Ints diskette(uint32_t bytes) { return {512, int(bytes / kSector), 0, 2, 3}; }

// Where two images first differ; -1 when they are the same.
long firstDifference(const Bytes &a, const Bytes &b) {
    if (a.size() != b.size()) return long(std::min(a.size(), b.size()));
    const auto m = std::mismatch(a.begin(), a.end(), b.begin());
    return m.first == a.end() ? -1 : long(m.first - a.begin());
}
// A diskette of `fill` bytes as formatting leaves it: the volume header
// (version byte as given), the second directory block zero, the map with
// blocks 0 to 2 in use; the data blocks keep `fill`.
Bytes formatted(uint32_t bytes, uint8_t fill = 0, uint8_t version = 1) {
    Bytes b(bytes, fill);
    std::fill(b.begin(), b.begin() + 3 * kSector, 0);
    memcpy(b.data(), "DDOSFLOPPY  ", 12);
    putWord(&b[12], uint16_t(bytes / kSector));
    b[14] = version;
    b[15] = uint8_t(bytes >> 14);  // 90 or 45 units of 16 KiB
    b[2 * kSector] = 0x07;
    return b;
}

int g_testsInProcess = 0;

class Diskette : public ::testing::Test {
protected:
    std::filesystem::path dir;
    DeviceDescriptor *table[3] = {drive(0), drive(1), nullptr};
    uint8_t buf[1024] = {};

    void SetUp() override {
        ++g_testsInProcess;
        K32S_Reset();
        dir = newTempDir("cardfs_diskette_");
        ASSERT_EQ(FS_SetDeviceTable(table), -1);
    }
    void TearDown() override {
        K32S_Reset();
        std::filesystem::remove_all(dir);
    }
    bool fresh() const { return g_testsInProcess == 1; }
    // An image file with these bytes in the drive, on the given platform.
    std::string insert(int n, const Bytes &image, uint32_t platform, const char *name = "a.img") {
        const std::string path = (dir / name).string();
        putFile(path, image);
        K32S_SetPlatform(platform);
        EXPECT_EQ(K32S_InsertDiskette(int16_t(n), path.c_str()), -1) << path;
        return path;
    }
    int16_t readBlock(int n, int block) { return drive(n)->ReadBlock(drive(n), int16_t(block), buf); }
    int16_t writeBlock(int n, int block) { return drive(n)->WriteBlock(drive(n), int16_t(block), buf); }
    int16_t init(int n) { return drive(n)->InitDevice(drive(n)); }
};
#define SKIP_UNLESS_FRESH() \
    if (!fresh()) GTEST_SKIP() << "needs the process-wide driver state fresh: run it alone (ctest does)"

TEST_F(Diskette, Descriptors) {
    EXPECT_TRUE(drive(2) == nullptr && drive(-1) == nullptr);
    EXPECT_TRUE(drive(0)->deviceType == 0 && drive(1)->deviceType == 1);
    EXPECT_TRUE(drive(0)->flashGeometry == nullptr && drive(1)->flashGeometry == nullptr);
}

// A new process: the geometry is zero and the family unknown until an
// InitDevice asks for it; a blank diskette then formats all the same.
TEST_F(Diskette, FreshProcessFormatsABlankDiskette) {
    SKIP_UNLESS_FRESH();
    EXPECT_EQ(geometry(drive(0)), Ints(5, 0));
    const std::string path = insert(0, Bytes(k144, 0xF6), kNT);
    EXPECT_EQ(FS_Format("A:FLOPPY"), -18) << "no family known yet";
    EXPECT_EQ(FS_Init(nullptr), -6);
    EXPECT_EQ(geometry(drive(0)), Ints(5, 0)) << "no volume: the geometry stays";
    EXPECT_EQ(FS_Format("A:FLOPPY"), -1);
    EXPECT_EQ(firstDifference(fileBytes(path), formatted(k144, 0xF6)), -1);
}

// A blank image has no volume; FS_Format writes the header, the second directory block and the map,
// and leaves every data block as it was.
TEST_F(Diskette, FormatWritesTheVolumeByteForByte) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(describe(c));
        const std::string path = insert(0, Bytes(c.bytes, 0xF6), c.platform);
        EXPECT_EQ(FS_Init(nullptr), -6);
        EXPECT_EQ(FS_GetDeviceType(), 2) << "current, without a volume";
        EXPECT_EQ(FS_Format("FLOPPY.3"), -1);
        EXPECT_EQ(firstDifference(fileBytes(path), formatted(c.bytes, 0xF6)), -1);
        EXPECT_EQ(FS_Init(nullptr), -1);
        EXPECT_EQ(FS_TotalBlocks(), int(c.bytes / kSector) - 3);
    }
}

// Files written on either drive read back after the diskettes were taken
// out and put in again, and an image written the NT way reads the 9x way.
TEST_F(Diskette, FilesRoundTripOnBothDrives) {
    const Bytes big = pattern(300 * 510, 7), small = pattern(1000, 8);
    for (const Case &c : kCases) {
        SCOPED_TRACE(describe(c));
        const std::string a = insert(0, formatted(c.bytes), c.platform, "a.img");
        const std::string b = insert(1, formatted(c.bytes), c.platform, "b.img");
        ASSERT_EQ(FS_Init(nullptr), -1);
        EXPECT_EQ(writeFile("BIG.1", big), -1);
        ASSERT_EQ(DoCd("B:"), -1);
        EXPECT_EQ(writeFile("SMALL.2", small), -1);
        ASSERT_TRUE(K32S_InsertDiskette(0, a.c_str()) == -1 && K32S_InsertDiskette(1, b.c_str()) == -1);
        K32S_SetPlatform(c.platform == kNT ? k9x : kNT);
        ASSERT_EQ(DoCd("A:"), -1);
        EXPECT_EQ(readBack("BIG.1"), ok(big));
        EXPECT_EQ(readBack("SMALL.2").first, -4);
        ASSERT_EQ(DoCd("B:"), -1);
        EXPECT_EQ(readBack("SMALL.2"), ok(small));
    }
}

// The NT family keeps one drive handle: a read through A:'s descriptor
// goes to the drive opened last.
TEST_F(Diskette, NtReadsComeFromTheDriveOpenedLast) {
    Bytes other = formatted(k144);
    other[5 * kSector] = 0xB5;
    insert(0, formatted(k144), kNT, "a.img");
    insert(1, other, kNT, "b.img");
    ASSERT_TRUE(init(0) == -1 && init(1) == -1);
    EXPECT_TRUE(readBlock(0, 5) == -1 && buf[0] == 0xB5);
}

// Both sizes on both families; byte 14 of block 0, the format version: 0 and 1 mount, 2 does not.
TEST_F(Diskette, DetectsBothSizesAndRefusesVersionsAboveOne) {
    for (uint32_t platform : {kNT, k9x}) {
        for (uint32_t bytes : {k720, k144, k720}) {
            SCOPED_TRACE(describe({platform, bytes}));
            for (uint8_t version : {uint8_t{2}, uint8_t{0}, uint8_t{1}}) {
                insert(1, formatted(bytes, 0, version), platform);
                EXPECT_EQ(init(1), version > 1 ? -8 : -1);
            }
            EXPECT_EQ(geometry(drive(1)), diskette(bytes));
        }
    }
}

// The geometry's byte count loses its low 10 bits: 512 bytes more is
// still a diskette, 1024 more is not; so is a sector of another size.
TEST_F(Diskette, NtGeometryIsRoundedToKilobytes) {
    insert(0, formatted(k144), kNT);
    const std::pair<std::vector<uint32_t>, int16_t> cases[] = {
        {{2881, 1, 1, 512}, -1}, {{1441, 1, 1, 512}, -1}, {{2882, 1, 1, 512}, -6}, {{80, 2, 9, 1024}, -6}};
    for (const auto &[g, status] : cases) {
        SCOPED_TRACE(g[0]);
        ASSERT_EQ(K32S_SetReportedGeometry(0, g[0], g[1], g[2], g[3]), -1);
        EXPECT_EQ(init(0), status);
        if (status == -1) {
            EXPECT_EQ(drive(0)->totalBlocks, int(g[0] * g[1] * g[2] - 1));
        }
    }
}

TEST_F(Diskette, WriteProtectedDiskette) {
    const Bytes data = pattern(2000, 3);
    for (uint32_t platform : {kNT, k9x}) {
        SCOPED_TRACE(platform);
        const std::string path = insert(0, formatted(k720), platform);
        ASSERT_EQ(FS_Init(nullptr), -1);
        ASSERT_EQ(K32S_SetWriteProtected(0, 1), -1);
        EXPECT_EQ(writeFile("F.1", data), -43);
        EXPECT_EQ(FS_Format("A:OTHER"), -43);
        EXPECT_EQ(firstDifference(fileBytes(path), formatted(k720)), -1);
        ASSERT_EQ(K32S_SetWriteProtected(0, 0), -1);
        EXPECT_EQ(writeFile("F.1", data), -1);
        EXPECT_EQ(readBack("F.1"), ok(data));
    }
}

TEST_F(Diskette, NoDisketteIsNoDevice) {
    for (uint32_t platform : {kNT, k9x}) {
        SCOPED_TRACE(platform);
        insert(0, formatted(k144), platform);
        ASSERT_EQ(init(0), -1);
        ASSERT_EQ(K32S_EjectDiskette(0), -1);
        EXPECT_EQ(writeBlock(0, 5), platform == kNT ? -100 : -18);
        EXPECT_EQ(FS_Init(nullptr), -18);
    }
    insert(0, formatted(k144), kNT);
    ASSERT_EQ(K32S_SetNotReady(0, 1), -1);
    EXPECT_EQ(FS_Init(nullptr), -18) << "NT: drive not ready";
}

// 9x: the transfer right after a change reports it, the next one goes
// ahead. NT does not look.
TEST_F(Diskette, MediaChange) {
    insert(0, formatted(k144), k9x);
    ASSERT_EQ(init(0), -1);
    ASSERT_EQ(K32S_ReportMediaChange(0), -1);
    EXPECT_EQ(readBlock(0, 5), -102);
    EXPECT_EQ(readBlock(0, 5), -1);
    const std::string swapped = insert(0, Bytes(k144, 0), k9x, "b.img");
    EXPECT_EQ(writeBlock(0, 5), -102);
    EXPECT_EQ(fileBytes(swapped), Bytes(k144, 0)) << "nothing written";

    insert(0, formatted(k144), kNT);
    ASSERT_EQ(init(0), -1);
    insert(0, formatted(k144), kNT, "b.img");
    EXPECT_EQ(writeBlock(0, 5), -1);
}

// A block outside the medium makes the diskette unknown: writes (and 9x
// reads) report -101 until it is detected again. NT reads do not check.
TEST_F(Diskette, BlockOutsideTheMedium) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(describe(c));
        insert(0, formatted(c.bytes), c.platform);
        ASSERT_EQ(init(0), -1);
        EXPECT_EQ(writeBlock(0, int(c.bytes / kSector)), -103);
        EXPECT_EQ(writeBlock(0, 5), -101);
        EXPECT_EQ(readBlock(0, 5), c.platform == kNT ? -1 : -101);
        EXPECT_EQ(drive(0)->PrepareMedium(drive(0)), -1);
        EXPECT_EQ(writeBlock(0, -1), -103);
        EXPECT_EQ(init(0), -1);
        EXPECT_EQ(writeBlock(0, 5), -1);
    }
}

// 9x: a read is made once, a write up to three times. A failed transfer on
// NT is a failure at once.
TEST_F(Diskette, FailedTransfers) {
    for (uint32_t platform : {kNT, k9x}) {
        SCOPED_TRACE(platform);
        const std::string path = insert(0, formatted(k144), platform);
        ASSERT_EQ(init(0), -1);
        buf[0] = 0x5A;
        K32S_FailTransfer(1, 2);
        EXPECT_EQ(writeBlock(0, 7), platform == kNT ? -100 : -1);
        EXPECT_EQ(fileBytes(path)[7 * kSector], platform == kNT ? 0 : 0x5A);
        K32S_FailTransfer(1, 3);
        EXPECT_EQ(writeBlock(0, 8), -100);
        K32S_FailTransfer(1, 1);
        EXPECT_EQ(readBlock(0, 7), -100);
        K32S_FailTransfer(0, 0);
    }
    K32S_SetPlatform(kNT);
    K32S_FailTransfer(1, 1);
    EXPECT_EQ(init(0), -100) << "NT: block 0 unreadable";
}

// A platform of neither family reaches no drive and leaves the descriptor.
TEST_F(Diskette, PlatformOfNeitherFamily) {
    insert(0, formatted(k720), kNT);
    ASSERT_EQ(init(0), -1);
    const Ints before = geometry(drive(0));
    insert(0, formatted(k144), 3);
    EXPECT_EQ(FS_Init(nullptr), -18);
    DeviceDescriptor *d = drive(0);
    EXPECT_TRUE(d->PrepareMedium(d) == -18 && readBlock(0, 1) == -18 && writeBlock(0, 1) == -18);
    EXPECT_EQ(geometry(d), before);
}

}  // namespace
