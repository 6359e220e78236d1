// The stand-in's drives: diskette images going in and out, the drive's
// conditions, injected transfer failures, and the image files themselves.
#include "cardfs_volume.h"
#include "drivers/kernel32/standin.h"

namespace k32s {
namespace {

constexpr int16_t kDone = -1;

Drive *driveAt(int16_t drive) { return drive >= 0 && drive < kDrives ? &state().drives[drive] : nullptr; }

// The size of an open image (a regular file or a block device), 0 when it
// cannot be told.
uint32_t sizeOf(FILE *image) {
    if (fseek(image, 0, SEEK_END) != 0) return 0;
    const long end = ftell(image);
    return end > 0 && end <= long(kSize144) ? uint32_t(end) : 0;
}

bool seek(FILE *image, uint32_t offset) { return fseek(image, long(offset), SEEK_SET) == 0; }

}  // namespace

State &state() {
    static State theState;
    return theState;
}

void eject(Drive &drive) {
    if (drive.image != nullptr) fclose(drive.image);
    drive.image = nullptr;
    drive.size = 0;
    drive.readOnly = false;
    drive.changed = false;
}

bool transferFails() {
    State &s = state();
    if (s.failFrom <= 0) return false;
    const int32_t n = ++s.transfers;
    return n >= s.failFrom && (s.failCount <= 0 || n - s.failFrom < s.failCount);
}

bool readImage(Drive &drive, uint32_t offset, void *buffer, uint32_t count) {
    return drive.image != nullptr && seek(drive.image, offset) && fread(buffer, 1, count, drive.image) == count;
}

bool writeImage(Drive &drive, uint32_t offset, const void *data, uint32_t count) {
    return drive.image != nullptr && seek(drive.image, offset) && fwrite(data, 1, count, drive.image) == count &&
           fflush(drive.image) == 0;
}

}  // namespace k32s

using namespace k32s;

extern "C" {

K32S_API int16_t K32S_InsertDiskette(int16_t drive, const char *imagePath) {
    Drive *d = driveAt(drive);
    if (d == nullptr || imagePath == nullptr) return CARDFS_E_ARGUMENT;
    bool readOnly = false;
    FILE *image = fopen(imagePath, "r+b");
    if (image == nullptr) {
        image = fopen(imagePath, "rb");
        readOnly = true;
    }
    if (image == nullptr) return CARDFS_E_IO;
    const uint32_t size = sizeOf(image);
    if (size != kSize720 && size != kSize144) {
        fclose(image);
        return CARDFS_E_ARGUMENT;
    }
    setvbuf(image, nullptr, _IONBF, 0);  // every transfer reaches the file at once
    eject(*d);
    d->image = image;
    d->size = size;
    d->readOnly = readOnly;
    d->changed = true;
    return kDone;
}

K32S_API int16_t K32S_EjectDiskette(int16_t drive) {
    Drive *d = driveAt(drive);
    if (d == nullptr) return CARDFS_E_ARGUMENT;
    eject(*d);
    return kDone;
}

K32S_API int16_t K32S_SetWriteProtected(int16_t drive, int on) {
    Drive *d = driveAt(drive);
    if (d == nullptr) return CARDFS_E_ARGUMENT;
    d->writeProtected = on != 0;
    return kDone;
}

K32S_API int16_t K32S_SetNotReady(int16_t drive, int on) {
    Drive *d = driveAt(drive);
    if (d == nullptr) return CARDFS_E_ARGUMENT;
    d->notReady = on != 0;
    return kDone;
}

K32S_API int16_t K32S_ReportMediaChange(int16_t drive) {
    Drive *d = driveAt(drive);
    if (d == nullptr) return CARDFS_E_ARGUMENT;
    d->changed = true;
    return kDone;
}

K32S_API int16_t K32S_SetReportedGeometry(int16_t drive, uint32_t cylinders, uint32_t heads, uint32_t sectorsPerTrack,
                                          uint32_t bytesPerSector) {
    Drive *d = driveAt(drive);
    if (d == nullptr) return CARDFS_E_ARGUMENT;
    d->cylinders = cylinders;
    d->heads = heads;
    d->sectorsPerTrack = sectorsPerTrack;
    d->bytesPerSector = bytesPerSector;
    return kDone;
}

K32S_API void K32S_SetPlatform(uint32_t platformId) { state().platform = platformId; }

K32S_API void K32S_FailTransfer(int32_t nth, int32_t count) {
    State &s = state();
    s.failFrom = nth > 0 ? nth : 0;
    s.failCount = count;
    s.transfers = 0;
}

K32S_API void K32S_Reset(void) {
    State &s = state();
    for (Drive &d : s.drives) {
        eject(d);
        d = Drive();
    }
    s.platform = K32S_PLATFORM_NT;
    s.lastError = 0;
    K32S_FailTransfer(0, 0);
}

}  // extern "C"
