// What the card-programmer drivers share: creating programmer objects and
// the pause after their creation.
//
// The drivers sit below the file system and see nothing of it: they use
// the public descriptor types and the card-programmer calls only, and the
// library reaches them through the operations of their descriptors.
#pragma once

#include <stdint.h>

#include "cardfs_volume.h"
#include "drivers/programmer/kvwin32.h"

namespace cardfs {
namespace drivers {

constexpr int16_t kOk = CARDFS_OK;

// A new object of the class, or null when the library has none to give.
void *create_object(KvcDeviceClass deviceClass);
// The programmer needs a moment after its objects are created.
void pause_after_creation();
void sleep_ms(uint32_t ms);

}  // namespace drivers
}  // namespace cardfs
