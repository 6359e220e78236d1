// Media selection: the stand-ins of the media reader, the card programmer
// and the diskette drive get their medium, the library gets the device.
#include "media.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <vector>

#include "cardfs_kernel32_standin.h"
#include "cardfs_programmer_standin.h"
#include "status_words.h"

namespace fs = std::filesystem;

namespace tool {
namespace {

constexpr int16_t kImageReaderSlot = 1;  // W32_MMR_GetDevicePtr(1)
constexpr int16_t kFlashReaderSlot = 0;  // W32_MMR_GetDevicePtr(0)
constexpr uintmax_t kDiskette720 = 737280;
constexpr uintmax_t kDiskette144 = 1474560;

DeviceDescriptor *deviceTable[2];

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// Refuses an existing image whose size is not `expected`; a missing or
// empty one is made by the stand-in, erased.
void checkImageSize(const std::string &path, uintmax_t expected, const std::string &chip) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return;
    const uintmax_t size = fs::file_size(path, error);
    if (error || size == 0 || size == expected) return;
    fail("wrong image size: " + path + " holds " + std::to_string(size) + " bytes; chip " + chip + " takes " +
         std::to_string(expected));
}

// A missing diskette image becomes a blank 1.44 MB diskette; an image of
// another size than a diskette's is refused. Block devices pass as they are.
void prepareDisketteImage(const std::string &path) {
    std::error_code error;
    if (!fs::exists(path, error)) {
        std::ofstream out(path, std::ios::binary);
        const std::vector<char> zeros(kDiskette144, 0);
        out.write(zeros.data(), std::streamsize(zeros.size()));
        if (!out) fail(CARDFS_E_IO, "cannot create the diskette image " + path);
        return;
    }
    if (!fs::is_regular_file(path, error)) return;
    const uintmax_t size = fs::file_size(path, error);
    if (size != kDiskette720 && size != kDiskette144)
        fail("wrong image size: " + path + " holds " + std::to_string(size) +
             " bytes; a diskette holds 737280 (720 KB) or 1474560 (1.44 MB)");
}

Medium insertDiskette(const MediaOptions &options) {
    prepareDisketteImage(options.disk);
    check(K32S_InsertDiskette(0, options.disk.c_str()), "cannot open the diskette image " + options.disk);
    return {W32_DISK_GetDevicePtr(0), "the diskette " + options.disk};
}

Medium insertCartridge(const MediaOptions &options) {
    const uint16_t chip = parseChip(options.chip);
    checkImageSize(options.cartridge, uintmax_t(KVS_ChipCapacity(chip)), options.chip);
    check(KVS_InsertCartridge(int16_t(options.slot), options.cartridge.c_str(), chip),
          "cannot open the cartridge image " + options.cartridge);
    W32_Set_USER_DeviceType(options.parallel ? CARDFS_CARTRIDGE_PARALLEL_PORT : CARDFS_CARTRIDGE_USB);
    return {W32_USER_GetDevicePtr(int16_t(options.slot)), "the cartridge " + options.cartridge};
}

Medium insertFlashCard(const MediaOptions &options) {
    const uint16_t chip = parseChip(options.chip);
    checkImageSize(options.flashCard, uintmax_t(KVS_ChipCapacity(chip)), options.chip);
    check(KVS_InsertFlashCard(kFlashReaderSlot, options.flashCard.c_str(), chip),
          "cannot open the flash card image " + options.flashCard);
    return {W32_MMR_GetDevicePtr(0), "the flash card " + options.flashCard};
}

Medium insertCardDirectory(const MediaOptions &options) {
    check(KVS_InsertCardDirectory(kImageReaderSlot, options.card.c_str()),
          "cannot use the card directory " + options.card);
    return {W32_MMR_GetDevicePtr(1), "the card " + options.card};
}

Medium insert(const MediaOptions &options) {
    if (!options.disk.empty()) return insertDiskette(options);
    if (!options.cartridge.empty()) return insertCartridge(options);
    if (!options.flashCard.empty()) return insertFlashCard(options);
    return insertCardDirectory(options);
}

}  // namespace

uint16_t parseChip(const std::string &text) {
    std::string name = lower(text);
    if (name.rfind("0x", 0) == 0) name = name.substr(2);
    static const std::pair<const char *, uint16_t> chips[] = {
        {"1f5b", KVS_PEROM_1F5B}, {"1fa4", KVS_PEROM_1FA4}, {"1fd5", KVS_PEROM_1FD5}, {"1fda", KVS_PEROM_1FDA},
        {"flash1m", KVS_FLASH_1M}, {"flash2m", KVS_FLASH_2M}, {"flash3m", KVS_FLASH_3M}, {"flash4m", KVS_FLASH_4M},
    };
    for (const auto &[chipName, code] : chips)
        if (name == chipName) return code;
    fail("unknown chip: " + text + " (one of 1F5B, 1FA4, 1FD5, 1FDA, flash1m, flash2m, flash3m, flash4m)");
}

Medium openMedium(const MediaOptions &options) {
    Medium medium = insert(options);
    deviceTable[0] = medium.device;
    deviceTable[1] = nullptr;
    check(FS_SetDeviceTable(deviceTable), medium.what);
    medium.mountStatus = FS_Init(nullptr);
    if (medium.mountStatus != CARDFS_OK && medium.mountStatus != CARDFS_E_NO_VOLUME)
        fail(medium.mountStatus, medium.what);
    return medium;
}

void requireVolume(const Medium &medium) {
    if (!medium.hasVolume()) fail("no volume: " + medium.what + " (format it with: cardfs format LABEL)");
}

}  // namespace tool
