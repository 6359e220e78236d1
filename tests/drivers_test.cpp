// The cartridge, flash-level and image-file drivers end to end on the
// card-programmer stand-in: identification, volumes reclaimed and read back
// after a restart, each fault's status and the image file's bytes (power
// cuts on the image: reliability_test.cpp). Programmer objects and
// first-initialisation flags are process-wide: CTest gives every test a
// process of its own, and the tests that need the flags as they start skip
// themselves after another test.
#include <stdlib.h>

#include <filesystem>

#include "cardfs_programmer_standin.h"
#include "helpers.h"

namespace {

using Files = std::map<std::string, Bytes>;

DeviceDescriptor *cartridge(int slot) { return W32_USER_GetDevicePtr(int16_t(slot)); }
DeviceDescriptor *card() { return W32_MMR_GetDevicePtr(0); }   // reader slot 0, flash level
DeviceDescriptor *image() { return W32_MMR_GetDevicePtr(2); }  // image file on the card in reader slot 3

KvsCounters counters() {
    KvsCounters c;
    return KVS_GetCounters(&c), c;
}
// The names of the files that do not read back as given.
std::string unreadable(const Files &files) {
    std::string bad;
    for (const auto &[name, data] : files)
        if (readBack(name) != ok(data)) bad += name + " ";
    return bad;
}

int g_testsInProcess = 0;

class Drivers : public ::testing::Test {
protected:
    std::string dir;
    DeviceDescriptor *table[2] = {};
    void SetUp() override {
        ++g_testsInProcess;
        KVS_Reset();
        dir = newTempDir("cardfs_drivers_");
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override {
        KVS_Reset();
        std::filesystem::remove_all(dir);
    }
    bool fresh() const { return g_testsInProcess == 1; }
    std::string at(const char *name) const { return dir + "/" + name; }
    std::string imagePath() const { return dir + "/card/USERIMG.BIN"; }
    int16_t insertCard() { return KVS_InsertCardDirectory(3, at("card").c_str()); }
    // Makes d the one device, formats it as a blank medium and mounts it.
    void formatted(DeviceDescriptor *d) {
        table[0] = d;
        ASSERT_EQ(FS_SetDeviceTable(table), -1);
        ASSERT_EQ(FS_Init(nullptr), -6);
        ASSERT_EQ(FS_Format("A:DRIVERS"), -1);
        ASSERT_EQ(FS_Init(nullptr), -1);
    }
};
#define SKIP_UNLESS_FRESH() \
    if (!fresh()) GTEST_SKIP() << "needs the process-wide flags fresh: run it alone (ctest does)"

TEST_F(Drivers, DescriptorsAndChipIdentification) {
    EXPECT_TRUE(!cartridge(2) && !cartridge(-1) && !W32_MMR_GetDevicePtr(3) && !W32_MMR_GetDevicePtr(-1));
    EXPECT_TRUE(cartridge(0)->deviceType == 10 && cartridge(1)->deviceType == 11);
    for (int i = 0; i < 3; i++) EXPECT_EQ(W32_MMR_GetDevicePtr(int16_t(i))->deviceType, 17 + i);
    const Ints oneMiB = {512, 2048, 0, 16, 256, 16, 17, 64, 2};
    EXPECT_TRUE(geometry(W32_MMR_GetDevicePtr(1)) == oneMiB && geometry(image()) == oneMiB);

    const std::pair<uint16_t, Ints> chips[] = {
        {KVS_PEROM_1F5B, {512, 1024, 0, 4, 5}},     {KVS_PEROM_1FA4, {256, 2048, 0, 8, 9}},
        {KVS_PEROM_1FD5, {128, 1024, 0, 16, 17}},   {KVS_PEROM_1FDA, {256, 1024, 0, 16, 17}},
        {KVS_FLASH_1M, oneMiB},                     {KVS_FLASH_2M, {1024, 2048, 0, 8, 128, 32, 9, 64, 2}},
        {KVS_FLASH_3M, {1024, 3072, 0, 8, 128, 48, 9, 64, 2}}, {KVS_FLASH_4M, {1024, 4096, 0, 8, 128, 64, 9, 64, 2}},
    };
    // Each transport reads the codes its own way; slot t on transport t, and the reader.
    const Bytes data = pattern(1024, 1);
    for (int t : {1, 0}) {
        W32_Set_USER_DeviceType(int16_t(t));
        for (const auto &[chip, want] : chips) {
            const std::string file = at(std::to_string(chip).c_str());
            ASSERT_TRUE(KVS_InsertCartridge(int16_t(t), file.c_str(), chip) == -1 && KVS_InsertFlashCard(0, file.c_str(), chip) == -1);
            for (DeviceDescriptor *d : {cartridge(t), card()}) {
                SCOPED_TRACE(std::to_string(chip) + " in " + std::to_string(d->deviceType));
                KVS_ResetCounters();
                EXPECT_EQ(d->InitDevice(d), -1);
                EXPECT_EQ(geometry(d), want);
                // Formatting erases every sector of flash, none of PEROM; the writer suits the chips.
                EXPECT_EQ(d->PrepareMedium(d), -1);
                EXPECT_EQ(counters().erases, d->flashGeometry ? d->flashGeometry->sectorCount : 0);
                uint8_t back[1024] = {};
                EXPECT_EQ(d->WriteBlock(d, 20, const_cast<uint8_t *>(data.data())), -1);
                EXPECT_TRUE(d->ReadBlock(d, 20, back) == -1 && std::equal(back, back + d->blockSize, data.begin()));
                EXPECT_EQ(fileBytes(file)[size_t(20 * d->blockSize + 7)], data[7]) << "block 20 at its address";
            }
        }
    }
}

// Fills a 1 MiB flash cartridge and the image file, deletes every other
// file and fills the space again, which needs sectors reclaimed; all of it
// is there after a restart with the same backing files.
TEST_F(Drivers, ReclamationAndRestart) {
    const std::string cart = at("cart.img");
    for (DeviceDescriptor *d : {cartridge(0), image()}) {
        SCOPED_TRACE(d->deviceType);
        ASSERT_TRUE(KVS_InsertCartridge(0, cart.c_str(), KVS_FLASH_1M) == -1 && insertCard() == -1);
        formatted(d);
        Files files;
        std::vector<std::string> order;
        int16_t st = -1;
        for (int n = 0; st == -1 && n < 40; n++) {
            const std::string name = "F" + std::to_string(n) + ".1";
            const Bytes b = pattern(60 * 510 - 5, uint32_t(n));  // 60 blocks
            if ((st = writeFile(name, b)) == -1) files[name] = b, order.push_back(name);
        }
        EXPECT_EQ(st, -3) << "the medium fills up";
        for (size_t i = 0; i < order.size(); i += 2) {
            EXPECT_EQ(FS_Delete(order[i].c_str()), -1);
            files.erase(order[i]);
            const Bytes b = pattern(60 * 510 - 5, uint32_t(100 + i));
            EXPECT_EQ(writeFile("G" + std::to_string(i) + ".2", b), -1);
            files["G" + std::to_string(i) + ".2"] = b;
        }
        EXPECT_EQ(unreadable(files), "");
        KVS_Reset();
        ASSERT_TRUE(KVS_InsertCartridge(0, cart.c_str(), KVS_FLASH_1M) == -1 && insertCard() == -1);
        ASSERT_EQ(FS_Init(nullptr), -1);
        EXPECT_EQ(unreadable(files), "");
        DirScan scan;
        EXPECT_EQ(FS_FilesPresent(&scan), int16_t(files.size()));
    }
}

TEST_F(Drivers, NoObjectsGiveIoErrorUntilTheyAreAvailable) {
    SKIP_UNLESS_FRESH();
    ASSERT_TRUE(KVS_InsertCartridge(0, at("c").c_str(), KVS_FLASH_1M) == -1 && insertCard() == -1);
    ASSERT_EQ(KVS_InsertFlashCard(0, at("f").c_str(), KVS_FLASH_2M), -1);
    KVS_SetObjectsAvailable(0, 0, 0);
    testing::internal::CaptureStdout();
    for (DeviceDescriptor *d : {cartridge(0), card(), image()}) EXPECT_EQ(d->InitDevice(d), -100);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    // The next initialisation asks again; each reader family creates its own object, once.
    KVS_SetObjectsAvailable(1, 1, 1);
    for (DeviceDescriptor *d : {cartridge(0), card(), image(), cartridge(1), card(), W32_MMR_GetDevicePtr(1)})
        EXPECT_NE(d->InitDevice(d), -100);
    const KvsCounters c = counters();
    EXPECT_EQ(Ints(c.objectRequests, c.objectRequests + 3), (Ints{2, 2, 4}));
}

TEST_F(Drivers, ParallelPortProgrammerMustIdentifyItself) {
    SKIP_UNLESS_FRESH();
    ASSERT_EQ(KVS_InsertCartridge(0, at("c").c_str(), KVS_FLASH_1M), -1);
    table[0] = cartridge(0);
    FS_SetDeviceTable(table);
    KVS_SetProgrammerCode(0x1234);
    auto notFound = [](int16_t transport, int ppi, int usb) {
        KVS_SetObjectsAvailable(ppi, usb, 1);
        W32_Set_USER_DeviceType(transport);
        testing::internal::CaptureStdout();
        EXPECT_EQ(FS_Init(nullptr), -100);
        EXPECT_EQ(GetErrno(), -100);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Device not found\n") << transport;
    };
    notFound(5, 1, 1);  // neither transport
    notFound(0, 1, 1);  // an unknown code
    notFound(1, 1, 0);  // no USB programmer: the parallel port's code is asked
    KVS_SetProgrammerCode(0x3F1A);
    formatted(cartridge(0));
    EXPECT_EQ(writeFile("PPI.1", {1, 2, 3}), -1);
    // The USB object was never created: that transport reaches no programmer.
    W32_Set_USER_DeviceType(1);
    uint8_t block[1024];
    EXPECT_EQ(FS_Init(nullptr), -18);
    EXPECT_TRUE(cartridge(0)->ReadBlock(cartridge(0), 0, block) == -18 && cartridge(0)->WriteBlock(cartridge(0), 300, block) == -18);
    W32_Set_USER_DeviceType(0);
    EXPECT_EQ(FS_Init(nullptr), -1);
    EXPECT_EQ(readBack("PPI.1"), ok({1, 2, 3}));
}

TEST_F(Drivers, ParallelPortWithoutProgrammerFallsBackToUsb) {
    SKIP_UNLESS_FRESH();
    ASSERT_EQ(KVS_InsertCartridge(0, at("c").c_str(), KVS_FLASH_2M), -1);
    KVS_SetObjectsAvailable(0, 1, 1);
    KVS_SetProgrammerCode(0x1234);  // never asked: a USB programmer gives no code
    W32_Set_USER_DeviceType(0);
    testing::internal::CaptureStdout();
    formatted(cartridge(0));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(writeFile("USB.1", {4, 5}), -1);
    EXPECT_EQ(readBack("USB.1"), ok({4, 5}));
}

// Unknown chips leave the description; failed programming gives -10 on
// cartridge and card and -44 on the image, a failed erase the low 16 bits
// of the library's result. Committed files outlive all of them.
TEST_F(Drivers, ChipAndWriteFaultsKeepCommittedFiles) {
    ASSERT_TRUE(KVS_InsertCartridge(0, at("c").c_str(), KVS_FLASH_2M) == -1 && insertCard() == -1);
    ASSERT_EQ(KVS_InsertFlashCard(0, at("f").c_str(), KVS_FLASH_1M), -1);
    const Bytes data = pattern(1500, 3);
    for (DeviceDescriptor *d : {cartridge(0), card(), image()}) {
        SCOPED_TRACE(d->deviceType);
        const bool isImage = d == image();
        formatted(d);
        ASSERT_EQ(writeFile("KEPT.1", data), -1);
        if (!isImage) {
            const Ints before = geometry(d);
            const auto writer = d->WriteBlock;
            KVS_InjectFault(KVS_FAULT_UNKNOWN_CHIP, 0, 0);
            EXPECT_EQ(FS_Init(nullptr), -18);
            EXPECT_EQ(FS_Format("A:GONE"), -18);
            EXPECT_TRUE(geometry(d) == before && d->WriteBlock == writer);
            KVS_ClearFaults();
            ASSERT_EQ(FS_Init(nullptr), -1);
        }
        KVS_InjectFault(isImage ? KVS_FAULT_FILE_WRITE : KVS_FAULT_PROGRAM, 2, 0);
        EXPECT_EQ(writeFile("LOST.1", data), isImage ? -44 : -10);
        KVS_ClearFaults();
        // Every change moves the system area on; the first move into the
        // second system sector erases it.
        KVS_InjectFault(KVS_FAULT_ERASE, 1, 0x00052345);
        int16_t st = -1;
        bool kept = true;
        for (int n = 0; st == -1 && n < 10; n++)
            if ((st = FS_Delete("KEPT.1")) == -1 && (kept = false, st = writeFile("KEPT.1", data)) == -1) kept = true;
        EXPECT_EQ(st, isImage ? -1 : 0x2345);
        KVS_ClearFaults();
        ASSERT_EQ(FS_Init(nullptr), -1);
        EXPECT_EQ(readBack("KEPT.1"), (kept ? ok(data) : Read{-4, {}}));
        EXPECT_EQ(readBack("LOST.1").first, -4);
    }
    KVS_InjectFault(KVS_FAULT_FILE_WRITE, 0, 0);
    EXPECT_EQ(image()->flashGeometry->EraseSector(image(), 5), -44);
    EXPECT_EQ(FS_Format("A:X"), -18) << "the fresh image cannot be written";
}

TEST_F(Drivers, ImageCardFaults) {
    ASSERT_EQ(insertCard(), -1);
    formatted(image());
    ASSERT_EQ(writeFile("SAFE.1", {1, 2}), -1);
    const Bytes before = fileBytes(imagePath());
    const std::pair<int, int16_t> faults[] = {{KVS_FAULT_NO_MEDIUM, -18}, {KVS_FAULT_OPEN, -4}, {KVS_FAULT_DELETE, -4}};
    for (auto [fault, status] : faults) {
        KVS_InjectFault(fault, 1, 0);
        EXPECT_EQ(fault == KVS_FAULT_DELETE ? FS_Format("A:NEW") : FS_Init(nullptr), status) << fault;
        KVS_ClearFaults();
        EXPECT_EQ(fileBytes(imagePath()), before);
        ASSERT_EQ(FS_Init(nullptr), -1);
        EXPECT_EQ(readBack("SAFE.1"), ok({1, 2}));
    }
    uint8_t block[1024] = {};
    KVS_InjectFault(KVS_FAULT_FILE_READ, 1, 0);
    EXPECT_EQ(image()->ReadBlock(image(), 0, block), -1);
    EXPECT_EQ(Bytes(block, block + 512), Bytes(512, 0xFF)) << "what cannot be read reads erased";
    KVS_ClearFaults();
    KVS_InjectFault(KVS_FAULT_SET_ATTRIBUTES, 1, 0);
    EXPECT_EQ(FS_Format("A:NEW"), -18);
    KVS_ClearFaults();
    EXPECT_EQ(FS_Init(nullptr), -6) << "the old image was removed first";
}

// The image file holds, byte for byte, what the same format and first file leave on a RAM flash card
// of its geometry (whose bytes the volume and file tests pin): block b at offset 512 b, erased bytes
// where nothing was written.
TEST_F(Drivers, ImageFileHoldsWhatARamCardOfItsGeometryHolds) {
    ASSERT_EQ(insertCard(), -1);
    Dev twin = own(ramdev::makeFlashCard());
    for (DeviceDescriptor *d : {image(), twin->dev()}) {
        parkAllocationCursor(2);
        formatted(d);
        ASSERT_EQ(writeFile("FIRST.12", pattern(700, 11)), -1);
    }
    EXPECT_EQ(fileBytes(imagePath()), twin->data);
    EXPECT_EQ(readBack("FIRST.12"), ok(pattern(700, 11)));
}

// Writes only clear bits, an erase sets its sector to 0xFF, formatting
// makes a new erased file; reads past the end of a short file.
TEST_F(Drivers, ImageEmulatesFlash) {
    ASSERT_EQ(insertCard(), -1);
    formatted(image());
    DeviceDescriptor *d = image();
    uint8_t high[1024], low[1024], buffer[1024];
    std::memset(high, 0xF0, sizeof high), std::memset(low, 0x0F, sizeof low);
    EXPECT_TRUE(d->WriteBlock(d, 400, high) == -1 && d->WriteBlock(d, 400, high) == -1);
    Bytes before = fileBytes(imagePath());
    EXPECT_EQ(d->WriteBlock(d, 400, low), -44);
    EXPECT_EQ(fileBytes(imagePath()), before);
    EXPECT_EQ(d->flashGeometry->EraseSector(d, 3), -1);  // blocks 384 to 511
    std::fill(before.begin() + 196608, before.begin() + 262144, 0xFF);
    EXPECT_EQ(fileBytes(imagePath()), before);

    const auto now = std::filesystem::file_time_type::clock::now();
    EXPECT_EQ(d->PrepareMedium(d), -1);
    EXPECT_EQ(fileBytes(imagePath()), Bytes(1 << 20, 0xFF));
    EXPECT_LT(std::chrono::abs(std::filesystem::last_write_time(imagePath()) - now), std::chrono::minutes(1));

    Bytes shorter = pattern(1000, 5);
    putFile(imagePath(), shorter);
    std::memset(buffer, 0x55, sizeof buffer);
    EXPECT_TRUE(d->ReadBlock(d, 5, buffer) == -1 && Bytes(buffer, buffer + 512) == Bytes(512, 0x55)) << "past the end";
    EXPECT_EQ(d->ReadBlock(d, 1, buffer), -1);
    EXPECT_EQ(Bytes(buffer, buffer + 512), Bytes(shorter.begin() + 512, shorter.end()) + Bytes(24, 0xFF));
    shorter.resize(300);
    putFile(imagePath(), shorter);
    EXPECT_EQ(d->ReadBlock(d, 0, buffer), -1);
    EXPECT_EQ(Bytes(buffer, buffer + 512), shorter + Bytes(212, 0xFF)) << "a file shorter than a block";
}

}  // namespace
