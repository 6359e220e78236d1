// A card in the media reader used at flash level, like a cartridge in the
// card programmer: its chips are identified at every initialisation and
// describe the descriptor; blocks are programmed and sectors erased
// directly.
#include "cardfs_drivers.h"
#include "drivers/reader.h"

namespace cardfs {
namespace drivers {
namespace {

// Checks an operation's arguments and selects the reader slot; -1 when
// the operation can go on with *slot.
int16_t begin(const DeviceDescriptor *d, const void *buffer, int16_t *slot) {
    if (d == nullptr || buffer == nullptr) return CARDFS_E_ARGUMENT;
    *slot = reader_slot(d);
    if (*slot < 0 || g_reader.object == nullptr) return CARDFS_E_NO_DEVICE;
    g_reader.object->SelectSlot(*slot);
    return kOk;
}

int16_t write_perom(DeviceDescriptor *d, int16_t block, void *buffer);
int16_t write_flash(DeviceDescriptor *d, int16_t block, void *buffer);
int16_t read_bytes(DeviceDescriptor *d, uint32_t address, int16_t count, void *buffer);
int16_t erase_sector(DeviceDescriptor *d, int16_t sector);

FlashGeometry g_flash[kFlashConfigurations] = {
    flash_record(0, read_bytes, erase_sector),
    flash_record(1, read_bytes, erase_sector),
    flash_record(2, read_bytes, erase_sector),
    flash_record(3, read_bytes, erase_sector),
};

int16_t identify(DeviceDescriptor *d, int16_t slot) {
    ByteCodes<CKvcUSBMMR> codes{g_reader.object};
    return describe(d, identify_chips(codes), write_perom, write_flash, g_flash, &g_reader.chipKind[slot]);
}

int16_t init_device(DeviceDescriptor *d) {
    if (d == nullptr) return CARDFS_E_ARGUMENT;
    const int16_t created = create_reader(&g_reader.firstFlash);
    if (created != kOk) return created;
    int16_t slot;
    const int16_t st = begin(d, d, &slot);
    return st != kOk ? st : identify(d, slot);
}

// Reads never report a failure of the transfer itself.
int16_t read_block(DeviceDescriptor *d, int16_t block, void *buffer) {
    if (d == nullptr) return CARDFS_E_ARGUMENT;
    return read_bytes(d, block_address(d, block), d->blockSize, buffer);
}

int16_t read_bytes(DeviceDescriptor *d, uint32_t address, int16_t count, void *buffer) {
    int16_t slot;
    const int16_t st = begin(d, buffer, &slot);
    if (st != kOk) return st;
    if (count < 0) return CARDFS_E_ARGUMENT;
    g_reader.object->ReadMemory(address, uint32_t(count), buffer);
    return kOk;
}

// Both writers select the slot a second time before they program.
int16_t write_perom(DeviceDescriptor *d, int16_t block, void *buffer) {
    int16_t slot;
    const int16_t st = begin(d, buffer, &slot);
    if (st != kOk) return st;
    g_reader.object->SelectSlot(slot);
    const int32_t r =
        g_reader.object->kvciWriteBlkPEROM(block_address(d, block), buffer, uint32_t(uint16_t(d->blockSize)), true);
    return r != 0 ? int16_t(CARDFS_E_VERIFY) : kOk;
}

// Programs an erased block; the file system erases sectors itself.
int16_t write_flash(DeviceDescriptor *d, int16_t block, void *buffer) {
    int16_t slot;
    const int16_t st = begin(d, buffer, &slot);
    if (st != kOk) return st;
    g_reader.object->SelectSlot(slot);
    const int32_t r =
        g_reader.object->WriteOnFlash(block_address(d, block), buffer, uint32_t(uint16_t(d->blockSize)), true, true);
    return r != 0 ? int16_t(CARDFS_E_VERIFY) : kOk;
}

// A failed erase reports the library's result as the status.
int16_t erase_sector(DeviceDescriptor *d, int16_t sector) {
    int16_t slot;
    const int16_t st = begin(d, d, &slot);
    if (st != kOk) return st;
    if (d->flashGeometry == nullptr) return CARDFS_E_NO_DEVICE;
    const uint32_t address = uint32_t(d->flashGeometry->sectorSize) * uint32_t(uint16_t(sector));
    const int32_t r = g_reader.object->kvciEraseSectorFLASH(address);
    return erase_status(r);
}

// Identifies the chips again and erases every sector of a flash card; a
// PEROM card is left as it is.
int16_t prepare_medium(DeviceDescriptor *d) {
    int16_t slot;
    int16_t st = begin(d, d, &slot);
    if (st == kOk) st = identify(d, slot);
    if (st != kOk || g_reader.chipKind[slot] != kChipFlash) return st;
    return erase_all(d, erase_sector);
}

DeviceDescriptor g_card = {0, 0, 0, 0, 0, write_perom, read_block, prepare_medium, init_device, nullptr,
                           CARDFS_TYPE_READER_CARD};

}  // namespace

DeviceDescriptor *flash_level_device() { return &g_card; }

}  // namespace drivers
}  // namespace cardfs
