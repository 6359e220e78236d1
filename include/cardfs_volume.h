/* cardfs — devices, statuses and volumes.
 *
 * A host describes each medium with a DeviceDescriptor (geometry plus four
 * block operations, and a FlashGeometry for media erased by sectors), puts
 * the descriptor pointers into a null-terminated device table, hands it to
 * FS_SetDeviceTable and calls FS_Init. Every operation returns a 16-bit
 * status: -1 (0xFFFF) for success, a small negative code otherwise; most
 * also store it in a process-wide status variable that GetErrno reads and
 * resets.
 *
 * Choices this library makes where the format leaves room:
 *  - A descriptor whose geometry cannot hold a volume (blockSize not a
 *    multiple of 16 between 16 and 1024, a map that does not fit one block,
 *    system area or flash sectors outside the medium, more than 64 sectors)
 *    is treated as carrying no volume: -6, and nothing is read or written.
 *  - The library never asks a device for a block outside 0..totalBlocks-1;
 *    such a request (a damaged link word, a damaged directory entry) ends
 *    the operation with -103, as a diskette driver reports it.
 *  - Formatting and the volume test are refused with -59 while a file is
 *    open for writing, since they would replace the allocation map that
 *    the open write still has to commit.
 *  - The capacity queries report -18 when no device is current.
 *  - The foreign-content check of cartridges does not look for the other
 *    kinds' signatures at bytes 5 to 8: it would refuse valid volumes whose
 *    label holds such a word.
 *  - A block whose erased-state probe cannot be read stays marked in use
 *    until the volume is formatted again.
 *  - Mounting checks bytes 1 to 3 of the header ("DOS"); byte 0 is written
 *    as 'D' and never checked.
 */
#ifndef CARDFS_VOLUME_H
#define CARDFS_VOLUME_H

#include <stdint.h>
#include "cardfs_export.h"

CARDFS_BEGIN_DECLS

/* Statuses. Success is -1; everything else is a failure code. */
#define CARDFS_OK                 (-1)
#define CARDFS_E_DIR_FULL         (-2)
#define CARDFS_E_MEDIUM_FULL      (-3)
#define CARDFS_E_NOT_FOUND        (-4)
#define CARDFS_E_EXISTS           (-5)
#define CARDFS_E_NO_VOLUME        (-6)
#define CARDFS_E_VERSION          (-8)
#define CARDFS_E_VERIFY           (-10)
#define CARDFS_E_FOREIGN          (-17)
#define CARDFS_E_NO_DEVICE        (-18)
#define CARDFS_E_WRITE_PROTECTED  (-43)
#define CARDFS_E_IMAGE_WRITE      (-44)
#define CARDFS_E_NO_RECORD        (-51)
#define CARDFS_E_CROSS_DEVICE     (-52)
#define CARDFS_E_NAME_DEVICE      (-55)
#define CARDFS_E_NOT_OPEN         (-56)
#define CARDFS_E_EOF              (-57)
#define CARDFS_E_NO_TABLE         (-58)
#define CARDFS_E_WRITING          (-59)
#define CARDFS_E_SCAN_NOT_OPEN    (-60)
#define CARDFS_E_IO               (-100)
#define CARDFS_E_NO_MEDIUM_KIND   (-101)
#define CARDFS_E_MEDIUM_CHANGED   (-102)
#define CARDFS_E_ARGUMENT         (-103)
#define CARDFS_E_RANGE            (-104)

typedef struct DeviceDescriptor DeviceDescriptor;

/* Erase-sector description of a flash medium. Its presence switches the
 * volume to the flash layout: header search, two-bit map, sector
 * reclamation, rotating system area. One data sector always stays free as
 * the spare that reclamation needs. Allocation goes on from the sector of
 * the previous allocation in this process, whatever the volume: mounting
 * and formatting do not move it back, so the first file of a new volume
 * need not start at firstDataBlock. */
typedef struct FlashGeometry {
    int32_t sectorSize;       /* bytes per erase sector, a multiple of 4 blocks */
    int16_t sectorCount;      /* at most 64, all inside the medium */
    int16_t systemSectors;    /* leading sectors that hold the system area; at least 2 */
    /* dirBlocks + 1: one copy of directory and map. Copies go at multiples
     * of it inside a system sector while a copy ends before the sector's
     * last block (one that would end on it is skipped); then the next
     * system sector is erased and taken. */
    int16_t systemAreaBlocks;
    /* Reads count bytes (3 or 2) at a byte address inside the medium. */
    int16_t (*ReadBytes)(DeviceDescriptor *device, uint32_t address, int16_t count, void *buffer);
    /* Erases one sector (0-based); afterwards it reads 0xFF. Allocation does
     * not check the erase of a sector it is about to fill: a block written
     * there that does not read back as given must make WriteBlock fail. */
    int16_t (*EraseSector)(DeviceDescriptor *device, int16_t sector);
} FlashGeometry;

/* One medium: geometry and operations. Buffers passed to the operations
 * always hold 1024 bytes; every block operation moves blockSize bytes.
 *
 * Layout in blocks, H being the header block: the directory is the
 * dirBlocks blocks from H (blockSize / 16 entries each, the first entry
 * the volume header), the allocation map is block H + dirBlocks, and files
 * use firstDataBlock to totalBlocks - 1. The map must fit one block:
 * totalBlocks / 8 bytes (on flash totalBlocks / 4) at most blockSize.
 * Geometry that breaks these rules reads as no volume (-6).
 *
 * Geometry of the supported media (headerBlock 0; on flash 64 KiB sectors,
 * 2 system sectors, systemAreaBlocks = dirBlocks + 1). "total" is what
 * FS_TotalBlocks reports, "used" what FS_BlocksUsed reports when freshly
 * formatted, "files" the number of directory entries for files.
 *
 *   medium                  blockSize totalBlocks dirBlocks firstDataBlock sectors total used files
 *   diskette 720 KB               512        1440         2              3       -  1437    3    63
 *   diskette 1.44 MB              512        2880         2              3       -  2877    3    63
 *   card image file; flash 1 MiB  512        2048        16            256      16  1664    0   511
 *   flash 2 MiB                  1024        2048         8            128      32  1856    0   511
 *   flash 3 MiB                  1024        3072         8            128      48  2880    0   511
 *   flash 4 MiB                  1024        4096         8            128      64  3904    0   511
 *   PEROM 512 KiB (0x1F5B)        512        1024         4              5       -  1019    5   127
 *   PEROM 512 KiB (0x1FA4)        256        2048         8              9       -  2039    1   127
 *   PEROM 128 KiB (0x1FD5)        128        1024        16             17       -  1007    1   127
 *   PEROM 256 KiB (0x1FDA)        256        1024        16             17       -  1007    1   255
 *
 * Cartridges and cards at flash level take the row of their chips.
 *
 * Every operation gets its own descriptor first and returns -1 for
 * success; any other value is a failure that the running call stores and
 * returns unchanged. Block numbers are always 0 to totalBlocks - 1. */
struct DeviceDescriptor {
    int16_t blockSize;      /* a multiple of 16, at most 1024 */
    int16_t totalBlocks;
    /* H without flashGeometry; keep it 0: blocks below it are handed to
     * files but left out of the capacity figures. On flash media H is
     * searched for, and this only places the first copy when formatting. */
    uint16_t headerBlock;
    int16_t dirBlocks;
    /* headerBlock + dirBlocks + 1; on flash systemSectors x sectorSize /
     * blockSize. A smaller value is refused (-6); a larger one is accepted
     * and the blocks below it are reserved, never used by files. */
    int16_t firstDataBlock;
    /* On flash media a write only clears bits (an erased block, or bytes
     * 1 to 3 of an old header block set to 0): no erase is needed. */
    int16_t (*WriteBlock)(DeviceDescriptor *device, int16_t block, void *buffer);
    int16_t (*ReadBlock)(DeviceDescriptor *device, int16_t block, void *buffer);
    /* Called by FS_Format and FS_Test before anything is written. It must
     * leave the whole geometry filled (formatting uses the descriptor as
     * it stands afterwards) and, on flash, every block erased. */
    int16_t (*PrepareMedium)(DeviceDescriptor *device);
    /* Called by FS_Init and DoCd (for deviceType 10 to 14 also by
     * FS_Format, which stops on any failure of it, -6 included). Fill the
     * geometry and return -1. Return -6 when the device works but carries
     * no volume: it still becomes current, for FS_Format; the geometry may
     * then stay unfilled if PrepareMedium fills it (until then the capacity
     * queries read what is there). Any other failure: not made current. */
    int16_t (*InitDevice)(DeviceDescriptor *device);
    FlashGeometry *flashGeometry; /* null on media rewritable in place */
    /* 0, 1 diskette drive A, B; 10, 11 cartridge in programmer slot 0, 1
     * (12 to 14 further cartridge codes); in a media reader 17 card at
     * flash level, 18, 19 card image file. For 10 to 14, mounting and
     * formatting first refuse a block 0 reading FF x FF x (x not FF): -17. */
    int32_t deviceType;
};

/* Device table: null-terminated, kept by the host while the library uses
 * it; entry 0 answers to "A:", entry 1 to "B:". */
CARDFS_API int16_t FS_SetDeviceTable(DeviceDescriptor **table);
CARDFS_API int16_t FS_GetDevicesNum(void);
/* Class of the current device's deviceType: 2 for 0 and 1 (diskettes),
 * 1 for 10 to 14 (cartridges), 3 for 15 and 16, 0 for any other value
 * (cards and card images included) and without a current device. */
CARDFS_API int16_t FS_GetDeviceType(void);

/* Status variable: returns it and resets it to -1. */
CARDFS_API int32_t GetErrno(void);

/* Mounting and names. FS_Init(NULL) forgets all open files, initialises
 * entry 0 and mounts its volume; FS_Init("B:") and DoCd("B:") take entry 1.
 * -6: the device is current but carries no volume yet. */
CARDFS_API int16_t FS_Init(const char *name);
CARDFS_API int16_t DoCd(const char *name);
CARDFS_API DeviceDescriptor *NameToDevice(const char *name);
/* Writes "<name8 without trailing white space>.<number, 3 digits>" into out
 * (at least 16 bytes); returns the number of characters written. */
CARDFS_API int16_t BuildFileName(char *out, const char *name8, int16_t number);

/* Formatting and the destructive volume test. "[X:]LABEL" names device and
 * label; the new volume is not mounted: call FS_Init or DoCd after it. */
CARDFS_API int16_t FS_Format(const char *name);
CARDFS_API int16_t FS_Test(const char *name);

/* Capacity and device queries on the current device (see the table
 * above); without one each returns -18 (FS_BlockSize 0xFFEE). */
/* Blocks files can use: totalBlocks - firstDataBlock, on flash less one
 * sector's blocks (the spare). */
CARDFS_API int16_t FS_TotalBlocks(void);
/* Blocks in use by the map on the medium, counted from the map byte that
 * holds firstDataBlock, so reserved blocks in that byte count as used (3
 * on a fresh diskette); a file still being written is not counted. On a
 * failure its status (stored): check it before the next two queries,
 * which compute with it. */
CARDFS_API int16_t FS_BlocksUsed(void);
/* FS_TotalBlocks() - FS_BlocksUsed(): 2874 on a fresh 1.44 MB diskette,
 * where files can take 2877 blocks. */
CARDFS_API int16_t FS_BlocksFree(void);
CARDFS_API uint16_t FS_BlockSize(void);
/* FS_BlocksFree() x blockSize, in bytes; each file block carries
 * blockSize - 2 bytes of data. */
CARDFS_API int32_t FS_SpaceFree(void);
/* totalBlocks x blockSize / 1024: the medium's size in KiB. */
CARDFS_API int32_t FS_DeviceSize(void);
/* The current device's deviceType (drive 0 = A for diskettes), not a
 * letter nor a table index; -18 (stored) without a current device. */
CARDFS_API int16_t FS_GetCurrDeviceLetter(void);

CARDFS_END_DECLS

#endif
