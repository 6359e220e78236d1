// The host's device table: setting it, counting it, the class of the
// current device, and finding a device by its drive letter.
#include "device/frame.h"

namespace cardfs {

// 2 diskette (types 0, 1), 1 cartridge (10 to 14), 3 the unused codes 15
// and 16, 0 everything else.
layout::DeviceClass device_class(const DeviceDescriptor *device) {
    using layout::DeviceClass;
    if (device == nullptr) return DeviceClass::Other;
    int16_t type = static_cast<int16_t>(device->deviceType);
    if (type == 0 || type == 1) return DeviceClass::Diskette;
    if (type >= 10 && type <= 14) return DeviceClass::Cartridge;
    if (type == 15 || type == 16) return DeviceClass::Unused;
    return DeviceClass::Other;
}

}  // namespace cardfs

using namespace cardfs;

extern "C" CARDFS_API int16_t FS_SetDeviceTable(DeviceDescriptor **table) {
    if (table == nullptr) return store(CARDFS_E_NO_TABLE);
    g_frame.table = table;
    return kOk;
}

extern "C" CARDFS_API int16_t FS_GetDevicesNum(void) {
    if (g_frame.table == nullptr) return 0;
    int16_t n = 0;
    while (n < INT16_MAX && g_frame.table[n] != nullptr) n++;
    return n;
}

extern "C" CARDFS_API int16_t FS_GetDeviceType(void) { return int16_t(device_class(g_frame.current)); }

extern "C" CARDFS_API DeviceDescriptor *NameToDevice(const char *name) {
    store(kOk);
    DeviceDescriptor *d = g_frame.current;
    if (name != nullptr && name[0] != '\0' && name[1] == ':') {
        char c = name[0];
        bool lower = c >= 'a' && c <= 'z';
        if (lower || (c >= 'A' && c <= 'Z')) {
            int index = (lower ? c - 'a' : c - 'A');
            d = index < FS_GetDevicesNum() ? g_frame.table[index] : nullptr;
        }
    }
    if (d == nullptr) store(CARDFS_E_NO_DEVICE);
    return d;
}
