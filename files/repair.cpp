// FS_Check and FS_Repair: the survey of a volume reported, and the map
// rebuilt from it and written through the ordinary write-back, so that a
// power cut during a repair leaves the old map or the new one.
#include <string.h>

#include "files/files_internal.h"

namespace cardfs {
namespace {

// scan     the directory scan of the survey, then of the write-back
// map      FS_Check: the map block as on the medium
// before   FS_Repair: the loaded map before it was rebuilt
struct RepairState {
    DirScan scan;
    uint8_t map[kBufferSize];
    uint8_t before[kBufferSize];
};
RepairState g_repair;

int16_t device_of(const char *drive, DeviceDescriptor **d) {
    *d = NameToDevice(drive);
    return *d != nullptr ? kOk : int16_t(CARDFS_E_NO_DEVICE);
}

int16_t read_map(DeviceDescriptor *d, uint8_t *map) {
    int32_t header = 0;
    int16_t st = find_header(d, &header);
    return st == kOk ? dev_read(d, header + d->dirBlocks, map) : st;
}

// Whether block n reads erased throughout; one that cannot be read does not.
bool reads_erased(DeviceDescriptor *d, int32_t n) {
    uint8_t *block = scratch_block();
    if (dev_read(d, n, block) != kOk) return false;
    for (int32_t i = 0; i < d->blockSize; i++)
        if (block[i] != layout::kErased) return false;
    return true;
}

// Exactly the live data blocks in use on the loaded map. The others that
// were in use are freed; on flash those holding data are released, for
// reclamation to erase.
void rebuild_map(DeviceDescriptor *d) {
    for (int32_t n = 0; n < d->totalBlocks; n++) {
        if (!data_block(d, n)) continue;
        bool used = map_in_use(d, g_volume.map, n);
        if (live_block(n) && !used) mark_used(d, n);
        if (live_block(n) || !used) continue;
        if (is_flash(d) && reads_erased(d, n))
            mark_free(d, n);
        else
            release_block(d, n);
    }
}

// The directory as it stands and the new map, through the write-back of
// an unchanged entry (the volume header): in place on rewritable media, a
// new system-area copy on flash.
int16_t write_map_back(DeviceDescriptor *d) {
    int16_t st = FS_OpenDir(d, &g_repair.scan);
    return st == kOk ? write_back_entry(&g_repair.scan, WriteOrder::MapFirst) : st;
}

int16_t check(const char *drive, FS_RepairReport *report) {
    DeviceDescriptor *d = nullptr;
    int16_t st = device_of(drive, &d);
    if (st == kOk) st = read_map(d, g_repair.map);
    return st == kOk ? survey_volume(d, g_repair.map, &g_repair.scan, report) : st;
}

int16_t repair(const char *drive, FS_RepairReport *report) {
    DeviceDescriptor *d = nullptr;
    int16_t st = device_of(drive, &d);
    if (st != kOk) return st;
    // Live blocks a cut reclamation left only in the spare come back first,
    // so that their chains are judged whole.
    if (is_flash(d) && (st = restore_interrupted_reclaim(d)) != kOk) return st;
    if ((st = load_map(d)) != kOk) return st;
    if ((st = survey_volume(d, g_volume.map, &g_repair.scan, report)) != kOk) return st;
    memcpy(g_repair.before, g_volume.map, sizeof g_repair.before);
    rebuild_map(d);
    if (memcmp(g_repair.before, g_volume.map, sizeof g_repair.before) == 0) return kOk;
    if ((st = write_map_back(d)) == kOk) report->mapWritten = 1;
    return st;
}

}  // namespace
}  // namespace cardfs

using namespace cardfs;

extern "C" CARDFS_API int16_t FS_Check(const char *drive, FS_RepairReport *report) {
    if (report == nullptr) return store(CARDFS_E_ARGUMENT);
    return store(check(drive, report));
}

extern "C" CARDFS_API int16_t FS_Repair(const char *drive, FS_RepairReport *report) {
    if (report == nullptr) return store(CARDFS_E_ARGUMENT);
    if (writer_open()) return store(CARDFS_E_WRITING);
    return store(repair(drive, report));
}
