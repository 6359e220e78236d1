// The diskette device: a volume kept directly in the sectors of a 720 KB or
// 1.44 MB diskette in drive A: or B:, one block a 512-byte sector. The
// drive is reached the way the Windows family allows, chosen afresh at
// every initialisation: on the 9x family through the BIOS disk services of
// VWIN32, on the NT family through the drive's device file. Media
// detection, geometry, block addressing and statuses are one logic for
// both; the KERNEL32 calls go through the table of drivers/kernel32/.
#include <stdio.h>
#include <string.h>

#include "cardfs_drivers.h"
#include "drivers/kernel32/kernel32.h"

namespace cardfs {
namespace drivers {
namespace {

constexpr int16_t kOk = CARDFS_OK;

// What is in a drive, by its size.
enum MediaKind : int16_t { kNoMedium = 0, kMedium720 = 1, kMedium144 = 2 };
constexpr int16_t kTotalBlocks[3] = {0, 1440, 2880};
constexpr DWORD kSectorsPerTrack[3] = {0, 9, 18};
constexpr uint64_t kMediumBytes720 = 0xB4000;   // 737,280
constexpr uint64_t kMediumBytes144 = 0x168000;  // 1,474,560
constexpr uint64_t kRounding = 0x3FF;           // the geometry product's low 10 bits are dropped

constexpr int16_t kBlockSize = 512;
constexpr DWORD kSectorBytes = 512;  // the only sector size supported
constexpr int16_t kDirBlocks = 2;
constexpr int16_t kFirstDataBlock = 3;

enum Platform : int16_t { kOtherPlatform = 0, kWindows9x = 1, kWindowsNT = 2 };

// BIOS disk services (INT 13h through VWIN32): EAX of the request, and AH
// of the answer.
constexpr DWORD kReadOneSector = 0x0201;
constexpr DWORD kWriteOneSector = 0x0301;
constexpr DWORD kDiskChangeStatus = 0x1600;
constexpr DWORD kCarry = 1;
constexpr uint8_t kDone = 0x00;
constexpr uint8_t kWriteProtected = 0x03;
constexpr uint8_t kChanged = 0x06;
// What a service answers when VWIN32 cannot be opened: neither done, nor
// write-protected, nor changed.
constexpr uint8_t kNoService = 0xFF;
constexpr int kWriteAttempts = 3;

// ---- process-wide state ----
// platform    From GetVersionExA at every InitDevice; none before the first.
// mediaKind   Per drive: cleared by InitDevice, set by detection, cleared
//             by a block number outside the medium.
// drive       NT: the one drive handle both drives share.
// geometry    NT: the last geometry query; its bytes per sector are the
//             transfer size.
// vwin32      9x: "\\.\VWIN32", opened at the first need, never closed.
// sector      Block 0 at InitDevice, and the 9x detection reads.
struct Diskette {
    int16_t platform;
    int16_t mediaKind[2];
    HANDLE drive;
    DISK_GEOMETRY geometry;
    HANDLE vwin32;
    uint8_t sector[kSectorBytes];
};
Diskette g = {kOtherPlatform, {kNoMedium, kNoMedium}, INVALID_HANDLE_VALUE, {}, INVALID_HANDLE_VALUE, {}};

const Kernel32 &k = g_kernel32;

// The drive of a descriptor (its deviceType), -1 when it is none.
int16_t drive_of(const DeviceDescriptor *d) {
    return d->deviceType == 0 || d->deviceType == 1 ? int16_t(d->deviceType) : int16_t(-1);
}

void read_platform() {
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    (void)k.GetVersionExA(&info);  // a failed call leaves the platform 0: neither family
    g.platform = info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? kWindows9x
                 : info.dwPlatformId == VER_PLATFORM_WIN32_NT    ? kWindowsNT
                                                                 : kOtherPlatform;
}

// Bytes moved by one NT read or write: the sector size of the last
// geometry query, never more than the sector buffer holds.
DWORD transfer_size() { return g.geometry.BytesPerSector < kSectorBytes ? g.geometry.BytesPerSector : kSectorBytes; }

// ---- Windows 9x family: BIOS disk services ----

bool vwin32_open() {
    if (g.vwin32 == INVALID_HANDLE_VALUE)
        g.vwin32 = k.CreateFileA("\\\\.\\VWIN32", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    return g.vwin32 != INVALID_HANDLE_VALUE;
}

DIOC_REGISTERS request(DWORD eax, const void *buffer, DWORD ecx, DWORD edx) {
    const uint64_t address = uint64_t(reinterpret_cast<uintptr_t>(buffer));
    DIOC_REGISTERS r;
    memset(&r, 0, sizeof r);
    r.reg_EAX = eax;
    r.reg_EBX = DWORD(address);
    r.reg_ESI = DWORD(address >> 32);  // 0 in a 32-bit process
    r.reg_ECX = ecx;
    r.reg_EDX = edx;
    r.reg_Flags = kCarry;
    return r;
}

BOOL int13(DIOC_REGISTERS &r) {
    DWORD returned = 0;
    return k.DeviceIoControl(g.vwin32, VWIN32_DIOC_DOS_INT13, &r, sizeof r, &r, sizeof r, &returned, nullptr);
}

uint8_t ah(const DIOC_REGISTERS &r) { return uint8_t(r.reg_EAX >> 8); }

struct Chs {
    DWORD cylinder, head, sector;
    DWORD ecx() const { return cylinder * 256 + sector; }
    DWORD edx(int16_t drive) const { return head * 256 + DWORD(drive); }
};

// Where a block lies on the diskette of the drive's kind.
Chs chs_of(int16_t kind, int16_t block) {
    const DWORD s = kSectorsPerTrack[kind], b = DWORD(block);
    return Chs{b / (2 * s), (b % (2 * s)) / s, b % s + 1};
}

// One attempt; only AH is looked at.
uint8_t read_sector(int16_t drive, Chs at, void *buffer) {
    if (!vwin32_open()) return kNoService;
    DIOC_REGISTERS r = request(kReadOneSector, buffer, at.ecx(), at.edx(drive));
    (void)int13(r);
    return ah(r);
}

// Up to three attempts, until one succeeds with the carry clear; AH of the
// last.
uint8_t write_sector(int16_t drive, Chs at, const void *buffer) {
    if (!vwin32_open()) return kNoService;
    DIOC_REGISTERS r;
    for (int attempt = 0; attempt < kWriteAttempts; attempt++) {
        r = request(kWriteOneSector, buffer, at.ecx(), at.edx(drive));
        if (int13(r) && (r.reg_Flags & kCarry) == 0) break;
    }
    return ah(r);
}

uint8_t change_status(int16_t drive) {
    if (!vwin32_open()) return kNoService;
    DIOC_REGISTERS r = request(kDiskChangeStatus, nullptr, 0, DWORD(drive));
    (void)int13(r);
    return ah(r);
}

// The change check, and with `detect` the diskette's size by the last
// sector of a track: 18 on 1.44 MB, 9 on 720 KB.
int16_t open_9x(int16_t drive, bool detect) {
    const bool changed = change_status(drive) == kChanged;
    if (changed && change_status(drive) == kChanged) return CARDFS_E_NO_DEVICE;  // no diskette
    if (!detect) return changed ? int16_t(CARDFS_E_MEDIUM_CHANGED) : kOk;
    int16_t &kind = g.mediaKind[drive];
    if (read_sector(drive, Chs{0, 0, 18}, g.sector) == kDone) {
        kind = kMedium144;
    } else if (read_sector(drive, Chs{0, 0, 9}, g.sector) == kDone) {
        kind = kMedium720;
    } else {
        kind = kNoMedium;
        return CARDFS_E_NO_VOLUME;
    }
    return kOk;
}

// ---- Windows NT family: the drive's device file ----

// Opens the drive in place of the drive open before, and with `detect`
// tells the diskette's size from the geometry.
int16_t open_nt(int16_t drive, bool detect) {
    char name[8];
    snprintf(name, sizeof name, "\\\\.\\%c:", 'A' + drive);
    if (g.drive != INVALID_HANDLE_VALUE) (void)k.CloseHandle(g.drive);
    g.drive = k.CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    if (g.drive == INVALID_HANDLE_VALUE) return CARDFS_E_NO_DEVICE;
    if (!detect) return kOk;
    DWORD returned = 0;
    if (!k.DeviceIoControl(g.drive, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g.geometry, sizeof g.geometry,
                           &returned, nullptr))
        return k.GetLastError() == ERROR_NOT_READY ? int16_t(CARDFS_E_NO_DEVICE) : int16_t(CARDFS_E_IO);
    const uint64_t bytes = uint64_t(g.geometry.Cylinders.QuadPart) * g.geometry.TracksPerCylinder *
                           g.geometry.SectorsPerTrack * g.geometry.BytesPerSector;
    const uint64_t rounded = bytes & ~kRounding;
    int16_t &kind = g.mediaKind[drive];
    if (g.geometry.BytesPerSector == kSectorBytes && rounded == kMediumBytes144) {
        kind = kMedium144;
    } else if (g.geometry.BytesPerSector == kSectorBytes && rounded == kMediumBytes720) {
        kind = kMedium720;
    } else {
        kind = kNoMedium;
        return CARDFS_E_NO_VOLUME;
    }
    return kOk;
}

int16_t open_and_detect(int16_t drive, bool detect) {
    return g.platform == kWindowsNT ? open_nt(drive, detect) : open_9x(drive, detect);
}

// Block 0 into the sector buffer, at the start of the freshly opened drive.
bool read_block_zero(int16_t drive) {
    if (g.platform == kWindows9x) return read_sector(drive, Chs{0, 0, 1}, g.sector) == kDone;
    DWORD got = 0;
    return k.ReadFile(g.drive, g.sector, transfer_size(), &got, nullptr) != FALSE;
}

// The geometry of the drive's kind, all but firstDataBlock.
void describe(DeviceDescriptor *d, int16_t kind) {
    d->blockSize = kBlockSize;
    d->totalBlocks = kTotalBlocks[kind];
    d->headerBlock = 0;
    d->dirBlocks = kDirBlocks;
}

// What every operation checks first: the descriptor (and buffer), its
// drive, and a platform of one of the two families. -1: go on with *drive.
int16_t begin(const DeviceDescriptor *d, const void *buffer, int16_t *drive) {
    if (d == nullptr || buffer == nullptr) return CARDFS_E_ARGUMENT;
    *drive = drive_of(d);
    if (*drive < 0 || g.platform == kOtherPlatform) return CARDFS_E_NO_DEVICE;
    return kOk;
}

int16_t init_device(DeviceDescriptor *d) {
    if (d == nullptr) return CARDFS_E_ARGUMENT;
    read_platform();
    int16_t drive;
    int16_t st = begin(d, d, &drive);
    if (st != kOk) return st;
    g.mediaKind[drive] = kNoMedium;
    st = open_and_detect(drive, true);
    if (st != kOk) return st;
    if (!read_block_zero(drive)) return CARDFS_E_IO;
    if (memcmp(g.sector + 1, "DOS", 3) != 0) return CARDFS_E_NO_VOLUME;
    if (g.sector[14] > 1) return CARDFS_E_VERSION;
    describe(d, g.mediaKind[drive]);
    d->firstDataBlock = kFirstDataBlock;
    return kOk;
}

// Detects the diskette again for formatting. Its status is not looked at:
// without a recognised diskette the geometry stays as it was and the
// result is still -1.
int16_t prepare_medium(DeviceDescriptor *d) {
    int16_t drive;
    const int16_t st = begin(d, d, &drive);
    if (st != kOk) return st;
    (void)open_and_detect(drive, true);
    const int16_t kind = g.mediaKind[drive];
    if (kind == kNoMedium) return kOk;
    describe(d, kind);
    if (d->firstDataBlock == 0) d->firstDataBlock = kFirstDataBlock;  // never initialised
    return kOk;
}

// A block outside the medium makes the drive's diskette unknown.
int16_t check_block(const DeviceDescriptor *d, int16_t drive, int16_t block) {
    int16_t &kind = g.mediaKind[drive];
    if (kind == kNoMedium) return CARDFS_E_NO_MEDIUM_KIND;
    if (block < 0 || block >= d->totalBlocks) {
        kind = kNoMedium;
        return CARDFS_E_ARGUMENT;
    }
    return kOk;
}

// NT: no checks, from the drive opened last. 9x: checked, after the change
// check, one attempt.
int16_t read_block(DeviceDescriptor *d, int16_t block, void *buffer) {
    int16_t drive;
    int16_t st = begin(d, buffer, &drive);
    if (st != kOk) return st;
    if (g.platform == kWindowsNT) {
        const DWORD size = transfer_size();
        (void)k.SetFilePointer(g.drive, LONG(block) * LONG(size), nullptr, FILE_BEGIN);
        DWORD got = 0;
        return k.ReadFile(g.drive, buffer, size, &got, nullptr) ? kOk : int16_t(CARDFS_E_IO);
    }
    if ((st = check_block(d, drive, block)) != kOk || (st = open_9x(drive, false)) != kOk) return st;
    return read_sector(drive, chs_of(g.mediaKind[drive], block), buffer) == kDone ? kOk : int16_t(CARDFS_E_IO);
}

// Checked on both families; NT opens the drive again before every write.
int16_t write_block(DeviceDescriptor *d, int16_t block, void *buffer) {
    int16_t drive;
    int16_t st = begin(d, buffer, &drive);
    if (st != kOk) return st;
    if ((st = check_block(d, drive, block)) != kOk || (st = open_and_detect(drive, false)) != kOk) return st;
    if (g.platform == kWindowsNT) {
        const DWORD size = transfer_size();
        (void)k.SetFilePointer(g.drive, LONG(block) * LONG(size), nullptr, FILE_BEGIN);
        DWORD written = 0;
        if (k.WriteFile(g.drive, buffer, size, &written, nullptr)) return kOk;
        return k.GetLastError() == ERROR_WRITE_PROTECT ? int16_t(CARDFS_E_WRITE_PROTECTED) : int16_t(CARDFS_E_IO);
    }
    const uint8_t result = write_sector(drive, chs_of(g.mediaKind[drive], block), buffer);
    if (result == kDone) return kOk;
    return result == kWriteProtected ? int16_t(CARDFS_E_WRITE_PROTECTED) : int16_t(CARDFS_E_IO);
}

DeviceDescriptor g_diskettes[2] = {
    {0, 0, 0, 0, 0, write_block, read_block, prepare_medium, init_device, nullptr, CARDFS_TYPE_DISKETTE_A},
    {0, 0, 0, 0, 0, write_block, read_block, prepare_medium, init_device, nullptr, CARDFS_TYPE_DISKETTE_B},
};

}  // namespace
}  // namespace drivers
}  // namespace cardfs

using namespace cardfs::drivers;

extern "C" CARDFS_API DeviceDescriptor *W32_DISK_GetDevicePtr(int16_t index) {
    return index == 0 || index == 1 ? &g_diskettes[index] : nullptr;
}
