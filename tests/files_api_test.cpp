// File layer: scans, names, reading and writing, delete, rename, descriptors, flash system-area rotation.
#include <algorithm>

#include "helpers.h"

using namespace ramdev;

namespace {

// Every block the library asks a device for is checked against the medium.
int g_outside = 0;
decltype(DeviceDescriptor::ReadBlock) g_read, g_write;
decltype(FlashGeometry::ReadBytes) g_bytes;
int outside(DeviceDescriptor *d, int16_t b) { return b < 0 || b >= reinterpret_cast<RamDevice *>(d)->geometry.totalBlocks; }
int16_t guardRead(DeviceDescriptor *d, int16_t b, void *p) { return g_outside += outside(d, b), g_read(d, b, p); }
int16_t guardWrite(DeviceDescriptor *d, int16_t b, void *p) { return g_outside += outside(d, b), g_write(d, b, p); }
int16_t guardBytes(DeviceDescriptor *d, uint32_t a, int16_t n, void *p) {
    return g_outside += n <= 0 || outside(d, int16_t((a + n - 1) / uint32_t(d->blockSize))), g_bytes(d, a, n, p);
}

struct Guarded {  // one or two freshly formatted RAM volumes, A: (and B:), A: mounted
    RamDevice *d, *d2;
    DeviceDescriptor *table[3] = {};
    explicit Guarded(RamDevice *a, RamDevice *b = nullptr) : d(a), d2(b) {
        g_outside = 0;
        g_read = a->desc.ReadBlock, g_write = a->desc.WriteBlock, g_bytes = a->flash.ReadBytes;
        if (a->isFlash) a->flash.ReadBytes = guardBytes;
        for (RamDevice *r : {a, b})
            if (r) r->desc.ReadBlock = guardRead, r->desc.WriteBlock = guardWrite;
        table[0] = a->dev(), table[1] = b ? b->dev() : nullptr;
        FS_SetDeviceTable(table);
        EXPECT_TRUE(FS_Format("A:VOL") == -1 && (!b || FS_Format("B:VOL2") == -1) && FS_Init(nullptr) == -1);
        GetErrno(), a->resetCounters();
    }
    ~Guarded() {
        EXPECT_EQ(g_outside, 0) << "the library asked for blocks outside the medium";
        destroy(d), d2 ? destroy(d2) : void();
    }
    int bs() const { return d->geometry.blockSize; }
};
RamDevice *make(bool flash) { return flash ? makeFlashCard() : makeDiskette(); }

std::vector<DirEntry> listDir(DeviceDescriptor *dev = nullptr) {
    std::vector<DirEntry> v;
    DirScan s;
    DirEntry e;
    for (int st = FS_OpenDir(dev, &s); st == -1; st = FS_ReadDir(&s)) FS_GetDirEntry(&s, &e), v.push_back(e);
    return v;
}
int findName(const std::vector<DirEntry> &v, const char *name8, uint16_t ext) {
    for (size_t i = 1; i < v.size(); i++)
        if (v[i].extension == ext && !memcmp(v[i].name, name8, 8)) return int(i);
    return -1;
}
uint16_t headerOf(RamDevice *r) {
    DirScan s;
    return FS_OpenDir(r->dev(), &s), s.startBlock;
}
uint8_t *entryAt(RamDevice *r, int k) { return r->block(headerOf(r)) + k * 16; }  // entry k, first dir block
bool recordsFree() { return !FS_FileInfo(0)->device && !FS_FileInfo(1)->device; }
FileDescr descrOf(int entry) {
    DirScan s;
    FileDescr fd{};
    EXPECT_EQ(FS_OpenDir(nullptr, &s), -1);
    for (int i = 0; i < entry; i++) EXPECT_EQ(FS_ReadDir(&s), -1);
    EXPECT_EQ(FD_GetCurrFileDescr(&s, &fd), -1);
    return fd;
}

TEST(FilesDirectory, ScanAndNames) {
    Guarded v(makeDiskette());
    const Bytes a = pattern(100, 1), b = pattern(3, 2);
    ASSERT_EQ(writeFile("data.7", a), -1);
    const auto dir = listDir();
    EXPECT_EQ(0, memcmp(&dir[0], "DDOSVOL     ", 12));  // the scan starts on the volume header
    EXPECT_EQ(dir.size(), 64u);
    DirScan s;
    EXPECT_TRUE(FS_FilesPresent(&s) == 1 && GetErrno() == -4);
    for (const char *n : {"DATA.007", "DaTa. 7", "data.7x"}) EXPECT_EQ(readBack(n), ok(a)) << n;
    ASSERT_EQ(writeFile("data", b), -1);  // no dot: 999
    for (const char *n : {"data.999", "DATA", "Data.7"}) EXPECT_EQ(FS_OpenW(n), -5) << n;
    ASSERT_EQ(writeFile("LONGFILENAME.001", b), -1);
    EXPECT_TRUE(findName(listDir(), "LONGFILE", 1) >= 1 && readBack("longfile.1") == ok(b));
    for (const char *n : {"x.0", "x.txt"}) EXPECT_EQ(FS_OpenW(n), -103) << n;
    EXPECT_TRUE(FS_OpenR("C:data.7") == -55 && recordsFree());
}

TEST(FilesData, BlockBoundariesAndLinkWordsOnTheMedium) {
    for (bool flash : {false, true}) {
        Guarded v(make(flash));
        const int bs = v.bs(), room = bs - 2;
        int used = FS_BlocksUsed();
        for (size_t n : {0, 1, room, room + 1, 7 * room + 17}) {
            const Bytes content = pattern(n, unsigned(n));
            const uint16_t ext = uint16_t(n % 997 + 1);
            const std::string name = "size." + std::to_string(ext);
            ASSERT_EQ(writeFile(name, content), -1);
            const auto dir = listDir();
            const int k = findName(dir, "size    ", ext);
            ASSERT_GE(k, 1);
            EXPECT_EQ(dir[k].blockCount, blocksFor(n, bs));
            Bytes onMedium;
            size_t chain = 0;
            for (int b = dir[k].firstBlock, link = 0; !(link & 0x8000); b = link, chain++) {
                ASSERT_TRUE(b >= v.d->geometry.firstDataBlock && b < v.d->geometry.totalBlocks && chain < 9) << b;
                const uint8_t *p = v.d->block(b);
                link = word(p);
                const int end = link & 0x8000 ? link & 0x7FFF : bs;
                ASSERT_TRUE(end >= 2 && end <= bs);
                onMedium.insert(onMedium.end(), p + 2, p + end);
                for (int j = end; j < bs; j++) ASSERT_EQ(p[j], 0) << "tail of the last block";
                if (link & 0x8000) EXPECT_EQ(size_t(link), 0x8000 + 2 + n - chain * room) << n;
            }
            EXPECT_TRUE(int(chain) == blocksFor(n, bs) && onMedium == content && readBack(name) == ok(content)) << n;
            EXPECT_EQ(FS_BlocksUsed(), used += int(chain));
        }
    }
}

TEST(FilesData, ChainCheckRejectsWrongCountsLoopsAndStrayLinks) {
    Guarded v(makeDiskette());
    const Bytes content = pattern(3 * 510 - 5, 4);
    ASSERT_TRUE(writeFile("chain.1", content) == -1 && writeFile("chain.2", content) == -1);
    uint8_t *e = entryAt(v.d, 1);
    const uint16_t first = word(e + 2), third = word(v.d->block(word(v.d->block(first))));
    FileDescr fd = descrOf(1);
    for (uint16_t wrong : {2, 4}) {  // one block too few, one too many
        putWord(e + 12, wrong);
        EXPECT_TRUE(FS_OpenR("chain.1") == -10 && FD_OpenR(&fd) == -10 && recordsFree()) << wrong;
        EXPECT_EQ(readAll(FD_OpenR_NoIntegrityTest(&fd)), ok(content));  // reading stops at the last block
    }
    putWord(e + 12, 3);
    putWord(v.d->block(third), first);  // the last block now leads back to the first
    EXPECT_EQ(FS_OpenR("chain.1"), -10);
    const Read circle = readAll(FD_OpenR_NoIntegrityTest(&fd));
    EXPECT_TRUE(circle.first == -10 && circle.second.size() < size_t(v.d->geometry.totalBlocks) * 512);
    FS_Delete("chain.1");  // must come back: the circle is followed a bounded number of times
    putWord(v.d->block(word(entryAt(v.d, 2) + 2)), 0x7000);  // block 28672 does not exist
    EXPECT_TRUE(FS_OpenR("chain.2") == -103 && recordsFree());
    ASSERT_EQ(writeFile("chain.3", pattern(10, 1)), -1);            // takes the freed entry 1
    putWord(v.d->block(word(entryAt(v.d, 1) + 2)), 0x8000 | 513);  // one byte more than a block holds
    EXPECT_TRUE(FS_OpenR("chain.3") == -10 && recordsFree());
}

TEST(FilesWrite, StatusesOfOpenWriteAndClose) {
    Guarded v(makeDiskette());
    const Bytes a = pattern(600, 3);
    ASSERT_TRUE(writeFile("r.1", a) == -1 && writeFile("r.2", a) == -1);
    FileDescr fd = descrOf(1);
    const int16_t w = FS_OpenW("w.1"), r = FS_OpenR("r.1");
    ASSERT_TRUE(w >= 0 && r >= 0 && r != w);
    const std::pair<int32_t, int32_t> seen[] = {  // evaluated in order
        {FS_OpenW("w.2"), -59}, {FS_Delete("r.1"), -59}, {FD_Delete(&fd), -59}, {FS_Rename("r.1", "q.1"), -59},
        {FS_OpenR("r.2"), -51}, {GetErrno(), -51}, {FS_Putc('x', r), -56}, {FS_CloseW(r), -56},
        {FS_CloseR(w), -59}, {FS_Getc(r), a[0]}, {FS_Puts("hi", w), -1}, {FS_WriteFile(w, "abc", 3), -1},
        {FS_CloseW(w), -1}, {FS_CloseR(r), -1}, {FS_OpenW("R.1"), -5}, {FS_OpenR("nope.1"), -4}};
    for (size_t i = 0; i < std::size(seen); i++) EXPECT_EQ(seen[i].first, seen[i].second) << "call " << i;
    EXPECT_EQ(readBack("W.001"), ok({'h', 'i', 'a', 'b', 'c'}));
    for (int i = 4; i <= 63; i++) ASSERT_EQ(writeFile("e." + std::to_string(i), {}), -1) << i;
    EXPECT_TRUE(FS_OpenW("full.1") == -2 && recordsFree());  // all 63 entries in use
}

TEST(FilesWrite, FailedAppendDiscardsTheFileOnClose) {
    for (bool flash : {false, true}) {  // 61 data blocks on the diskette, 208 on the small flash
        Guarded v(flash ? makeFlash(512, 256, 2, 32, 8192, 16, 2) : makeDiskette(64));
        const int room = v.bs() - 2, capacity = FS_TotalBlocks(), used0 = FS_BlocksUsed();
        ASSERT_EQ(capacity, flash ? 208 : 61);
        for (int round = 0; round < 2; round++) {  // the second round needs the freed blocks
            int16_t h = FS_OpenW("big.1"), st;
            long n = 0;
            while ((st = FS_Putc(int16_t(n & 0xFF), h)) == -1) n++;
            EXPECT_TRUE(st == -3 && n == long(capacity) * room) << n;
            EXPECT_EQ(FS_CloseW(h), -1);
            EXPECT_TRUE(readBack("big.1").first == -4 && FS_BlocksUsed() == used0 && word(entryAt(v.d, 1)) == 0);
        }
        const Bytes content = pattern(3 * room + 1, 5);
        int16_t h = FS_OpenW("f.1");
        v.d->armFault(Op::Write, 2, -100);  // the second full block cannot be written
        EXPECT_EQ(FS_WriteFileEx(h, content.data(), uint32_t(content.size())), -100);
        EXPECT_EQ(FS_CloseW(h), -1);
        EXPECT_TRUE(readBack("f.1").first == -4 && FS_BlocksUsed() == used0);
        h = FS_OpenW("f.2");  // a successful append after the failure makes the close commit
        v.d->armFault(Op::Write, 1, -100);
        ASSERT_EQ(FS_WriteFileEx(h, content.data(), uint32_t(room)), -1);
        EXPECT_TRUE(FS_Putc('y', h) == -100 && FS_Putc('z', h) == -1 && FS_CloseW(h) == -1);
        EXPECT_TRUE(readBack("f.2") == ok(Bytes(content.begin(), content.begin() + room) + "7A") && FS_BlocksUsed() == used0 + 2);
    }
}

TEST(FilesDelete, DeleteKeepsEntryBytesAndReleasesTheWholeChain) {
    for (bool flash : {false, true}) {
        Guarded v(make(flash));
        RamDevice *d = v.d;
        ASSERT_TRUE(writeFile("gone.1", pattern(2 * v.bs() - 3, 6)) == -1 && writeFile("kept.1", pattern(5, 7)) == -1);
        const int used = FS_BlocksUsed();
        std::vector<int> chain;
        for (int b = word(entryAt(d, 1) + 2); chain.size() < 3; b = word(d->block(b))) chain.push_back(b & 0x7FFF);
        Bytes before(entryAt(d, 0), entryAt(d, 0) + v.bs());
        EXPECT_TRUE(FS_Delete("nothere.1") == -4 && FS_Delete("GONE.1") == -1);
        before[16] = before[17] = 0;  // only the extension of entry 1 changes
        EXPECT_EQ(Bytes(entryAt(d, 0), entryAt(d, 0) + v.bs()), before);
        const uint8_t *map = d->block(headerOf(d) + d->geometry.dirBlocks);
        for (int b : chain)
            EXPECT_EQ(flash ? (map[b / 4] >> (2 * (b % 4))) & 3 : (map[b / 8] >> (b % 8)) & 1, flash ? 2 : 0) << b;
        EXPECT_TRUE(FS_BlocksUsed() == used - 3 && readBack("kept.1") == ok(pattern(5, 7)));
        ASSERT_EQ(writeFile("new.1", {}), -1);
        EXPECT_EQ(findName(listDir(), "new     ", 1), 1);  // the freed entry is taken again
    }
}

TEST(FilesRename, RenameKeepsContentAndRefusesClashes) {
    Guarded v(makeDiskette(), makeDiskette(2880, 1));
    const Bytes p = pattern(1500, 8), q = pattern(20, 9);
    ASSERT_TRUE(writeFile("x.1", p) == -1 && writeFile("y.2", q) == -1);
    putWord(entryAt(v.d, 1) + 14, 0xBEEF);
    const DirEntry old = listDir()[1];
    EXPECT_TRUE(FS_Rename("x.1", "X.1") == -5 && FS_Rename("x.1", "Y.002") == -5 && FS_Rename("A:x.1", "B:z.1") == -52);
    EXPECT_TRUE(FS_Rename("nope.1", "z.1") == -4 && FS_Rename("x.1", "z.0") == -103 && FS_Rename("X.1", "NewName.42") == -1);
    const DirEntry now = listDir()[1];
    EXPECT_TRUE(!memcmp(now.name, "NewName ", 8) && now.extension == 42 && now.reserved == 0xBEEF);
    EXPECT_TRUE(now.firstBlock == old.firstBlock && now.blockCount == old.blockCount);
    EXPECT_TRUE(readBack("x.1").first == -4 && readBack("newname.42") == ok(p));
    ASSERT_EQ(writeFile("B:file.001", q), -1);  // goes to the second device
    EXPECT_TRUE(findName(listDir(v.d2->dev()), "file    ", 1) >= 1 && findName(listDir(), "file    ", 1) == -1);
    EXPECT_TRUE(FS_Rename("B:FILE.1", "B:moved.3") == -1 && readBack("B:moved.3") == ok(q));
}

TEST(FilesDescr, DescriptorsNameEntriesByPosition) {
    Guarded v(makeDiskette());
    const Bytes p = pattern(800, 10);
    for (int i = 1; i <= 35; i++) {
        const std::string name = i == 2 ? "\xE9.1" : i == 35 ? "ABCDEFGH.5" : "f" + std::to_string(i) + ".1";
        ASSERT_EQ(writeFile(name, i == 35 ? p : Bytes{}), -1);
    }
    FileDescr fd = descrOf(35), e9 = descrOf(2), fh;
    EXPECT_TRUE(fd.entryNumber == 35 && fd.nameCheck == 0x0008 && fd.extension == 5 && fd.device == v.d->dev());
    EXPECT_TRUE(e9.entryNumber == 2 && e9.nameCheck == 0xFFC9);
    int16_t h = FS_OpenR("abcdefgh.5");
    ASSERT_EQ(FD_GetFileDescr(h, &fh), -1);
    EXPECT_TRUE(fh.nameCheck == fd.nameCheck && fh.entryNumber == 35 && fh.extension == 5 && fh.device == fd.device);
    FS_CloseR(h);
    DirScan s;
    char name[10] = "ZZZZZZZZZ";
    EXPECT_TRUE(FD_GetNameOfFile(&fd, name, &s) == -1 && !memcmp(name, "ABCDEFGHZ", 10));  // no terminator after 8 bytes
    EXPECT_EQ(readAll(FD_OpenR(&fd)), ok(p));
    const int used = FS_BlocksUsed();
    EXPECT_TRUE(FD_Delete(&fd) == -1 && FS_BlocksUsed() == used - 2);
    EXPECT_TRUE(FD_OpenR(&fd) == -4 && FS_OpenR("ABCDEFGH.5") == -4);
    FileDescr f3 = e9;
    f3.entryNumber = 3, f3.nameCheck = 'f' ^ '3';
    EXPECT_EQ(FD_OpenR(&f3), 0);
    FD_CloseR(0);
    EXPECT_EQ(FS_Rename("f3.1", "g3.1"), -1);
    for (int16_t n : {3, 64, -1}) {
        f3.entryNumber = n;
        EXPECT_TRUE(FD_OpenR(&f3) == -4 && FD_Delete(&f3) == -4) << n;
    }
}

TEST(FilesHandles, HandlesOtherThanZeroAndOneAreRefused) {
    Guarded v(makeDiskette());
    ASSERT_EQ(writeFile("a.1", {'a', 'b'}), -1);
    const int16_t r = FS_OpenR("a.1"), w = FS_OpenW("b.1");
    ASSERT_EQ(FS_Putc('q', w), -1);
    for (int16_t h : {2, -1, 32767, -32768}) {
        uint8_t buf[8] = {0x5A};
        FileDescr fd;
        EXPECT_EQ(FS_Getc(h), -1) << h;
        for (int16_t st : {FS_ReadFileEx(h, buf, 8), FS_Putc('x', h), FS_WriteFileEx(h, buf, 8), FS_CloseW(h),
                           FS_CloseR(h), FD_GetFileDescr(h, &fd)})
            EXPECT_EQ(st, -56) << h;
        EXPECT_TRUE(buf[0] == 0x5A && FS_FileInfo(h) == nullptr) << h;
    }
    EXPECT_TRUE(FS_Getc(r) == 'a' && FS_Putc('r', w) == -1 && FS_CloseW(w) == -1 && readBack("b.1") == ok({'q', 'r'}));
}

TEST(FilesFlash, WriteBackRotatesThroughTheSystemSlots) {
    Guarded v(makeFlashCard());
    RamDevice *d = v.d;
    const int B = 128, S = 17;  // 7 slots of 17 blocks in each of the 2 system sectors
    auto content = [](int i) { return pattern(size_t(i * 97 % 1300), unsigned(i)); };
    for (int i = 1, h = 0; i <= 40; i++) {  // 40 files: entries in two directory blocks
        const uint32_t erased[2] = {d->sectorErases[0], d->sectorErases[1]};
        ASSERT_EQ(writeFile("rot." + std::to_string(i), content(i)), -1);
        const int next = (h + 2 * S) / B == h / B ? h + S : (h / B + 1) % 2 * B;
        std::vector<int> valid;
        for (int b = 0; b < 2 * B; b += b % B == 6 * S ? B - 6 * S : S)
            if (!memcmp(d->block(b) + 1, "DOS", 3)) valid.push_back(b);
        ASSERT_EQ(valid, std::vector<int>{next}) << "write-back " << i;
        EXPECT_EQ(0, memcmp(d->block(h) + 1, "\0\0\0", 3));
        for (int s = 0; s < 2; s++)  // a system sector is erased when a copy moves into it
            EXPECT_EQ(d->sectorErases[s] - erased[s], unsigned(next / B == s && h / B != s)) << i;
        EXPECT_EQ(headerOf(d), h = next);
    }
    ASSERT_EQ(FS_Init(nullptr), -1);
    for (int i = 1; i <= 40; i++) EXPECT_EQ(readBack("rot." + std::to_string(i)), ok(content(i)));
}

TEST(FilesIo, RunFormsMatchByteByByteExactly) {
    for (bool flash : {false, true}) {
        const Bytes p = pattern(7000, 11);
        Bytes media[2];
        Read back[2];
        Counters counts[2];
        for (int runs = 0; runs < 2; runs++) {
            Guarded v(make(flash));
            int16_t h = FS_OpenW("run.5");
            for (size_t k = 0, at = 0, chunk; at < p.size(); k++, at += chunk) {
                chunk = std::min(p.size() - at, size_t(k * 337 % 1100));
                if (runs == 1) ASSERT_EQ(FS_WriteFileEx(h, p.data() + at, uint32_t(chunk)), -1);
                for (size_t j = 0; runs == 0 && j < chunk; j++) ASSERT_EQ(FS_Putc(p[at + j], h), -1);
            }
            ASSERT_EQ(FS_CloseW(h), -1);
            if (runs == 0) back[0] = readBack("run.5");
            if (runs == 1) {
                Bytes &got = back[1].second;
                h = FS_OpenR("run.5"), got.assign(p.size() + 10, 0);
                back[1].first = FS_ReadFileEx(h, got.data(), uint32_t(got.size()));
                got.resize(p.size()), FS_CloseR(h);
            }
            media[runs] = v.d->data, counts[runs] = v.d->count;
        }
        EXPECT_EQ(media[0], media[1]);
        for (int op = 0; op < int(Op::Count); op++) EXPECT_EQ(counts[0].calls[op], counts[1].calls[op]) << op;
        EXPECT_TRUE(back[0] == ok(p) && back[1] == ok(p));
    }
}

TEST(FilesDamage, RandomDirectoryAndLinkBytesStayInsideTheMedium) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 80; round++) {
        Guarded v(make(round % 2));
        RamDevice *d = v.d;
        for (int i = 1; i <= 6; i++) writeFile("d." + std::to_string(i), pattern(rng() % 4000, rng()));
        const int h = headerOf(d), bs = v.bs();
        std::vector<int> fileBlocks;  // every block of every file
        for (const DirEntry &e : listDir())
            for (int b = e.firstBlock, k = 0; e.extension && e.extension < 1000 && k < e.blockCount; k++)
                fileBlocks.push_back(b & 0x7FFF), b = word(d->block(b & 0x7FFF));
        for (int k = 0, n = 1 + int(rng() % 12); k < n; k++) {
            if (rng() % 2) d->block(h + int(rng() % d->geometry.dirBlocks))[rng() % bs] = uint8_t(rng());
            else putWord(d->block(fileBlocks[rng() % fileBlocks.size()]), uint16_t(rng()));
        }
        DirScan s;
        FS_FilesPresent(&s);
        for (int i = 1; i <= 6; i++) readBack("d." + std::to_string(i));
        for (int k = 0; k < 80 && (k ? FS_ReadDir(&s) : FS_OpenDir(nullptr, &s)) == -1; k++) {
            FileDescr fd;
            if (s.entry->extension == 0 || FD_GetCurrFileDescr(&s, &fd) != -1) continue;
            EXPECT_LT(readAll(FD_OpenR_NoIntegrityTest(&fd)).second.size(), size_t(d->geometry.totalBlocks) * bs);
            if (rng() % 3 == 0) FD_Delete(&fd);
        }
        writeFile("late.1", pattern(rng() % 3000, 1));
        FS_Rename("d.2", "e.2");
        FS_Delete("d.3");
    }
}

}  // namespace
