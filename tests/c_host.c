/* A plain C99 host that sees nothing but cardfs.h: its own RAM diskette, format, write, list, read. */
#include <stdio.h>
#include <string.h>

#include "cardfs.h"

static unsigned char disk[2880][512];
static int failures;

static int16_t diskWrite(DeviceDescriptor *d, int16_t b, void *p) { (void)d; memcpy(disk[b], p, 512); return -1; }
static int16_t diskRead(DeviceDescriptor *d, int16_t b, void *p) { (void)d; memcpy(p, disk[b], 512); return -1; }
static int16_t diskSetup(DeviceDescriptor *d) {
    d->blockSize = 512, d->totalBlocks = 2880, d->headerBlock = 0, d->dirBlocks = 2, d->firstDataBlock = 3;
    return -1;
}
static void check(int ok, const char *what) {
    if (!ok) printf("FAILED: %s\n", what), failures++;
}

int main(void) {
    DeviceDescriptor desc = {0}, *table[2] = {NULL, NULL};
    unsigned char content[1300], back[1400];
    DirScan scan;
    DirEntry entry;
    int16_t h;
    int i, found = 0;
    desc.WriteBlock = diskWrite, desc.ReadBlock = diskRead, desc.PrepareMedium = diskSetup, desc.InitDevice = diskSetup;
    table[0] = &desc;
    for (i = 0; i < (int)sizeof content; i++) content[i] = (unsigned char)(i * 7 + 3);
    check(FS_SetDeviceTable(table) == -1 && FS_Init(NULL) == -6, "blank disk holds no volume");
    check(FS_Format("A:CHOST") == -1 && memcmp(disk[0], "DDOSCHOST   ", 12) == 0, "format");
    check(FS_Init(NULL) == -1, "mount");
    h = FS_OpenW("hello.1");
    check(FS_Puts("hi\n", h) == -1 && FS_WriteFileEx(h, content, sizeof content) == -1 && FS_CloseW(h) == -1, "write");
    check(FS_OpenDir(NULL, &scan) == -1, "FS_OpenDir");
    while (FS_ReadDir(&scan) == -1)
        if (FS_GetDirEntry(&scan, &entry) == -1 && entry.extension != 0)
            found += entry.extension == 1 && memcmp(entry.name, "hello   ", 8) == 0 && entry.blockCount == 3 ? 1 : 100;
    check(GetErrno() == -4 && found == 1 && FS_FilesPresent(&scan) == 1, "directory lists hello.1 once");
    h = FS_OpenR("HELLO.001");
    check(FS_ReadFileEx(h, back, 3 + sizeof content) == -1, "FS_ReadFileEx");
    check(memcmp(back, "hi\n", 3) == 0 && memcmp(back + 3, content, sizeof content) == 0, "content read back");
    check(FS_Getc(h) == -1 && GetErrno() == -57 && FS_CloseR(h) == -1, "end of file");
    printf(failures ? "c_host: %d check(s) failed\n" : "c_host: all checks passed\n", failures);
    return failures != 0;
}
