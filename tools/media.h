// Which medium the tool works on, and putting it in the library's hands.
#pragma once

#include <cstdint>
#include <string>

#include "cardfs.h"

namespace tool {

// The media options shared by every verb. With none, the medium is the
// card whose root is the directory ./card, holding its volume in the card
// image \USERIMG.BIN.
struct MediaOptions {
    std::string card = "./card";  // --card DIR
    std::string disk;           // --disk IMAGE: diskette in drive A:
    std::string cartridge;      // --cartridge IMAGE: cartridge in the programmer
    std::string flashCard;      // --flash-card IMAGE: card at flash level in the reader
    std::string chip;           // --chip CHIP, for the two above
    int slot = 0;               // --slot: programmer slot of the cartridge
    bool parallel = false;      // --parallel: programmer on the parallel port
};

// The medium in use: its device, made current by FS_Init.
struct Medium {
    DeviceDescriptor *device = nullptr;
    std::string what;           // "the card ./card", for messages
    int16_t mountStatus = 0;    // -1 mounted, -6 no volume yet
    bool hasVolume() const { return mountStatus == CARDFS_OK; }
};

// Inserts the chosen medium into the simulated drive, programmer or
// reader, puts its device in the device table and mounts it. A medium
// without a volume is accepted (for format); any other failure throws.
Medium openMedium(const MediaOptions &options);

// Throws the no-volume failure unless the medium carries a volume.
void requireVolume(const Medium &medium);

// The chip code of a --chip value: 1F5B, 1FA4, 1FD5, 1FDA or flash1m to
// flash4m (letter case and a 0x prefix do not matter). Throws on others.
uint16_t parseChip(const std::string &text);

}  // namespace tool
