/* cardfs — directories and files.
 *
 * One flat directory of 16-byte entries; files are chains of blocks, each
 * opening with a 16-bit link word. Names are "[X:]base[.number]": up to 8
 * characters of base (compared without regard to letter case) and an
 * extension from 1 to 999 (no dot: 999). At most two files are open at
 * once, at most one of them for writing; a handle is 0 or 1.
 *
 * Choices this library makes where the format leaves room:
 *  - A handle other than 0 or 1 is refused with -56 (not open); FS_FileInfo
 *    returns null for it.
 *  - FS_Putc and its run forms, and FS_CloseW, accept only the handle of the
 *    file open for writing; any other handle gives -56 and changes nothing.
 *    FS_Getc and its run forms refuse that handle with -56.
 *  - A last block that claims more bytes than a block holds, or fewer than
 *    2, fails with -10 when it is loaded.
 *  - Power cuts: on flash media a new system-area copy gets its header block
 *    last (first without, then with its signature), and a copy left behind
 *    by an interrupted write-back is invalidated and passed over; on media
 *    rewritten in place a commit writes the map before the entry and a
 *    deletion the entry before the map. A reclamation cut short leaves live
 *    blocks in the free spare sector: opening a file whose chain is broken
 *    that way restores them from the spare (when no file is being written),
 *    and so does every allocation before a free sector is erased or used,
 *    and FS_Repair (cardfs_repair.h). Only the one sector whose live blocks
 *    all equal or extend the spare's blocks at their places is restored,
 *    and only from file blocks that link to live blocks: stale blocks of a
 *    write never committed, or another system's data, are no copies.
 *    A file whose last block could not be written is not committed.
 *  - FS_CloseR on the file open for writing is refused with -59: the file
 *    stays open, so that FS_CloseW can commit or drop it.
 *  - A name whose extension evaluates to 0 ("x.0", "x.txt") cannot be
 *    created or renamed to: -103. Extension 0 marks a free entry, so such a
 *    file would vanish on closing.
 *  - FS_Rename is refused with -59 while a file is open for writing: it
 *    would reload the allocation map under the writer and move the system
 *    area under its directory scan.
 *  - FS_ReadDir after it has returned -4 returns -4 again; FS_OpenDir with
 *    no device and no current device gives -18.
 *  - A write-back locates the changed directory block by its offset from
 *    the scan's own header block, so a scan opened before the system area
 *    moved still writes inside the current system area.
 *  - Reading stops with -10 once more blocks have been followed than the
 *    medium has (a looping chain opened without the integrity test), and
 *    deleting follows a chain only through blocks of the data area, at most
 *    as many as the medium has.
 */
#ifndef CARDFS_FILES_H
#define CARDFS_FILES_H

#include <stdint.h>
#include "cardfs_export.h"
#include "cardfs_volume.h"

CARDFS_BEGIN_DECLS

/* A directory entry, words in host order. extension 0 marks a free entry. */
typedef struct DirEntry {
    uint16_t extension;
    uint16_t firstBlock;
    char name[8];       /* space padded, no terminator */
    uint16_t blockCount;
    uint16_t reserved;
} DirEntry;

/* State of a directory scan; the caller owns it. */
typedef struct DirScan {
    uint8_t block[1024];       /* the directory block being scanned */
    DirEntry *entry;           /* current entry inside block */
    DeviceDescriptor *device;
    uint16_t startBlock;       /* header block when opened */
    uint16_t currentBlock;     /* block held in block */
    int16_t entryIndex;        /* index of entry inside block */
} DirScan;

/* An open-file record. */
typedef struct FileInfo {
    DeviceDescriptor *device;  /* null: record free */
    uint8_t buffer[1024];      /* current block; link word in host order */
    DirScan scan;              /* scan standing on the file's entry */
    uint16_t bufferBlock;      /* writing: block held in buffer */
    int16_t position;          /* next byte in buffer */
    int16_t limit;             /* reading: one past the last byte in use */
    int16_t blocksDone;        /* block changes since the file was opened */
} FileInfo;

/* A file named by its directory position plus two check values. */
typedef struct FileDescr {
    uint16_t nameCheck;
    int16_t entryNumber;
    uint16_t extension;
    DeviceDescriptor *device;
} FileDescr;

/* Directory scans. A null device means the current device. A freshly
 * opened scan stands on entry 0, the volume header, so FS_GetDirEntry
 * before the first FS_ReadDir returns it: name holds the label, blockCount
 * the medium's blocks, and extension is not 0 ("DD"). Each FS_ReadDir
 * moves to the next entry, free ones included, and returns -4 after the
 * last. */
CARDFS_API int16_t FS_OpenDir(DeviceDescriptor *device, DirScan *scan);
CARDFS_API int16_t FS_ReadDir(DirScan *scan);
CARDFS_API int16_t FS_GetDirEntry(DirScan *scan, DirEntry *out);
CARDFS_API int16_t FS_CloseDir(DirScan *scan);
/* Number of files on the current device; scan is work space. Ends with
 * -4 (end of the directory) in the status variable. */
CARDFS_API int16_t FS_FilesPresent(DirScan *scan);

/* Reading. FS_OpenR returns the handle, or a failure below -1. */
CARDFS_API int16_t FS_OpenR(const char *name);
/* Returns 0..255, or -1 at the end or on a failure. A byte read leaves the
 * status variable alone, so read GetErrno() after the loop: -57 is the
 * normal end, anything else a failure. */
CARDFS_API int16_t FS_Getc(int16_t handle);
/* Both return -1 when all count bytes were read. Asked for more than is
 * left, they store the rest in buffer and return -57 without telling how
 * many bytes that was: read with FS_Getc when the length is not known.
 * Blocks whose data the buffer takes whole are read into it directly; the
 * record shows the block the run ended in, as after byte-by-byte reading.
 * After a failed block read, the bytes of buffer past those read hold
 * whatever the device left there. */
CARDFS_API int16_t FS_ReadFile(int16_t handle, void *buffer, int16_t count);
CARDFS_API int16_t FS_ReadFileEx(int16_t handle, void *buffer, uint32_t count);
CARDFS_API int16_t FS_CloseR(int16_t handle);
CARDFS_API FileInfo *FS_FileInfo(int16_t handle);

/* Writing. FS_OpenW returns the handle, or a failure below -1. */
CARDFS_API int16_t FS_OpenW(const char *name);
CARDFS_API int16_t FS_Putc(int16_t c, int16_t handle);
CARDFS_API int16_t FS_Puts(const char *text, int16_t handle);
CARDFS_API int16_t FS_WriteFile(int16_t handle, const void *buffer, int16_t count);
CARDFS_API int16_t FS_WriteFileEx(int16_t handle, const void *buffer, uint32_t count);
/* Keeps the file only when the status variable holds -1, that is when the
 * last call that stored a status succeeded. Otherwise (after a failed
 * write) it drops the file, frees its blocks and still returns -1: check
 * the result of every write. GetErrno() in between, or any other call that
 * succeeds and stores -1, resets the variable: the partial file is kept.
 * A last block that cannot be written drops the file too, and then the
 * write's failure is returned. */
CARDFS_API int16_t FS_CloseW(int16_t handle);

/* Delete and rename. */
CARDFS_API int16_t FS_Delete(const char *name);
CARDFS_API int16_t FS_Rename(const char *oldName, const char *newName);

/* File descriptors. */
CARDFS_API int16_t FD_GetCurrFileDescr(DirScan *scan, FileDescr *descr);
CARDFS_API int16_t FD_GetFileDescr(int16_t handle, FileDescr *descr);
CARDFS_API int16_t FD_OpenR(FileDescr *descr);
CARDFS_API int16_t FD_OpenR_NoIntegrityTest(FileDescr *descr);
CARDFS_API int16_t FD_CloseR(int16_t handle);
CARDFS_API int16_t FD_Delete(FileDescr *descr);
/* Copies the entry's 8 name bytes into name (no terminator after 8). */
CARDFS_API int16_t FD_GetNameOfFile(FileDescr *descr, char *name, DirScan *scan);

/* Byte-order hooks: media store integers least significant byte first. */
CARDFS_API uint16_t EncDecINT(uint16_t value);
CARDFS_API uint32_t EncDecDWORD(uint32_t value);
CARDFS_API uint16_t DecodeFileBuffer(uint16_t *word);
CARDFS_API uint16_t EncodeFileBuffer(uint16_t *word);

CARDFS_END_DECLS

#endif
