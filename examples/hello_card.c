/* hello_card — a small cardfs host.
 *
 * It keeps a 1.44 MB diskette as an image file, hello_card.img, in the
 * current working directory, and reaches it through a device of its own:
 * a DeviceDescriptor whose four operations read and write 512-byte blocks
 * of that file. The program
 *   1. puts the device into a device table and calls FS_Init,
 *   2. formats the image as volume HELLO when it carries no volume yet,
 *      and mounts it again,
 *   3. writes the file GREETING.001 (replacing the one of an earlier run),
 *   4. lists the directory,
 *   5. reads the file back and prints it,
 *   6. prints the free capacity.
 * It exits with status 1 and a message naming the failing step on any
 * failure.
 *
 * Build: part of the cardfs CMake build (target hello_card). Run it from a
 * scratch folder; a second run finds the volume and does not format again.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cardfs.h"

#define IMAGE_PATH "hello_card.img"
#define BLOCK_SIZE 512
#define TOTAL_BLOCKS 2880
#define FILE_NAME "GREETING.001"

static const char greeting[] =
    "Hello from cardfs!\n"
    "This text lives in GREETING.001, a chain of 512-byte blocks\n"
    "on a 1.44 MB diskette image named " IMAGE_PATH ".\n";

/* ------------------------------------------------------------------------ */
/* The device: a diskette image file.                                        */

/* The descriptor comes first, so an operation finds its ImageDevice again
 * from the descriptor pointer the library hands it. */
typedef struct ImageDevice {
    DeviceDescriptor desc;
    const char *path;
    FILE *file; /* open for update once the image exists */
} ImageDevice;

static ImageDevice *imageOf(DeviceDescriptor *device) { return (ImageDevice *)device; }

static void fillGeometry(DeviceDescriptor *d)
{
    d->blockSize = BLOCK_SIZE;
    d->totalBlocks = TOTAL_BLOCKS;
    d->headerBlock = 0;
    d->dirBlocks = 2;
    d->firstDataBlock = 3; /* 2 directory blocks + 1 map block */
    d->flashGeometry = NULL; /* rewritable in place */
}

/* Positions the image file at the start of a block; -1 or a failure code. */
static int16_t seekBlock(ImageDevice *img, int16_t block)
{
    if (block < 0 || block >= img->desc.totalBlocks) return CARDFS_E_ARGUMENT;
    if (img->file == NULL) {
        img->file = fopen(img->path, "r+b");
        if (img->file == NULL) return CARDFS_E_IO;
    }
    if (fseek(img->file, (long)block * BLOCK_SIZE, SEEK_SET) != 0) return CARDFS_E_IO;
    return CARDFS_OK;
}

static int16_t imageReadBlock(DeviceDescriptor *device, int16_t block, void *buffer)
{
    ImageDevice *img = imageOf(device);
    int16_t st = seekBlock(img, block);
    if (st != CARDFS_OK) return st;
    if (fread(buffer, 1, BLOCK_SIZE, img->file) != BLOCK_SIZE) return CARDFS_E_IO;
    return CARDFS_OK;
}

static int16_t imageWriteBlock(DeviceDescriptor *device, int16_t block, void *buffer)
{
    ImageDevice *img = imageOf(device);
    int16_t st = seekBlock(img, block);
    if (st != CARDFS_OK) return st;
    if (fwrite(buffer, 1, BLOCK_SIZE, img->file) != BLOCK_SIZE) return CARDFS_E_IO;
    if (fflush(img->file) != 0) return CARDFS_E_IO;
    return CARDFS_OK;
}

/* Creates the image file anew: 2880 blocks of zeros. */
static int16_t imagePrepareMedium(DeviceDescriptor *device)
{
    static const unsigned char zeros[BLOCK_SIZE];
    ImageDevice *img = imageOf(device);
    int block;
    if (img->file != NULL) fclose(img->file);
    img->file = fopen(img->path, "w+b");
    if (img->file == NULL) return CARDFS_E_IO;
    for (block = 0; block < TOTAL_BLOCKS; block++)
        if (fwrite(zeros, 1, BLOCK_SIZE, img->file) != BLOCK_SIZE) return CARDFS_E_IO;
    if (fflush(img->file) != 0) return CARDFS_E_IO;
    fillGeometry(device);
    return CARDFS_OK;
}

/* Fills the geometry and returns -1; -6 when the image is missing or
 * carries no volume (bytes 1 to 3 of block 0 are not "DOS"): the device
 * is current all the same, so that FS_Format can use it. */
static int16_t imageInitDevice(DeviceDescriptor *device)
{
    ImageDevice *img = imageOf(device);
    unsigned char head[4];
    fillGeometry(device);
    if (img->file == NULL) img->file = fopen(img->path, "r+b");
    if (img->file == NULL) return CARDFS_E_NO_VOLUME; /* no image yet */
    if (fseek(img->file, 0L, SEEK_SET) != 0) return CARDFS_E_IO;
    if (fread(head, 1, sizeof head, img->file) != sizeof head) return CARDFS_E_NO_VOLUME;
    if (memcmp(head + 1, "DOS", 3) != 0) return CARDFS_E_NO_VOLUME;
    return CARDFS_OK;
}

static ImageDevice diskette = {
    {0, 0, 0, 0, 0, imageWriteBlock, imageReadBlock, imagePrepareMedium, imageInitDevice, NULL,
     0 /* deviceType 0: drive A */},
    IMAGE_PATH,
    NULL,
};

/* Entry 0 answers to "A:"; the table ends with a null pointer. */
static DeviceDescriptor *deviceTable[] = {&diskette.desc, NULL};

/* ------------------------------------------------------------------------ */
/* Reporting.                                                                */

static const char *describe(int status)
{
    switch (status) {
    case CARDFS_OK: return "success";
    case CARDFS_E_DIR_FULL: return "directory full";
    case CARDFS_E_MEDIUM_FULL: return "medium full";
    case CARDFS_E_NOT_FOUND: return "no such file";
    case CARDFS_E_EXISTS: return "file exists";
    case CARDFS_E_NO_VOLUME: return "no volume on the medium";
    case CARDFS_E_VERSION: return "volume of a newer format version";
    case CARDFS_E_VERIFY: return "chain or read-back check failed";
    case CARDFS_E_NO_DEVICE: return "no device";
    case CARDFS_E_NAME_DEVICE: return "name names no device";
    case CARDFS_E_NOT_OPEN: return "file not open";
    case CARDFS_E_EOF: return "end of file";
    case CARDFS_E_NO_TABLE: return "no device table";
    case CARDFS_E_WRITING: return "a file is open for writing";
    case CARDFS_E_IO: return "input/output error on the image file";
    case CARDFS_E_ARGUMENT: return "bad argument";
    default: return "failure";
    }
}

static void fail(const char *step, int status)
{
    fprintf(stderr, "hello_card: FAILED: %s: status %d (%s)\n", step, status, describe(status));
    exit(1);
}

/* ------------------------------------------------------------------------ */

static void mountOrFormat(void)
{
    int16_t st;
    if (FS_SetDeviceTable(deviceTable) != CARDFS_OK) fail("FS_SetDeviceTable", GetErrno());
    st = FS_Init(NULL);
    if (st == CARDFS_OK) {
        printf("Mounted the volume in %s.\n", IMAGE_PATH);
        return;
    }
    if (st != CARDFS_E_NO_VOLUME) fail("FS_Init (mounting " IMAGE_PATH ")", st);

    printf("%s carries no volume (status %d): formatting it as A:HELLO ...\n", IMAGE_PATH, st);
    st = FS_Format("A:HELLO");
    if (st != CARDFS_OK) fail("FS_Format(\"A:HELLO\")", st);
    st = FS_Init(NULL);
    if (st != CARDFS_OK) fail("FS_Init after formatting", st);
    printf("Formatted and mounted the new volume.\n");
}

static void writeGreeting(void)
{
    int16_t handle, st;

    /* Files are written once: drop the file of an earlier run first. */
    st = FS_Delete(FILE_NAME);
    if (st == CARDFS_OK) {
        printf("Deleted the %s of an earlier run.\n", FILE_NAME);
    } else if (st != CARDFS_E_NOT_FOUND) {
        fail("FS_Delete(\"" FILE_NAME "\")", st);
    }
    (void)GetErrno(); /* clear the -4 of a missing file */

    handle = FS_OpenW(FILE_NAME);
    if (handle < 0) fail("FS_OpenW(\"" FILE_NAME "\")", handle);
    st = FS_Puts(greeting, handle);
    if (st != CARDFS_OK) {
        /* The failure is still in the status variable, so FS_CloseW drops
         * the partial file (and returns -1 all the same). Calling GetErrno()
         * first would reset it and make FS_CloseW keep the partial file. */
        FS_CloseW(handle);
        fail("FS_Puts", st);
    }
    /* FS_CloseW keeps the file because the last status was success. */
    st = FS_CloseW(handle);
    if (st != CARDFS_OK) fail("FS_CloseW", st);
    printf("Wrote %s (%u bytes).\n", FILE_NAME, (unsigned)strlen(greeting));
}

static void listDirectory(void)
{
    static DirScan scan; /* over 1 KiB: keep it off the stack */
    DirEntry entry;
    char fileName[16];
    int16_t st;
    int files = 0;
    int labelLength;

    st = FS_OpenDir(NULL, &scan);
    if (st != CARDFS_OK) fail("FS_OpenDir", st);
    /* A fresh scan stands on entry 0, the volume header: "DODA" + label. */
    st = FS_GetDirEntry(&scan, &entry);
    if (st != CARDFS_OK) fail("FS_GetDirEntry (volume header)", st);
    labelLength = 8; /* the label is space padded */
    while (labelLength > 0 && entry.name[labelLength - 1] == ' ') labelLength--;
    printf("Directory of volume \"%.*s\":\n", labelLength, entry.name);
    printf("  %-14s %9s %7s\n", "name", "extension", "blocks");

    while ((st = FS_ReadDir(&scan)) == CARDFS_OK) {
        st = FS_GetDirEntry(&scan, &entry);
        if (st != CARDFS_OK) fail("FS_GetDirEntry", st);
        if (entry.extension == 0) continue; /* free entry */
        BuildFileName(fileName, entry.name, (int16_t)entry.extension);
        printf("  %-14s %9u %7u\n", fileName, (unsigned)entry.extension, (unsigned)entry.blockCount);
        files++;
    }
    if (st != CARDFS_E_NOT_FOUND) fail("FS_ReadDir", st); /* -4 ends the scan */
    FS_CloseDir(&scan);
    printf("  %d file(s)\n", files);
}

static void readGreeting(void)
{
    char text[sizeof greeting + 64];
    size_t length = 0;
    int16_t handle, c;
    int32_t st;

    handle = FS_OpenR(FILE_NAME);
    if (handle < 0) fail("FS_OpenR(\"" FILE_NAME "\")", handle);
    while ((c = FS_Getc(handle)) != -1) {
        if (length + 1 < sizeof text) text[length++] = (char)c;
    }
    st = GetErrno();
    FS_CloseR(handle);
    if (st != CARDFS_E_EOF) fail("FS_Getc", (int)st); /* -57 is the normal end */
    text[length] = '\0';

    printf("Contents of %s (%u bytes):\n", FILE_NAME, (unsigned)length);
    for (c = 0; (size_t)c < length; c++) {
        if (c == 0 || text[c - 1] == '\n') fputs("  | ", stdout);
        putchar(text[c]);
    }
    if (length > 0 && text[length - 1] != '\n') putchar('\n');
    if (strcmp(text, greeting) != 0) {
        fprintf(stderr, "hello_card: FAILED: %s reads back different from what was written\n",
                FILE_NAME);
        exit(1);
    }
    printf("The text read back matches the text written.\n");
}

/* FS_DeviceSize is in KiB, FS_SpaceFree in bytes. FS_TotalBlocks leaves
 * out the directory and map blocks, but FS_BlocksUsed counts them (they
 * share a map byte with the first data block): a fresh diskette shows 3
 * blocks used. */
static void printCapacity(void)
{
    int16_t total = FS_TotalBlocks();
    int16_t used = FS_BlocksUsed();
    int16_t freeBlocks;
    int32_t freeBytes;
    /* Checked first: the two queries below would compute with a failure. */
    if (used < 0) fail("FS_BlocksUsed", used);
    freeBlocks = FS_BlocksFree();
    freeBytes = FS_SpaceFree();
    printf("Capacity: %d blocks of %u bytes for files, %d used, %d free (%ld bytes free), "
           "medium %ld KiB.\n",
           total, (unsigned)FS_BlockSize(), used, freeBlocks, (long)freeBytes,
           (long)FS_DeviceSize());
}

int main(void)
{
    mountOrFormat();
    writeGreeting();
    listDirectory();
    readGreeting();
    printCapacity();
    printf("hello_card: done.\n");
    if (diskette.file != NULL) fclose(diskette.file);
    return 0;
}
