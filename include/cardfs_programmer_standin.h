/* cardfs — setup of the card-programmer stand-in.
 *
 * Where the vendor's card-programmer library is not installed, cardfs is
 * built over a stand-in of its own that simulates the hardware: a card
 * programmer with two cartridge slots, reachable on the parallel port and
 * on USB, and a USB media reader with four card slots. A cartridge, or a
 * card used at flash level, is a chip set backed by an image file holding
 * its bytes; a card with a file system of its own is a host directory
 * standing for the card's root. Content lives in those files and so
 * survives the process.
 *
 * Hosts, tools and tests use these calls to insert and remove media and to
 * inject faults. They are not part of cardfs.h: the library itself has no
 * configuration. Every call returns -1 on success, or a negative failure
 * code (CARDFS_E_ARGUMENT for a bad slot or chip, CARDFS_E_IO for a backing
 * file that cannot be opened or created).
 */
#ifndef CARDFS_PROGRAMMER_STANDIN_H
#define CARDFS_PROGRAMMER_STANDIN_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(KVWIN32_BUILDING)
#    define KVS_API __declspec(dllexport)
#  else
#    define KVS_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define KVS_API __attribute__((visibility("default")))
#else
#  define KVS_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Chip sets: a PEROM code as the programmer reads it, or a flash
 * configuration (chips answering 0x89A6 / 0x89AA at 0, 0x100000, 0x200000). */
#define KVS_PEROM_1F5B 0x1F5B /* 512 KiB */
#define KVS_PEROM_1FA4 0x1FA4 /* 512 KiB */
#define KVS_PEROM_1FD5 0x1FD5 /* 128 KiB */
#define KVS_PEROM_1FDA 0x1FDA /* 256 KiB */
#define KVS_FLASH_1M 1
#define KVS_FLASH_2M 2
#define KVS_FLASH_3M 3
#define KVS_FLASH_4M 4

/* Bytes of a chip set (0 for an unknown one). */
KVS_API int32_t KVS_ChipCapacity(uint16_t chip);

/* Cartridges in the programmer's slots 0 and 1. The image file holds the
 * chip's bytes, exactly its capacity; a missing file is created erased
 * (0xFF), a file of another size is refused with CARDFS_E_ARGUMENT. */
KVS_API int16_t KVS_InsertCartridge(int16_t slot, const char *imagePath, uint16_t chip);
KVS_API int16_t KVS_RemoveCartridge(int16_t slot);

/* Cards in the media reader's slots 0 to 3: at flash level (as a
 * cartridge), or a card whose file system root is a host directory. */
KVS_API int16_t KVS_InsertFlashCard(int16_t readerSlot, const char *imagePath, uint16_t chip);
KVS_API int16_t KVS_InsertCardDirectory(int16_t readerSlot, const char *directory);
KVS_API int16_t KVS_RemoveCard(int16_t readerSlot);

/* Which objects kvcCustomFunction can create (all three by default), and
 * the code the parallel-port programmer answers (0x3D1A by default). */
KVS_API void KVS_SetObjectsAvailable(int ppi, int usb, int reader);
KVS_API void KVS_SetProgrammerCode(uint16_t code);

/* Faults, each taking effect from the next call on. */
enum KvsFault {
    KVS_FAULT_UNKNOWN_CHIP = 1, /* every chip-code read answers 0xFFFF */
    KVS_FAULT_PROGRAM,          /* the nth programming (block write) fails: result 1 */
    KVS_FAULT_ERASE,            /* the nth sector erase fails: result `value` */
    KVS_FAULT_NO_MEDIUM,        /* MediaSelect answers 0 */
    KVS_FAULT_OPEN,             /* the nth kvciMediaOpenFile is refused */
    KVS_FAULT_DELETE,           /* kvciMediaDeleteFile is refused */
    KVS_FAULT_SET_ATTRIBUTES,   /* kvciMediaSetAttributes is refused */
    KVS_FAULT_FILE_WRITE,       /* the nth kvciMediaWriteFileBlock is refused */
    KVS_FAULT_FILE_READ         /* the nth kvciMediaReadFileBlock is refused */
};
/* nth counts from this call (1 = the next one); value is the result the
 * failing call gives where the fault has one. */
KVS_API void KVS_InjectFault(int fault, int32_t nth, int32_t value);
/* Power cut: after `writes` more programmings, erases and file-block
 * writes, every further one changes nothing and fails, until power is
 * restored. With torn, the write that meets the cut lands in part: a
 * prefix of it whose length, and the bits of the byte after it, follow
 * from `writes`. -1 restores power. */
KVS_API void KVS_CutPowerAfter(int32_t writes, int torn);
/* Clears every fault and the power cut. */
KVS_API void KVS_ClearFaults(void);

/* Calls seen, for tests that check which operations a driver made. */
typedef struct KvsCounters {
    int32_t objectRequests[3]; /* by class: parallel port, USB, reader */
    int32_t reads;             /* kvciGetBuf and ReadMemory */
    int32_t programs;          /* block programmings, either kind */
    int32_t erases;
    int32_t fileOpens;
    int32_t fileReads;
    int32_t fileWrites;
} KvsCounters;
KVS_API void KVS_GetCounters(KvsCounters *out);
KVS_API void KVS_ResetCounters(void);

/* Everything back to the start: no media, all objects available, default
 * code, no faults, counters zero. */
KVS_API void KVS_Reset(void);

#ifdef __cplusplus
}
#endif

#endif
