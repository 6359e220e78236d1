// The cartridge device: the two slots of a card programmer on the parallel
// port or on USB. Every initialisation identifies the cartridge's chips
// and describes the slot's descriptor afresh: geometry, the writer that
// suits the chips, and for flash the sector record through which the file
// system erases.
#include <stdio.h>

#include "cardfs_drivers.h"
#include "drivers/chips.h"

namespace cardfs {
namespace drivers {
namespace {

constexpr int32_t kFirstCartridgeType = 10;
constexpr uint16_t kProgrammerCodes[] = {0x3D1A, 0x3F1A};  // what a parallel-port programmer answers

// ---- process-wide state ----
// transport   0 parallel port, 1 USB; read afresh by every operation.
//             Stored unchecked by W32_Set_USER_DeviceType; detection may
//             move it to the transport whose object exists.
// ppi, usb    The programmer objects, created by every detection until
//             one succeeds, and never released.
// firstInit   Set until programmer detection succeeds.
// chipKind    Per slot, by the last successful identification.
struct Programmer {
    int16_t transport;
    CKvcPPI *ppi;
    CKvcUSB *usb;
    bool firstInit;
    uint8_t chipKind[2];
};
Programmer g = {CARDFS_CARTRIDGE_USB, nullptr, nullptr, true, {kChipNone, kChipNone}};

// The slot a descriptor stands for, -1 when it is none of ours.
int16_t slot_of(const DeviceDescriptor *d) {
    const int32_t slot = d->deviceType - kFirstCartridgeType;
    return slot == 0 || slot == 1 ? int16_t(slot) : int16_t(-1);
}

// How an operation selects its slot: kvciSetCartridge always, then
// SelectSlot on the USB programmer only, or on either.
enum class Select { Cartridge, UsbSlot, Slot };

// Selects the slot on the current transport's object. Returns the
// transport reached (0 or 1), or -1 when the transport is neither or its
// object was never created: then no programmer is reached.
int reach(int16_t slot, Select how) {
    if (g.transport == CARDFS_CARTRIDGE_PARALLEL_PORT && g.ppi != nullptr) {
        g.ppi->kvciSetCartridge(slot);
        if (how == Select::Slot) g.ppi->SelectSlot(slot);
        return CARDFS_CARTRIDGE_PARALLEL_PORT;
    }
    if (g.transport == CARDFS_CARTRIDGE_USB && g.usb != nullptr) {
        g.usb->kvciSetCartridge(slot);
        if (how != Select::Cartridge) g.usb->SelectSlot(slot);
        return CARDFS_CARTRIDGE_USB;
    }
    return -1;
}

// Checks an operation's arguments and selects its slot; -1 when the
// operation can go on with the transport in *transport.
int16_t begin(const DeviceDescriptor *d, const void *buffer, Select how, int *transport) {
    if (d == nullptr || buffer == nullptr) return CARDFS_E_ARGUMENT;
    const int16_t slot = slot_of(d);
    if (slot < 0) return CARDFS_E_NO_DEVICE;
    *transport = reach(slot, how);
    return *transport < 0 ? int16_t(CARDFS_E_NO_DEVICE) : kOk;
}

int16_t not_found() {
    fputs("Device not found\n", stdout);
    fflush(stdout);
    return CARDFS_E_IO;
}

// Creates both programmer objects and settles on a transport whose object
// exists. Only a programmer on the parallel port is asked for its code.
int16_t detect_programmer() {
    g.ppi = static_cast<CKvcPPI *>(create_object(kKvcPPI));
    g.usb = static_cast<CKvcUSB *>(create_object(kKvcUSB));
    if (g.ppi == nullptr && g.usb == nullptr) return CARDFS_E_IO;
    bool askCode;
    if (g.transport == CARDFS_CARTRIDGE_PARALLEL_PORT) {
        askCode = g.ppi != nullptr;
        if (!askCode) g.transport = CARDFS_CARTRIDGE_USB;
    } else if (g.transport == CARDFS_CARTRIDGE_USB) {
        askCode = g.usb == nullptr;
        if (askCode) g.transport = CARDFS_CARTRIDGE_PARALLEL_PORT;
    } else {
        return not_found();
    }
    if (askCode) {
        const uint16_t code = g.ppi->kvciReadID();
        if (code != kProgrammerCodes[0] && code != kProgrammerCodes[1]) return not_found();
    }
    pause_after_creation();
    g.firstInit = false;
    return kOk;
}

// Parallel-port codes come as one word.
struct WordCodes {
    CKvcPPI *object;
    uint16_t perom() { return object->kvciGetPEROMID(); }
    uint16_t flash(uint32_t address) { return object->kvciGetFLASHID(address); }
};

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

// Identifies the chips in the selected slot and describes the descriptor.
int16_t identify(DeviceDescriptor *d, int transport) {
    ChipMatch match;
    if (transport == CARDFS_CARTRIDGE_PARALLEL_PORT) {
        WordCodes codes{g.ppi};
        match = identify_chips(codes);
    } else {
        ByteCodes<CKvcUSB> codes{g.usb};
        match = identify_chips(codes);
    }
    return describe(d, match, write_perom, write_flash, g_flash, &g.chipKind[slot_of(d)]);
}

int16_t init_device(DeviceDescriptor *d) {
    if (d == nullptr) return CARDFS_E_ARGUMENT;
    if (g.firstInit) {
        const int16_t st = detect_programmer();
        if (st != kOk) return st;
    }
    int transport;
    const int16_t st = begin(d, d, Select::UsbSlot, &transport);
    return st != kOk ? st : identify(d, transport);
}

// Reads never report a failure of the transfer itself.
int16_t read_block(DeviceDescriptor *d, int16_t block, void *buffer) {
    if (d == nullptr) return CARDFS_E_ARGUMENT;
    return read_bytes(d, block_address(d, block), d->blockSize, buffer);
}

int16_t read_bytes(DeviceDescriptor *d, uint32_t address, int16_t count, void *buffer) {
    int transport;
    const int16_t st = begin(d, buffer, Select::Cartridge, &transport);
    if (st != kOk) return st;
    if (count < 0) return CARDFS_E_ARGUMENT;
    if (transport == CARDFS_CARTRIDGE_PARALLEL_PORT) {
        g.ppi->kvciSetPointer(address);
        g.ppi->kvciGetBuf(buffer, uint32_t(count));
    } else {
        g.usb->kvciSetPointer(address);
        g.usb->kvciGetBuf(buffer, uint32_t(count));
    }
    return kOk;
}

int16_t write_perom(DeviceDescriptor *d, int16_t block, void *buffer) {
    int transport;
    const int16_t st = begin(d, buffer, Select::Slot, &transport);
    if (st != kOk) return st;
    const uint32_t address = block_address(d, block), count = uint32_t(uint16_t(d->blockSize));
    const int32_t r = transport == CARDFS_CARTRIDGE_PARALLEL_PORT
                          ? g.ppi->kvciWriteBlkPEROM(address, buffer, count, true)
                          : g.usb->kvciWriteBlkPEROM(address, buffer, count, true);
    return r != 0 ? int16_t(CARDFS_E_VERIFY) : kOk;
}

// Programs an erased block; the file system erases sectors itself.
int16_t write_flash(DeviceDescriptor *d, int16_t block, void *buffer) {
    int transport;
    const int16_t st = begin(d, buffer, Select::Slot, &transport);
    if (st != kOk) return st;
    const uint32_t address = block_address(d, block), count = uint32_t(uint16_t(d->blockSize));
    const int32_t r = transport == CARDFS_CARTRIDGE_PARALLEL_PORT
                          ? g.ppi->kvciWriteBlkFLASH(address, buffer, count, true)
                          : g.usb->WriteOnFlash(address, buffer, count, true, true);
    return r != 0 ? int16_t(CARDFS_E_VERIFY) : kOk;
}

// A failed erase reports the low 16 bits of the library's result.
int16_t erase_sector(DeviceDescriptor *d, int16_t sector) {
    int transport;
    const int16_t st = begin(d, d, Select::Cartridge, &transport);
    if (st != kOk) return st;
    if (d->flashGeometry == nullptr) return CARDFS_E_NO_DEVICE;
    const uint32_t address = uint32_t(d->flashGeometry->sectorSize) * uint32_t(uint16_t(sector));
    const int32_t r = transport == CARDFS_CARTRIDGE_PARALLEL_PORT ? g.ppi->kvciEraseSectorFLASH(address)
                                                                  : g.usb->kvciEraseSectorFLASH(address);
    return erase_status(r);
}

// Identifies the chips again and erases every sector of a flash cartridge;
// a PEROM cartridge is left as it is.
int16_t prepare_medium(DeviceDescriptor *d) {
    int transport;
    int16_t st = begin(d, d, Select::UsbSlot, &transport);
    if (st == kOk) st = identify(d, transport);
    if (st != kOk || g.chipKind[slot_of(d)] != kChipFlash) return st;
    return erase_all(d, erase_sector);
}

DeviceDescriptor g_cartridges[2] = {
    {0, 0, 0, 0, 0, write_perom, read_block, prepare_medium, init_device, nullptr, kFirstCartridgeType},
    {0, 0, 0, 0, 0, write_perom, read_block, prepare_medium, init_device, nullptr, kFirstCartridgeType + 1},
};

}  // namespace
}  // namespace drivers
}  // namespace cardfs

using namespace cardfs::drivers;

extern "C" CARDFS_API DeviceDescriptor *W32_USER_GetDevicePtr(int16_t index) {
    return index == 0 || index == 1 ? &g_cartridges[index] : nullptr;
}

extern "C" CARDFS_API void W32_Set_USER_DeviceType(int16_t transport) { g.transport = transport; }
