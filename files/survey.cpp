// Surveying a volume: the chain of every directory entry followed through
// the data area, the blocks each holds, and the map compared with them.
// FS_Check reports the survey, FS_Repair rebuilds the map from it.
#include <string.h>

#include "files/files_internal.h"
#include "volume/map_bits.h"

namespace cardfs {
namespace {

// The largest medium a map of one block can describe (one bit per block).
constexpr int32_t kMaxBlocks = kBufferSize * layout::kBlocksPerBitByte;

// Bitmaps over the blocks of the medium surveyed:
// held    followed from some entry (the live blocks)
// shared  followed from two entries
// mine    followed from the entry being walked (a revisit is a loop)
struct SurveyState {
    uint8_t held[kMaxBlocks / 8];
    uint8_t shared[kMaxBlocks / 8];
    uint8_t mine[kMaxBlocks / 8];
};
SurveyState g_survey;

bool bit(const uint8_t *bits, int32_t n) { return (bits[n / 8] >> (n % 8)) & 1; }
void set_bit(uint8_t *bits, int32_t n) { bits[n / 8] = uint8_t(bits[n / 8] | (1 << (n % 8))); }
size_t bitmap_bytes(const DeviceDescriptor *d) { return size_t(d->totalBlocks + 7) / 8; }

// The first pass claims blocks and marks those claimed twice; the second
// (run only when the first found any) flags every file holding one.
enum class Pass { Claim, FlagShared };

struct Walk {
    int16_t problem;
    int16_t found;
};

// Takes block b into the walk; false when the chain loops back on itself.
bool visit(int32_t b, Pass pass, Walk *w) {
    if (bit(g_survey.mine, b)) return false;
    set_bit(g_survey.mine, b);
    w->found++;
    if (pass == Pass::Claim && bit(g_survey.held, b)) set_bit(g_survey.shared, b);
    if (pass == Pass::Claim) set_bit(g_survey.held, b);
    if (bit(g_survey.shared, b)) w->problem |= CARDFS_CHAIN_SHARED;
    return true;
}

// Follows the chain of e for at most blockCount blocks of the data area.
// A device failure ends the survey; damage only marks the chain broken.
int16_t follow(DeviceDescriptor *d, const DirEntry &e, Pass pass, Walk *w) {
    memset(g_survey.mine, 0, bitmap_bytes(d));
    *w = {0, 0};
    int32_t b = e.firstBlock & layout::kLinkValue;
    uint8_t *block = scratch_block();
    for (;;) {
        if (!data_block(d, b) || !visit(b, pass, w)) break;
        int16_t st = dev_read(d, b, block);
        if (st != kOk) return st;
        uint16_t link = layout::get16(block);
        if (link & kLastBlock) {
            int32_t used = link & layout::kLinkValue;
            if (w->found == e.blockCount && used >= layout::kLinkSize && used <= d->blockSize) return kOk;
            break;
        }
        if (w->found >= e.blockCount) break;
        b = link;
    }
    w->problem |= CARDFS_CHAIN_BROKEN;
    return kOk;
}

void note_problem(FS_RepairReport *r, int32_t entry, const Walk &w) {
    if (w.problem & CARDFS_CHAIN_BROKEN) r->brokenFiles++;
    if (w.problem & CARDFS_CHAIN_SHARED) r->sharedFiles++;
    if (r->problemsListed >= CARDFS_REPAIR_LISTED) return;
    r->problems[r->problemsListed++] = {int16_t(entry), w.problem, w.found};
}

int32_t entry_number(const DirScan *scan) {
    int32_t perBlock = scan->device->blockSize / layout::kEntrySize;
    return (int32_t{scan->currentBlock} - scan->startBlock) * perBlock + scan->entryIndex;
}

// One pass over every file entry of the directory.
int16_t walk_entries(DeviceDescriptor *d, DirScan *scan, Pass pass, FS_RepairReport *r) {
    int16_t st = FS_OpenDir(d, scan);
    while (st == kOk && (st = FS_ReadDir(scan)) == kOk) {
        const DirEntry e = *scan_entry(scan);
        if (e.extension == 0) continue;
        if (pass == Pass::Claim && r->files < INT16_MAX) r->files++;
        Walk w;
        if ((st = follow(d, e, pass, &w)) == kOk && w.problem != 0) note_problem(r, entry_number(scan), w);
    }
    return st == CARDFS_E_NOT_FOUND ? kOk : st;
}

bool any_shared(const DeviceDescriptor *d) {
    for (size_t i = 0; i < bitmap_bytes(d); i++)
        if (g_survey.shared[i] != 0) return true;
    return false;
}

// Flash: blocks in use and released per sector, and the free data sectors.
void count_sectors(const DeviceDescriptor *d, const uint8_t *map, FS_RepairReport *r) {
    const FlashGeometry *fg = d->flashGeometry;
    int32_t perSector = blocks_per_sector(d);
    r->sectorCount = fg->sectorCount;
    for (int32_t s = 0; s < fg->sectorCount; s++) {
        uint16_t used = 0, released = 0, taken = 0;
        for (int32_t n = s * perSector; n < (s + 1) * perSector; n++) {
            uint8_t pair = pair_in(map, n);
            used = uint16_t(used + (pair == layout::kUsed));
            released = uint16_t(released + (pair == layout::kReleased));
            taken = uint16_t(taken + (pair != layout::kFree));
        }
        bool system = s < fg->systemSectors;
        r->sectorUsed[s] = system ? uint16_t(perSector) : used;
        r->sectorReleased[s] = system ? 0 : released;
        if (!system && taken == 0) r->freeSectors++;
    }
}

// The map against the live blocks, over the data area.
void compare_map(const DeviceDescriptor *d, const uint8_t *map, FS_RepairReport *r) {
    for (int32_t n = 0; n < d->totalBlocks; n++) {
        if (!data_block(d, n)) continue;
        bool live = bit(g_survey.held, n), used = map_in_use(d, map, n);
        if (live) r->liveBlocks++;
        if (live && !used) r->unmarkedBlocks++;
        if (!live && used) r->leakedBlocks++;
        if (is_flash(d) && pair_in(map, n) == layout::kReleased) r->releasedBlocks++;
    }
    if (is_flash(d)) count_sectors(d, map, r);
}

}  // namespace

int16_t survey_volume(DeviceDescriptor *d, const uint8_t *map, DirScan *scan, FS_RepairReport *r) {
    memset(r, 0, sizeof *r);
    memset(&g_survey, 0, sizeof g_survey);
    int16_t st = geometry_check(d);
    if (st != kOk) return st;
    CARDFS_ASSERT(d->totalBlocks <= kMaxBlocks);
    if ((st = walk_entries(d, scan, Pass::Claim, r)) != kOk) return st;
    if (any_shared(d)) {
        const int16_t files = r->files;
        memset(r, 0, sizeof *r);
        r->files = files;
        if ((st = walk_entries(d, scan, Pass::FlagShared, r)) != kOk) return st;
    }
    compare_map(d, map, r);
    return kOk;
}

bool live_block(int32_t n) { return n >= 0 && n < kMaxBlocks && bit(g_survey.held, n); }

}  // namespace cardfs
