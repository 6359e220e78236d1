// Programmer objects and the pause after their creation.
#include "drivers/objects.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <errno.h>
#include <time.h>
#endif

namespace cardfs {
namespace drivers {

void *create_object(KvcDeviceClass deviceClass) {
    // The third word is not read by the library; it is cleared so that no
    // indeterminate bytes are handed over.
    ObjectRequest request{};
    request.deviceClass = deviceClass;
    request.one = 1;
    request.object = nullptr;
    (void)kvcCustomFunction(kKvcCreateObject, &request);
    return request.object;
}

void sleep_ms(uint32_t ms) {
#if defined(_WIN32)
    Sleep(ms);
#else
    timespec left{};
    left.tv_sec = time_t(ms / 1000);
    left.tv_nsec = long(ms % 1000) * 1000000L;
    while (nanosleep(&left, &left) == -1 && errno == EINTR) {
    }
#endif
}

void pause_after_creation() { sleep_ms(30); }

}  // namespace drivers
}  // namespace cardfs
