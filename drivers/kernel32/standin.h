// Inside the KERNEL32 stand-in: its versions of the calls the diskette
// driver makes (which kernel32.cpp puts into the driver's table when the
// library is built with CARDFS_KERNEL32_STANDIN), and the state they share
// with the setup calls.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "cardfs_kernel32_standin.h"
#include "drivers/kernel32/kernel32.h"

namespace k32s {

// The KERNEL32 calls (standin_calls.cpp).
K32S_API BOOL WINAPI GetVersionExA(OSVERSIONINFOA *info);
K32S_API HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                   DWORD disposition, DWORD flags, HANDLE templateFile);
K32S_API BOOL WINAPI CloseHandle(HANDLE handle);
K32S_API BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                     LPDWORD returned, LPOVERLAPPED overlapped);
K32S_API DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
K32S_API BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped);
K32S_API BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped);
K32S_API DWORD WINAPI GetLastError(void);

constexpr int kDrives = 2;
constexpr uint32_t kSectorBytes = 512;
constexpr uint32_t kCylinders = 80;
constexpr uint32_t kHeads = 2;
constexpr uint32_t kSize720 = 737280;    // 9 sectors per track
constexpr uint32_t kSize144 = 1474560;  // 18 sectors per track

// One drive and the diskette in it.
struct Drive {
    FILE *image = nullptr;  // null: no diskette
    uint32_t size = 0;
    bool readOnly = false;  // the image opened for reading only
    bool writeProtected = false;
    bool notReady = false;
    bool changed = false;  // the disk change status reports a change once
    // What the geometry query reports; all zero: the image's own.
    uint32_t cylinders = 0, heads = 0, sectorsPerTrack = 0, bytesPerSector = 0;

    uint32_t imageSectorsPerTrack() const { return size == kSize144 ? 18 : 9; }
    bool protectedFromWrites() const { return writeProtected || readOnly; }
};

struct State {
    Drive drives[kDrives];
    DWORD platform = K32S_PLATFORM_NT;
    DWORD lastError = 0;
    int32_t failFrom = 0;   // the first failing transfer, counted from the injection; 0: none
    int32_t failCount = 0;  // 0 or less: every one from failFrom on
    int32_t transfers = 0;  // transfers since the injection
};
State &state();

// Closes a drive's image; the drive is then empty.
void eject(Drive &drive);
// Counts one sector transfer; true when an injected failure hits it.
bool transferFails();
// Whole sectors of a drive's image at a byte offset; false when the file
// gives or takes fewer bytes.
bool readImage(Drive &drive, uint32_t offset, void *buffer, uint32_t count);
bool writeImage(Drive &drive, uint32_t offset, const void *data, uint32_t count);

}  // namespace k32s
