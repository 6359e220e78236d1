/* cardfs — the drivers of the card programmer and the media reader.
 *
 * Each call returns a pointer to one of the library's own, static device
 * descriptors; put them in the device table (FS_SetDeviceTable) and call
 * FS_Init. Their InitDevice fills the geometry; nothing is ever released.
 *
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
 * Statuses: -100 no programmer or reader object (or no known programmer
 * code); -18 no known chip in the slot (the descriptor keeps its previous
 * description), no usable medium in the reader slot, or the image file
 * could not be created; -10 a block did not program; a failed sector erase
 * of a cartridge or card its library result's low 16 bits; for the image
 * file -4 when it cannot be opened or removed and -44 when a block or
 * sector cannot be written or the data would set a bit that is cleared.
 * Block reads report no failure: what the image file cannot give reads as
 * erased (0xFF).
 *
 * Choices this library makes where the drivers' behaviour leaves room:
 *  - Every operation refuses a null descriptor or buffer with -103.
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
#define CARDFS_TYPE_CARTRIDGE_0 10
#define CARDFS_TYPE_CARTRIDGE_1 11
#define CARDFS_TYPE_READER_CARD 17
#define CARDFS_TYPE_READER_IMAGE_1 18
#define CARDFS_TYPE_READER_IMAGE_3 19

CARDFS_API DeviceDescriptor *W32_USER_GetDevicePtr(int16_t index);
CARDFS_API void W32_Set_USER_DeviceType(int16_t transport);
CARDFS_API DeviceDescriptor *W32_MMR_GetDevicePtr(int16_t index);

CARDFS_END_DECLS

#endif
