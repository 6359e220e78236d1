// Where a failed internal invariant ends the process (test and fuzzing builds).
#include "device/invariant.h"

#include <stdio.h>
#include <stdlib.h>

namespace cardfs {

void assertion_failed(const char *condition, const char *file, int line) {
    fprintf(stderr, "cardfs: invariant broken at %s:%d: %s\n", file, line, condition);
    abort();
}

}  // namespace cardfs
