/* A host written in plain C99 that sees nothing but cardfs.h: it brings its
 * own diskette-like RAM device, formats it, writes a file, lists the
 * directory and reads the file back. Exit status 0 only if all went well. */
#include <stdio.h>
#include <string.h>

#include "cardfs.h"

#define BLOCK_SIZE 512
#define BLOCKS 2880

typedef struct RamDisk {
    DeviceDescriptor desc; /* first, so the operations find the disk again */
    unsigned char data[BLOCKS][BLOCK_SIZE];
    long reads, writes;
} RamDisk;

static RamDisk disk;
static int failures;

static void setGeometry(DeviceDescriptor *d) {
    d->blockSize = BLOCK_SIZE;
    d->totalBlocks = BLOCKS;
    d->headerBlock = 0;
    d->dirBlocks = 2;
    d->firstDataBlock = 3;
    d->flashGeometry = NULL;
}

static int16_t diskWrite(DeviceDescriptor *d, int16_t block, void *buffer) {
    RamDisk *r = (RamDisk *)d;
    if (block < 0 || block >= BLOCKS) return -103;
    memcpy(r->data[block], buffer, BLOCK_SIZE);
    r->writes++;
    return -1;
}

static int16_t diskRead(DeviceDescriptor *d, int16_t block, void *buffer) {
    RamDisk *r = (RamDisk *)d;
    if (block < 0 || block >= BLOCKS) return -103;
    memcpy(buffer, r->data[block], BLOCK_SIZE);
    r->reads++;
    return -1;
}

static int16_t diskPrepare(DeviceDescriptor *d) {
    setGeometry(d);
    return -1;
}

static int16_t diskInit(DeviceDescriptor *d) {
    setGeometry(d);
    return -1;
}

static void check(int ok, const char *what, long got) {
    if (!ok) {
        printf("FAILED: %s (got %ld)\n", what, got);
        failures++;
    }
}

int main(void) {
    DeviceDescriptor *table[2];
    unsigned char content[1300], back[1400];
    const char *text = "hello, card\n";
    DirScan scan;
    DirEntry entry;
    int16_t h, st;
    int i, found = 0, listed = 0;
    size_t textLen = strlen(text);

    memset(&disk, 0, sizeof disk);
    disk.desc.WriteBlock = diskWrite;
    disk.desc.ReadBlock = diskRead;
    disk.desc.PrepareMedium = diskPrepare;
    disk.desc.InitDevice = diskInit;
    disk.desc.deviceType = 0;
    table[0] = &disk.desc;
    table[1] = NULL;
    for (i = 0; i < (int)sizeof content; i++) content[i] = (unsigned char)(i * 7 + 3);
    content[5] = 0xFF;

    check(FS_SetDeviceTable(table) == -1, "FS_SetDeviceTable", 0);
    check(FS_GetDevicesNum() == 1, "FS_GetDevicesNum", FS_GetDevicesNum());
    st = FS_Init(NULL);
    check(st == -6, "FS_Init on a blank disk reports no volume", st);
    st = FS_Format("A:CHOST");
    check(st == -1, "FS_Format", st);
    check(memcmp(disk.data[0], "DDOSCHOST   ", 12) == 0, "volume header bytes", 0);
    st = FS_Init(NULL);
    check(st == -1, "FS_Init after formatting", st);

    h = FS_OpenW("hello.1");
    check(h == 0 || h == 1, "FS_OpenW", h);
    st = FS_Puts(text, h);
    check(st == -1, "FS_Puts", st);
    st = FS_WriteFileEx(h, content, (uint32_t)sizeof content);
    check(st == -1, "FS_WriteFileEx", st);
    st = FS_CloseW(h);
    check(st == -1, "FS_CloseW", st);

    st = FS_OpenDir(NULL, &scan);
    check(st == -1, "FS_OpenDir", st);
    while (st == -1 && FS_ReadDir(&scan) == -1) {
        check(FS_GetDirEntry(&scan, &entry) == -1, "FS_GetDirEntry", 0);
        if (entry.extension == 0) continue;
        listed++;
        if (entry.extension == 1 && memcmp(entry.name, "hello   ", 8) == 0) {
            found++;
            check(entry.blockCount == 3, "block count of hello.1", entry.blockCount);
        }
    }
    check(GetErrno() == -4, "directory scan ends with -4", 0);
    FS_CloseDir(&scan);
    check(listed == 1 && found == 1, "directory lists hello.1 once", listed);
    st = FS_FilesPresent(&scan);
    check(st == 1, "FS_FilesPresent", st);

    h = FS_OpenR("HELLO.001");
    check(h == 0 || h == 1, "FS_OpenR", h);
    memset(back, 0, sizeof back);
    st = FS_ReadFileEx(h, back, (uint32_t)(textLen + sizeof content));
    check(st == -1, "FS_ReadFileEx", st);
    check(memcmp(back, text, textLen) == 0, "text read back", 0);
    check(memcmp(back + textLen, content, sizeof content) == 0, "content read back", 0);
    st = FS_Getc(h);
    check(st == -1 && GetErrno() == -57, "end of file after the last byte", st);
    check(FS_CloseR(h) == -1, "FS_CloseR", 0);
    check(disk.writes > 0 && disk.reads > 0, "the library used the host's device", disk.writes);

    if (failures) printf("%d check(s) failed\n", failures);
    else printf("c_host: all checks passed\n");
    return failures != 0;
}
