// Randomised workloads checked against a model of the files, and power cuts; on flash and diskette media.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

#include "helpers.h"

using namespace ramdev;
using Model = std::map<std::string, Bytes>;  // name -> content of the committed files

namespace {

long envLong(const char *name, long fallback) {
    const char *v = getenv(name);
    return v && *v ? strtol(v, nullptr, 10) : fallback;
}
int blocksOf(const Model &m, int bs) {
    int n = 0;
    for (auto &f : m) n += blocksFor(f.second.size(), bs);
    return n;
}
std::string spelling(std::string s, std::mt19937 &rng) {  // letter case and leading zeros do not count
    for (char &c : s) c = rng() % 2 ? char(toupper(c)) : c;
    return rng() % 3 ? s : s.insert(s.find('.') + 1, "00");
}
int erasedBlocks(RamDevice *d) {  // blocks free without reclaiming a sector, less the spare
    const Bytes map = mapOf(d);
    int n = -d->flash.sectorSize / d->geometry.blockSize;
    for (int b = d->geometry.firstDataBlock; b < d->geometry.totalBlocks; b++) n += mapState(map, true, b) == 0;
    return n;
}

void verify(const Model &m, int bs, int reserved, const std::string &where) {
    DirScan s;
    ASSERT_EQ(FS_FilesPresent(&s), int16_t(m.size())) << where;
    ASSERT_EQ(GetErrno(), -4) << where;
    ASSERT_EQ(FS_BlocksUsed(), reserved + blocksOf(m, bs)) << where;
    for (auto &f : m) {
        const int16_t h = FS_OpenR(f.first.c_str());
        Bytes buf(f.second.size() + 1, 0);
        EXPECT_EQ(FS_ReadFileEx(h, buf.data(), uint32_t(buf.size())), -57) << where << " " << f.first;
        FS_CloseR(h);
        buf.pop_back();
        ASSERT_EQ(buf, f.second) << where << " " << f.first;
    }
}

void workload(RamDevice *device, uint32_t seed, int steps, size_t maxFile) {
    printf("workload seed %u, %d steps (CARDFS_WORKLOAD_SEED, CARDFS_WORKLOAD_STEPS)\n", seed, steps);
    Dev d = mounted(device, "A:WORK");
    std::mt19937 rng(seed);
    const int bs = d->geometry.blockSize, room = bs - 2, total = FS_TotalBlocks(), reserved = FS_BlocksUsed();
    Model m;
    int fulls = 0, faults = 0;
    for (int step = 0; step < steps; step++) {
        auto pick = [&] { return "w" + std::to_string(rng() % 24) + "." + std::to_string(1 + rng() % 3); };
        const std::string name = pick(), to = pick(), where = "step " + std::to_string(step);
        const int freeBlocks = total - blocksOf(m, bs);
        const unsigned r = unsigned(rng() % 100), del = freeBlocks < total / 6 ? 55 : 20;
        if (r < del) {
            ASSERT_EQ(FS_Delete(spelling(name, rng).c_str()), m.count(name) ? -1 : -4) << where;
            m.erase(name);
        } else if (r < del + 15) {
            const int16_t want = m.count(to) ? -5 : m.count(name) ? -1 : -4;
            ASSERT_EQ(FS_Rename(spelling(name, rng).c_str(), spelling(to, rng).c_str()), want) << where;
            if (want == -1) m[to] = std::move(m[name]), m.erase(name);
        } else if (r < del + 18) {
            ASSERT_EQ(FS_Init(nullptr), -1) << where;
        } else {
            const size_t n = rng() % 4 ? rng() % (maxFile / 8 + 1) : rng() % (maxFile + 1), need = size_t(blocksFor(n, bs));
            Bytes data = pattern(n, uint32_t(rng()));
            const int erased = d->isFlash ? erasedBlocks(d.get()) : freeBlocks;  // no sector reclaimed meanwhile
            const bool inject = need > 1 && int(need) < erased && rng() % 6 == 0;
            const int16_t h = FS_OpenW(spelling(name, rng).c_str());
            if (m.count(name) || freeBlocks == 0) {
                ASSERT_EQ(h, m.count(name) ? -5 : -3) << where;
            } else {
                ASSERT_GE(h, 0) << where;
                // the byte at which appending must fail (a block too many, or a device failure)
                size_t stopAt = need <= size_t(freeBlocks) ? SIZE_MAX : size_t(freeBlocks * room);
                int16_t failure = -3;
                if (inject) {
                    const size_t nth = 1 + rng() % (need - 1);
                    d->armFault(Op::Write, nth, -100);
                    stopAt = nth * size_t(room), failure = -100, faults++;
                }
                fulls += failure == -3 && stopAt != SIZE_MAX;
                for (size_t at = 0, run; at < n; at += run) {  // runs by FS_Putc or FS_WriteFileEx
                    run = std::min(n - at, size_t(1 + rng() % (3 * size_t(room))));
                    const bool hits = at <= stopAt && stopAt < at + run;
                    if (rng() % 2) {
                        ASSERT_EQ(FS_WriteFileEx(h, data.data() + at, uint32_t(run)), hits ? failure : -1) << where;
                    } else {
                        for (size_t j = at; j < at + run && j <= stopAt; j++)
                            ASSERT_EQ(FS_Putc(data[j], h), j == stopAt ? failure : -1) << where << " byte " << j;
                    }
                    if (hits) break;
                }
                ASSERT_EQ(FS_CloseW(h), -1) << where;
                if (stopAt >= n) m[name] = std::move(data);
            }
        }
        verify(m, bs, reserved, where);
        if (::testing::Test::HasFatalFailure()) return;
    }
    EXPECT_GE(fulls, 3) << "the workload filled the medium too rarely";
    EXPECT_GE(faults, 5) << "too few injected write failures";
    for (int s = d->flash.systemSectors; s < d->flash.sectorCount; s++)
        EXPECT_GE(d->sectorErases[size_t(s)], 2u) << "data sector " << s << " was not reclaimed and used again";
}

TEST(Workload, RandomisedOperationsOnFlashCard) {
    workload(makeFlashCard(), uint32_t(envLong("CARDFS_WORKLOAD_SEED", 1234567)),
             int(envLong("CARDFS_WORKLOAD_STEPS", 700)), 160 * 1024);
}

TEST(Workload, RandomisedOperationsOnDiskette) {
    workload(makeDiskette(1440), uint32_t(envLong("CARDFS_WORKLOAD_SEED", 2345678)),
             int(envLong("CARDFS_WORKLOAD_STEPS", 700)), 160 * 1024);
}

TEST(Workload, RandomisedOperationsOnFlashCartridge4M) {
    workload(makeFlashCartridge4M(), uint32_t(envLong("CARDFS_WORKLOAD_SEED", 7654321)),
             int(envLong("CARDFS_WORKLOAD_STEPS", 700)), 800 * 1024);
}

// Power cuts: a script of creations, deletions and renames runs with the power cut after n writes and
// erases; the medium is powered up again and checked. Flash: 16 sectors of 16 blocks; diskette: 256 blocks.
struct Step { char op; std::string a, b; Bytes data; };  // 'c'reate, 'd'elete, 'r'ename a to b

// 48 steps rotating the system area round both sectors; past `budget` blocks, sectors are reclaimed.
std::vector<Step> makeScript(int maxBlocks, int budget) {
    std::mt19937 rng(4242);
    std::vector<Step> out;
    Model m;
    while (out.size() < 48) {
        const std::string a = "p" + std::to_string(rng() % 12) + ".1", b = "p" + std::to_string(rng() % 12) + ".1";
        if (!m.count(a)) {
            Bytes data(rng() % size_t(maxBlocks * 510));
            for (auto &c : data) c = uint8_t(rng());
            const int need = blocksFor(data.size(), 512);
            if (blocksOf(m, 512) + need > 200 || need > budget) continue;
            budget -= need, m[a] = data, out.push_back({'c', a, "", std::move(data)});
        } else if (rng() % 3 == 0 && !m.count(b)) {
            m[b] = m[a], m.erase(a), out.push_back({'r', a, b, {}});
        } else {
            m.erase(a), out.push_back({'d', a, "", {}});
        }
    }
    return out;
}

void cycleFreeSpace() {  // takes every free sector into use once (erasing the dirty ones)
    Bytes filler(20 * 510, 0x3C);
    int n = 0;
    while (n < 200 && writeFile("fill" + std::to_string(n) + ".9", filler) == -1) n++;
    for (int i = 0; i <= n; i++) FS_Delete(("fill" + std::to_string(i) + ".9").c_str());
}

// Runs the script with the power cut after `cut` writes and erases (-1: none), the operation cut
// whole (mode 0) or torn between bytes (1) or inside a byte (2), powers up again and says what is
// wrong ("" if nothing): every file must read as before the step in flight or as after
// it, and no block may belong to two files or be free on the map. Blocks may leak on the diskette
// (its map is written before an entry names new blocks, after an entry drops old ones), not on flash.
std::string runCut(bool flash, const std::vector<Step> &script, int64_t cut, int mode, int64_t *spent = nullptr) {
    if (flash) parkAllocationCursor(2);  // every run allocates alike
    Dev d = mounted(flash ? makeFlash(512, 256, 2, 32, 8192, 16, 2) : makeDiskette(256), "A:CUT");
    d->cutPowerAfter(cut, mode > 0);
    d->cutId += uint64_t(envLong("CARDFS_POWERCUT_SALT", 0)) << 32;  // another choice of torn prefixes
    d->tornBits = mode == 2;
    Model before;
    const Step *inFlight = nullptr;
    auto apply = [](Model &m, const Step &s) {
        if (s.op == 'c') m[s.a] = s.data;
        if (s.op == 'r') m[s.b] = m[s.a];
        if (s.op != 'c') m.erase(s.a);
    };
    for (const Step &s : script) {
        const int16_t st = s.op == 'c' ? writeFile(s.a, s.data) : s.op == 'd' ? FS_Delete(s.a.c_str())
                                                                           : FS_Rename(s.a.c_str(), s.b.c_str());
        if (st != -1 && (inFlight = &s)) break;
        apply(before, s);
    }
    if (spent) *spent = int64_t(d->count.of(Op::Write) + d->count.of(Op::Erase));
    if (cut < 0 && inFlight) return "script failed without a cut at " + inFlight->a;
    d->restorePower();
    if (int16_t st = FS_Init(nullptr); st != -1) return "volume does not mount: " + std::to_string(st);
    if (flash && mode > 0) cycleFreeSpace();  // a torn copy-back is mended before the spare is used again
    Model seen, after = before;
    for (int i = 0; i < 12; i++) {
        const std::string name = "p" + std::to_string(i) + ".1";
        if (Read r = readBack(name); r.first == -57) seen[name] = r.second;
        else if (r.first != -4) return name + " does not read: " + std::to_string(r.first);
    }
    if (inFlight) apply(after, *inFlight);
    if (seen != before && seen != after) return "files differ from the committed state";
    DirScan s;
    if (FS_FilesPresent(&s) != int16_t(seen.size())) return "stray directory entries";
    const Bytes map = mapOf(d.get());
    std::set<int> held;
    for (const DirEntry &e : listDir())
        for (int b : e.extension && e.extension < 1000 ? chainOf(d.get(), e.firstBlock, e.blockCount) : Ints{}) {
            if (!held.insert(b).second) return "block " + std::to_string(b) + " in two files";
            if (mapState(map, flash, b) != (flash ? 3 : 1)) return "block " + std::to_string(b) + " of a file is free";
        }
    const int used = FS_BlocksUsed(), want = int(held.size()) + (flash ? 0 : 3);  // the diskette counts its system area
    if (used < want || (flash && used != want))
        return "map counts " + std::to_string(used) + " blocks, files hold " + std::to_string(want);
    const Bytes probe(3 * 510, 0x5A);
    if (writeFile("after.1", probe) != -1 || readBack("after.1") != ok(probe)) return "volume no longer takes a new file";
    return "";
}

void cutSweep(bool flash, const std::vector<Step> &script, std::vector<int> modes) {
    int64_t total = 0;
    ASSERT_EQ(runCut(flash, script, -1, 0, &total), "");
    const bool full = envLong("CARDFS_POWERCUT_FULL", 0) == 1;
    const int64_t stride = full ? 1 : std::max<int64_t>(1, total / 150), only = envLong("CARDFS_POWERCUT_POINT", -1);
    std::vector<std::pair<int64_t, int>> points;  // (cut, mode)
    for (int mode : modes)
        for (int64_t n = mode ? stride / 2 : 0; n <= total; n += stride) points.push_back({n, mode});
    if (only >= 0) points = {{only, int(envLong("CARDFS_POWERCUT_MODE", 0))}};
    int failures[3] = {};
    const char *test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (auto [n, mode] : points) {
        const std::string why = runCut(flash, script, n, mode);
        if (!why.empty() && ++failures[mode] <= 20)
            ADD_FAILURE() << "cut after " << n << " writes/erases, mode " << mode << ": " << why
                          << "\n  replay: CARDFS_POWERCUT_POINT=" << n << " CARDFS_POWERCUT_MODE=" << mode
                          << " CARDFS_POWERCUT_SALT=" << envLong("CARDFS_POWERCUT_SALT", 0)
                          << " cardfs_tests --gtest_filter='Workload." << test << "'";
    }
    printf("%s: %zu cut points of %lld writes/erases; failed: %d whole, %d torn between bytes, %d inside a byte\n",
           test, points.size(), static_cast<long long>(total), failures[0], failures[1], failures[2]);
    EXPECT_EQ(failures[0] + failures[1] + failures[2], 0);
}

// Cuts anywhere, whole or torn inside a byte, with erased space enough that no sector is reclaimed.
TEST(Workload, PowerCutKeepsCommittedFiles) { cutSweep(true, makeScript(8, 190), {0, 2}); }

// Cuts inside sector reclamation, whole or torn between bytes (a torn erase stops at a block boundary).
TEST(Workload, PowerCutDuringReclamation) { cutSweep(true, makeScript(24, 100000), {0, 1}); }

// Cuts inside sector reclamation torn inside a byte: a copy-back programmed in part, an erase
// that left a block erased in part.
TEST(Workload, PowerCutDuringReclamationTornInsideBytes) { cutSweep(true, makeScript(24, 100000), {2}); }

// Whole cuts only: a diskette sector either takes a write or not (a sector cut inside itself fails
// its checksum), and one torn in the entry it changes cannot be told from a whole one.
TEST(Workload, PowerCutOnDiskette) { cutSweep(false, makeScript(24, 100000), {0}); }

}  // namespace
