// Filling a descriptor from the chips found.
#include "drivers/chips.h"

namespace cardfs {
namespace drivers {

int16_t describe(DeviceDescriptor *d, ChipMatch match, BlockWriter peromWriter, BlockWriter flashWriter,
                 FlashGeometry *flashRecords, uint8_t *chipKind) {
    const ChipGeometry *g;
    if (match.kind == kChipPerom) {
        g = &kPeromChips[match.row];
        d->WriteBlock = peromWriter;
        d->flashGeometry = nullptr;
    } else if (match.kind == kChipFlash) {
        g = &kFlashChips[match.row].geometry;
        d->WriteBlock = flashWriter;
        d->flashGeometry = &flashRecords[match.row];
    } else {
        return CARDFS_E_NO_DEVICE;
    }
    d->blockSize = g->blockSize;
    d->totalBlocks = g->totalBlocks;
    d->headerBlock = 0;
    d->dirBlocks = g->dirBlocks;
    d->firstDataBlock = g->firstDataBlock;
    *chipKind = match.kind;
    return kOk;
}

}  // namespace drivers
}  // namespace cardfs
