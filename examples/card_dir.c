/* card_dir — a cardfs host that keeps its volume on a memory card in the
 * USB media reader, in the card image file "\USERIMG.BIN".
 *
 * The card is simulated by the card-programmer stand-in: the directory
 * ./card (created when missing) stands for the root of a card in reader
 * slot 3, and the image file is ./card/USERIMG.BIN. The program
 *   1. inserts the card (KVS_InsertCardDirectory; with the vendor's
 *      library a real card is in the reader instead),
 *   2. puts the image-file device of reader slot 3, W32_MMR_GetDevicePtr(2),
 *      into the device table and calls FS_Init,
 *   3. formats the card as volume CARDDIR when it carries no image yet (-6)
 *      and mounts it,
 *   4. writes RUN.nnn, nnn being one more than the highest number a file
 *      RUN has so far (RUN.001 on the first run),
 *   5. lists the directory.
 * Every run adds one file; the volume lives in the image between runs.
 * On a failure it prints the failing step and exits with status 1.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cardfs.h"
#include "cardfs_programmer_standin.h"

#define CARD_DIRECTORY "card"
#define READER_SLOT 3 /* the slot of W32_MMR_GetDevicePtr(2) */

static DeviceDescriptor *deviceTable[2];
static DirScan scan; /* over 1 KiB: kept off the stack */

static void fail(const char *step, int status)
{
    fprintf(stderr, "card_dir: FAILED: %s: status %d\n", step, status);
    exit(1);
}

static void mountOrFormat(void)
{
    int16_t st;
    st = KVS_InsertCardDirectory(READER_SLOT, CARD_DIRECTORY);
    if (st != CARDFS_OK) fail("inserting the card directory ./" CARD_DIRECTORY, st);
    deviceTable[0] = W32_MMR_GetDevicePtr(2);
    deviceTable[1] = NULL;
    if (FS_SetDeviceTable(deviceTable) != CARDFS_OK) fail("FS_SetDeviceTable", GetErrno());
    st = FS_Init(NULL);
    if (st == CARDFS_OK) {
        printf("Mounted the volume in the card image.\n");
        return;
    }
    if (st != CARDFS_E_NO_VOLUME) fail("FS_Init", st);
    printf("The card carries no image yet: formatting it as CARDDIR ...\n");
    st = FS_Format("A:CARDDIR"); /* creates \USERIMG.BIN, 1 MiB erased */
    if (st != CARDFS_OK) fail("FS_Format", st);
    st = FS_Init(NULL);
    if (st != CARDFS_OK) fail("FS_Init after formatting", st);
    printf("Formatted and mounted the new volume.\n");
}

/* The highest extension of a file named RUN, 0 when there is none. */
static int lastRun(void)
{
    DirEntry entry;
    int16_t st;
    int last = 0;
    st = FS_OpenDir(NULL, &scan);
    if (st != CARDFS_OK) fail("FS_OpenDir", st);
    while ((st = FS_ReadDir(&scan)) == CARDFS_OK) {
        if (FS_GetDirEntry(&scan, &entry) != CARDFS_OK) fail("FS_GetDirEntry", GetErrno());
        if (entry.extension != 0 && memcmp(entry.name, "RUN     ", 8) == 0 && entry.extension > last)
            last = entry.extension;
    }
    if (st != CARDFS_E_NOT_FOUND) fail("FS_ReadDir", st);
    return last;
}

static void writeRun(int run)
{
    char name[16], text[80];
    int16_t handle, st;
    sprintf(name, "RUN.%03d", run);
    sprintf(text, "Run %d of card_dir wrote this file into the card image.\n", run);
    handle = FS_OpenW(name);
    if (handle < 0) fail("FS_OpenW", handle);
    st = FS_Puts(text, handle);
    /* After a failed write FS_CloseW drops the file: check the write too. */
    if (FS_CloseW(handle) != CARDFS_OK || st != CARDFS_OK) fail("writing the run's file", st);
    printf("Wrote %s (%u bytes).\n", name, (unsigned)strlen(text));
}

static void listDirectory(void)
{
    DirEntry entry;
    char name[16];
    int16_t st;
    int files = 0;
    st = FS_OpenDir(NULL, &scan);
    if (st != CARDFS_OK) fail("FS_OpenDir", st);
    if (FS_GetDirEntry(&scan, &entry) != CARDFS_OK) fail("FS_GetDirEntry", GetErrno());
    printf("Directory of volume \"%.8s\":\n", entry.name); /* entry 0: the volume header */
    while ((st = FS_ReadDir(&scan)) == CARDFS_OK) {
        if (FS_GetDirEntry(&scan, &entry) != CARDFS_OK) fail("FS_GetDirEntry", GetErrno());
        if (entry.extension == 0) continue; /* free entry */
        BuildFileName(name, entry.name, (int16_t)entry.extension);
        printf("  %-14s %3u block(s)\n", name, (unsigned)entry.blockCount);
        files++;
    }
    if (st != CARDFS_E_NOT_FOUND) fail("FS_ReadDir", st);
    printf("  %d file(s), %ld bytes free\n", files, (long)FS_SpaceFree());
}

int main(void)
{
    int run;
    mountOrFormat();
    run = lastRun() + 1;
    if (run > 999) fail("numbering the run: RUN.999 exists", CARDFS_E_EXISTS);
    writeRun(run);
    listDirectory();
    printf("card_dir: done.\n");
    return 0;
}
