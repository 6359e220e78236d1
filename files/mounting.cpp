// The interface calls that mount or rebuild a volume and so must settle the
// open files first: FS_Init forgets them, FS_Format and FS_Test are refused
// while a file is being written, whose allocation map they would replace.
#include "files/files_internal.h"

namespace cardfs {
namespace {

// The device a format or test name gives, once no write is in progress.
int16_t target_of(const char *name, ParsedName *parsed) {
    if (writer_open()) return CARDFS_E_WRITING;
    return parse_file_name(name, parsed);
}

}  // namespace
}  // namespace cardfs

using namespace cardfs;

extern "C" CARDFS_API int16_t FS_Init(const char *name) {
    if (g_frame.table == nullptr) return store(CARDFS_E_NO_TABLE);
    store(kOk);
    reset_open_files();
    return store(init_devices(name));
}

extern "C" CARDFS_API int16_t FS_Format(const char *name) {
    ParsedName parsed;
    int16_t st = target_of(name, &parsed);
    if (st == kOk) st = format_device(parsed.device, parsed.name);
    return store(st);
}

extern "C" CARDFS_API int16_t FS_Test(const char *name) {
    ParsedName parsed;
    int16_t st = target_of(name, &parsed);
    if (st == kOk) st = test_device(parsed.device);
    if (st != kOk) return store(st);
    return FS_Format(name);
}
