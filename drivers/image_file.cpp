// The card image file: a whole volume in "\USERIMG.BIN" in the root of a
// card that keeps a file system of its own, reached through the media
// calls of the reader. The file emulates 1 MiB of flash: erased bytes are
// 0xFF, a block write may only clear bits, and a sector erase sets 64 KiB
// back to 0xFF. Every operation opens the file, works on it and closes it
// again; the device keeps no state but the reader object.
#include <string.h>
#include <time.h>

#include "cardfs_drivers.h"
#include "drivers/reader.h"

namespace cardfs {
namespace drivers {
namespace {

constexpr char kImageName[] = "\\USERIMG.BIN";
constexpr int kBufferSize = 1024;  // working buffers; the image's blocks are 512 bytes
enum OpenMode : int16_t { kRead = 1, kWrite = 2, kReadWrite = 3 };

struct ErasedBytes {
    uint8_t bytes[kBufferSize];
    constexpr ErasedBytes() : bytes() {
        for (int i = 0; i < kBufferSize; i++) bytes[i] = 0xFF;
    }
};
constexpr ErasedBytes kErased;
uint8_t g_old[kBufferSize];     // a block's contents before it is programmed
fd32_fs_lfnfind_t g_found;      // the record of a look-up, passed along only

// Checks an operation's arguments and selects the card; -1 when the
// operation can go on with the reader object in *reader.
int16_t begin(const DeviceDescriptor *d, const void *buffer, CKvcUSBMMR **reader) {
    if (d == nullptr || buffer == nullptr) return CARDFS_E_ARGUMENT;
    if (d->blockSize <= 0 || d->blockSize > kBufferSize) return CARDFS_E_ARGUMENT;
    const int16_t slot = reader_slot(d);
    *reader = g_reader.object;
    if (slot < 0 || *reader == nullptr) return CARDFS_E_NO_DEVICE;
    return (*reader)->MediaSelect(slot) != 0 ? kOk : int16_t(CARDFS_E_NO_DEVICE);
}

// Reads count bytes at offset of the open image into buffer. What cannot
// be read reads as erased; nothing at all is there beyond the file's end.
void read_open_image(CKvcUSBMMR *reader, uint32_t offset, uint16_t count, uint8_t *buffer) {
    FileTime_t time;
    FileDate_t date;
    uint32_t size = 0;
    if (reader->kvciMediaGetAttributes(&time, &date, &size) == 0) {
        memset(buffer, 0xFF, count);
        return;
    }
    if (size <= offset) return;
    int32_t got = reader->kvciMediaReadFileBlock(buffer, count, offset);
    if (got < 0) got = 0;
    if (got > count) got = count;
    memset(buffer + got, 0xFF, size_t(count - got));
}

int16_t read_bytes(DeviceDescriptor *d, uint32_t address, int16_t count, void *buffer) {
    CKvcUSBMMR *reader;
    const int16_t st = begin(d, buffer, &reader);
    if (st != kOk) return st;
    if (count < 0) return CARDFS_E_ARGUMENT;
    if (reader->kvciMediaOpenFile(kImageName, kRead) == 0) return CARDFS_E_NOT_FOUND;
    read_open_image(reader, address, uint16_t(count), static_cast<uint8_t *>(buffer));
    reader->kvciMediaCloseFile();
    return kOk;
}

// A block read never reports a failure of the transfer itself.
int16_t read_block(DeviceDescriptor *d, int16_t block, void *buffer) {
    if (d == nullptr) return CARDFS_E_ARGUMENT;
    return read_bytes(d, block_address(d, block), d->blockSize, buffer);
}

// Programs a block as flash would: refused when it would set a bit that is
// cleared, and then nothing is written.
int16_t write_block(DeviceDescriptor *d, int16_t block, void *buffer) {
    CKvcUSBMMR *reader;
    int16_t st = begin(d, buffer, &reader);
    if (st != kOk) return st;
    if (reader->kvciMediaOpenFile(kImageName, kReadWrite) == 0) return CARDFS_E_NOT_FOUND;
    const uint32_t offset = block_address(d, block);
    const uint16_t count = uint16_t(d->blockSize);
    const uint8_t *data = static_cast<const uint8_t *>(buffer);
    st = reader->kvciMediaReadFileBlock(g_old, count, offset) == count ? kOk : int16_t(CARDFS_E_IMAGE_WRITE);
    for (uint16_t i = 0; st == kOk && i < count; i++)
        if ((g_old[i] & data[i]) != data[i]) st = CARDFS_E_IMAGE_WRITE;
    if (st == kOk && reader->kvciMediaWriteFileBlock(data, count, offset) == 0) st = CARDFS_E_IMAGE_WRITE;
    reader->kvciMediaCloseFile();
    return st;
}

// Writes 0xFF over the sector's 64 KiB, a block at a time.
int16_t erase_sector(DeviceDescriptor *d, int16_t sector) {
    CKvcUSBMMR *reader;
    int16_t st = begin(d, d, &reader);
    if (st != kOk) return st;
    if (reader->kvciMediaOpenFile(kImageName, kReadWrite) == 0) return CARDFS_E_NOT_FOUND;
    const uint16_t count = uint16_t(d->blockSize);
    const uint32_t start = uint32_t(kSectorSize) * uint32_t(uint16_t(sector));
    for (uint32_t done = 0; st == kOk && done < uint32_t(kSectorSize); done += count)
        if (reader->kvciMediaWriteFileBlock(kErased.bytes, count, start + done) == 0) st = CARDFS_E_IMAGE_WRITE;
    reader->kvciMediaCloseFile();
    return st;
}

// The image's date and time: the local time now.
void now(FileTime_t *time_, FileDate_t *date) {
    const time_t t = time(nullptr);
    tm local{};
#if defined(_WIN32)
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    time_->minute = uint8_t(local.tm_min);
    time_->hour = uint8_t(local.tm_hour);
    time_->hundredths = 0;
    time_->second = uint8_t(local.tm_sec);
    date->year = uint16_t(local.tm_year + 1900);
    date->day = uint8_t(local.tm_mday);
    date->month = uint8_t(local.tm_mon + 1);
}

// Replaces the image by a new file of the medium's size, every byte erased.
int16_t prepare_medium(DeviceDescriptor *d) {
    CKvcUSBMMR *reader;
    int16_t st = begin(d, d, &reader);
    if (st != kOk) return st;
    if (reader->kvciMediaFindFirstFile(kImageName, &g_found) != 0) {
        reader->kvciMediaFindClose();
        if (reader->kvciMediaDeleteFile(kImageName) == 0) return CARDFS_E_NOT_FOUND;
    }
    FileTime_t time_;
    FileDate_t date;
    now(&time_, &date);
    const uint16_t count = uint16_t(d->blockSize);
    const uint32_t size = uint32_t(uint16_t(d->totalBlocks)) * count;
    if (reader->kvciMediaSetAttributes(kImageName, &time_, &date, size) == 0) return CARDFS_E_NO_DEVICE;
    if (reader->kvciMediaOpenFile(kImageName, kWrite) == 0) return CARDFS_E_NOT_FOUND;
    for (uint32_t offset = 0; st == kOk && offset < size; offset += count)
        if (reader->kvciMediaWriteFileBlock(kErased.bytes, count, offset) == 0) st = CARDFS_E_NO_DEVICE;
    reader->kvciMediaCloseFile();
    return st;
}

// The image is found, or the card works but carries no volume yet (-6):
// formatting then creates the file.
int16_t init_device(DeviceDescriptor *d) {
    if (d == nullptr) return CARDFS_E_ARGUMENT;
    const int16_t created = create_reader(&g_reader.firstImage);
    if (created != kOk) return created;
    CKvcUSBMMR *reader;
    const int16_t st = begin(d, d, &reader);
    if (st != kOk) return st;
    if (reader->kvciMediaFindFirstFile(kImageName, &g_found) == 0) return CARDFS_E_NO_VOLUME;
    reader->kvciMediaFindClose();
    return kOk;
}

// 1 MiB of flash: 2048 blocks of 512 bytes in 16 sectors of 64 KiB, the
// first two holding the system area.
FlashGeometry g_flash = flash_record(0, read_bytes, erase_sector);

constexpr DeviceDescriptor image_descriptor(int32_t deviceType) {
    return DeviceDescriptor{512,         2048,           0,          16,       256, write_block, read_block,
                            prepare_medium, init_device, &g_flash, deviceType};
}
DeviceDescriptor g_images[2] = {image_descriptor(CARDFS_TYPE_READER_IMAGE_1),
                                image_descriptor(CARDFS_TYPE_READER_IMAGE_3)};

}  // namespace

DeviceDescriptor *image_device(int index) { return &g_images[index]; }

}  // namespace drivers
}  // namespace cardfs
