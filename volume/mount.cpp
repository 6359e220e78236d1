// Mounting: the header search, the foreign-content check of cartridges,
// FS_Init, DoCd, NameToDevice, and BuildFileName.
#include <stdio.h>
#include <string.h>

#include "files/files_internal.h"
#include "volume/volume_internal.h"

namespace cardfs {
namespace {

bool is_dos(const uint8_t *p) { return p[0] == 'D' && p[1] == 'O' && p[2] == 'S'; }

// Flash media: the first valid system-area copy in sector order, then slot
// order. A sector whose first slot reads erased is skipped whole.
int16_t search_slots(DeviceDescriptor *d, int32_t *header) {
    const FlashGeometry *fg = d->flashGeometry;
    int32_t perSector = blocks_per_sector(d);
    int32_t step = fg->systemAreaBlocks;
    int32_t end = (perSector / step) * step;
    for (int32_t s = 0; s < fg->systemSectors; s++) {
        for (int32_t b = 0; b < end; b += step) {
            uint8_t probe[3];
            uint32_t address = uint32_t(d->blockSize * b + fg->sectorSize * s + 1);
            int16_t st = dev_read_bytes(d, address, 3, probe);
            if (st != kOk) return st;
            if (is_dos(probe)) {
                *header = perSector * s + b;
                return kOk;
            }
            if (b == 0 && probe[0] == 0xFF) break;
        }
    }
    return CARDFS_E_NO_VOLUME;
}

}  // namespace

int16_t find_header(DeviceDescriptor *d, int32_t *header) {
    int16_t st = geometry_check(d);
    if (st != kOk) return st;
    if (d->flashGeometry == nullptr) {
        *header = d->headerBlock;
        return kOk;
    }
    return search_slots(d, header);
}

int16_t foreign_check(DeviceDescriptor *d, bool initialise) {
    if (initialise) {
        if (d->InitDevice == nullptr) return CARDFS_E_NO_DEVICE;
        int16_t st = d->InitDevice(d);
        if (st != kOk) return st;
    }
    uint8_t *b = g_volume.scratch;
    int16_t st = dev_read(d, 0, b);
    if (st != kOk) return st;
    if (b[0] == 0xFF && b[2] == 0xFF && b[1] == b[3] && b[3] != 0xFF) return CARDFS_E_FOREIGN;
    return kOk;
}

// Checks the volume on a device. The header is read into the scratch
// buffer, so mounting another device never disturbs the allocation map of
// a file being written.
int16_t mount(DeviceDescriptor *d) {
    if (device_class(d) == 1) {
        int16_t st = foreign_check(d, false);
        if (st != kOk) return st;
    }
    int32_t header = 0;
    int16_t st = find_header(d, &header);
    if (st != kOk) return st;
    st = dev_read(d, header, g_volume.scratch);
    if (st != kOk) return st;
    if (!is_dos(g_volume.scratch + 1)) return CARDFS_E_NO_VOLUME;
    if (g_volume.scratch[14] > 1) return CARDFS_E_VERSION;
    return kOk;
}

// InitDevice then mount; the device becomes current on success or -6.
int16_t init_and_mount(DeviceDescriptor *d) {
    int16_t st = d->InitDevice != nullptr ? d->InitDevice(d) : int16_t(CARDFS_E_NO_DEVICE);
    if (st == kOk) st = mount(d);
    if (st == kOk || st == CARDFS_E_NO_VOLUME) g_devices.current = d;
    return st;
}

}  // namespace cardfs

using namespace cardfs;

extern "C" CARDFS_API int16_t FS_Init(const char *name) {
    if (g_devices.table == nullptr) return store(CARDFS_E_NO_TABLE);
    store(kOk);
    reset_open_files();
    g_devices.current = nullptr;
    int16_t n = FS_GetDevicesNum();
    DeviceDescriptor *first = nullptr;
    for (int16_t i = 0; i < n && first == nullptr; i++) first = g_devices.table[i];
    if (first == nullptr) return store(CARDFS_E_NO_TABLE);
    g_devices.current = first;
    if (name != nullptr && name[0] != '\0') return store(DoCd(name));
    g_devices.current = nullptr;
    return store(init_and_mount(first));
}

extern "C" CARDFS_API int16_t DoCd(const char *name) {
    DeviceDescriptor *d = NameToDevice(name);
    if (d == nullptr) return CARDFS_E_NO_DEVICE;
    return store(init_and_mount(d));
}

extern "C" CARDFS_API DeviceDescriptor *NameToDevice(const char *name) {
    store(kOk);
    DeviceDescriptor *d = g_devices.current;
    if (name != nullptr && name[0] != '\0' && name[1] == ':') {
        char c = name[0];
        bool lower = c >= 'a' && c <= 'z';
        if (lower || (c >= 'A' && c <= 'Z')) {
            int index = (lower ? c - 'a' : c - 'A');
            d = index < FS_GetDevicesNum() ? g_devices.table[index] : nullptr;
        }
    }
    if (d == nullptr) store(CARDFS_E_NO_DEVICE);
    return d;
}

extern "C" CARDFS_API int16_t BuildFileName(char *out, const char *name8, int16_t number) {
    if (out == nullptr || name8 == nullptr) return 0;
    char text[9];
    memcpy(text, name8, 8);
    text[8] = '\0';
    for (int i = 7; i >= 0 && is_space(text[i]); i--) text[i] = '\0';
    int n = snprintf(out, 16, "%s.%.3d", text, int(number));
    return static_cast<int16_t>(n < 0 ? 0 : (n > 15 ? 15 : n));
}
