// Time stamps: seconds since 1970 to and from broken-down time.
#include <time.h>

#include "datafiles/transfer.h"

namespace cardfs {

// mktime reads the time-zone settings afresh itself (TZ, or the system's
// zone file), so a change of TZ between two calls is honoured.
int32_t make_time_local(struct tm *tm) {
    tm->tm_isdst = 0;
    time_t t = mktime(tm);
    if (t < 0 || t > INT32_MAX) return -1;
    return int32_t(t);
}

bool break_time_utc(int32_t time, struct tm *out) {
    if (time < 0) return false;
    time_t t = time;
#if defined(_WIN32)
    return gmtime_s(out, &t) == 0;
#else
    return gmtime_r(&t, out) != nullptr;
#endif
}

}  // namespace cardfs
