// The KERNEL32 calls the diskette driver makes, under their Windows names
// and with the argument and result types the driver uses, and the one
// process-wide table through which it makes them.
//
// On Windows the types and constants come from <windows.h>; elsewhere this
// header declares the few the driver needs, with the same names, sizes and
// values. DIOC_REGISTERS (the VWIN32 register block of the Windows 9x
// family) is not part of <windows.h> and is declared here on both.
//
// Which functions the table holds is fixed when the library is built:
// with CARDFS_KERNEL32_STANDIN, those of our stand-in (library
// kernel32_standin, set up through cardfs_kernel32_standin.h), which
// simulates drives A: and B: on diskette images; without it the real
// KERNEL32 functions, which exist on Windows only.
#pragma once

#include <stdint.h>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winioctl.h>
#else

typedef void *HANDLE;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef char CHAR;
typedef LONG *PLONG;
typedef DWORD *LPDWORD;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef const char *LPCSTR;
typedef struct _SECURITY_ATTRIBUTES *LPSECURITY_ATTRIBUTES;  // always null here
typedef struct _OVERLAPPED *LPOVERLAPPED;                    // always null here

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    int64_t QuadPart;
} LARGE_INTEGER;

typedef int32_t MEDIA_TYPE;  // an enumeration on Windows, of the same size

// IOCTL_DISK_GET_DRIVE_GEOMETRY fills it.
typedef struct _DISK_GEOMETRY {
    LARGE_INTEGER Cylinders;
    MEDIA_TYPE MediaType;
    DWORD TracksPerCylinder;
    DWORD SectorsPerTrack;
    DWORD BytesPerSector;
} DISK_GEOMETRY;

typedef struct _OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;  // set by the caller: sizeof(OSVERSIONINFOA)
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;  // VER_PLATFORM_WIN32_WINDOWS, VER_PLATFORM_WIN32_NT, ...
    CHAR szCSDVersion[128];
} OSVERSIONINFOA;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define OPEN_EXISTING 3u
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define IOCTL_DISK_GET_DRIVE_GEOMETRY 0x00070000u
#define VER_PLATFORM_WIN32_WINDOWS 1u
#define VER_PLATFORM_WIN32_NT 2u
#define ERROR_WRITE_PROTECT 19u
#define ERROR_NOT_READY 21u

#endif  // !_WIN32

// The register block of a VWIN32 service call (vwin32.h of the Windows 9x
// DDK): 28 bytes, 32 bits a register. For the BIOS disk services, bits 8
// to 15 of EAX are AH and bit 0 of the flags is the carry flag.
//
// EBX carries the address of a sector buffer. Real VWIN32 exists in 32-bit
// processes only, where an address is 32 bits; a 64-bit build (the
// stand-in, or a Windows build where VWIN32 cannot be opened) passes the
// upper half of the address in ESI, which the read and write services do
// not use, and the stand-in rebuilds the address from the two.
struct DIOC_REGISTERS {
    DWORD reg_EBX;
    DWORD reg_EDX;
    DWORD reg_ECX;
    DWORD reg_EAX;
    DWORD reg_EDI;
    DWORD reg_ESI;
    DWORD reg_Flags;
};
constexpr DWORD VWIN32_DIOC_DOS_INT13 = 4;  // DeviceIoControl on "\\.\VWIN32": INT 13h

static_assert(sizeof(DIOC_REGISTERS) == 28, "DIOC_REGISTERS is 28 bytes");
static_assert(sizeof(DISK_GEOMETRY) == 24, "DISK_GEOMETRY is 24 bytes");
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");

namespace cardfs {
namespace drivers {

// The calls, as the driver makes them. Security attributes, overlapped
// records and template handles are always null; SetFilePointer gets no
// high part.
struct Kernel32 {
    BOOL(WINAPI *GetVersionExA)(OSVERSIONINFOA *info);
    HANDLE(WINAPI *CreateFileA)(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE templateFile);
    BOOL(WINAPI *CloseHandle)(HANDLE handle);
    BOOL(WINAPI *DeviceIoControl)(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                  LPDWORD returned, LPOVERLAPPED overlapped);
    DWORD(WINAPI *SetFilePointer)(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
    BOOL(WINAPI *ReadFile)(HANDLE file, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped);
    BOOL(WINAPI *WriteFile)(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped);
    DWORD(WINAPI *GetLastError)(void);
};

// The one table (kernel32.cpp).
extern const Kernel32 g_kernel32;

}  // namespace drivers
}  // namespace cardfs
