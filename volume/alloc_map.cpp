// The block allocation map: one bit per block on rewritable media, two bits
// per block on flash media (00 free, 11 in use, 10 released), with the
// flash allocator that fills one sector after another and reclaims a sector
// through the spare when only the spare is left.
#include <string.h>

#include "volume/volume_internal.h"

namespace cardfs {

VolumeState g_volume = {};

namespace {

uint8_t *const map = g_volume.map;
FlashState &flash = g_volume.flash;

constexpr uint8_t kFree = 0, kReleased = 2, kUsed = 3;

bool is_flash(const DeviceDescriptor *d) { return d->flashGeometry != nullptr; }

uint8_t pair_in(const uint8_t *m, int32_t n) { return uint8_t((m[n / 4] >> (2 * (n % 4))) & 3); }
uint8_t pair_of(int32_t n) { return pair_in(map, n); }

void set_pair(int32_t n, uint8_t value) {
    int shift = 2 * (n % 4);
    map[n / 4] = uint8_t((map[n / 4] & ~(3 << shift)) | (value << shift));
}

// Blocks that never belong to a file: the system area and, on flash media,
// the whole system sectors. Damaged chains cannot free them.
bool reserved(const DeviceDescriptor *d, int32_t n) {
    if (n >= d->headerBlock && n < d->firstDataBlock) return true;
    return is_flash(d) && n < d->flashGeometry->systemSectors * blocks_per_sector(d);
}

void mark_used(const DeviceDescriptor *d, int32_t n) {
    if (is_flash(d))
        set_pair(n, kUsed);
    else
        map[n / 8] = uint8_t(map[n / 8] | (1 << (n % 8)));
}

void mark_reserved_used(const DeviceDescriptor *d) {
    for (int32_t n = d->headerBlock; n < d->firstDataBlock; n++) mark_used(d, n);
}

// Forgets what is known about full map bytes; needed whenever a pair
// becomes 00 again.
void reset_open_bytes(const DeviceDescriptor *d) {
    for (int32_t s = 0; s < kMaxSectors; s++) flash.openByte[s] = s * (blocks_per_sector(d) / 4);
}

void count_sector_use(const DeviceDescriptor *d) {
    reset_open_bytes(d);
    const FlashGeometry *fg = d->flashGeometry;
    int32_t perSector = blocks_per_sector(d);
    flash.freeSectors = 0;
    for (int32_t s = 0; s < fg->sectorCount; s++) {
        if (s < fg->systemSectors) {
            flash.useCount[s] = uint16_t(perSector);
            continue;
        }
        uint16_t used = 0;
        for (int32_t n = s * perSector; n < (s + 1) * perSector; n++) used = uint16_t(used + (pair_of(n) != kFree));
        flash.useCount[s] = used;
        if (used == 0) flash.freeSectors++;
    }
}

bool erased(const uint8_t *block, int32_t size) {
    for (int32_t i = 0; i < size; i++)
        if (block[i] != 0xFF) return false;
    return true;
}

// Brings live block n back to the content of its copy when a power cut
// stopped the copy-back of a reclamation, which programs blocks from their
// first byte on: n then reads as the copy's first bytes (maybe none)
// followed by erased ones.
int16_t restore_block(DeviceDescriptor *d, int32_t n, int32_t copy) {
    uint8_t live[kBufferSize];
    uint8_t *saved = g_volume.scratch;
    int16_t st = dev_read(d, copy, saved);
    if (st == kOk && !erased(saved, d->blockSize)) st = dev_read(d, n, live);
    else return st;
    if (st != kOk) return st;
    // Only a block the copy-back left erased or programmed in part: the
    // copy's first bytes, then erased bytes. Any other difference means the
    // copy belongs to something else.
    int32_t i = 0;
    while (i < d->blockSize && live[i] == saved[i]) i++;
    if (i == d->blockSize || !erased(live + i, d->blockSize - i)) return kOk;
    return dev_write(d, n, saved);
}

// A free sector that is not erased may hold the only copy of the live
// blocks of a sector whose reclamation was cut short; every live block
// that can be completed from it is, before the free sector is erased.
int16_t restore_from(DeviceDescriptor *d, int32_t spare) {
    const FlashGeometry *fg = d->flashGeometry;
    int32_t perSector = blocks_per_sector(d);
    for (int32_t s = fg->systemSectors; s < fg->sectorCount; s++) {
        if (s == spare || flash.useCount[s] == 0) continue;
        for (int32_t k = 0; k < perSector; k++) {
            // Only blocks the medium's map records as live: blocks taken by
            // the running operation are erased and not yet written.
            int32_t n = s * perSector + k;
            if (pair_of(n) != kUsed || pair_in(g_volume.loaded, n) != kUsed) continue;
            int16_t st = restore_block(d, n, spare * perSector + k);
            if (st != kOk) return st;
        }
    }
    return kOk;
}

// Whether some block of sector s does not start with 0xFF 0xFF.
int16_t sector_dirty(DeviceDescriptor *d, int32_t s, bool *dirty) {
    int32_t perSector = blocks_per_sector(d);
    *dirty = false;
    for (int32_t k = 0; k < perSector && !*dirty; k++) {
        uint8_t probe[2];
        uint32_t address = uint32_t(s * d->flashGeometry->sectorSize + k * d->blockSize);
        int16_t st = dev_read_bytes(d, address, 2, probe);
        if (st != kOk) return st;
        *dirty = probe[0] != 0xFF || probe[1] != 0xFF;
    }
    return kOk;
}

// Erases sector s unless every block of it starts with 0xFF 0xFF.
// Returns 1 when it erased, 0 when it did not need to, or a failure.
int16_t erase_if_needed(DeviceDescriptor *d, int32_t s) {
    bool dirty = false;
    int16_t st = sector_dirty(d, s, &dirty);
    if (st != kOk || !dirty) return st != kOk ? st : int16_t(0);
    if (flash.useCount[s] == 0 && (st = restore_from(d, s)) != kOk) return st;
    st = dev_erase(d, s);
    return st != kOk ? st : int16_t(1);
}

bool has_released(const DeviceDescriptor *d, int32_t s) {
    int32_t perSector = blocks_per_sector(d);
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
    uint8_t *work = g_volume.scratch;
    erase_if_needed(d, spare);
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

int32_t reclaim_any(DeviceDescriptor *d) {
    const FlashGeometry *fg = d->flashGeometry;
    int32_t S = fg->systemSectors, N = fg->sectorCount, span = N - S;
    int32_t spare = -1;
    for (int32_t s = S; s < N && spare < 0; s++)
        if (flash.useCount[s] == 0) spare = s;
    if (spare < 0) return CARDFS_E_MEDIUM_FULL;
    for (int32_t i = 0; i < span; i++) {
        int32_t r = (flash.cursor - S + 1 + i) % span;
        int32_t s = S + (r < 0 ? r + span : r);
        if (s == spare || !has_released(d, s)) continue;
        int16_t st = reclaim_sector(d, s, spare);
        return st != kOk ? int32_t{st} : s;
    }
    return CARDFS_E_MEDIUM_FULL;
}

// The sector to allocate from: the partly used one at or after the cursor,
// else an empty one, else (when only the spare is empty) a reclaimed one.
int32_t pick_sector(DeviceDescriptor *d) {
    int32_t N = d->flashGeometry->sectorCount, perSector = blocks_per_sector(d);
    int32_t cursor = flash.cursor < 0 ? 0 : flash.cursor;
    // The usual case: the sector at the cursor still has room.
    if (cursor < N && flash.useCount[cursor] > 0 && flash.useCount[cursor] < perSector) {
        flash.useCount[cursor]++;
        return cursor;
    }
    for (int32_t i = 0; i < N; i++) {
        int32_t s = (cursor + i) % N;
        if (flash.useCount[s] > 0 && flash.useCount[s] < perSector) {
            flash.cursor = int16_t(s);
            flash.useCount[s]++;
            return s;
        }
    }
    int32_t s = -1;
    for (int32_t i = 0; i < N && s < 0; i++)
        if (flash.useCount[(cursor + i) % N] == 0) s = (cursor + i) % N;
    if (s < 0) return CARDFS_E_MEDIUM_FULL;
    if (flash.freeSectors == 1) {
        s = reclaim_any(d);
        if (s < 0) return s;
        if (flash.useCount[s] == 0) flash.freeSectors--;
    } else {
        flash.freeSectors--;
    }
    if (flash.useCount[s] == 0) erase_if_needed(d, s);
    flash.useCount[s]++;
    flash.cursor = int16_t(s);
    return s;
}

int32_t lowest_zero_bit(uint8_t byte) {
    int32_t bit = 0;
    while (byte & (1 << bit)) bit++;
    return bit;
}

int32_t find_free_bit(const DeviceDescriptor *d) {
    int32_t end = d->totalBlocks / 8;
    int32_t i = g_volume.mapHint;
    for (; i + 8 <= end; i += 8) {
        uint64_t word;
        memcpy(&word, map + i, 8);
        if (word != ~uint64_t{0}) break;
    }
    for (; i < end; i++) {
        if (map[i] == 0xFF) continue;
        g_volume.mapHint = i;
        int32_t bit = lowest_zero_bit(map[i]);
        map[i] = uint8_t(map[i] | (1 << bit));
        return i * 8 + bit;
    }
    g_volume.mapHint = end;
    return CARDFS_E_MEDIUM_FULL;
}

int32_t find_free_pair(DeviceDescriptor *d) {
    int32_t s = pick_sector(d);
    if (s < 0) return CARDFS_E_MEDIUM_FULL;
    int32_t end = d->totalBlocks / 4;
    for (int32_t i = flash.openByte[s]; i < end; i++) {
        if ((map[i] & 0xAA) == 0xAA) continue;
        flash.openByte[s] = i;
        int32_t k = 0;
        while ((map[i] >> (2 * k)) & 2) k++;
        set_pair(i * 4 + k, kUsed);
        return i * 4 + k;
    }
    return CARDFS_E_MEDIUM_FULL;
}

int32_t find_free_block(DeviceDescriptor *d) { return is_flash(d) ? find_free_pair(d) : find_free_bit(d); }

}  // namespace

int16_t load_map(DeviceDescriptor *d) {
    int32_t header = 0;
    int16_t st = find_header(d, &header);
    if (st != kOk) return st;
    st = dev_read(d, header + d->dirBlocks, map);
    if (st != kOk) return st;
    mark_reserved_used(d);
    g_volume.mapHint = 0;
    if (is_flash(d)) {
        memcpy(g_volume.loaded, map, sizeof g_volume.loaded);
        count_sector_use(d);
    }
    return kOk;
}

int16_t restore_interrupted_reclaim(DeviceDescriptor *d) {
    if (!is_flash(d) || writer_open()) return kOk;
    int16_t st = load_map(d);
    const FlashGeometry *fg = d->flashGeometry;
    for (int32_t s = fg->systemSectors; s < fg->sectorCount && st == kOk; s++) {
        bool dirty = false;
        if (flash.useCount[s] != 0 || (st = sector_dirty(d, s, &dirty)) != kOk || !dirty) continue;
        st = restore_from(d, s);
    }
    return st;
}

int16_t write_map(DeviceDescriptor *d, int32_t header) { return dev_write(d, header + d->dirBlocks, map); }

int32_t allocate_block(DeviceDescriptor *d) {
    int32_t b = find_free_block(d);
    if (b < 0 || !is_flash(d)) return b;
    for (;;) {
        uint8_t probe[2];
        int16_t st = dev_read_bytes(d, uint32_t(d->blockSize * b), 2, probe);
        if (st == kOk && probe[0] == 0xFF && probe[1] == 0xFF) return b;
        if (st == kOk) set_pair(b, kReleased);
        b = find_free_block(d);
        if (b < 0) return b;
    }
}

bool data_block(const DeviceDescriptor *d, int32_t n) { return n >= 0 && n < d->totalBlocks && !reserved(d, n); }

void release_block(DeviceDescriptor *d, int32_t n) {
    if (!data_block(d, n)) return;
    if (is_flash(d)) {
        set_pair(n, kReleased);
        return;
    }
    map[n / 8] = uint8_t(map[n / 8] & ~(1 << (n % 8)));
    if (n / 8 < g_volume.mapHint) g_volume.mapHint = n / 8;
}

int16_t release_chain(DeviceDescriptor *d, uint16_t first, uint16_t count) {
    int32_t b = first & 0x7FFF;
    for (int32_t i = 1; i < int32_t{count}; i++) {
        release_block(d, b);
        int16_t st = dev_read(d, b, g_volume.scratch);
        if (st != kOk) return st;
        uint16_t link;
        memcpy(&link, g_volume.scratch, 2);
        EncodeFileBuffer(&link);
        b = link & 0x7FFF;
    }
    release_block(d, b);
    return kOk;
}

int16_t build_initial_map(DeviceDescriptor *d) {
    memset(map, 0, sizeof g_volume.map);
    mark_reserved_used(d);
    g_volume.mapHint = 0;
    return write_map(d, d->headerBlock);
}

}  // namespace cardfs
