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

/* Erase-sector description of a flash medium. */
typedef struct FlashGeometry {
    int32_t sectorSize;       /* bytes per erase sector */
    int16_t sectorCount;      /* at most 64 */
    int16_t systemSectors;    /* leading sectors that hold the system area */
    int16_t systemAreaBlocks; /* dirBlocks + 1: one copy of directory and map */
    /* Reads count bytes at a byte address of the medium. */
    int16_t (*ReadBytes)(DeviceDescriptor *device, uint32_t address, int16_t count, void *buffer);
    /* Erases one sector (0-based); afterwards it reads 0xFF. */
    int16_t (*EraseSector)(DeviceDescriptor *device, int16_t sector);
} FlashGeometry;

/* One medium: geometry and operations. Buffers passed to the operations
 * always hold 1024 bytes; every block operation moves blockSize bytes. */
struct DeviceDescriptor {
    int16_t blockSize;
    int16_t totalBlocks;
    uint16_t headerBlock;
    int16_t dirBlocks;
    int16_t firstDataBlock;
    int16_t (*WriteBlock)(DeviceDescriptor *device, int16_t block, void *buffer);
    int16_t (*ReadBlock)(DeviceDescriptor *device, int16_t block, void *buffer);
    int16_t (*PrepareMedium)(DeviceDescriptor *device);
    int16_t (*InitDevice)(DeviceDescriptor *device);
    FlashGeometry *flashGeometry; /* null on media rewritable in place */
    int32_t deviceType;
};

/* Device table. */
CARDFS_API int16_t FS_SetDeviceTable(DeviceDescriptor **table);
CARDFS_API int16_t FS_GetDevicesNum(void);
CARDFS_API int16_t FS_GetDeviceType(void);

/* Status variable: returns it and resets it to -1. */
CARDFS_API int32_t GetErrno(void);

/* Mounting and names. */
CARDFS_API int16_t FS_Init(const char *name);
CARDFS_API int16_t DoCd(const char *name);
CARDFS_API DeviceDescriptor *NameToDevice(const char *name);
/* Writes "<name8 without trailing white space>.<number, 3 digits>" into out
 * (at least 16 bytes); returns the number of characters written. */
CARDFS_API int16_t BuildFileName(char *out, const char *name8, int16_t number);

/* Formatting and the destructive volume test. */
CARDFS_API int16_t FS_Format(const char *name);
CARDFS_API int16_t FS_Test(const char *name);

/* Capacity and device queries on the current device. */
CARDFS_API int16_t FS_TotalBlocks(void);
CARDFS_API int16_t FS_BlocksUsed(void);
CARDFS_API int16_t FS_BlocksFree(void);
CARDFS_API uint16_t FS_BlockSize(void);
CARDFS_API int32_t FS_SpaceFree(void);
CARDFS_API int32_t FS_DeviceSize(void);
CARDFS_API int16_t FS_GetCurrDeviceLetter(void);

CARDFS_END_DECLS

#endif
