// GetErrno: the status variable read and reset.
#include "device/frame.h"

extern "C" CARDFS_API int32_t GetErrno(void) {
    int32_t st = cardfs::g_frame.status;
    cardfs::g_frame.status = cardfs::kOk;
    return st;
}
