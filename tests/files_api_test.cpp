// File layer: scans, names, reading and writing, delete, rename, descriptors, flash system-area
// rotation, damaged media and faults the library cannot see. Every test's volumes are freshly
// formatted and A: is mounted; releasing a device checks that nothing outside it was asked for.
#include <algorithm>
#include <set>
#include <tuple>

#include "helpers.h"

using namespace ramdev;

namespace {

RamDevice *make(bool flash) { return flash ? makeFlashCard() : makeDiskette(); }

int findName(const std::vector<DirEntry> &v, const char *name8, uint16_t ext) {
    for (size_t i = 1; i < v.size(); i++)
        if (v[i].extension == ext && !memcmp(v[i].name, name8, 8)) return int(i);
    return -1;
}
int recordsInUse() { return (FS_FileInfo(0)->device != nullptr) + (FS_FileInfo(1)->device != nullptr); }
FileDescr descrOf(int entry) {
    DirScan s;
    FileDescr fd{};
    EXPECT_EQ(FS_OpenDir(nullptr, &s), -1);
    for (int i = 0; i < entry; i++) EXPECT_EQ(FS_ReadDir(&s), -1);
    EXPECT_EQ(FD_GetCurrFileDescr(&s, &fd), -1);
    return fd;
}
auto fields(const FileDescr &f) { return std::make_tuple(f.nameCheck, f.entryNumber, f.extension, f.device); }
bool documented(int st) {  // the statuses the library reports
    static const std::set<int> codes = {-1,  -2,  -3,  -4,  -5,  -6,  -8,   -10,  -17,  -18,  -43,  -44, -51,
                                        -52, -55, -56, -57, -58, -59, -60, -100, -101, -102, -103, -104};
    return codes.count(st) == 1;
}

TEST(FilesDirectory, ScanAndNames) {
    Dev d = mounted(makeDiskette());
    const Bytes a = pattern(100, 1), b = pattern(3, 2);
    ASSERT_EQ(writeFile("data.7", a), -1);
    EXPECT_EQ(listDir().size(), 64u) << "the volume header and 63 file entries";
    // The extension is the number after the last dot, after white space and a sign; leading zeros and
    // what follows the digits do not count. No dot, or a number outside 0 to 999, gives 999.
    for (const char *n : {"DATA.007", "DaTa. 7", "data.7x", "data.+7", "data.\t0000007"}) EXPECT_EQ(readBack(n), ok(a)) << n;
    ASSERT_EQ(writeFile("data", b), -1);
    for (const char *n : {"data.999", "DATA", "Data.7", "data.1000", "data.99999", "data.-3", "data. -0999",
                          "data.99999999999999999999"})
        EXPECT_EQ(FS_OpenW(n), -5) << n;
    for (const char *n : {"x.0", "x.txt", "x.", "x.-0"}) EXPECT_EQ(FS_OpenW(n), -103) << n;  // 0 marks a free entry
    // The base is everything before the last dot, cut to 8 characters.
    ASSERT_EQ(writeFile("LONGFILENAME.001", b), -1);
    ASSERT_EQ(writeFile("A.B.7", b), -1);
    ASSERT_EQ(writeFile("ABCDEFGHIJ.K.12", a), -1);
    const auto names = listDir();
    EXPECT_GE(findName(names, "LONGFILE", 1), 1);
    EXPECT_GE(findName(names, "A.B     ", 7), 1);
    EXPECT_GE(findName(names, "ABCDEFGH", 12), 1);
    EXPECT_EQ(readBack("longfile.1"), ok(b));
    EXPECT_EQ(readBack("a.b.007"), ok(b));
    EXPECT_EQ(readBack("ABCDEFGHxyz.12"), ok(a));
    EXPECT_EQ(FS_OpenR("C:data.7"), -55);
    EXPECT_EQ(recordsInUse(), 0);
}

// Lookups and counts step through the entries of a block without a call per entry and end where
// FS_ReadDir would; names match without regard to case, and only the letters fold.
TEST(FilesDirectory, LookupsAcrossDirectoryBlocksAndCaseFolding) {
    Dev d = mounted(makeDiskette());
    for (int i = 1; i <= 33; i++) ASSERT_EQ(writeFile("n" + std::to_string(i) + ".1", {uint8_t(i)}), -1);
    EXPECT_EQ(readBack("N31.1"), ok({31})) << "the last entry of the first block";
    EXPECT_EQ(readBack("N32.1"), ok({32})) << "the first entry of the second block";
    EXPECT_EQ(readBack("n33.1"), ok({33}));
    DirScan counted, stepped;
    EXPECT_EQ(FS_FilesPresent(&counted), 33);
    EXPECT_EQ(GetErrno(), -4);
    int files = 0;
    ASSERT_EQ(FS_OpenDir(nullptr, &stepped), -1);
    while (FS_ReadDir(&stepped) == -1) files += stepped.entry->extension != 0;
    EXPECT_EQ(files, 33);
    auto at = [](const DirScan &s) { return std::make_tuple(s.currentBlock, s.entryIndex, (const uint8_t *)s.entry - s.block); };
    EXPECT_EQ(at(counted), at(stepped));
    const char *pairs[][2] = {{"@x.1", "`x.1"}, {"[x.1", "{x.1"}, {"\xC1x.1", "\xE1x.1"}, {"Zx.1", "zX.1"}, {"Ax.1", "aX.1"}};
    for (auto &p : pairs) {
        ASSERT_EQ(writeFile(p[0], {7}), -1) << p[0];
        const bool letters = p[0][0] == 'Z' || p[0][0] == 'A';
        EXPECT_EQ(FS_OpenW(p[1]), letters ? -5 : 0) << p[1];
        if (!letters) {
            EXPECT_EQ(FS_CloseW(0), -1);
        }
    }
}

// Each block holds a link word and blockSize - 2 data bytes; the last block's link word has bit 15 set
// and counts the bytes in use, link word included, and the rest of that block is zero.
TEST(FilesData, BlockBoundariesAndLinkWordsOnTheMedium) {
    for (bool flash : {false, true}) {
        Dev d = mounted(make(flash));
        const size_t bs = d->blockSizeBytes(), room = bs - 2;
        for (size_t n : {size_t{0}, size_t{1}, room, room + 1, 7 * room + 17}) {
            const Bytes content = pattern(n, unsigned(n));
            ASSERT_EQ(writeFile("size.1", content), -1);
            const DirEntry e = listDir()[1];
            const Ints chain = chainOf(d.get(), e.firstBlock, 9);
            ASSERT_EQ(int(chain.size()), blocksFor(n, int(bs))) << n;
            EXPECT_EQ(e.blockCount, chain.size()) << n;
            for (size_t k = 0; k < chain.size(); k++) {
                const size_t from = k * room, to = std::min(n, from + room);
                Bytes want(bs, 0);
                putWord(want.data(), uint16_t(k + 1 < chain.size() ? chain[k + 1] : 0x8000 + 2 + to - from));
                std::copy(content.begin() + long(from), content.begin() + long(to), want.begin() + 2);
                EXPECT_GE(chain[k], d->geometry.firstDataBlock) << n;
                EXPECT_EQ(Bytes(d->block(chain[k]), d->block(chain[k] + 1)), want) << n << ", block " << k;
            }
            EXPECT_EQ(readBack("size.1"), ok(content)) << n;
            EXPECT_EQ(FS_Delete("size.1"), -1);
        }
    }
}

// FS_Putc and FS_Getc handle a byte inside the current block on a short path; block ends, a position a
// host damaged through FS_FileInfo and the status variable go as on the long one.
TEST(FilesData, ByteCallsAtBlockEndsAndDamagedPositions) {
    Dev d = mounted(makeDiskette());
    const Bytes content = pattern(3 * 510 + 1, 5);
    FS_OpenR("none.1");  // leaves -4 pending
    const int16_t w = FS_OpenW("bytes.1");
    for (size_t i = 0; i < content.size(); i++) {
        ASSERT_EQ(FS_Putc(content[i], w), -1) << i;
        EXPECT_EQ(d->count.of(Op::Write), i / 510) << "a full block goes out with the first byte for the next";
    }
    EXPECT_EQ(GetErrno(), -1);
    FileInfo *fi = FS_FileInfo(w);
    for (int16_t odd : {int16_t{1}, int16_t{513}}) {
        const int16_t was = fi->position;
        fi->position = odd;
        EXPECT_EQ(FS_Putc('x', w), -10) << odd;
        EXPECT_EQ(GetErrno(), -10) << odd;
        fi->position = was;
    }
    ASSERT_EQ(FS_CloseW(w), -1);
    const int16_t r = FS_OpenR("bytes.1");
    fi = FS_FileInfo(r);
    EXPECT_EQ(FS_OpenR("none.1"), -4);
    d->resetCounters();
    for (size_t i = 0; i < 600; i++) ASSERT_EQ(FS_Getc(r), content[i]) << i;
    EXPECT_EQ(GetErrno(), -4) << "a byte read leaves the status variable alone";
    EXPECT_EQ(d->count.of(Op::Read), 1u);
    const struct { int16_t position, limit; } odd[] = {{-1, 512}, {10, 1025}, {513, 512}};
    for (auto &o : odd) {
        const int16_t position = fi->position, limit = fi->limit;
        fi->position = o.position, fi->limit = o.limit;
        EXPECT_EQ(FS_Getc(r), -1) << o.position << " " << o.limit;
        EXPECT_EQ(GetErrno(), -10) << o.position << " " << o.limit;
        fi->position = position, fi->limit = limit;
    }
    fi->position = fi->limit;  // skips the rest of the second block
    EXPECT_EQ(FS_Getc(r), content[1020]);
    EXPECT_EQ(readAll(r), ok(Bytes(content.begin() + 1021, content.end())));
    EXPECT_EQ(FS_Getc(r), -1) << "closed";
    EXPECT_EQ(GetErrno(), -1) << "a closed handle leaves the status alone";
}

// FS_ReadFileEx leaves what as many FS_Getc calls leave: bytes, statuses, the open-file record and
// the device operations, for runs shorter and longer than a block, with any one read after the open
// failing or flipped.
TEST(FilesData, RunsReadWhatByteCallsRead) {
    struct Outcome {
        std::vector<long long> seen;  // per run: status, position, limit, blocks done
        Bytes buffers;                // the record's buffer after every run
        std::vector<Bytes> got;       // per run: the caller's buffer
        uint64_t reads = 0;
    };
    for (bool flash : {false, true}) {
        Dev d = mounted(make(flash));
        const size_t bs = d->blockSizeBytes(), room = bs - 2;
        ASSERT_EQ(writeFile("runs.1", pattern(9 * room + 17, 31)), -1);
        auto read = [&](size_t run, bool inRuns, uint64_t n, Fault kind, const Outcome *bytewise) {
            Outcome o;
            d->armFault(Op::Read, 0);  // a fault the last read did not reach strikes no open
            const int16_t h = FS_OpenR("runs.1");
            EXPECT_GE(h, 0);
            d->resetCounters();
            if (n) d->armFault(Op::Read, n, -100, kind);
            for (int16_t st = -1; st == -1;) {
                // The caller's whole buffer is compared, except after a flipped read, which may end
                // the chain early: then only the bytes the byte calls delivered.
                Bytes got(run, 0xA5);
                if (inRuns) {
                    st = FS_ReadFileEx(h, got.data(), uint32_t(run));
                    const size_t k = o.got.size();
                    if (kind == Fault::Flipped) got.resize(k < bytewise->got.size() ? bytewise->got[k].size() : 0);
                } else {
                    size_t done = 0;
                    for (int16_t c; done < run && (c = FS_Getc(h)) != -1;) got[done++] = uint8_t(c);
                    st = done == run ? int16_t(-1) : int16_t(GetErrno());
                    if (kind == Fault::Flipped) got.resize(done);
                }
                const FileInfo *r = FS_FileInfo(h);
                o.seen.insert(o.seen.end(), {st, r->position, r->limit, r->blocksDone});
                o.buffers.insert(o.buffers.end(), r->buffer, r->buffer + bs);
                o.got.push_back(got);
            }
            o.reads = d->count.of(Op::Read);
            FS_CloseR(h);
            return o;
        };
        for (size_t run : {size_t{1}, room, room + 1, 2 * room, 3 * room + 5, 12 * room})
            for (Fault kind : {Fault::Fails, Fault::Flipped})
                for (uint64_t n = 0; n <= 11; n++) {
                    const Outcome bytewise = read(run, false, n, kind, nullptr), runs = read(run, true, n, kind, &bytewise);
                    const std::string what = "run " + std::to_string(run) + ", read " + std::to_string(n) + " struck";
                    EXPECT_EQ(runs.seen, bytewise.seen) << what;
                    EXPECT_TRUE(runs.buffers == bytewise.buffers) << what;
                    EXPECT_TRUE(runs.got == bytewise.got) << what;
                    EXPECT_EQ(runs.reads, bytewise.reads) << what;
                }
    }
}

TEST(FilesData, ChainCheckRejectsWrongCountsLoopsAndStrayLinks) {
    Dev d = mounted(makeDiskette());
    const Bytes content = pattern(3 * 510 - 5, 4);
    ASSERT_EQ(writeFile("chain.1", content), -1);
    ASSERT_EQ(writeFile("chain.2", content), -1);
    uint8_t *e1 = d->block(0) + 16, *e2 = e1 + 16;
    const Ints chain = chainOf(d.get(), word(e1 + 2));
    FileDescr fd = descrOf(1);
    for (uint16_t wrong : {uint16_t{2}, uint16_t{4}}) {  // one block too few, one too many
        putWord(e1 + 12, wrong);
        EXPECT_EQ(FS_OpenR("chain.1"), -10) << wrong;
        EXPECT_EQ(FD_OpenR(&fd), -10) << wrong;
        EXPECT_EQ(recordsInUse(), 0) << wrong;
        EXPECT_EQ(readAll(FD_OpenR_NoIntegrityTest(&fd)), ok(content)) << "reading stops at the last block";
    }
    putWord(e1 + 12, 3);
    putWord(d->block(chain[2]), uint16_t(chain[0]));  // the last block now leads back to the first
    EXPECT_EQ(FS_OpenR("chain.1"), -10);
    const Read circle = readAll(FD_OpenR_NoIntegrityTest(&fd));
    EXPECT_EQ(circle.first, -10);
    EXPECT_LT(circle.second.size(), size_t(d->geometry.totalBlocks) * 512);
    EXPECT_EQ(FS_Delete("chain.1"), -1) << "the circle is followed a bounded number of times";
    putWord(d->block(word(e2 + 2)), 0x7000);  // block 28672 does not exist
    EXPECT_EQ(FS_OpenR("chain.2"), -103);
    EXPECT_EQ(recordsInUse(), 0);
    ASSERT_EQ(writeFile("chain.3", pattern(10, 1)), -1);  // takes the freed entry 1
    putWord(d->block(word(e1 + 2)), 0x8000 | 513);       // one byte more than a block holds
    EXPECT_EQ(FS_OpenR("chain.3"), -10);
    EXPECT_EQ(recordsInUse(), 0);
}

TEST(FilesWrite, StatusesOfOpenWriteCloseAndHandles) {
    Dev d = mounted(makeDiskette());
    const Bytes a = pattern(600, 3);
    ASSERT_EQ(writeFile("r.1", a), -1);
    ASSERT_EQ(writeFile("r.2", a), -1);
    FileDescr fd = descrOf(1);
    const int16_t w = FS_OpenW("w.1"), r = FS_OpenR("r.1");
    ASSERT_GE(w, 0);
    ASSERT_GE(r, 0);
    EXPECT_EQ(FS_OpenW("w.2"), -59);
    EXPECT_EQ(FS_Delete("r.1"), -59);
    EXPECT_EQ(FD_Delete(&fd), -59);
    EXPECT_EQ(FS_Rename("r.1", "q.1"), -59);
    EXPECT_EQ(FS_OpenR("r.2"), -51);
    EXPECT_EQ(GetErrno(), -51);
    EXPECT_EQ(FS_Putc('x', r), -56);
    EXPECT_EQ(FS_CloseW(r), -56);
    EXPECT_EQ(FS_CloseR(w), -59);
    EXPECT_EQ(FS_Getc(r), a[0]);
    EXPECT_EQ(FS_Puts("hi", w), -1);
    for (int16_t h : std::initializer_list<int16_t>{2, -1, 32767, -32768}) {  // refused without touching the open files
        uint8_t buf[8] = {0x5A};
        FileDescr out;
        EXPECT_EQ(FS_Getc(h), -1) << h;
        for (int16_t st : {FS_ReadFileEx(h, buf, 8), FS_Putc('x', h), FS_WriteFileEx(h, buf, 8), FS_CloseW(h),
                           FS_CloseR(h), FD_GetFileDescr(h, &out)})
            EXPECT_EQ(st, -56) << h;
        EXPECT_EQ(buf[0], 0x5A) << h;
        EXPECT_EQ(FS_FileInfo(h), nullptr) << h;
    }
    EXPECT_EQ(FS_Getc(r), a[1]);
    EXPECT_EQ(FS_WriteFile(w, "abc", 3), -1);
    EXPECT_EQ(FS_CloseW(w), -1);
    EXPECT_EQ(FS_CloseR(r), -1);
    EXPECT_EQ(readBack("W.001"), ok({'h', 'i', 'a', 'b', 'c'}));
    const int16_t f = FS_OpenW("f.1");  // after a failed append a successful call makes the close commit
    ASSERT_EQ(FS_WriteFileEx(f, a.data(), 510), -1);
    d->armFault(Op::Write, 1, -100);
    EXPECT_EQ(FS_Putc('y', f), -100);
    EXPECT_EQ(FS_Putc('z', f), -1);
    EXPECT_EQ(FS_CloseW(f), -1);
    EXPECT_EQ(readBack("f.1"), ok(Bytes(a.begin(), a.begin() + 510) + "7A"));
    for (int i = 5; i <= 63; i++) ASSERT_EQ(writeFile("e." + std::to_string(i), {}), -1) << i;
    EXPECT_EQ(FS_OpenW("full.1"), -2) << "all 63 entries in use";
    EXPECT_EQ(recordsInUse(), 0);
}

// A close whose last block cannot be written drops the file, frees its blocks and reports the failure.
TEST(FilesWrite, CloseWhoseLastBlockFailsDropsTheFile) {
    for (bool flash : {false, true}) {
        Dev d = mounted(make(flash));
        const int used = FS_BlocksUsed();
        const Bytes b = pattern(2 * 510 + 7, 9);  // two full blocks written on the way, the last by the close
        const int16_t h = FS_OpenW("last.1");
        ASSERT_EQ(FS_WriteFileEx(h, b.data(), uint32_t(b.size())), -1);
        d->armFault(Op::Write, 1, -100);
        EXPECT_EQ(FS_CloseW(h), -100) << flash;
        EXPECT_EQ(GetErrno(), -100) << flash;
        EXPECT_EQ(readBack("last.1").first, -4) << flash;
        EXPECT_EQ(FS_BlocksUsed(), used) << flash;
        EXPECT_EQ(writeFile("last.1", b), -1) << flash;
        EXPECT_EQ(readBack("last.1"), ok(b)) << flash;
    }
}

// Deleting frees exactly the file's own blocks, in whatever order its chain runs (one-bit map: the
// bit cleared; two-bit map: in use becomes released), and changes nothing in the directory but its
// entry's extension.
TEST(FilesDelete, ReleasesExactlyItsOwnBlocksAndKeepsTheEntryBytes) {
    for (bool flash : {false, true}) {
        if (flash) parkAllocationCursor(2);
        Dev d = mounted(make(flash));
        ASSERT_EQ(writeFile("a.1", {1}), -1);
        ASSERT_EQ(writeFile("kept.1", pattern(5, 7)), -1);
        ASSERT_EQ(FS_Delete("a.1"), -1);
        ASSERT_EQ(writeFile("gone.1", pattern(size_t(2 * int(d->blockSizeBytes()) - 3), 6)), -1);
        ASSERT_EQ(writeFile("after.1", {2}), -1);
        const Ints chain = chainOf(d.get(), listDir()[1].firstBlock);  // released blocks wait for reclamation
        EXPECT_EQ(chain, flash ? (Ints{258, 259, 260}) : (Ints{3, 5, 6}));
        Bytes map = mapOf(d.get()), entries(d->block(headerOf(d.get())), d->block(headerOf(d.get()) + 1));
        d->resetCounters();
        EXPECT_EQ(FS_Delete("nothere.1"), -4);
        EXPECT_EQ(d->count.of(Op::Write) + d->count.of(Op::Erase), 0u) << "nothing written";
        EXPECT_EQ(FS_Delete("GONE.1"), -1);
        for (int b : chain) map[size_t(flash ? b / 4 : b / 8)] ^= uint8_t(1 << (flash ? 2 * (b % 4) : b % 8));
        EXPECT_EQ(mapOf(d.get()), map);
        entries[16] = entries[17] = 0;
        EXPECT_EQ(Bytes(d->block(headerOf(d.get())), d->block(headerOf(d.get()) + 1)), entries);
        EXPECT_EQ(readBack("kept.1"), ok(pattern(5, 7)));
        ASSERT_EQ(writeFile("new.1", {}), -1);
        EXPECT_EQ(findName(listDir(), "new     ", 1), 1) << "the freed entry is taken again";
    }
}

TEST(FilesRename, KeepsTheChainAndTheReservedWordAndRefusesClashes) {
    Dev a = own(makeDiskette()), b = own(makeDiskette(2880, 1));
    DeviceDescriptor *table[] = {a->dev(), b->dev(), nullptr};
    ASSERT_EQ(FS_SetDeviceTable(table), -1);
    ASSERT_EQ(FS_Format("B:VOL2"), -1);
    ASSERT_EQ(FS_Format("A:VOL"), -1);
    ASSERT_EQ(FS_Init(nullptr), -1);
    const Bytes p = pattern(1500, 8), q = pattern(20, 9);
    ASSERT_EQ(writeFile("x.1", p), -1);
    putWord(a->block(0) + 16 + 14, 0xBEEF);
    const DirEntry old = listDir()[1];
    EXPECT_EQ(FS_Rename("x.1", "X.1"), -5);
    EXPECT_EQ(FS_Rename("A:x.1", "B:z.1"), -52);
    EXPECT_EQ(FS_Rename("x.1", "z.0"), -103);
    EXPECT_EQ(FS_Rename("X.1", "NewName.42"), -1);
    const DirEntry now = listDir()[1];
    EXPECT_EQ(std::make_tuple(std::string(now.name, 8), now.extension, now.firstBlock, now.blockCount, now.reserved),
              std::make_tuple(std::string("NewName "), uint16_t{42}, old.firstBlock, old.blockCount, uint16_t{0xBEEF}));
    EXPECT_EQ(readBack("newname.42"), ok(p));
    ASSERT_EQ(writeFile("B:file.001", q), -1);  // goes to the second device
    EXPECT_GE(findName(listDir(b->dev()), "file    ", 1), 1);
    EXPECT_EQ(findName(listDir(), "file    ", 1), -1);
    EXPECT_EQ(FS_Rename("B:FILE.1", "B:moved.3"), -1);
    EXPECT_EQ(readBack("B:moved.3"), ok(q));
}

TEST(FilesDescr, DescriptorsNameEntriesByPosition) {
    Dev d = mounted(makeDiskette());
    const Bytes p = pattern(800, 10);
    for (int i = 1; i <= 35; i++) {
        const std::string name = i == 2 ? "\xE9.1" : i == 35 ? "ABCDEFGH.5" : "f" + std::to_string(i) + ".1";
        ASSERT_EQ(writeFile(name, i == 35 ? p : Bytes{}), -1);
    }
    FileDescr fd = descrOf(35), e9 = descrOf(2), fh;
    EXPECT_EQ(fields(fd), fields({0x0008, 35, 5, d->dev()}));
    EXPECT_EQ(fields(e9), fields({0xFFC9, 2, 1, d->dev()}));
    int16_t h = FS_OpenR("abcdefgh.5");
    ASSERT_EQ(FD_GetFileDescr(h, &fh), -1);
    EXPECT_EQ(fields(fh), fields(fd));
    FS_CloseR(h);
    DirScan s;
    char name[10] = "ZZZZZZZZZ";
    EXPECT_EQ(FD_GetNameOfFile(&fd, name, &s), -1);
    EXPECT_EQ(std::string(name, 10), std::string("ABCDEFGHZ", 10)) << "no terminator after 8 bytes";
    EXPECT_EQ(readAll(FD_OpenR(&fd)), ok(p));
    const int used = FS_BlocksUsed();
    EXPECT_EQ(FD_Delete(&fd), -1);
    EXPECT_EQ(FS_BlocksUsed(), used - 2);
    EXPECT_EQ(FD_OpenR(&fd), -4);
    EXPECT_EQ(FS_OpenR("ABCDEFGH.5"), -4);
    FileDescr f3 = {uint16_t('f' ^ '3'), 3, 1, d->dev()};
    EXPECT_EQ(FD_OpenR(&f3), 0);
    FD_CloseR(0);
    EXPECT_EQ(FS_Rename("f3.1", "g3.1"), -1);
    for (int16_t n : std::initializer_list<int16_t>{3, 64, -1}) {
        f3.entryNumber = n;
        EXPECT_EQ(FD_OpenR(&f3), -4) << n;
        EXPECT_EQ(FD_Delete(&f3), -4) << n;
    }
}

// Each write-back puts the system area into the next slot, or into the first slot of the other system
// sector (erased first) when the copy after it would not fit in the sector, and invalidates the old copy.
TEST(FilesFlash, WriteBackRotatesThroughTheSystemSlots) {
    const struct { RamDevice *(*make)(); Ints slots; int files; } media[] = {
        {[] { return makeFlashCard(); }, {17, 34, 51, 68, 85, 102, 128, 145, 162, 179, 196, 213, 230, 0}, 40},
        {[] { return makeFlash(512, 48, 1, 16, 4096, 6, 2); }, {2, 4, 8, 10, 12, 0}, 13}};  // 6 would end a sector
    for (const auto &m : media) {
        Dev d = mounted(m.make());
        const int B = d->flash.sectorSize / int(d->blockSizeBytes());
        const size_t most = m.files > 20 ? 1300 : 500;
        auto content = [most](int i) { return pattern(size_t(i * 97) % most, unsigned(i)); };
        for (int i = 1; i <= m.files; i++) {
            ASSERT_EQ(writeFile("rot." + std::to_string(i), content(i)), -1);
            const int h = m.slots[size_t(i - 1) % m.slots.size()];
            EXPECT_EQ(headerOf(d.get()), h) << "write-back " << i;
            for (int s : m.slots) {  // in h's sector: copies used since its erase, h, untouched slots
                const std::string sig(reinterpret_cast<const char *>(d->block(s)) + 1, 3);
                const std::string want = s / B != h / B ? sig == "DOS" ? "not DOS" : sig
                                         : s < h ? std::string(3, '\0') : s == h ? "DOS" : "\xFF\xFF\xFF";
                EXPECT_EQ(sig, want) << "slot " << s << ", write-back " << i;
            }
        }
        ASSERT_EQ(FS_Init(nullptr), -1);
        for (int i = 1; i <= m.files; i++) EXPECT_EQ(readBack("rot." + std::to_string(i)), ok(content(i)));
    }
}

// Faults the library cannot see: a write that does nothing, a read with flipped bits. Whatever they
// strike, the library keeps to the medium and to its own statuses; a lost write that strikes a file
// block (or any block of a diskette, which is rewritten in place) spares the other files and the
// volume, and a flipped read harms only the read that made it.
TEST(FilesFaults, LostWritesAndFlippedReads) {
    const std::pair<std::string, Bytes> kept[] = {{"k1.1", pattern(700, 21)}, {"k2.1", pattern(1200, 22)}};
    for (bool flash : {false, true}) {
        for (uint64_t n = 1;; n++) {  // each write of creating a three-block file is lost in turn
            Dev d = mounted(make(flash));
            for (auto &[name, bytes] : kept) ASSERT_EQ(writeFile(name, bytes), -1);
            d->armFault(Op::Write, n, -1, Fault::Lost);
            EXPECT_EQ(writeFile("new.1", pattern(1300, 23)), -1) << "nothing tells the loss from success";
            if (d->struck < 0) break;
            const int16_t mount = FS_Init(nullptr);
            const int32_t read = readBack("new.1").first;
            EXPECT_TRUE(documented(mount)) << mount;
            EXPECT_TRUE(documented(read)) << read << " after losing write " << n;
            if (flash && d->struck < d->geometry.firstDataBlock) continue;
            EXPECT_EQ(mount, -1) << "write " << n << " to block " << d->struck;
            EXPECT_EQ(writeFile("more.1", kept[0].second), -1) << "write " << n;
            EXPECT_EQ(readBack("more.1"), ok(kept[0].second)) << "write " << n;
            for (auto &[name, bytes] : kept) EXPECT_EQ(readBack(name), ok(bytes)) << "write " << n << " to block " << d->struck;
        }
        for (Op op : {Op::Read, Op::ReadBytes}) {
            for (uint64_t n = 1; flash || op == Op::Read; n++) {  // each read of reading the files back is flipped in turn
                Dev d = mounted(make(flash));
                for (auto &[name, bytes] : kept) ASSERT_EQ(writeFile(name, bytes), -1);
                d->armFault(op, n, -1, Fault::Flipped);
                for (auto &[name, bytes] : kept) {
                    const bool before = d->struck >= 0;
                    const Read r = readBack(name);
                    if (before || d->struck < 0) {
                        EXPECT_EQ(r, ok(bytes)) << name << ", read " << n << " flipped";
                    } else {
                        EXPECT_TRUE(documented(r.first)) << r.first;
                    }
                }
                if (d->struck < 0) break;
                EXPECT_EQ(FS_Init(nullptr), -1);
                for (auto &[name, bytes] : kept) EXPECT_EQ(readBack(name), ok(bytes)) << name << ", read " << n << " flipped";
            }
        }
    }
}

}  // namespace
