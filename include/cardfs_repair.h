/* cardfs — checking a volume and repairing its allocation map.
 *
 * A power cut between the map write and the directory write of a commit
 * leaves blocks marked in use that no file holds (they leak); a medium
 * damaged elsewhere may carry a map that marks a file's blocks free, or
 * chains that break off or run into another file. FS_Check surveys the
 * volume and changes nothing; FS_Repair surveys it the same way and then
 * writes a map rebuilt from the directory's chains.
 *
 * The survey follows every file's chain from its first block, through
 * blocks of the data area only, for at most its blockCount blocks:
 *  - a chain is whole when its blockCount-th block is the first last block
 *    (link word bit 15 set) and claims 2 to blockSize bytes in use;
 *    otherwise it is broken (it ends early, runs on, leaves the data area,
 *    loops back on itself, or its last block is damaged);
 *  - a file is shared when a block of its chain, as followed, is followed
 *    from another file's entry too;
 *  - the live blocks are the blocks followed from all entries, of whole
 *    and broken chains alike;
 *  - a leaked block is a data block the map marks in use that is not live;
 *    an unmarked block is a live block the map marks free (on flash also
 *    released, which reclamation would erase).
 * A volume is clean when no file is broken or shared and no block is
 * leaked or unmarked (on flash, besides, at least one data sector is free
 * for the spare that reclamation needs).
 *
 * FS_Repair writes a map on which exactly the live blocks are in use:
 * leaked blocks become free (on flash only those that read erased; the
 * others, which still hold data, are released, and the next reclamation of
 * their sector erases them), unmarked blocks in use. Broken and shared files keep their entries and blocks;
 * the report names them so that the host can remove them (deleting one
 * follows its chain as it runs and may free blocks of another file: read
 * what can be read first). On flash media it first restores live blocks
 * that a reclamation cut short left in the spare sector, as opening a
 * file does, and it writes the new map through the ordinary write-back
 * of the system area, into the next slot, so that a power cut during a
 * repair leaves the old state or the repaired one. A map that needs no
 * change is not written.
 *
 * drive names the device as file names do ("A:", "B:"); null or "" is the
 * current device. Results: -1 the survey ran (the report tells what it
 * found); -103 a null report; -18 no such device; -59 (FS_Repair) a file
 * is open for writing; -6 no volume; a failure of a device operation,
 * unchanged (the report then holds what was surveyed before it). Both
 * store their result in the status variable.
 */
#ifndef CARDFS_REPAIR_H
#define CARDFS_REPAIR_H

#include <stdint.h>
#include "cardfs_export.h"

CARDFS_BEGIN_DECLS

/* Problems of one file, as bits. */
#define CARDFS_CHAIN_BROKEN 1
#define CARDFS_CHAIN_SHARED 2
/* Files listed in a report at most; the counts go on beyond. */
#define CARDFS_REPAIR_LISTED 32
#define CARDFS_REPAIR_SECTORS 64

typedef struct FS_FileProblem {
    int16_t entryNumber; /* position in the directory, as in FileDescr (0 is the volume header) */
    int16_t problem;     /* CARDFS_CHAIN_BROKEN and/or CARDFS_CHAIN_SHARED */
    int16_t blocksFound; /* blocks of the chain followed before it broke off, or all */
} FS_FileProblem;

typedef struct FS_RepairReport {
    int16_t files;          /* entries whose extension is not 0 */
    int16_t liveBlocks;     /* blocks followed from the entries, each counted once */
    int16_t brokenFiles;
    int16_t sharedFiles;
    int16_t leakedBlocks;   /* in use on the map, live in no file */
    int16_t unmarkedBlocks; /* live, but free (or released) on the map */
    int16_t releasedBlocks; /* flash: released on the map, waiting for reclamation */
    int16_t freeSectors;    /* flash: data sectors whose blocks are all free */
    int16_t sectorCount;    /* flash: sectors described below; 0 on other media */
    int16_t mapWritten;     /* FS_Repair: 1 when it wrote a mended map, else 0 */
    int16_t problemsListed; /* entries of problems[] in use */
    FS_FileProblem problems[CARDFS_REPAIR_LISTED];
    uint16_t sectorUsed[CARDFS_REPAIR_SECTORS];     /* flash: blocks in use per sector (system sectors full) */
    uint16_t sectorReleased[CARDFS_REPAIR_SECTORS]; /* flash: released blocks per sector */
} FS_RepairReport;

/* Surveys the volume on drive and fills report; writes nothing. */
CARDFS_API int16_t FS_Check(const char *drive, FS_RepairReport *report);
/* Surveys as FS_Check does, then writes the map rebuilt from the chains. */
CARDFS_API int16_t FS_Repair(const char *drive, FS_RepairReport *report);

CARDFS_END_DECLS

#endif
