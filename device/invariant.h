// CARDFS_ASSERT(condition): an internal invariant of the library, checked in
// test and fuzzing builds (CARDFS_ASSERTIONS defined) and compiled out
// otherwise. A build may define CARDFS_ASSERT itself to route failures
// elsewhere. Damage found on a medium or in a file is never asserted: it is
// returned as a status.
#pragma once

#ifndef CARDFS_ASSERT
#ifdef CARDFS_ASSERTIONS
#define CARDFS_ASSERT(condition) \
    ((condition) ? (void)0 : ::cardfs::assertion_failed(#condition, __FILE__, __LINE__))
#else
#define CARDFS_ASSERT(condition) ((void)sizeof(condition))
#endif
#endif

namespace cardfs {
[[noreturn]] void assertion_failed(const char *condition, const char *file, int line);
}
