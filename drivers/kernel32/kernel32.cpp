// The table of KERNEL32 calls the diskette driver makes: the stand-in's
// when the library is built with CARDFS_KERNEL32_STANDIN, the real ones
// otherwise (Windows only).
#include "drivers/kernel32/kernel32.h"

#if defined(CARDFS_KERNEL32_STANDIN)
#include "drivers/kernel32/standin.h"
#elif !defined(_WIN32)
#error "The real KERNEL32 exists on Windows only: build with CARDFS_KERNEL32_STANDIN"
#endif

namespace cardfs {
namespace drivers {

#if defined(CARDFS_KERNEL32_STANDIN)
const Kernel32 g_kernel32 = {
    k32s::GetVersionExA, k32s::CreateFileA, k32s::CloseHandle, k32s::DeviceIoControl,
    k32s::SetFilePointer, k32s::ReadFile,   k32s::WriteFile,   k32s::GetLastError,
};
#else
const Kernel32 g_kernel32 = {
    ::GetVersionExA, ::CreateFileA, ::CloseHandle, ::DeviceIoControl,
    ::SetFilePointer, ::ReadFile,   ::WriteFile,   ::GetLastError,
};
#endif

}  // namespace drivers
}  // namespace cardfs
