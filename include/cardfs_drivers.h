/* cardfs — the drivers: diskettes, the card programmer and the media reader.
 *
 * Each call returns a pointer to one of the library's own, static device
 * descriptors; put them in the device table (FS_SetDeviceTable) and call
 * FS_Init. Their InitDevice fills the geometry; nothing is ever released.
 *
 *   W32_DISK_GetDevicePtr(0), (1)  diskette in drive A:, B: (deviceType 0,
 *       1): a 720 KB (1440 blocks) or 1.44 MB (2880 blocks) diskette, one
 *       block a 512-byte sector, used raw, without a file system of the
 *       host. Every InitDevice asks GetVersionExA for the Windows family:
 *       on the 9x family the drive is reached through the BIOS disk
 *       services of VWIN32 (the diskette's size told by reading sector 18,
 *       then 9, of the first track; reads made once, writes tried up to
 *       three times; the disk change status checked before every block
 *       transfer), on the NT family through the drive's device file
 *       "\\.\A:" (the size told by the geometry query, low 10 bits of
 *       the byte count dropped; the drive opened again before every write;
 *       reads made without checks at the drive opened last: the two
 *       drives share one handle, so only one is in use at a time).
 *       InitDevice reports -6 for a diskette without a volume ("DOS" at
 *       bytes 1 to 3 of block 0) and leaves the geometry as it was;
 *       PrepareMedium (FS_Format) detects the diskette again and fills it.
 *       Statuses: -6 no volume or no diskette size recognised; -8 format
 *       version above 1; -18 the drive cannot be opened, is not ready
 *       (NT) or holds no diskette; -43 write-protected; -100 any other failure
 *       of the geometry query or a sector transfer; -101 a block transfer
 *       while no diskette is recognised; -102 (9x) the diskette was changed
 *       since the last check: the next transfer goes ahead; -103 a block
 *       outside the medium, after which the diskette counts as not
 *       recognised (-101) until InitDevice or PrepareMedium detects it
 *       again. Reading a block on the NT family does none of these checks.
 *       The KERNEL32 calls go through one table fixed when the library is
 *       built: the real functions for cardfs.dll on Windows, and with the
 *       CMake option CARDFS_KERNEL32_STANDIN (the default elsewhere, and
 *       for the Windows test build) those of a stand-in that simulates both
 *       drives on diskette images (cardfs_kernel32_standin.h; library
 *       kernel32_standin, which cardfs links; cardfs exports nothing more).
 *   W32_USER_GetDevicePtr(0), (1)  cartridge in slot 0, 1 of the card
 *       programmer (deviceType 10, 11). Each initialisation identifies the
 *       chips: PEROM chips are programmed in place, flash chips (1 to 4 MiB)
 *       get a FlashGeometry and are erased by sectors. The first
 *       initialisation creates the programmer objects (and again after one
 *       that failed, -100); a programmer on the parallel port that does not
 *       answer with one of its two codes prints "Device not found" on
 *       standard output and gives -100.
 *   W32_Set_USER_DeviceType(t)  0: programmer on the parallel port, 1: on
 *       USB (the start value). Stored as given; the first initialisation
 *       moves it to the transport whose programmer answers.
 *   W32_MMR_GetDevicePtr(0)  card in reader slot 0 at flash level
 *       (deviceType 17), identified like a cartridge.
 *   W32_MMR_GetDevicePtr(1), (2)  card image file "\USERIMG.BIN" on the
 *       card in reader slot 1, 3 (deviceType 18, 19): 1 MiB of emulated
 *       flash (2048 blocks of 512 bytes, 16 sectors of 64 KiB). A card
 *       without the file gives -6; FS_Format creates it.
 *   Any other index gives null.
 *
 * Statuses of the programmer and reader drivers: -100 no programmer or
 * reader object (or no known programmer code); -18 no known chip in the
 * slot (the descriptor keeps its previous description), no usable medium
 * in the reader slot, or the image file could not be created; -10 a
 * block did not program; a failed sector erase of a cartridge or card its
 * library result's low 16 bits; for the image file -4 when it cannot be
 * opened or removed and -44 when a block or sector cannot be written or
 * the data would set a bit that is cleared. Block reads report no
 * failure: what the image file cannot give reads as erased (0xFF).
 *
 * Choices this library makes where the drivers' behaviour leaves room:
 *  - Every operation refuses a null descriptor or buffer with -103.
 *  - Diskettes on a platform of neither Windows family, or before the
 *    first InitDevice has asked for the family: every operation reports
 *    -18 and touches neither the drive nor the descriptor.
 *  - Diskettes of 512-byte sectors only: a drive whose geometry query
 *    reports another sector size holds no recognised diskette (-6), and no
 *    transfer moves more than 512 bytes.
 *  - PrepareMedium of a diskette descriptor that no InitDevice has filled
 *    yet also sets firstDataBlock to 3 (headerBlock + dirBlocks + 1), so
 *    that a blank diskette can be formatted in a fresh process; a value
 *    set before is kept.
 *  - VWIN32 that cannot be opened is tried again at the next need; until
 *    it opens, block transfers fail with -100, the disk change status
 *    reports no change, and InitDevice finds no diskette size (-6).
 *  - 64-bit builds pass the upper half of a sector buffer's address to the
 *    BIOS services in ESI (EBX holds the lower half); 32-bit builds pass 0.
 *  - An operation that reaches no programmer or reader object (the
 *    transport is neither 0 nor 1, the object of the chosen transport was
 *    never created, or there was no successful InitDevice yet) reports -18
 *    and transfers nothing; reads and writes do not pretend success.
 *  - A reader object that cannot be created keeps the one the other
 *    reader family created before.
 *  - An image file of at most one block is read like any other: the bytes
 *    it has at the offset, the rest of the block 0xFF. At or beyond its end
 *    a read leaves the buffer as it was.
 *  - An image block write whose old contents read back short fails (-44).
 */
#ifndef CARDFS_DRIVERS_H
#define CARDFS_DRIVERS_H

#include <stdint.h>
#include "cardfs_export.h"
#include "cardfs_volume.h"

CARDFS_BEGIN_DECLS

/* Cartridge transports (W32_Set_USER_DeviceType). */
#define CARDFS_CARTRIDGE_PARALLEL_PORT 0
#define CARDFS_CARTRIDGE_USB 1

/* deviceType of the descriptors. */
#define CARDFS_TYPE_DISKETTE_A 0
#define CARDFS_TYPE_DISKETTE_B 1
#define CARDFS_TYPE_CARTRIDGE_0 10
#define CARDFS_TYPE_CARTRIDGE_1 11
#define CARDFS_TYPE_READER_CARD 17
#define CARDFS_TYPE_READER_IMAGE_1 18
#define CARDFS_TYPE_READER_IMAGE_3 19

CARDFS_API DeviceDescriptor *W32_DISK_GetDevicePtr(int16_t index);
CARDFS_API DeviceDescriptor *W32_USER_GetDevicePtr(int16_t index);
CARDFS_API void W32_Set_USER_DeviceType(int16_t transport);
CARDFS_API DeviceDescriptor *W32_MMR_GetDevicePtr(int16_t index);

CARDFS_END_DECLS

#endif
