// The card-programmer stand-in called directly: what the drivers' own tests
// cannot see well — the bytes in the backing files, the chip codes of every
// configuration, media calls on real files, faults and the power cut.
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cardfs_programmer_standin.h"
#include "helpers.h"
#include "kvwin32.h"

namespace {

constexpr uint32_t kMiB = 0x100000;

template <class T>
T *object(int16_t deviceClass) {
    ObjectRequest r{deviceClass, 1, 0, nullptr};
    kvcCustomFunction(kKvcCreateObject, &r);
    return static_cast<T *>(r.object);
}

class Standin : public ::testing::Test {
protected:
    void SetUp() override {
        KVS_Reset();
        dir = newTempDir("kvs_test_");
        ASSERT_FALSE(dir.empty());
        ppi = object<CKvcPPI>(kKvcPPI);
        usb = object<CKvcUSB>(kKvcUSB);
        reader = object<CKvcUSBMMR>(kKvcUSBMMR);
    }
    void TearDown() override {
        KVS_Reset();
        std::filesystem::remove_all(dir);
    }
    std::string at(const char *name) const { return dir + "/" + name; }
    Bytes readCartridge(uint32_t address, uint32_t count) {
        Bytes b(count);
        ppi->kvciSetPointer(address);
        ppi->kvciGetBuf(b.data(), count);
        return b;
    }

    std::string dir;
    CKvcPPI *ppi = nullptr;
    CKvcUSB *usb = nullptr;
    CKvcUSBMMR *reader = nullptr;
};

TEST_F(Standin, FlashProgrammingOnlyClearsBitsPeromTakesAnything) {
    const std::string flash = at("flash.img"), perom = at("perom.img");
    ASSERT_EQ(KVS_InsertCartridge(0, flash.c_str(), KVS_FLASH_1M), -1);
    ASSERT_EQ(KVS_InsertCartridge(1, perom.c_str(), KVS_PEROM_1FD5), -1);
    usb->kvciSetCartridge(0);

    const Bytes f0(4, 0xF0), setsABit = {0x30, 0x0F, 0x30, 0x30}, clears = {0x30, 0x00, 0xF0, 0x10};
    EXPECT_EQ(usb->WriteOnFlash(0x1000, f0.data(), 4, true, true), 0);
    EXPECT_NE(ppi->kvciWriteBlkFLASH(0x1000, setsABit.data(), 4, true), 0);
    EXPECT_EQ(fileBytes(flash, 0x1000, 4), f0);  // refused whole, not in part
    EXPECT_EQ(ppi->kvciWriteBlkFLASH(0x1000, clears.data(), 4, true), 0);
    EXPECT_EQ(fileBytes(flash, 0x1000, 4), clears);
    EXPECT_EQ(readCartridge(0x1000, 4), clears);
    EXPECT_NE(ppi->kvciWriteBlkPEROM(0x2000, f0.data(), 4, true), 0);  // the PEROM writer on flash
    EXPECT_NE(usb->WriteOnFlash(kMiB - 2, f0.data(), 4, true, true), 0);  // past the end
    EXPECT_EQ(fileBytes(flash, 0x2000, 4), Bytes(4, 0xFF));
    EXPECT_EQ(fileBytes(flash, kMiB - 2, 4), Bytes(2, 0xFF));
    EXPECT_EQ(readCartridge(kMiB - 2, 4), Bytes(4, 0xFF));  // reading past the end gives 0xFF

    ppi->kvciSetCartridge(1);
    EXPECT_EQ(ppi->kvciWriteBlkPEROM(0x100, f0.data(), 4, true), 0);
    EXPECT_EQ(usb->kvciWriteBlkPEROM(0x100, setsABit.data(), 4, true), 0);
    EXPECT_EQ(fileBytes(perom, 0x100, 4), setsABit);
    EXPECT_NE(ppi->kvciWriteBlkFLASH(0x200, clears.data(), 4, true), 0);
    EXPECT_EQ(fileBytes(perom, 0x200, 4), Bytes(4, 0xFF));
}

TEST_F(Standin, EraseSetsTheSixtyFourKiBSectorToFF) {
    const std::string card = at("card.img");
    ASSERT_EQ(KVS_InsertFlashCard(2, card.c_str(), KVS_FLASH_2M), -1);
    ASSERT_EQ(KVS_InsertFlashCard(3, at("perom.img").c_str(), KVS_PEROM_1FDA), -1);
    reader->SelectSlot(2);
    const Bytes zero(4, 0x00);
    for (uint32_t a : {0x2FFFCu, 0x30000u, 0x3FFFCu, 0x40000u})
        ASSERT_EQ(reader->WriteOnFlash(a, zero.data(), 4, true, true), 0);

    EXPECT_EQ(reader->kvciEraseSectorFLASH(0x30000), 0);
    EXPECT_EQ(fileBytes(card, 0x30000, 0x10000), Bytes(0x10000, 0xFF));
    EXPECT_EQ(fileBytes(card, 0x2FFFC, 4), zero);
    EXPECT_EQ(fileBytes(card, 0x40000, 4), zero);
    Bytes back(4);
    reader->ReadMemory(0x40000, 4, back.data());
    EXPECT_EQ(back, zero);
    EXPECT_NE(reader->kvciEraseSectorFLASH(2 * kMiB), 0);  // past the end

    reader->SelectSlot(3);
    EXPECT_NE(reader->kvciEraseSectorFLASH(0), 0);  // PEROM
    reader->SelectSlot(1);
    EXPECT_NE(reader->kvciEraseSectorFLASH(0), 0);  // empty
    ppi->kvciSetCartridge(0);
    EXPECT_NE(ppi->kvciEraseSectorFLASH(0), 0);  // empty cartridge slot
}

TEST_F(Standin, ContentSurvivesResetAndReinsertion) {
    const std::string image = at("cart.img");
    ASSERT_EQ(KVS_InsertCartridge(0, image.c_str(), KVS_FLASH_4M), -1);
    const Bytes data = {0x12, 0x34, 0x56, 0x78};
    ASSERT_EQ(ppi->kvciWriteBlkFLASH(4 * kMiB - 4, data.data(), 4, true), 0);

    KVS_Reset();
    EXPECT_EQ(readCartridge(4 * kMiB - 4, 4), Bytes(4, 0xFF));  // the slot is empty now
    EXPECT_EQ(KVS_InsertCartridge(0, image.c_str(), KVS_FLASH_1M), -103);  // not this chip's size
    ASSERT_EQ(KVS_InsertCartridge(0, image.c_str(), KVS_FLASH_4M), -1);
    EXPECT_EQ(readCartridge(4 * kMiB - 4, 4), data);
    EXPECT_EQ(KVS_InsertCartridge(2, image.c_str(), KVS_FLASH_4M), -103);
    EXPECT_EQ(KVS_InsertCartridge(1, (dir + "/no/such/dir/x.img").c_str(), KVS_FLASH_1M), -100);
}

TEST_F(Standin, DirectoryCardMediaCallsWorkOnRealFiles) {
    const std::string root = at("card"), image = root + "/USERIMG.BIN";
    ASSERT_EQ(KVS_InsertCardDirectory(1, root.c_str()), -1);
    ASSERT_EQ(KVS_InsertFlashCard(0, at("flash.img").c_str(), KVS_FLASH_1M), -1);
    EXPECT_EQ(reader->MediaSelect(0), 0);  // flash level only
    EXPECT_EQ(reader->MediaSelect(2), 0);  // empty
    fd32_fs_lfnfind_t found;
    ASSERT_NE(reader->MediaSelect(1), 0);
    EXPECT_EQ(reader->kvciMediaFindFirstFile("\\USERIMG.BIN", &found), 0);

    FileTime_t time{34, 12, 0, 56};
    FileDate_t date{2024, 29, 2};
    ASSERT_NE(reader->kvciMediaSetAttributes("\\USERIMG.BIN", &time, &date, 1000), 0);
    EXPECT_EQ(std::filesystem::file_size(image), 1000u);
    EXPECT_NE(reader->kvciMediaFindFirstFile("\\userimg.bin", &found), 0);
    reader->kvciMediaFindClose();

    ASSERT_NE(reader->kvciMediaOpenFile("\\UserImg.Bin", 1), 0);
    EXPECT_EQ(reader->kvciMediaOpenFile("\\USERIMG.BIN", 3), 0);  // one file at a time
    FileTime_t t{};
    FileDate_t d{};
    uint32_t size = 0;
    ASSERT_NE(reader->kvciMediaGetAttributes(&t, &d, &size), 0);
    EXPECT_EQ(size, 1000u);
    EXPECT_EQ((std::vector<int>{d.year, d.month, d.day, t.hour, t.minute, t.second}),
              (std::vector<int>{2024, 2, 29, 12, 34, 56}));
    Bytes buf(100, 0xAA);
    EXPECT_EQ(reader->kvciMediaReadFileBlock(buf.data(), 100, 950), 50);  // short at the end
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 50), Bytes(50, 0x00));
    EXPECT_EQ(reader->kvciMediaReadFileBlock(buf.data(), 100, 1000), 0);
    EXPECT_EQ(reader->kvciMediaWriteFileBlock(buf.data(), 10, 0), 0);  // read-only mode
    EXPECT_EQ(reader->kvciMediaDeleteFile("\\USERIMG.BIN"), 0);        // open
    reader->kvciMediaCloseFile();

    const Bytes hello = {'h', 'e', 'l', 'l', 'o'};
    ASSERT_NE(reader->kvciMediaOpenFile("\\USERIMG.BIN", 2), 0);
    EXPECT_NE(reader->kvciMediaWriteFileBlock(hello.data(), 5, 998), 0);
    EXPECT_EQ(reader->kvciMediaReadFileBlock(buf.data(), 5, 998), 0);  // write-only mode
    reader->kvciMediaCloseFile();
    EXPECT_EQ(fileBytes(image, 996, 100), (Bytes{0, 0, 'h', 'e', 'l', 'l', 'o'}));

    EXPECT_NE(reader->kvciMediaDeleteFile("\\UsErImG.bIn"), 0);
    EXPECT_FALSE(std::filesystem::exists(image));
    EXPECT_EQ(reader->kvciMediaOpenFile("\\USERIMG.BIN", 1), 0);
    KVS_InjectFault(KVS_FAULT_NO_MEDIUM, 0, 0);
    EXPECT_EQ(reader->MediaSelect(1), 0);
}

TEST_F(Standin, InjectedFaultsHitTheNthCallAndChangeNothing) {
    const std::string image = at("flash.img");
    ASSERT_EQ(KVS_InsertCartridge(0, image.c_str(), KVS_FLASH_1M), -1);
    ppi->kvciSetCartridge(0);
    const Bytes zero(4, 0x00);
    KVS_InjectFault(KVS_FAULT_PROGRAM, 2, 0);
    EXPECT_EQ(ppi->kvciWriteBlkFLASH(0, zero.data(), 4, true), 0);
    EXPECT_EQ(ppi->kvciWriteBlkFLASH(4, zero.data(), 4, true), 1);
    EXPECT_EQ(ppi->kvciWriteBlkFLASH(8, zero.data(), 4, true), 0);
    EXPECT_EQ(fileBytes(image, 0, 12), Bytes({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));

    KVS_InjectFault(KVS_FAULT_ERASE, 1, 0x1234);
    EXPECT_EQ(ppi->kvciEraseSectorFLASH(0), 0x1234);
    KVS_InjectFault(KVS_FAULT_ERASE, 1, 0);  // silent: reports success, erases nothing
    EXPECT_EQ(ppi->kvciEraseSectorFLASH(0), 0);
    EXPECT_EQ(fileBytes(image, 0, 4), zero);
    EXPECT_EQ(ppi->kvciEraseSectorFLASH(0), 0);
    EXPECT_EQ(fileBytes(image, 0, 4), Bytes(4, 0xFF));
    KvsCounters c;
    KVS_GetCounters(&c);
    EXPECT_EQ(c.programs, 3);
    EXPECT_EQ(c.erases, 3);
}

TEST_F(Standin, PowerCutFailsEveryWriteUntilRestored) {
    const std::string image = at("flash.img"), root = at("card");
    ASSERT_EQ(KVS_InsertCartridge(0, image.c_str(), KVS_FLASH_1M), -1);
    ASSERT_EQ(KVS_InsertCardDirectory(3, root.c_str()), -1);
    ASSERT_NE(reader->MediaSelect(3), 0);
    FileTime_t t{0, 0, 0, 0};
    FileDate_t d{2020, 1, 1};
    ASSERT_NE(reader->kvciMediaSetAttributes("\\F.BIN", &t, &d, 16), 0);
    ASSERT_NE(reader->kvciMediaSetAttributes("\\G.BIN", &t, &d, 16), 0);
    ASSERT_NE(reader->kvciMediaOpenFile("\\F.BIN", 3), 0);
    usb->kvciSetCartridge(0);
    const Bytes zero(16, 0x00);

    KVS_CutPowerAfter(2, 0);
    EXPECT_EQ(usb->WriteOnFlash(0, zero.data(), 16, true, true), 0);
    EXPECT_NE(reader->kvciMediaWriteFileBlock(zero.data(), 16, 0), 0);
    EXPECT_NE(usb->WriteOnFlash(16, zero.data(), 16, true, true), 0);  // meets the cut
    EXPECT_NE(usb->kvciEraseSectorFLASH(0), 0);
    EXPECT_EQ(reader->kvciMediaWriteFileBlock(zero.data(), 16, 16), 0);
    EXPECT_EQ(reader->kvciMediaDeleteFile("\\G.BIN"), 0);
    EXPECT_EQ(reader->kvciMediaSetAttributes("\\G.BIN", &t, &d, 32), 0);
    EXPECT_EQ(fileBytes(image, 0, 16), zero);
    EXPECT_EQ(fileBytes(image, 16, 16), Bytes(16, 0xFF));
    EXPECT_EQ(fileBytes(root + "/F.BIN", 0, 32), Bytes(16, 0x00));
    EXPECT_EQ(std::filesystem::file_size(root + "/G.BIN"), 16u);

    KVS_CutPowerAfter(-1, 0);
    EXPECT_EQ(usb->WriteOnFlash(16, zero.data(), 16, true, true), 0);
    EXPECT_EQ(fileBytes(image, 16, 16), zero);
    reader->kvciMediaCloseFile();
}

// A torn write: a prefix lands, the byte after it takes some of its new
// bits (a NOR programming clears only some of the bits it should), the
// rest is as it was; the same `writes` value tears the same way.
TEST_F(Standin, TornWritesLandAPrefixAndPartOfOneByte) {
    const uint32_t n = 64;
    Bytes old(n), next(n);
    for (uint32_t i = 0; i < n; ++i) old[i] = uint8_t(0xF0 | i), next[i] = uint8_t(old[i] & (0x5A + i));
    auto tear = [&](int32_t writes) {
        const std::string image = at(("torn" + std::to_string(writes) + ".img").c_str());
        EXPECT_EQ(KVS_RemoveCartridge(0), -1);  // Windows keeps an open file's name until it is closed
        std::filesystem::remove(image);
        EXPECT_EQ(KVS_InsertCartridge(0, image.c_str(), KVS_FLASH_1M), -1);
        ppi->kvciSetCartridge(0);
        EXPECT_EQ(ppi->kvciWriteBlkFLASH(0x1000, old.data(), n, true), 0);
        KVS_CutPowerAfter(writes, 1);
        const uint8_t zero = 0;
        for (int32_t i = 0; i < writes; ++i) EXPECT_EQ(ppi->kvciWriteBlkFLASH(0x8000 + i, &zero, 1, true), 0);
        EXPECT_NE(ppi->kvciWriteBlkFLASH(0x1000, next.data(), n, true), 0);
        EXPECT_NE(ppi->kvciWriteBlkFLASH(0x2000, next.data(), n, true), 0);
        KVS_ClearFaults();
        EXPECT_EQ(fileBytes(image, 0x2000, n), Bytes(n, 0xFF));
        return fileBytes(image, 0x1000, n);
    };
    uint32_t longestPrefix = 0;
    for (int32_t writes : {0, 1, 3, 7, 12}) {
        SCOPED_TRACE(writes);
        const Bytes got = tear(writes);
        ASSERT_EQ(got.size(), n);
        uint32_t k = 0;
        while (k < n && got[k] == next[k]) ++k;
        longestPrefix = std::max(longestPrefix, k);
        if (k < n) {
            EXPECT_EQ(got[k] & next[k], next[k]) << "the torn byte kept a bit the write clears";
            EXPECT_EQ(got[k] & old[k], got[k]) << "the torn byte gained a bit";
        }
        for (uint32_t i = k + 1; i < n; ++i) EXPECT_EQ(got[i], old[i]) << i;
        EXPECT_EQ(tear(writes), got);
    }
    EXPECT_GT(longestPrefix, 0u);

    // A torn erase sets a prefix of the sector and some bits of one byte.
    const std::string image = at("erase.img");
    ASSERT_EQ(KVS_InsertCartridge(0, image.c_str(), KVS_FLASH_1M), -1);
    const Bytes zero(0x10000, 0x00);
    ASSERT_EQ(ppi->kvciWriteBlkFLASH(0x10000, zero.data(), 0x10000, true), 0);
    KVS_CutPowerAfter(0, 1);
    EXPECT_NE(ppi->kvciEraseSectorFLASH(0x10000), 0);
    const Bytes got = fileBytes(image, 0x10000, 0x10000);
    uint32_t k = 0;
    while (k < got.size() && got[k] == 0xFF) ++k;
    for (uint32_t i = k + 1; i < got.size(); ++i) ASSERT_EQ(got[i], 0x00) << i;
}

}  // namespace
