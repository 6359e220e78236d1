// The status variable and GetErrno.
#include "volume/volume_internal.h"

namespace cardfs {

// Status of the last operation that stored one; 0 until the first.
int32_t g_status = 0;

}  // namespace cardfs

extern "C" CARDFS_API int32_t GetErrno(void) {
    int32_t st = cardfs::g_status;
    cardfs::g_status = cardfs::kOk;
    return st;
}
