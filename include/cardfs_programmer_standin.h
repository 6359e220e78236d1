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
 * configuration of one or two NOR chips, each answering its code at every
 * address it covers (0xFFFF where no chip is):
 *   configuration   at 0      at 0x100000   at 0x200000
 *   1 MiB           0x89A6    0xFFFF        0xFFFF
 *   2 MiB           0x89A6    0x89A6        0xFFFF   (two 1 MiB chips)
 *   3 MiB           0x89AA    0x89AA        0x89A6
 *   4 MiB           0x89AA    0x89AA        0x89AA
 * A PEROM chip answers 0xFFFF to the flash-code read, a flash chip set
 * 0xFFFF to the PEROM-code read, an empty slot 0xFFFF to both.
 * PEROM programming takes any data; flash programming only clears bits (a
 * block that would set one fails whole and changes nothing) and the other
 * writer fails on each family, as does writing past the end. An erase
 * sets the 64 KiB sector holding the address to 0xFF; on a PEROM chip or
 * an empty slot it fails with a result whose low 16 bits read as -100.
 * Reads past the end, or from an empty slot, give 0xFF. */
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
 * chip's bytes, exactly its capacity; a missing or empty file is made
 * erased (0xFF), a file of another size is refused with CARDFS_E_ARGUMENT.
 * Inserting into an occupied slot replaces its medium; a refused insertion
 * leaves the slot as it was. Removing from an empty slot succeeds. */
KVS_API int16_t KVS_InsertCartridge(int16_t slot, const char *imagePath, uint16_t chip);
KVS_API int16_t KVS_RemoveCartridge(int16_t slot);

/* Cards in the media reader's slots 0 to 3: at flash level (as a
 * cartridge), or a card whose file system root is a host directory
 * (created if missing). Card names ("\USERIMG.BIN") are paths from that
 * root, matched without regard to case; MediaSelect answers nonzero for a
 * directory card only. A card leaving its slot closes the file it has open. */
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
/* nth counts from this call (1 = the next one; 0 or less: every one from
 * now on) for the faults that name it; the others hold for every call
 * until cleared. value is the result the failing call gives where the
 * fault has one; an erase fault with value 0 fails silently: it reports
 * success and erases nothing. A failing call changes nothing. */
KVS_API void KVS_InjectFault(int fault, int32_t nth, int32_t value);
/* Power cut: after `writes` more programmings, erases and file-block
 * writes (0: the very next one), every further one fails, until power is
 * restored; while power is off, deleting a file and setting its attributes
 * fail too. The operation that meets the cut fails and changes nothing;
 * with torn it lands in part: a prefix of it whose length (less than the
 * operation's), and which bits of the byte after the prefix take their
 * new value, follow from `writes` alone, so one value always tears the
 * same way. A torn flash programming thus clears only some of the bits it
 * should in that byte; a torn erase sets some. Reads keep working.
 * -1 (any negative value) restores power. */
KVS_API void KVS_CutPowerAfter(int32_t writes, int torn);
/* Clears every fault and the power cut. */
KVS_API void KVS_ClearFaults(void);

/* Calls seen, for tests that check which operations a driver made. */
typedef struct KvsCounters {
    int32_t objectRequests[3]; /* by class: parallel port, USB, reader */
    int32_t reads;             /* kvciGetBuf and ReadMemory */
    int32_t programs;          /* block programmings, either kind */
    int32_t erases;            /* sector erases */
    int32_t fileOpens;         /* kvciMediaOpenFile */
    int32_t fileReads;         /* kvciMediaReadFileBlock */
    int32_t fileWrites;        /* kvciMediaWriteFileBlock */
} KvsCounters;
/* Every call is counted, whether it succeeds or not. */
KVS_API void KVS_GetCounters(KvsCounters *out);
KVS_API void KVS_ResetCounters(void);

/* Everything back to the start: no media (their files closed, their
 * content kept), all objects available, default code, no faults, power on,
 * counters zero. Objects already handed out stay valid. */
KVS_API void KVS_Reset(void);

#ifdef __cplusplus
}
#endif

#endif
