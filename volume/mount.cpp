// Mounting: the header search, the foreign-content check of cartridges,
// making a device current, and DoCd.
#include "volume/volume_internal.h"

namespace cardfs {
namespace {

using layout::has_signature;

// Flash media: the first valid system-area copy in sector order, then slot
// order. A sector whose first slot reads erased is skipped whole; slots
// that would end past the last whole slot of a sector do not exist.
int16_t search_slots(DeviceDescriptor *d, int32_t *header) {
    const FlashGeometry *fg = d->flashGeometry;
    int32_t perSector = blocks_per_sector(d);
    int32_t step = fg->systemAreaBlocks;
    int32_t end = (perSector / step) * step;
    for (int32_t s = 0; s < fg->systemSectors; s++) {
        for (int32_t b = 0; b < end; b += step) {
            uint8_t probe[layout::kSignatureLength];
            uint32_t address = uint32_t(d->blockSize * b + fg->sectorSize * s + layout::kSignature);
            int16_t st = dev_read_bytes(d, address, layout::kSignatureLength, probe);
            if (st != kOk) return st;
            if (layout::is_signature(probe)) {
                *header = perSector * s + b;
                return kOk;
            }
            if (b == 0 && probe[0] == layout::kErased) break;
        }
    }
    return CARDFS_E_NO_VOLUME;
}

// InitDevice then mount; the device becomes current on success or -6.
int16_t init_and_mount(DeviceDescriptor *d) {
    int16_t st = dev_init(d);
    if (st == kOk) st = mount(d);
    if (st == kOk || st == CARDFS_E_NO_VOLUME) g_frame.current = d;
    return st;
}

}  // namespace

int16_t find_header(DeviceDescriptor *d, int32_t *header) {
    int16_t st = geometry_check(d);
    if (st != kOk) return st;
    if (!is_flash(d)) {
        *header = d->headerBlock;
        return kOk;
    }
    return search_slots(d, header);
}

int16_t foreign_check(DeviceDescriptor *d) {
    uint8_t *b = scratch_block();
    int16_t st = dev_read(d, 0, b);
    if (st != kOk) return st;
    if (b[0] == 0xFF && b[2] == 0xFF && b[1] == b[3] && b[3] != 0xFF) return CARDFS_E_FOREIGN;
    return kOk;
}

// The header is read into the scratch block, so mounting another device
// never disturbs the allocation map of a file being written.
int16_t mount(DeviceDescriptor *d) {
    if (device_class(d) == layout::DeviceClass::Cartridge) {
        int16_t st = foreign_check(d);
        if (st != kOk) return st;
    }
    int32_t header = 0;
    int16_t st = find_header(d, &header);
    if (st != kOk) return st;
    uint8_t *block = scratch_block();
    st = dev_read(d, header, block);
    if (st != kOk) return st;
    if (!has_signature(block)) return CARDFS_E_NO_VOLUME;
    if (block[layout::kVersion] > layout::kHighestVersion) return CARDFS_E_VERSION;
    return kOk;
}

int16_t init_devices(const char *name) {
    g_frame.current = nullptr;
    int16_t n = FS_GetDevicesNum();
    DeviceDescriptor *first = nullptr;
    for (int16_t i = 0; i < n && first == nullptr; i++) first = g_frame.table[i];
    if (first == nullptr) return CARDFS_E_NO_TABLE;
    g_frame.current = first;
    if (name != nullptr && name[0] != '\0') return DoCd(name);
    g_frame.current = nullptr;
    return init_and_mount(first);
}

}  // namespace cardfs

using namespace cardfs;

extern "C" CARDFS_API int16_t DoCd(const char *name) {
    DeviceDescriptor *d = NameToDevice(name);
    if (d == nullptr) return CARDFS_E_NO_DEVICE;
    return store(init_and_mount(d));
}
