// The host's device table, the current device and the device class query.
#include "volume/volume_internal.h"

namespace cardfs {

DeviceTableState g_devices = {nullptr, nullptr};

// Class reported by FS_GetDeviceType: 2 diskette, 1 cartridge, 3 unused
// codes 15 and 16, 0 everything else.
int16_t device_class(const DeviceDescriptor *device) {
    if (device == nullptr) return 0;
    int16_t type = static_cast<int16_t>(device->deviceType);
    if (type == 0 || type == 1) return 2;
    if (type >= 10 && type <= 14) return 1;
    if (type == 15 || type == 16) return 3;
    return 0;
}

}  // namespace cardfs

using namespace cardfs;

extern "C" CARDFS_API int16_t FS_SetDeviceTable(DeviceDescriptor **table) {
    if (table == nullptr) return store(CARDFS_E_NO_TABLE);
    g_devices.table = table;
    return kOk;
}

extern "C" CARDFS_API int16_t FS_GetDevicesNum(void) {
    if (g_devices.table == nullptr) return 0;
    int16_t n = 0;
    while (n < INT16_MAX && g_devices.table[n] != nullptr) n++;
    return n;
}

extern "C" CARDFS_API int16_t FS_GetDeviceType(void) { return device_class(g_devices.current); }
