/* A plain C99 host that sees nothing but cardfs.h: its own RAM diskette, a file written, listed and
 * read back, and a MER record written and loaded. */
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
static void expect(long got, long want, const char *what) {
    if (got != want) printf("FAILED: %s is %ld, expected %ld\n", what, got, want), failures++;
}
#define EXPECT(got, want) expect((long)(got), (long)(want), #got)

int main(void) {
    DeviceDescriptor desc = {0}, *table[2] = {NULL, NULL};
    unsigned char content[1300], back[1301];
    DirScan scan;
    DirEntry entry;
    HeaderFileStructure head;
    MERStructure mer, loaded;
    int16_t h, sec, pri;
    int i;
    desc.WriteBlock = diskWrite, desc.ReadBlock = diskRead, desc.PrepareMedium = diskSetup, desc.InitDevice = diskSetup;
    table[0] = &desc;
    EXPECT(FS_SetDeviceTable(table), -1);
    EXPECT(FS_Init(NULL), -6);
    EXPECT(FS_Format("A:CHOST"), -1);
    EXPECT(FS_Init(NULL), -1);
    for (i = 0; i < (int)sizeof content; i++) content[i] = (unsigned char)(i * 7 + 3);
    h = FS_OpenW("hello.1");
    EXPECT(FS_WriteFileEx(h, content, sizeof content), -1);
    EXPECT(FS_CloseW(h), -1);
    EXPECT(FS_OpenDir(NULL, &scan), -1);
    EXPECT(FS_ReadDir(&scan), -1);
    EXPECT(FS_GetDirEntry(&scan, &entry), -1);
    EXPECT(memcmp(entry.name, "hello   ", 8), 0);
    EXPECT(entry.extension, 1);
    EXPECT(entry.blockCount, 3);
    h = FS_OpenR("HELLO.001");
    EXPECT(FS_ReadFileEx(h, back, sizeof back), -57);
    EXPECT(memcmp(back, content, sizeof content), 0);
    FS_CloseR(h);

    P2C_InitHeaderFileStructure(&head), P2C_InitMERStructure(&mer);
    EXPECT(mer.size, 128);
    mer.coord1 = 100, mer.coord2 = -200, strcpy(mer.text1, "well"), strcpy(mer.text2, "north"), mer.word1 = 7, mer.flag = 1;
    h = FS_OpenW("mer.1");
    EXPECT(P2C_Do_Save_Start(h, &head), -1);
    EXPECT(P2C_MER_File_Add_Data(h, &mer), -1);
    EXPECT(FS_CloseW(h), -1);
    h = FS_OpenR("mer.1");
    EXPECT(C2P_Do_Load_Start(h, 1, &sec, &pri), -1);
    EXPECT(C2P_LoadFileOfMER(h, &loaded), -1);
    EXPECT(loaded.coord1, 100);
    EXPECT(loaded.coord2, -200);
    EXPECT(strcmp(loaded.text1, "well"), 0);
    EXPECT(strcmp(loaded.text2, "north"), 0);
    EXPECT(loaded.word1, 7);
    EXPECT(C2P_LoadFileOfMER(h, &loaded), 128);
    FS_CloseR(h);
    printf(failures ? "c_host: %d check(s) failed\n" : "c_host: all checks passed\n", failures);
    return failures != 0;
}
