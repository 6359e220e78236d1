// The reader object, the reader slots, and the reader's descriptors.
#include "drivers/reader.h"

#include "cardfs_drivers.h"

namespace cardfs {
namespace drivers {

int16_t reader_slot(const DeviceDescriptor *d) {
    switch (d->deviceType) {
    case CARDFS_TYPE_READER_CARD: return 0;
    case CARDFS_TYPE_READER_IMAGE_1: return 1;
    case CARDFS_TYPE_READER_IMAGE_3: return 3;
    default: return -1;
    }
}

int16_t create_reader(bool *firstInit) {
    if (!*firstInit) return kOk;
    // A failed creation keeps the object the other family may already use.
    void *object = create_object(kKvcUSBMMR);
    if (object == nullptr) return CARDFS_E_IO;
    g_reader.object = static_cast<CKvcUSBMMR *>(object);
    pause_after_creation();
    *firstInit = false;
    return kOk;
}

}  // namespace drivers
}  // namespace cardfs

using namespace cardfs::drivers;

extern "C" CARDFS_API DeviceDescriptor *W32_MMR_GetDevicePtr(int16_t index) {
    if (index == 0) return flash_level_device();
    if (index == 1 || index == 2) return image_device(index - 1);
    return nullptr;
}
