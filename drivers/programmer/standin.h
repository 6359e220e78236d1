// Inside the card-programmer stand-in: the state the objects share and the
// calls between its parts (objects, chip sets, the directory card, faults).
// Nothing here leaves the library.
#pragma once

#include <stdint.h>
#include <time.h>

#include <string>

#include "cardfs_programmer_standin.h"
#include "kvwin32.h"

namespace kvs {

constexpr int kCartridgeSlots = 2;
constexpr int kReaderSlots = 4;
constexpr uint32_t kSectorSize = 0x10000;
constexpr uint16_t kNoCode = 0xFFFF;      // what a chip-code read gives when nothing answers
constexpr int32_t kProgramFailed = 1;     // result of a refused block programming
constexpr int32_t kEraseFailed = -100;    // result of a refused erase; its low 16 bits read as -100
constexpr int16_t kDone = -1;             // setup calls: success

// One chip set, PEROM or flash, whose bytes live in an image file. Every
// read and write goes to the file itself: nothing is cached.
struct ChipSet {
    int fd = -1;
    uint16_t chip = 0;  // a KVS_PEROM_* code or a KVS_FLASH_* configuration
    uint32_t capacity = 0;
    bool present() const { return fd >= 0; }
};

// A media-reader slot: empty, a card used at flash level, or a card whose
// file system root is a host directory.
struct ReaderSlot {
    ChipSet chips;
    std::string directory;  // non-empty for a directory card
};

struct State {
    ChipSet cartridge[kCartridgeSlots];
    int16_t cartridgeSlot = 0;  // both programmer transports select the same slot
    uint32_t pointer = 0;       // kvciSetPointer, advanced by kvciGetBuf
    ReaderSlot reader[kReaderSlots];
    int16_t readerSlot = 0;  // SelectSlot on the reader: the flash-level calls
    int16_t mediaSlot = -1;  // MediaSelect: the media calls; -1 when none usable
    bool available[3] = {true, true, true};
    uint16_t programmerCode = 0x3D1A;
};
State &state();

// Power for one operation that changes a medium: on (go ahead), off (fail,
// change nothing), or cut by this very operation (fail; with a torn write,
// `prefix` bytes land fully and the byte after them in part, by `mask`).
struct Power {
    enum Kind { On, Off, Cut } kind = On;
    bool torn = false;
    uint32_t prefix = 0;
    uint8_t mask = 0;
    // The torn byte: the bits of `mask` as the write meant them, the others
    // as they were. A programming that may only clear bits thus clears some
    // of them, an erase sets some.
    uint8_t tear(uint8_t old, uint8_t next) const { return uint8_t((old & ~mask) | (next & mask)); }
};

// Backing files, as the host gives them (standin_host.cpp): descriptors,
// binary, not inherited; -1 or false on failure.
enum class HostAccess { Read, Write, ReadWrite };
int openHostFile(const std::string &path, HostAccess access, bool create);
void closeHostFile(int fd);
int64_t hostFileSize(int fd);
bool resizeHostFile(int fd, uint32_t size);  // cut or extended with zeros
// Whole transfers at an offset, false when the file gives fewer bytes;
// readAt reports how many it got.
uint32_t readAt(int fd, uint32_t offset, void *buffer, uint32_t count);
bool writeAt(int fd, uint32_t offset, const void *data, uint32_t count);
// The time of the last change: set (with the access time), read.
bool setHostFileTime(int fd, time_t seconds, long nanoseconds);
bool hostFileTime(int fd, time_t *seconds, long *nanoseconds);
bool localHostTime(time_t t, struct tm *out);
bool makeHostDirectory(const std::string &path);
enum class HostEntry { None, File, Directory, Other };  // File: a regular file
HostEntry hostEntryKind(const std::string &path);
// Whether `dir` has the entry `name` (no wildcards), a directory or a
// regular file as asked, found as the host finds names: on Windows
// without regard to case, and then `name` may differ from the name stored
// in case, which storedHostName gives; two paths to one entry may differ
// likewise, which sameHostPath allows for.
bool hasHostEntry(const std::string &dir, const std::string &name, bool wantDirectory);
std::string storedHostName(const std::string &dir, const std::string &name);
bool sameHostPath(const std::string &a, const std::string &b);
#if defined(_WIN32)
constexpr bool kHostNamesIgnoreCase = true;
#else
constexpr bool kHostNamesIgnoreCase = false;
#endif
// Writes what an operation that met the power cut leaves behind: nothing,
// or the torn prefix of `next` over `old`.
void landTorn(int fd, uint32_t offset, const uint8_t *old, const uint8_t *next, const Power &power);

// Chip sets (standin_chips.cpp). A null set stands for an empty slot.
bool isPerom(uint16_t chip);
int16_t openChipSet(ChipSet &set, const char *imagePath, uint16_t chip);
void closeChipSet(ChipSet &set);
ChipSet *selectedCartridge();
ChipSet *selectedReaderCard();
uint16_t peromCode(const ChipSet *set);
uint16_t flashCode(const ChipSet *set, uint32_t address);
void readChips(const ChipSet *set, uint32_t address, void *buffer, uint32_t count);
int32_t programPerom(ChipSet *set, uint32_t address, const void *data, uint32_t count);
int32_t programFlash(ChipSet *set, uint32_t address, const void *data, uint32_t count);
int32_t eraseSector(ChipSet *set, uint32_t address);

// The directory card (standin_media.cpp).
void closeMediaFile();
void forgetCard(int readerSlot);  // the card in the slot is leaving: close what it has open
int32_t mediaSelect(int16_t readerSlot);
int32_t mediaFindFirst(const char *name, fd32_fs_lfnfind_t *found);
int32_t mediaDelete(const char *name);
int32_t mediaSetAttributes(const char *name, const FileTime_t *time, const FileDate_t *date, uint32_t size);
int32_t mediaOpen(const char *name, int16_t mode);
int32_t mediaGetAttributes(FileTime_t *time, FileDate_t *date, uint32_t *size);
int32_t mediaRead(void *buffer, uint16_t count, uint32_t offset);
int32_t mediaWrite(const void *buffer, uint16_t count, uint32_t offset);

// Faults, power and counters (standin_faults.cpp).
KvsCounters &counters();
// Counts one call of the fault's kind; true when the injected fault hits it.
bool faultHits(int fault);
// Faults that hold for every call while injected (unknown chip, no medium,
// delete, set attributes).
bool faultHolds(int fault);
int32_t eraseFaultResult();
bool powerIsOff();
void resetFaults();
// Decides the power for one operation that would change `count` bytes, and
// counts it towards a coming cut.
Power drawPower(uint32_t count);

}  // namespace kvs
