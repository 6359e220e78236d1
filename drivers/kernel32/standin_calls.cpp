// The stand-in's KERNEL32 calls: the platform report, handles of the drive
// devices and of VWIN32, the geometry query, sector reads and writes at the
// file position, and the BIOS disk services behind VWIN32.
//
// Error codes and BIOS results are the ones Windows and the PC BIOS give
// for the same situations.
#include <string.h>

#include "drivers/kernel32/standin.h"

namespace k32s {
namespace {

// Windows error codes.
constexpr DWORD kErrorInvalidFunction = 1;
constexpr DWORD kErrorFileNotFound = 2;
constexpr DWORD kErrorTooManyOpenFiles = 4;
constexpr DWORD kErrorAccessDenied = 5;
constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorWriteProtect = 19;
constexpr DWORD kErrorNotReady = 21;
constexpr DWORD kErrorCrc = 23;
constexpr DWORD kErrorSectorNotFound = 27;
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorInsufficientBuffer = 122;
constexpr DWORD kErrorNegativeSeek = 131;
constexpr DWORD kErrorNoAccess = 998;

// IOCTL_DISK_GET_DRIVE_GEOMETRY and its media types.
constexpr DWORD kGetDriveGeometry = 0x00070000;
constexpr int32_t kMedia144 = 2;  // F3_1Pt44_512
constexpr int32_t kMedia720 = 5;  // F3_720_512
constexpr DWORD kDosInt13 = 4;    // VWIN32_DIOC_DOS_INT13

// BIOS disk services and their results in AH.
constexpr uint8_t kBiosRead = 0x02, kBiosWrite = 0x03, kBiosChangeStatus = 0x16;
constexpr uint8_t kBiosOk = 0x00, kBiosBadCommand = 0x01, kBiosWriteProtected = 0x03, kBiosSectorNotFound = 0x04,
                  kBiosChanged = 0x06, kBiosCrc = 0x10, kBiosController = 0x20, kBiosNotReady = 0x80;
constexpr DWORD kCarry = 1;

constexpr uint32_t kVersionInfoSize = sizeof(OSVERSIONINFOA);  // 148
constexpr uint32_t kVersionInfoExSize = 156;                  // OSVERSIONINFOEXA is also accepted

// ---- handles ----
// A handle is a slot of this table, never null nor INVALID_HANDLE_VALUE.
// Slots stay taken until the handle is closed, whatever the setup calls do.
enum class Kind { Free, Vwin32, Drive };
struct Open {
    Kind kind = Kind::Free;
    int drive = 0;
    bool writable = false;
    int64_t position = 0;
};
constexpr int kHandles = 16;
constexpr uintptr_t kHandleBase = 0x4B30;
Open g_handles[kHandles];

HANDLE handleOf(int slot) { return reinterpret_cast<HANDLE>(kHandleBase + 4 * uintptr_t(slot)); }

Open *opened(HANDLE h) {
    const uintptr_t v = reinterpret_cast<uintptr_t>(h);
    if (v < kHandleBase || (v - kHandleBase) % 4 != 0 || (v - kHandleBase) / 4 >= kHandles) return nullptr;
    Open *o = &g_handles[(v - kHandleBase) / 4];
    return o->kind == Kind::Free ? nullptr : o;
}

BOOL fail(DWORD error) {
    state().lastError = error;
    return FALSE;
}

// The drive behind a handle of a drive device, or null with the error set.
Drive *driveOf(HANDLE h, Open **o) {
    *o = opened(h);
    if (*o == nullptr) return fail(kErrorInvalidHandle), nullptr;
    if ((*o)->kind != Kind::Drive) return fail(kErrorInvalidFunction), nullptr;
    return &state().drives[(*o)->drive];
}

bool equalNoCase(const char *a, const char *b) {
    for (; *a && *b; a++, b++) {
        const char x = *a >= 'a' && *a <= 'z' ? char(*a - 32) : *a;
        const char y = *b >= 'a' && *b <= 'z' ? char(*b - 32) : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

// "\\.\A:" or "\\.\B:" (any case): the drive number, else -1.
int driveNamed(const char *name) {
    if (strncmp(name, "\\\\.\\", 4) != 0 || strlen(name) != 6 || name[5] != ':') return -1;
    const char letter = name[4] >= 'a' ? char(name[4] - 32) : name[4];
    return letter == 'A' || letter == 'B' ? letter - 'A' : -1;
}

// Checks a sector transfer at a drive handle's position; false with the
// error set when it cannot go ahead.
bool transferable(Drive &d, const Open &o, const void *buffer, DWORD count) {
    if (d.image == nullptr || d.notReady) return fail(kErrorNotReady);
    if (buffer == nullptr) return fail(kErrorNoAccess);
    if (o.position % kSectorBytes != 0 || count % kSectorBytes != 0) return fail(kErrorInvalidParameter);
    if (o.position + int64_t(count) > int64_t(d.size)) return fail(kErrorSectorNotFound);
    return true;
}

// ---- BIOS disk services (INT 13h) ----

void *bufferAddress(const DIOC_REGISTERS &r) {
    uint64_t address = r.reg_EBX;
    if (sizeof(void *) > 4) address |= uint64_t(r.reg_ESI) << 32;
    return reinterpret_cast<void *>(uintptr_t(address));
}

uint8_t changeStatus(Drive &d) {
    if (d.image == nullptr) return kBiosChanged;
    if (d.notReady) return kBiosNotReady;
    if (!d.changed) return kBiosOk;
    d.changed = false;
    return kBiosChanged;
}

// Reads or writes AL sectors of one track; *done counts those moved.
uint8_t sectors(Drive &d, bool write, DIOC_REGISTERS &r, uint8_t *done) {
    if (d.image == nullptr || d.notReady) return kBiosNotReady;
    const uint32_t count = r.reg_EAX & 0xFF;
    const uint32_t cylinder = ((r.reg_ECX >> 8) & 0xFF) | ((r.reg_ECX & 0xC0) << 2);
    const uint32_t sector = r.reg_ECX & 0x3F, head = (r.reg_EDX >> 8) & 0xFF;
    const uint32_t perTrack = d.imageSectorsPerTrack();
    if (count == 0) return kBiosBadCommand;
    if (sector == 0 || sector + count - 1 > perTrack || head >= kHeads || cylinder >= kCylinders)
        return kBiosSectorNotFound;
    if (write && d.protectedFromWrites()) return kBiosWriteProtected;
    uint8_t *buffer = static_cast<uint8_t *>(bufferAddress(r));
    if (buffer == nullptr) return kBiosBadCommand;
    const uint32_t first = (cylinder * kHeads + head) * perTrack + sector - 1;
    for (uint32_t i = 0; i < count; i++, ++*done) {
        if (transferFails()) return kBiosCrc;
        const uint32_t offset = (first + i) * kSectorBytes;
        uint8_t *at = buffer + i * kSectorBytes;
        if (!(write ? writeImage(d, offset, at, kSectorBytes) : readImage(d, offset, at, kSectorBytes)))
            return kBiosController;
    }
    return kBiosOk;
}

void int13(DIOC_REGISTERS &r) {
    const uint8_t service = uint8_t(r.reg_EAX >> 8), driveNumber = uint8_t(r.reg_EDX);
    uint8_t status = kBiosBadCommand, done = 0;
    if (driveNumber < kDrives) {
        Drive &d = state().drives[driveNumber];
        if (service == kBiosChangeStatus) status = changeStatus(d);
        if (service == kBiosRead || service == kBiosWrite) status = sectors(d, service == kBiosWrite, r, &done);
    }
    if (service == kBiosRead || service == kBiosWrite) r.reg_EAX = (r.reg_EAX & ~DWORD(0xFF)) | done;
    r.reg_EAX = (r.reg_EAX & ~DWORD(0xFF00)) | DWORD(status) << 8;
    r.reg_Flags = status == kBiosOk ? r.reg_Flags & ~kCarry : r.reg_Flags | kCarry;
}

}  // namespace

BOOL WINAPI GetVersionExA(OSVERSIONINFOA *info) {
    if (info == nullptr) return fail(kErrorNoAccess);
    if (info->dwOSVersionInfoSize != kVersionInfoSize && info->dwOSVersionInfoSize != kVersionInfoExSize)
        return fail(kErrorInsufficientBuffer);
    const DWORD platform = state().platform;
    memset(&info->dwMajorVersion, 0, sizeof(OSVERSIONINFOA) - sizeof(DWORD));
    info->dwPlatformId = platform;
    if (platform == K32S_PLATFORM_9X) {  // Windows 98
        info->dwMajorVersion = 4;
        info->dwMinorVersion = 10;
        info->dwBuildNumber = 0x040A08AE;
    } else if (platform == K32S_PLATFORM_NT) {  // Windows XP
        info->dwMajorVersion = 5;
        info->dwMinorVersion = 1;
        info->dwBuildNumber = 2600;
    }
    return TRUE;
}

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                          HANDLE) {
    if (name == nullptr) return fail(kErrorInvalidParameter), INVALID_HANDLE_VALUE;
    const DWORD platform = state().platform;
    Open wanted;
    if (platform == K32S_PLATFORM_9X && equalNoCase(name, "\\\\.\\VWIN32")) {
        wanted.kind = Kind::Vwin32;
    } else if (platform == K32S_PLATFORM_NT && driveNamed(name) >= 0) {
        if (disposition != OPEN_EXISTING) return fail(kErrorInvalidParameter), INVALID_HANDLE_VALUE;
        wanted.kind = Kind::Drive;
        wanted.drive = driveNamed(name);
        wanted.writable = (access & GENERIC_WRITE) != 0;
    } else {
        return fail(kErrorFileNotFound), INVALID_HANDLE_VALUE;
    }
    for (int i = 0; i < kHandles; i++) {
        if (g_handles[i].kind != Kind::Free) continue;
        g_handles[i] = wanted;
        return handleOf(i);
    }
    return fail(kErrorTooManyOpenFiles), INVALID_HANDLE_VALUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    Open *o = opened(handle);
    if (o == nullptr) return fail(kErrorInvalidHandle);
    *o = Open();
    return TRUE;
}

BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                            LPDWORD returned, LPOVERLAPPED) {
    Open *o = opened(device);
    if (o == nullptr) return fail(kErrorInvalidHandle);
    if (o->kind == Kind::Drive && code == kGetDriveGeometry) {
        if (out == nullptr || outSize < sizeof(DISK_GEOMETRY)) return fail(kErrorInsufficientBuffer);
        const Drive &d = state().drives[o->drive];
        if (d.image == nullptr || d.notReady) return fail(kErrorNotReady);
        DISK_GEOMETRY g;
        memset(&g, 0, sizeof g);
        const bool reported = d.cylinders || d.heads || d.sectorsPerTrack || d.bytesPerSector;
        g.Cylinders.QuadPart = reported ? d.cylinders : kCylinders;
        g.MediaType = static_cast<decltype(g.MediaType)>(d.size == kSize144 ? kMedia144 : kMedia720);
        g.TracksPerCylinder = reported ? d.heads : kHeads;
        g.SectorsPerTrack = reported ? d.sectorsPerTrack : d.imageSectorsPerTrack();
        g.BytesPerSector = reported ? d.bytesPerSector : kSectorBytes;
        memcpy(out, &g, sizeof g);
        if (returned != nullptr) *returned = sizeof g;
        return TRUE;
    }
    if (o->kind == Kind::Vwin32 && code == kDosInt13) {
        if (in == nullptr || out == nullptr || inSize < sizeof(DIOC_REGISTERS) || outSize < sizeof(DIOC_REGISTERS))
            return fail(kErrorInvalidParameter);
        DIOC_REGISTERS r;
        memcpy(&r, in, sizeof r);
        int13(r);
        memcpy(out, &r, sizeof r);
        if (returned != nullptr) *returned = sizeof r;
        return TRUE;
    }
    return fail(kErrorInvalidFunction);
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
    Open *o;
    Drive *d = driveOf(file, &o);
    if (d == nullptr) return INVALID_SET_FILE_POINTER;
    const int64_t move = distanceHigh != nullptr ? int64_t(uint64_t(uint32_t(*distanceHigh)) << 32 | uint32_t(distance))
                                                 : int64_t(distance);
    int64_t base = 0;
    if (method == FILE_CURRENT) base = o->position;
    else if (method == FILE_END) base = d->size;
    else if (method != FILE_BEGIN) return fail(kErrorInvalidParameter), INVALID_SET_FILE_POINTER;
    if (base + move < 0) return fail(kErrorNegativeSeek), INVALID_SET_FILE_POINTER;
    o->position = base + move;
    if (distanceHigh != nullptr) *distanceHigh = LONG(o->position >> 32);
    return DWORD(o->position);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED) {
    if (done != nullptr) *done = 0;
    Open *o;
    Drive *d = driveOf(file, &o);
    if (d == nullptr) return FALSE;
    if (count == 0) return TRUE;
    if (!transferable(*d, *o, buffer, count)) return FALSE;
    uint8_t *to = static_cast<uint8_t *>(buffer);
    for (DWORD moved = 0; moved < count; moved += kSectorBytes) {
        if (transferFails()) return fail(kErrorCrc);
        if (!readImage(*d, uint32_t(o->position), to + moved, kSectorBytes)) return fail(kErrorCrc);
        o->position += kSectorBytes;
        if (done != nullptr) *done = moved + kSectorBytes;
    }
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED) {
    if (done != nullptr) *done = 0;
    Open *o;
    Drive *d = driveOf(file, &o);
    if (d == nullptr) return FALSE;
    if (!o->writable) return fail(kErrorAccessDenied);
    if (count == 0) return TRUE;
    if (!transferable(*d, *o, buffer, count)) return FALSE;
    if (d->protectedFromWrites()) return fail(kErrorWriteProtect);
    const uint8_t *from = static_cast<const uint8_t *>(buffer);
    for (DWORD moved = 0; moved < count; moved += kSectorBytes) {
        if (transferFails()) return fail(kErrorCrc);
        if (!writeImage(*d, uint32_t(o->position), from + moved, kSectorBytes)) return fail(kErrorCrc);
        o->position += kSectorBytes;
        if (done != nullptr) *done = moved + kSectorBytes;
    }
    return TRUE;
}

DWORD WINAPI GetLastError(void) { return state().lastError; }

}  // namespace k32s
