// The USB media reader shared by its two device families: the card at
// flash level (deviceType 17, reader slot 0) and the card image file
// (deviceType 18 and 19, reader slots 1 and 3).
#pragma once

#include "drivers/chips.h"

namespace cardfs {
namespace drivers {

// ---- process-wide reader state ----
// object      The reader object. Each family creates one at its own first
//             initialisation and keeps it here, so the second family's
//             replaces the first's; none is ever released.
// firstFlash  Set until the flash-level family has its object.
// firstImage  Set until the image-file family has its object.
// chipKind    Per reader slot, by the last successful identification.
struct Reader {
    CKvcUSBMMR *object;
    bool firstFlash;
    bool firstImage;
    uint8_t chipKind[4];
};
inline Reader g_reader = {nullptr, true, true, {kChipNone, kChipNone, kChipNone, kChipNone}};

// The reader slot of a descriptor, -1 when it is none of the reader's.
int16_t reader_slot(const DeviceDescriptor *d);

// The family's first initialisation: creates the reader object and clears
// *firstInit. No object: -100, and the flag stays set for the next try.
int16_t create_reader(bool *firstInit);

DeviceDescriptor *flash_level_device();
DeviceDescriptor *image_device(int index);  // 0 or 1

}  // namespace drivers
}  // namespace cardfs
