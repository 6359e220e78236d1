// FS_Check and FS_Repair: leaked blocks after a cut reclaimed, a map marking a live file free mended
// before anything overwrites the file, broken and shared chains reported with their entries left,
// a repair cut at every device write; and the restoring of what a cut reclamation left in the spare.
#include <functional>
#include <set>

#include "helpers.h"
#include "volume_image.h"

using ramdev::Op;
using ramdev::RamDevice;
using Model = std::map<std::string, Bytes>;

namespace {

RamDevice *make(bool flash) { return flash ? ramdev::makeFlash(512, 256, 2, 32, 8192, 16, 2) : ramdev::makeDiskette(256); }
volimage::Image image(RamDevice *r) {
    return volimage::decode(r->desc, [r](int32_t b) -> const uint8_t * { return r->block(b); });
}
FS_RepairReport check(const char *drive = nullptr) {
    FS_RepairReport rep;
    EXPECT_EQ(FS_Check(drive, &rep), -1);
    return rep;
}
// files, live, broken, shared, leaked, unmarked, released blocks, map written
Ints counts(const FS_RepairReport &r) {
    return {r.files, r.liveBlocks, r.brokenFiles, r.sharedFiles, r.leakedBlocks, r.unmarkedBlocks, r.releasedBlocks, r.mapWritten};
}
void setFree(RamDevice *r, const Ints &blocks) {  // on the medium's map
    uint8_t *map = r->block(headerOf(r) + r->geometry.dirBlocks);
    for (int b : blocks) r->isFlash ? void(map[b / 4] &= uint8_t(~(3 << 2 * (b % 4)))) : void(map[b / 8] &= uint8_t(~(1 << b % 8)));
}
Ints chainOfName(RamDevice *r, const std::string &name) {
    for (const auto &f : image(r).files)
        if (f.name == name) return Ints(f.chain.begin(), f.chain.end());
    return {};
}

// A cut between the map write and the entry write of a commit (diskette) leaves the file's blocks in
// use with no entry naming them; the check counts them, the repair frees them, and they are used again.
TEST(Repair, LeakedBlocksAfterACutAreReclaimed) {
    Dev d = mounted(make(false));
    const Bytes kept = pattern(1500, 1), lost = pattern(5 * 510, 2);
    ASSERT_EQ(writeFile("KEPT.1", kept), -1);
    const int used = FS_BlocksUsed();
    d->cutPowerAfter(6);  // 5 file blocks, then the map; the entry write is cut
    EXPECT_EQ(writeFile("LOST.1", lost), ramdev::kPowerOff);
    d->restorePower();
    ASSERT_EQ(FS_Init(nullptr), -1);
    EXPECT_EQ(readBack("LOST.1").first, -4);
    EXPECT_EQ(FS_BlocksUsed(), used + 5);
    EXPECT_EQ(counts(check()), (Ints{1, 3, 0, 0, 5, 0, 0, 0}));
    FS_RepairReport rep;
    d->resetCounters();
    ASSERT_EQ(FS_Repair("A:", &rep), -1);
    EXPECT_EQ(counts(rep), (Ints{1, 3, 0, 0, 5, 0, 0, 1}));
    EXPECT_EQ(d->count.of(Op::Write), 2u) << "the map, and the header block rewritten as it was";
    EXPECT_EQ(counts(check()), (Ints{1, 3, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(FS_BlocksUsed(), used);
    ASSERT_EQ(FS_Repair(nullptr, &rep), -1);
    EXPECT_EQ(rep.mapWritten, 0) << "a clean map is not written again";
    ASSERT_EQ(writeFile("LOST.1", lost), -1);
    EXPECT_EQ(chainOfName(d.get(), "lost.1"), (Ints{6, 7, 8, 9, 10})) << "the leaked blocks are taken again";
    EXPECT_EQ(readBack("KEPT.1"), ok(kept));
}

// On flash a leaked block that holds data is released, for reclamation to erase; one that reads
// erased becomes free at once.
TEST(Repair, FlashLeaksAreReleasedOrFreed) {
    parkAllocationCursor(2);
    Dev f = mounted(make(true));
    ASSERT_EQ(writeFile("A.1", pattern(700, 3)), -1);
    ASSERT_EQ(chainOfName(f.get(), "a.1"), (Ints{32, 33}));
    f->block(headerOf(f.get()) + 2)[8] = 0xFF;  // 32 to 35 in use
    f->block(34)[100] = 0x5A;                  // 34 was written, 35 not
    EXPECT_EQ(counts(check()), (Ints{1, 2, 0, 0, 2, 0, 0, 0}));
    FS_RepairReport rep;
    ASSERT_EQ(FS_Repair(nullptr, &rep), -1);
    EXPECT_EQ(counts(check()), (Ints{1, 2, 0, 0, 0, 0, 1, 0}));
    EXPECT_EQ(mapOf(f.get())[8], 0x2F) << "32, 33 in use, 34 released, 35 free";
    EXPECT_EQ(rep.sectorCount, 16);
    EXPECT_EQ((Ints{rep.sectorUsed[0], rep.sectorUsed[2], rep.sectorReleased[2], rep.freeSectors}), (Ints{16, 4, 0, 13}))
        << "the report describes the map before the repair";
    EXPECT_EQ(readBack("A.1"), ok(pattern(700, 3)));
}

// A map that calls a file's blocks free would let the next write take them; the repair marks them in
// use first, and writes filling the medium leave the file alone.
TEST(Repair, MapMarkingALiveFileFreeIsMendedBeforeAnythingOverwritesIt) {
    for (bool flash : {false, true}) {
        if (flash) parkAllocationCursor(2);
        Dev d = mounted(make(flash));
        const Bytes first = pattern(3000, 4), second = pattern(900, 5);
        ASSERT_EQ(writeFile("FIRST.1", first), -1);
        ASSERT_EQ(writeFile("SECOND.2", second), -1);
        setFree(d.get(), chainOfName(d.get(), "first.1"));
        EXPECT_EQ(counts(check()), (Ints{2, 8, 0, 0, 0, 6, 0, 0})) << flash;
        FS_RepairReport rep;
        ASSERT_EQ(FS_Repair(nullptr, &rep), -1);
        EXPECT_EQ(counts(check()), (Ints{2, 8, 0, 0, 0, 0, 0, 0})) << flash;
        int16_t st = -1;
        for (int n = 0; st == -1 && n < 100; n++) st = writeFile("FILL." + std::to_string(n + 1), pattern(4000, uint32_t(n)));
        EXPECT_EQ(st, -3) << "the medium filled up";
        EXPECT_EQ(readBack("FIRST.1"), ok(first)) << flash;
        EXPECT_EQ(readBack("SECOND.2"), ok(second)) << flash;
        EXPECT_EQ(check().leakedBlocks + check().unmarkedBlocks, 0);
    }
}

// Chains that break off or run into another file are named by entry and left for the host; their
// blocks stay in use.
TEST(Repair, BrokenAndSharedChainsAreReportedAndLeft) {
    Dev d = mounted(make(false));
    ASSERT_EQ(writeFile("A.1", pattern(1200, 6)), -1);  // blocks 3 4 5
    ASSERT_EQ(writeFile("B.2", pattern(1200, 7)), -1);  // 6 7 8
    ASSERT_EQ(writeFile("C.3", pattern(100, 8)), -1);   // 9
    putWord(d->block(7), 4);                            // B runs into A after its second block
    putWord(d->block(9), 0x8000 + 600);                 // C's last block claims more than a block
    FS_RepairReport rep;
    ASSERT_EQ(FS_Repair(nullptr, &rep), -1);
    EXPECT_EQ(counts(rep), (Ints{3, 6, 2, 2, 1, 0, 0, 1})) << "8 leaks; A and B share 4, B and C are broken";
    ASSERT_EQ(rep.problemsListed, 3);
    std::set<std::pair<int, int>> problems;
    for (int i = 0; i < rep.problemsListed; i++) problems.insert({rep.problems[i].entryNumber, rep.problems[i].problem});
    EXPECT_EQ(problems, (std::set<std::pair<int, int>>{{1, 2}, {2, 3}, {3, 1}}));
    EXPECT_EQ(rep.problems[1].blocksFound, 3) << "B: 6, 7, 4, and no last block";
    EXPECT_EQ(listDir().size(), 64u);
    EXPECT_EQ(FS_FilesPresent(nullptr), -103);
    DirScan s;
    EXPECT_EQ(FS_FilesPresent(&s), 3) << "the entries stay";
    EXPECT_EQ(readBack("A.1"), ok(pattern(1200, 6)));
}

TEST(Repair, Statuses) {
    Dev d = mounted(make(false));
    FS_RepairReport rep;
    EXPECT_EQ(FS_Check(nullptr, nullptr), -103);
    EXPECT_EQ(FS_Repair(nullptr, nullptr), -103);
    EXPECT_EQ(FS_Check("B:", &rep), -18);
    EXPECT_EQ(GetErrno(), -18);
    const int16_t h = FS_OpenW("W.1");
    EXPECT_EQ(FS_Repair(nullptr, &rep), -59);
    EXPECT_EQ(FS_Check(nullptr, &rep), -1) << "the check reads and may run beside a write";
    EXPECT_EQ(FS_CloseW(h), -1);
    d->armFault(Op::Read, 2, -321);
    EXPECT_EQ(FS_Check(nullptr, &rep), -321);
    d->block(0)[2] = 'X';
    EXPECT_EQ(FS_Repair(nullptr, &rep), -6);
}

// A repair cut after each of its device writes, whole or torn: powered up again the volume mounts,
// every file reads back, and a second repair leaves the map exact.
TEST(Repair, CutAtEveryWriteOfARepair) {
    for (bool flash : {false, true}) {
        for (int64_t cut = 0;; cut++) {
            if (flash) parkAllocationCursor(2);
            Dev d = mounted(make(flash));
            std::map<std::string, Bytes> files;
            for (int i = 1; i <= 5; i++) {
                files["f." + std::to_string(i)] = pattern(size_t(i) * 700, uint32_t(i));
                ASSERT_EQ(writeFile("f." + std::to_string(i), files["f." + std::to_string(i)]), -1);
            }
            d->cutPowerAfter(6);
            writeFile("lost.9", pattern(5 * 510, 9));  // leaks on the diskette
            d->restorePower();
            setFree(d.get(), chainOfName(d.get(), "f.3"));
            ASSERT_EQ(FS_Init(nullptr), -1);
            d->resetCounters();
            d->cutPowerAfter(cut, cut % 2 == 1);
            FS_RepairReport rep;
            const int16_t st = FS_Repair(nullptr, &rep);
            d->restorePower();
            SCOPED_TRACE("flash " + std::to_string(flash) + ", cut after " + std::to_string(cut) + " writes");
            ASSERT_EQ(FS_Init(nullptr), -1);
            for (const auto &[name, bytes] : files) EXPECT_EQ(readBack(name), ok(bytes)) << name;
            ASSERT_EQ(FS_Repair(nullptr, &rep), -1);
            EXPECT_EQ(check().unmarkedBlocks + check().leakedBlocks, 0);
            if (st == -1) break;
        }
    }
}

// A reclamation cut after the spare took the live blocks of one sector: only that sector is restored
// from the spare. A block of another sector at the same place, holding every bit of the copy and more,
// is a live block of its own and stays as it is.
TEST(Repair, ReclamationLeftoversRestoreOnlyTheirOwnSector) {
    parkAllocationCursor(2);
    Dev f = mounted(ramdev::makeFlash(512, 48, 1, 16, 4096, 6, 2));  // 8 blocks a sector, data sectors 2-5
    ASSERT_EQ(writeFile("E.1", {}), -1);                              // block 16: 02 80 00 ...
    ASSERT_EQ(writeFile("FILL.1", pattern(7 * 510, 1)), -1);          // 17-23
    ASSERT_EQ(writeFile("F.1", {0x41}), -1);                          // 24: 03 80 41 00 ...
    ASSERT_EQ(chainOfName(f.get(), "f.1"), Ints{24});
    std::copy(f->block(16), f->block(24), f->block(40));  // the spare holds sector 2's blocks
    std::fill(f->block(16), f->block(17), 0xFF);          // whose erase was cut short
    ASSERT_EQ(FS_Init(nullptr), -1);
    EXPECT_EQ(readBack("E.1"), ok({})) << "restored from the spare";
    // The spare still holds the copies: once their own sector is whole again, they fit F.1's block
    // at the same place as well, and must not be programmed over it.
    FS_RepairReport rep;
    EXPECT_EQ(FS_Repair(nullptr, &rep), -1);
    EXPECT_EQ(writeFile("NEW.1", pattern(3000, 3)), -1);  // takes the free sectors, the spare among them
    EXPECT_EQ(readBack("E.1"), ok({}));
    EXPECT_EQ(readBack("F.1"), ok({0x41}));
    EXPECT_EQ(readBack("FILL.1"), ok(pattern(7 * 510, 1)));
    EXPECT_EQ(readBack("NEW.1"), ok(pattern(3000, 3)));
}

// Copies that fit two sectors as well, here the one they came from and an earlier one whose only live
// block holds every bit of the copy at its place, are programmed over neither.
TEST(Repair, ReclamationLeftoversThatFitTwoSectorsAreLeft) {
    parkAllocationCursor(2);
    Dev f = mounted(ramdev::makeFlash(512, 48, 1, 16, 4096, 6, 2));
    ASSERT_EQ(writeFile("F.1", {0x41}), -1);                      // block 16: 03 80 41 00 ...
    ASSERT_EQ(writeFile("FILL.1", pattern(7 * 510, 1)), -1);      // 17-23, released below
    ASSERT_EQ(writeFile("E.1", {}), -1);                          // 24: 02 80 00 ...
    ASSERT_EQ(FS_Delete("FILL.1"), -1);
    std::copy(f->block(24), f->block(32), f->block(40));  // the spare holds sector 3's blocks
    std::fill(f->block(24), f->block(25), 0xFF);          // whose erase was cut short
    ASSERT_EQ(FS_Init(nullptr), -1);
    EXPECT_EQ(readBack("F.1"), ok({0x41}));
    FS_RepairReport rep;
    EXPECT_EQ(FS_Repair(nullptr, &rep), -1);
    EXPECT_EQ(readBack("F.1"), ok({0x41}));
}

// Nothing else in a free sector is taken for a copy a cut reclamation left. Each case leaves a flash
// volume; mounted, repaired, and again after one more file (whose allocation erases free sectors),
// its files read back and the map is exact.
TEST(Repair, FreeSectorsThatShowWritesHoldNoCopies) {
    auto bytes = [](size_t n, int how) {
        Bytes b(n);
        for (size_t i = 0; i < n; i++) b[i] = uint8_t(i * 13 + size_t(how));
        return b;
    };
    auto write = [](const char *name, const std::vector<Bytes> &runs) {  // left open
        const int16_t h = FS_OpenW(name);
        for (const Bytes &b : runs) EXPECT_EQ(FS_WriteFileEx(h, b.data(), uint32_t(b.size())), -1);
        return h;
    };
    const Bytes run = bytes(9690, 128);
    const struct { const char *name; int live; std::function<Model(RamDevice *)> setup; } cases[] = {
        // Found by fuzz_ops: a write that FS_Init drops leaves its blocks programmed in sectors the map
        // calls free. Such a sector looks like a spare a cut reclamation left, and another file of the
        // same bytes at other places must not be patched from it.
        {"dropped write", 38, [&](RamDevice *) {
            write("B.2", {run, run});
            EXPECT_EQ(FS_Init(nullptr), -1);
            FS_RepairReport rep;
            EXPECT_EQ(FS_Repair(nullptr, &rep), -1);
            EXPECT_EQ(writeFile("G.12", run + run), -1);
            return Model{{"g.12", run + run}};
        }},
        // Found by fuzz_medium: a free sector of zeros is not erased, and zero bytes are a subset of
        // every block; taken for a spare, it would zero the sector with the most live blocks.
        {"zeroed free sector", 7, [](RamDevice *f) {
            const Model files = {{"a.1", pattern(3000, 1)}, {"b.2", {}}};
            for (const auto &[n, b] : files) EXPECT_EQ(writeFile(n, b), -1);
            std::fill(f->block(96), f->block(112), 0);  // sector 6, free on the map
            return files;
        }},
        // Found by fuzz_ops: writes dropped by FS_Init leave stale blocks in free sectors, and the same
        // bytes written again land elsewhere, each block holding every bit of the stale one at its place
        // (the link words happen to). The stale blocks link to free blocks: they are no copies.
        {"rewritten bytes", 57, [&](RamDevice *) {
            write("A.1", {run, bytes(7988, 255)});
            EXPECT_EQ(FS_Init(nullptr), -1);
            write("B.2", {run, run});
            EXPECT_EQ(FS_Init(nullptr), -1);
            EXPECT_EQ(FS_CloseW(write("B.2", {run, run, bytes(9689, 129)})), -1);
            return Model{{"b.2", run + run + bytes(9689, 129)}};
        }}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        parkAllocationCursor(2);
        Dev f = mounted(make(true));
        Model files = c.setup(f.get());
        for (int live = c.live; live <= c.live + 18; live += 18) {
            ASSERT_EQ(FS_Init(nullptr), -1);
            for (const auto &[name, b] : files) EXPECT_EQ(readBack(name), ok(b)) << name;
            FS_RepairReport rep;
            ASSERT_EQ(FS_Repair(nullptr, &rep), -1);
            EXPECT_EQ(counts(check()), (Ints{int(files.size()), live, 0, 0, 0, 0, 0, 0}));
            if (live == c.live) {
                ASSERT_EQ(writeFile("new.1", files["new.1"] = pattern(9000, 3)), -1);
            }
        }
    }
}

}  // namespace
