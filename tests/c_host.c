/* A plain C99 host that sees nothing but cardfs.h: its own RAM diskette; a file written, listed
 * and read; a MER file and a tag stream written and read back. */
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

static void check_files(void) {
    unsigned char content[1300], back[1400];
    DirScan scan;
    DirEntry entry;
    int16_t h;
    int i, found = 0;
    for (i = 0; i < (int)sizeof content; i++) content[i] = (unsigned char)(i * 7 + 3);
    h = FS_OpenW("hello.1");
    check(FS_Puts("hi\n", h) == -1 && FS_WriteFileEx(h, content, sizeof content) == -1 && FS_CloseW(h) == -1, "write");
    if (FS_OpenDir(NULL, &scan) == -1)
        while (FS_ReadDir(&scan) == -1)
            if (FS_GetDirEntry(&scan, &entry) == -1 && entry.extension != 0)
                found += entry.extension == 1 && memcmp(entry.name, "hello   ", 8) == 0 && entry.blockCount == 3 ? 1 : 100;
    check(GetErrno() == -4 && found == 1 && FS_FilesPresent(&scan) == 1, "directory lists hello.1 once");
    h = FS_OpenR("HELLO.001");
    check(FS_ReadFileEx(h, back, 3 + sizeof content) == -1, "FS_ReadFileEx");
    check(memcmp(back, "hi\n", 3) == 0 && memcmp(back + 3, content, sizeof content) == 0, "content read back");
    check(FS_Getc(h) == -1 && GetErrno() == -57 && FS_CloseR(h) == -1, "end of file");
}

static void check_datafiles(void) {
    HeaderFileStructure head;
    MERStructure mer, merBack;
    TagRecord tag = {25, 0x1234};
    LoadStartInfo info;
    int16_t h, sec = 0, pri = 0;
    P2C_InitHeaderFileStructure(&head), P2C_InitMERStructure(&mer);
    check(head.size == 12 && mer.size == 128, "structures know their size");
    mer.coord1 = 100, mer.coord2 = 200, strcpy(mer.text1, "well"), strcpy(mer.text2, "north"), mer.word1 = 7, mer.flag = 1;
    h = FS_OpenW("mer.1");
    check(P2C_Do_Save_Start(h, &head) == -1 && P2C_MER_File_Add_Data(h, &mer) == -1 && FS_CloseW(h) == -1, "write MER file");
    h = FS_OpenW("tags.3");
    check(FS_SaveWordTag(h, &tag) == -1 && FS_SaveEndTag(h) == -1 && FS_CloseW(h) == -1, "write tag stream");
    h = FS_OpenR("mer.1");
    check(C2P_Do_Load_StartEx(h, 1, &sec, &pri, &info) == -1 && sec == 0 && pri == 1 && info.value32 == 0, "load start");
    check(C2P_LoadFileOfMER(h, &merBack) == -1 && merBack.coord1 == 100 && merBack.coord2 == 200 && merBack.word1 == 7 &&
              merBack.flag == 1 && !strcmp(merBack.text1, "well") && !strcmp(merBack.text2, "north") && merBack.byte1 == -1,
          "MER record read back");
    check(C2P_LoadFileOfMER(h, &merBack) == 128 && GetErrno() == -57 && FS_CloseR(h) == -1, "MER file ends");
    h = FS_OpenR("tags.3");
    check(FS_ReadTag(h, FS_InitTag(&tag)) == -1 && tag.tagNumber == 25 && tag.tagValue == 0x1234 && FS_ReadTag(h, &tag) == 128,
          "tag stream read back");
    FS_CloseR(h);
}

int main(void) {
    DeviceDescriptor desc = {0}, *table[2] = {NULL, NULL};
    desc.WriteBlock = diskWrite, desc.ReadBlock = diskRead, desc.PrepareMedium = diskSetup, desc.InitDevice = diskSetup;
    table[0] = &desc;
    check(FS_SetDeviceTable(table) == -1 && FS_Init(NULL) == -6, "blank disk holds no volume");
    check(FS_Format("A:CHOST") == -1 && memcmp(disk[0], "DDOSCHOST   ", 12) == 0 && FS_Init(NULL) == -1,
          "format and mount");
    check_files();
    check_datafiles();
    printf(failures ? "c_host: %d check(s) failed\n" : "c_host: all checks passed\n", failures);
    return failures != 0;
}
