// kvwin32 stand-in: the card-programmer library simulated on the host, so
// that the cartridge, media-reader and image-file drivers run unchanged
// where the vendor's library is not installed.
//
// What is simulated:
//  - kvcCustomFunction(21) hands out one object per class: the parallel-port
//    programmer (class 2), the USB programmer (5) and the USB media reader
//    (11); a class made unavailable gives a null object. The objects are
//    static and stay valid for the life of the process.
//  - The card programmer: one programmer with two cartridge slots, reached
//    alike through the parallel-port and the USB object (one slot
//    selection, one read pointer). It identifies itself with a settable
//    code (0x3D1A by default).
//  - Chip sets: the four PEROM chips and the four flash configurations of
//    1 to 4 MiB, each backed by an image file of exactly its capacity.
//    PEROM takes any data; flash programming may only clear bits, and
//    sectors of 64 KiB are erased to 0xFF (standin_chips.cpp).
//  - The media reader: four slots, each empty, a card used at flash level
//    (a chip set as above), or a card with a file system of its own whose
//    root is a host directory, reached by the media calls
//    (standin_media.cpp).
//  - Injected faults, a power cut that may tear the write it meets, and
//    counters of the calls seen (standin_faults.cpp).
// Every change goes straight to the backing files; nothing is cached, so a
// new process, or the same files inserted again, sees every write.
//
// The setup calls (KVS_*, cardfs_programmer_standin.h) are the stand-in's
// own. A build against the vendor's library drops this folder's standin*
// sources and links the vendor's library under the same name; kvwin32.h
// and the drivers stay as they are.
//
// Like the library it replaces, the stand-in has no locks: calls must not
// overlap. No exception leaves a call; a failure inside one gives the
// call's failure result.

#include "standin.h"

namespace kvs {
namespace {

CKvcPPI thePPI;
CKvcUSB theUSB;
CKvcUSBMMR theReader;

template <class T, class F>
T guarded(T failed, F &&call) noexcept {
    try {
        return call();
    } catch (...) {
        return failed;
    }
}

template <class F>
void guarded(F &&call) noexcept {
    try {
        call();
    } catch (...) {
    }
}

void getBuf(void *buffer, uint32_t count) {
    State &s = state();
    readChips(selectedCartridge(), s.pointer, buffer, count);
    s.pointer += count;
}

void splitCode(uint16_t code, uint8_t *manufacturer, uint8_t *device) {
    if (manufacturer) *manufacturer = uint8_t(code >> 8);
    if (device) *device = uint8_t(code);
}

}  // namespace

State &state() {
    static State s;
    return s;
}

}  // namespace kvs

using namespace kvs;

KVWIN32_API int32_t kvcCustomFunction(int32_t function, ObjectRequest *request) {
    if (function != kKvcCreateObject || !request) return -1;
    int index;
    void *object;
    switch (request->deviceClass) {
    case kKvcPPI: index = 0, object = &thePPI; break;
    case kKvcUSB: index = 1, object = &theUSB; break;
    case kKvcUSBMMR: index = 2, object = &theReader; break;
    default: request->object = nullptr; return -1;
    }
    ++counters().objectRequests[index];
    request->object = state().available[index] ? object : nullptr;
    return 0;
}

// The programmer on the parallel port.

void CKvcPPI::kvciSetCartridge(int16_t slot) { state().cartridgeSlot = slot; }
void CKvcPPI::SelectSlot(int16_t slot) { state().cartridgeSlot = slot; }
void CKvcPPI::kvciSetPointer(uint32_t address) { state().pointer = address; }
void CKvcPPI::kvciGetBuf(void *buffer, uint32_t count) { getBuf(buffer, count); }

int32_t CKvcPPI::kvciWriteBlkPEROM(uint32_t address, const void *data, uint32_t count, bool) {
    return guarded(kProgramFailed, [&] { return programPerom(selectedCartridge(), address, data, count); });
}

int32_t CKvcPPI::kvciWriteBlkFLASH(uint32_t address, const void *data, uint32_t count, bool) {
    return guarded(kProgramFailed, [&] { return programFlash(selectedCartridge(), address, data, count); });
}

int32_t CKvcPPI::kvciEraseSectorFLASH(uint32_t sectorAddress) {
    return guarded(kEraseFailed, [&] { return eraseSector(selectedCartridge(), sectorAddress); });
}

uint16_t CKvcPPI::kvciGetPEROMID() { return peromCode(selectedCartridge()); }
uint16_t CKvcPPI::kvciGetFLASHID(uint32_t address) { return flashCode(selectedCartridge(), address); }
uint16_t CKvcPPI::kvciReadID() { return state().programmerCode; }

// The same programmer on USB.

void CKvcUSB::kvciSetCartridge(int16_t slot) { state().cartridgeSlot = slot; }
void CKvcUSB::SelectSlot(int16_t slot) { state().cartridgeSlot = slot; }
void CKvcUSB::kvciSetPointer(uint32_t address) { state().pointer = address; }
void CKvcUSB::kvciGetBuf(void *buffer, uint32_t count) { getBuf(buffer, count); }

int32_t CKvcUSB::kvciWriteBlkPEROM(uint32_t address, const void *data, uint32_t count, bool) {
    return guarded(kProgramFailed, [&] { return programPerom(selectedCartridge(), address, data, count); });
}

int32_t CKvcUSB::WriteOnFlash(uint32_t address, const void *data, uint32_t count, bool, bool) {
    return guarded(kProgramFailed, [&] { return programFlash(selectedCartridge(), address, data, count); });
}

int32_t CKvcUSB::kvciEraseSectorFLASH(uint32_t sectorAddress) {
    return guarded(kEraseFailed, [&] { return eraseSector(selectedCartridge(), sectorAddress); });
}

void CKvcUSB::GetID_PEROM(uint8_t *manufacturer, uint8_t *device) {
    splitCode(peromCode(selectedCartridge()), manufacturer, device);
}

void CKvcUSB::GetID_Flash(uint32_t address, uint8_t *manufacturer, uint8_t *device) {
    splitCode(flashCode(selectedCartridge(), address), manufacturer, device);
}

// The media reader: flash-level calls on the slot of SelectSlot, media
// calls on the slot of MediaSelect.

void CKvcUSBMMR::SelectSlot(int16_t slot) { state().readerSlot = slot; }

void CKvcUSBMMR::ReadMemory(uint32_t address, uint32_t count, void *buffer) {
    readChips(selectedReaderCard(), address, buffer, count);
}

int32_t CKvcUSBMMR::kvciWriteBlkPEROM(uint32_t address, const void *data, uint32_t count, bool) {
    return guarded(kProgramFailed, [&] { return programPerom(selectedReaderCard(), address, data, count); });
}

int32_t CKvcUSBMMR::WriteOnFlash(uint32_t address, const void *data, uint32_t count, bool, bool) {
    return guarded(kProgramFailed, [&] { return programFlash(selectedReaderCard(), address, data, count); });
}

int32_t CKvcUSBMMR::kvciEraseSectorFLASH(uint32_t sectorAddress) {
    return guarded(kEraseFailed, [&] { return eraseSector(selectedReaderCard(), sectorAddress); });
}

void CKvcUSBMMR::GetID_PEROM(uint8_t *manufacturer, uint8_t *device) {
    splitCode(peromCode(selectedReaderCard()), manufacturer, device);
}

void CKvcUSBMMR::GetID_Flash(uint32_t address, uint8_t *manufacturer, uint8_t *device) {
    splitCode(flashCode(selectedReaderCard(), address), manufacturer, device);
}

int32_t CKvcUSBMMR::MediaSelect(int16_t readerSlot) {
    return guarded(0, [&] { return mediaSelect(readerSlot); });
}

int32_t CKvcUSBMMR::kvciMediaFindFirstFile(const char *name, fd32_fs_lfnfind_t *found) {
    return guarded(0, [&] { return mediaFindFirst(name, found); });
}

void CKvcUSBMMR::kvciMediaFindClose() {}

int32_t CKvcUSBMMR::kvciMediaDeleteFile(const char *name) {
    return guarded(0, [&] { return mediaDelete(name); });
}

int32_t CKvcUSBMMR::kvciMediaSetAttributes(const char *name, FileTime_t *time, FileDate_t *date, uint32_t size) {
    return guarded(0, [&] { return mediaSetAttributes(name, time, date, size); });
}

int32_t CKvcUSBMMR::kvciMediaOpenFile(const char *name, int16_t mode) {
    return guarded(0, [&] { return mediaOpen(name, mode); });
}

int32_t CKvcUSBMMR::kvciMediaGetAttributes(FileTime_t *time, FileDate_t *date, uint32_t *size) {
    return guarded(0, [&] { return mediaGetAttributes(time, date, size); });
}

int32_t CKvcUSBMMR::kvciMediaReadFileBlock(void *buffer, uint16_t count, uint32_t offset) {
    return guarded(0, [&] { return mediaRead(buffer, count, offset); });
}

int32_t CKvcUSBMMR::kvciMediaWriteFileBlock(const void *buffer, uint16_t count, uint32_t offset) {
    return guarded(0, [&] { return mediaWrite(buffer, count, offset); });
}

void CKvcUSBMMR::kvciMediaCloseFile() { closeMediaFile(); }

extern "C" {

KVS_API void KVS_SetObjectsAvailable(int ppi, int usb, int reader) {
    State &s = state();
    s.available[0] = ppi != 0;
    s.available[1] = usb != 0;
    s.available[2] = reader != 0;
}

KVS_API void KVS_SetProgrammerCode(uint16_t code) { state().programmerCode = code; }

KVS_API void KVS_Reset(void) {
    State &s = state();
    closeMediaFile();
    for (ChipSet &set : s.cartridge) closeChipSet(set);
    for (ReaderSlot &slot : s.reader) closeChipSet(slot.chips);
    s = State();
    resetFaults();
    KVS_ResetCounters();
}

}  // extern "C"
