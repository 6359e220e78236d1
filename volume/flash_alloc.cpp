// The flash allocator: it fills one sector after another from the cursor,
// erases a free sector before its first use, and when only the spare sector
// is left free it reclaims a sector with released blocks through the spare.
// Also the restoring of live blocks when a power cut stopped a reclamation.
#include <string.h>

#include "volume/map_bits.h"

namespace cardfs {
namespace {

using layout::kFree;
using layout::kReleased;
using layout::kUsed;

FlashState &flash = g_volume.flash;

// Forgets what is known about full map bytes; needed whenever a pair
// becomes free again.
void reset_open_bytes(const DeviceDescriptor *d) {
    for (int32_t s = 0; s < layout::kMaxSectors; s++) flash.openByte[s] = s * (blocks_per_sector(d) / 4);
}

bool erased(const uint8_t *block, int32_t size) {
    for (int32_t i = 0; i < size; i++)
        if (block[i] != layout::kErased) return false;
    return true;
}

// How live block n stands to its copy in a free sector that a cut
// reclamation may have left: Equal; Completes when the copy is not erased
// and n holds every bit of it and more (a copy-back cut short leaves n
// programmed in part: the copy's first bytes, maybe a byte with some of its
// bits cleared, erased bytes; an erase cut short leaves it erased in part),
// so that programming the copy over n completes it; Foreign otherwise (an
// erased copy or no copy of a live block, or a block that lacks a bit of
// the copy holds something else). The copy is left in the scratch block.
enum class Copy { Equal, Completes, Foreign };

// Blocks the medium's map records as live: blocks taken by the running
// operation are erased and not yet written.
bool committed_live(int32_t n) { return pair_of(n) == kUsed && pair_in(g_volume.loaded, n) == kUsed; }

// A copy of a live block is a file block whose link word, when it is not
// the last, names another live block: a reclamation copies the blocks of
// committed files as they are. Anything else in a free sector is no copy:
// zeros or another system's data, or the blocks of a write that was never
// committed, whose links name blocks the map calls free.
bool copy_of_live_block(const DeviceDescriptor *d, const uint8_t *block) {
    uint16_t link = layout::get16(block);
    if (!(link & layout::kLastBlock)) return data_block(d, link) && committed_live(link);
    int32_t used = link & layout::kLinkValue;
    return used >= layout::kLinkSize && used <= d->blockSize;
}

int16_t compare_copy(DeviceDescriptor *d, int32_t n, int32_t copy, Copy *out) {
    uint8_t live[kBufferSize];
    uint8_t *saved = scratch_block();
    *out = Copy::Foreign;
    int16_t st = dev_read(d, copy, saved);
    if (st != kOk || erased(saved, d->blockSize) || !copy_of_live_block(d, saved)) return st;
    if ((st = dev_read(d, n, live)) != kOk) return st;
    bool differs = false;
    for (int32_t i = 0; i < d->blockSize; i++) {
        if ((live[i] & saved[i]) != saved[i]) return kOk;
        differs = differs || live[i] != saved[i];
    }
    *out = differs ? Copy::Completes : Copy::Equal;
    return kOk;
}

// Whether the free sector `spare` may hold the copies of sector s that a
// cut reclamation left: every live block of s has a copy there that equals
// or completes it. *live counts the blocks that fit. A sector whose blocks
// all equal their copies still counts: it is the copies' own sector, made
// whole again by an earlier restore, and nothing is left to complete.
int16_t copies_of(DeviceDescriptor *d, int32_t s, int32_t spare, int32_t *live) {
    int32_t perSector = blocks_per_sector(d);
    *live = 0;
    for (int32_t k = 0; k < perSector; k++) {
        if (!committed_live(s * perSector + k)) continue;
        Copy c = Copy::Foreign;
        int16_t st = compare_copy(d, s * perSector + k, spare * perSector + k, &c);
        if (st != kOk || c == Copy::Foreign) return *live = 0, st;
        ++*live;
    }
    return kOk;
}

// The sector whose live blocks a free sector that shows writes holds
// copies of, or -1: a copy is programmed only over the block it was taken
// from. Another sector's live blocks at the same places fit as well only
// when each holds every bit of its neighbour's copy, which a sector of few
// live blocks may: of the sectors that fit, the one with the most live
// blocks is taken, and none when two have as many. Once the copies' own
// sector is whole, it still wins, so that the copies left in the spare are
// never programmed over another sector's blocks.
int16_t reclaimed_from(DeviceDescriptor *d, int32_t spare, int32_t *sector) {
    const FlashGeometry *fg = d->flashGeometry;
    int32_t most = 0;
    bool tie = false;
    *sector = -1;
    for (int32_t s = fg->systemSectors; s < fg->sectorCount; s++) {
        if (s == spare || flash.useCount[s] == 0) continue;
        int32_t live = 0;
        int16_t st = copies_of(d, s, spare, &live);
        if (st != kOk) return st;
        if (live > 0 && live == most) tie = true;
        if (live > most) most = live, *sector = s, tie = false;
    }
    if (tie) *sector = -1;
    return kOk;
}

// A free sector that is not erased may hold the only copy of the live
// blocks of a sector whose reclamation was cut short; those blocks are
// completed from it before the free sector is erased.
int16_t restore_from(DeviceDescriptor *d, int32_t spare) {
    int32_t s = -1, perSector = blocks_per_sector(d);
    int16_t st = reclaimed_from(d, spare, &s);
    for (int32_t k = 0; st == kOk && s >= 0 && k < perSector; k++) {
        int32_t n = s * perSector + k;
        Copy c = Copy::Foreign;
        if (!committed_live(n) || (st = compare_copy(d, n, spare * perSector + k, &c)) != kOk) continue;
        if (c == Copy::Completes) st = dev_write(d, n, scratch_block());
    }
    return st;
}

// Whether some block of sector s does not start with 0xFF 0xFF.
int16_t sector_dirty(DeviceDescriptor *d, int32_t s, bool *dirty) {
    int32_t perSector = blocks_per_sector(d);
    *dirty = false;
    for (int32_t k = 0; k < perSector && !*dirty; k++) {
        uint8_t probe[layout::kBlankProbe];
        uint32_t address = uint32_t(s * d->flashGeometry->sectorSize + k * d->blockSize);
        int16_t st = dev_read_bytes(d, address, layout::kBlankProbe, probe);
        if (st != kOk) return st;
        *dirty = probe[0] != layout::kErased || probe[1] != layout::kErased;
    }
    return kOk;
}

// Erases sector s unless every block of it starts with 0xFF 0xFF; a free
// sector is first searched for blocks an interrupted reclamation left there.
[[nodiscard]] int16_t erase_if_needed(DeviceDescriptor *d, int32_t s) {
    bool dirty = false;
    int16_t st = sector_dirty(d, s, &dirty);
    if (st != kOk || !dirty) return st;
    if (flash.useCount[s] == 0 && (st = restore_from(d, s)) != kOk) return st;
    return dev_erase(d, s);
}

bool has_released(int32_t perSector, int32_t s) {
    for (int32_t n = s * perSector; n < (s + 1) * perSector; n++)
        if (pair_of(n) == kReleased) return true;
    return false;
}

// Moves the live blocks of s to the spare, erases s, and moves them back to
// their own numbers; released blocks of s become free.
int16_t reclaim_sector(DeviceDescriptor *d, int32_t s, int32_t spare) {
    int32_t perSector = blocks_per_sector(d);
    int32_t first = s * perSector, end = first + perSector;
    int32_t offset = (spare - s) * perSector;
    uint8_t *work = scratch_block();
    // A spare that could not be erased refuses the first copy into it,
    // which ends the reclamation with that status.
    (void)erase_if_needed(d, spare);
    for (int32_t n = first; n < end; n++) {
        if (pair_of(n) != kUsed) continue;
        int16_t st = dev_read(d, n, work);
        if (st == kOk) st = dev_write(d, n + offset, work);
        if (st != kOk) return st;
    }
    int16_t st = dev_erase(d, s);
    if (st != kOk) return st;
    uint16_t live = 0;
    for (int32_t n = first; n < end; n++) {
        uint8_t value = pair_of(n);
        if (value == kReleased) set_pair(n, kFree);
        if (value != kUsed) continue;
        live++;
        st = dev_read(d, n + offset, work);
        if (st == kOk) st = dev_write(d, n, work);
        if (st != kOk) return st;
    }
    reset_open_bytes(d);
    flash.useCount[s] = live;
    if (live == 0) flash.freeSectors++;
    return dev_erase(d, spare);
}

// Reclaims the first sector with released blocks after the cursor through
// the (first) free sector; *sector is the reclaimed one.
int16_t reclaim_any(DeviceDescriptor *d, int32_t *sector) {
    const FlashGeometry *fg = d->flashGeometry;
    int32_t S = fg->systemSectors, N = fg->sectorCount, span = N - S;
    int32_t spare = -1;
    for (int32_t s = S; s < N && spare < 0; s++)
        if (flash.useCount[s] == 0) spare = s;
    if (spare < 0) return CARDFS_E_MEDIUM_FULL;
    for (int32_t i = 0; i < span; i++) {
        int32_t r = (flash.cursor - S + 1 + i) % span;
        int32_t s = S + (r < 0 ? r + span : r);
        if (s == spare || !has_released(blocks_per_sector(d), s)) continue;
        *sector = s;
        return reclaim_sector(d, s, spare);
    }
    return CARDFS_E_MEDIUM_FULL;
}

// A sector with no block in use, searched from the cursor on; taking the
// last free one reclaims instead, so that the spare stays free.
// The first of the N sectors, taken in turn from the cursor's on (round to
// sector 0 after the last), that `wanted` accepts; -1 for none.
template <typename Wanted>
int32_t first_sector_from(int32_t cursor, int32_t N, Wanted wanted) {
    const int32_t start = N > 0 ? cursor % N : 0;
    for (int32_t t = start; t < N; t++)
        if (wanted(t)) return t;
    for (int32_t t = 0; t < start; t++)
        if (wanted(t)) return t;
    return -1;
}

int16_t take_empty_sector(DeviceDescriptor *d, int32_t cursor, int32_t *sector) {
    int32_t N = d->flashGeometry->sectorCount;
    int32_t s = first_sector_from(cursor, N, [](int32_t t) { return flash.useCount[t] == 0; });
    if (s < 0) return CARDFS_E_MEDIUM_FULL;
    if (flash.freeSectors == 1) {
        int16_t st = reclaim_any(d, &s);
        if (st != kOk) return st;
        if (flash.useCount[s] == 0) flash.freeSectors--;
    } else {
        flash.freeSectors--;
    }
    // A sector that could not be erased still has its blocks probed before
    // each is handed out: the ones that do not read erased are released.
    if (flash.useCount[s] == 0) (void)erase_if_needed(d, s);
    *sector = s;
    return kOk;
}

// The sector to allocate from: the partly used one at or after the cursor,
// else an empty one, else (when only the spare is empty) a reclaimed one.
// Counts the block about to be taken and moves the cursor there.
int16_t pick_sector(DeviceDescriptor *d, int32_t *sector) {
    const int32_t N = d->flashGeometry->sectorCount, perSector = flash.perSector;
    CARDFS_ASSERT(perSector == blocks_per_sector(d));
    int32_t cursor = flash.cursor < 0 ? 0 : flash.cursor;
    // The usual case: the sector at the cursor still has room.
    if (cursor < N && flash.useCount[cursor] > 0 && flash.useCount[cursor] < perSector) {
        flash.useCount[cursor]++;
        *sector = cursor;
        return kOk;
    }
    int32_t s = first_sector_from(cursor, N, [perSector](int32_t t) { return flash.useCount[t] > 0 && flash.useCount[t] < perSector; });
    if (s < 0) {
        int16_t st = take_empty_sector(d, cursor, &s);
        if (st != kOk) return st;
    }
    CARDFS_ASSERT(flash.useCount[s] < perSector);
    flash.useCount[s]++;
    flash.cursor = int16_t(s);
    *sector = s;
    return kOk;
}

// Pairs that are not free (free is 0) in `count` map bytes from `first`: a
// pair counts when either of its bits is set, eight bytes at a time.
uint16_t pairs_in_use(int32_t first, int32_t count) {
    constexpr uint64_t kLowBits = 0x5555555555555555u;
    const uint8_t *map = g_volume.map + first;
    int32_t used = 0, i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t v;
        memcpy(&v, map + i, 8);
        used += __builtin_popcountll((v | v >> 1) & kLowBits);
    }
    for (; i < count; i++) used += __builtin_popcount((map[i] | map[i] >> 1) & 0x55);
    return uint16_t(used);
}

}  // namespace

void count_sector_use(const DeviceDescriptor *d) {
    reset_open_bytes(d);
    const FlashGeometry *fg = d->flashGeometry;
    const int32_t perSector = flash.perSector = blocks_per_sector(d);
    flash.freeSectors = 0;
    for (int32_t s = 0; s < fg->sectorCount; s++) {
        if (s < fg->systemSectors) {
            flash.useCount[s] = uint16_t(perSector);
            continue;
        }
        const uint16_t used = pairs_in_use(s * perSector / layout::kBlocksPerPairByte, perSector / layout::kBlocksPerPairByte);
        flash.useCount[s] = used;
        if (used == 0) flash.freeSectors++;
    }
}

int16_t find_free_pair(DeviceDescriptor *d, int32_t *block) {
    int32_t s = 0;
    // Whatever stopped the choice of a sector, the medium counts as full.
    if (pick_sector(d, &s) != kOk) return CARDFS_E_MEDIUM_FULL;
    int32_t end = d->totalBlocks / 4;
    for (int32_t i = flash.openByte[s]; i < end; i++) {
        if ((g_volume.map[i] & layout::kReleasedBits) == layout::kReleasedBits) continue;
        flash.openByte[s] = i;
        // The lowest pair whose high bit is clear: free.
        const int32_t k = __builtin_ctz(~uint32_t{g_volume.map[i]} & layout::kReleasedBits) / 2;
        *block = i * 4 + k;
        CARDFS_ASSERT(*block / blocks_per_sector(d) == s);
        set_pair(*block, kUsed);
        return kOk;
    }
    return CARDFS_E_MEDIUM_FULL;
}

int16_t restore_interrupted_reclaim(DeviceDescriptor *d) {
    if (!is_flash(d)) return kOk;
    int16_t st = load_map(d);
    const FlashGeometry *fg = d->flashGeometry;
    for (int32_t s = fg->systemSectors; s < fg->sectorCount && st == kOk; s++) {
        bool dirty = false;
        if (flash.useCount[s] != 0 || (st = sector_dirty(d, s, &dirty)) != kOk || !dirty) continue;
        st = restore_from(d, s);
    }
    return st;
}

}  // namespace cardfs
