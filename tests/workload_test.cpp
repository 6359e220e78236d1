// Randomised workloads and power cuts on NOR-flash RAM media, checked against a model of the files.
#include <algorithm>
#include <cstdlib>
#include <map>

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
    DirScan s;
    if (FS_OpenDir(d->dev(), &s) != -1) return 0;
    const uint8_t *map = d->block(s.startBlock + d->geometry.dirBlocks);
    int n = -d->flash.sectorSize / d->geometry.blockSize;
    for (int b = d->geometry.firstDataBlock; b < d->geometry.totalBlocks; b++) n += (map[b / 4] >> (2 * (b % 4)) & 3) == 0;
    return n;
}

void verify(const Model &m, int bs, const std::string &where) {
    DirScan s;
    ASSERT_TRUE(FS_FilesPresent(&s) == int16_t(m.size()) && GetErrno() == -4 && FS_BlocksUsed() == blocksOf(m, bs)) << where;
    for (auto &f : m) {
        const int16_t h = FS_OpenR(f.first.c_str());
        Bytes buf(f.second.size() + 1, 0);
        EXPECT_EQ(FS_ReadFileEx(h, buf.data(), uint32_t(buf.size())), -57) << where << " " << f.first;
        ASSERT_TRUE(FS_CloseR(h) == -1 && std::equal(f.second.begin(), f.second.end(), buf.begin())) << where << " " << f.first;
    }
}

void workload(RamDevice *device, uint32_t seed, int steps, size_t maxFile) {
    printf("workload seed %u, %d steps (CARDFS_WORKLOAD_SEED, CARDFS_WORKLOAD_STEPS)\n", seed, steps);
    Dev d = mounted(device, "A:WORK");
    std::mt19937 rng(seed);
    const int bs = d->geometry.blockSize, room = bs - 2, total = FS_TotalBlocks();
    Model m;
    int fulls = 0, faults = 0;
    for (int step = 0; step < steps; step++) {
        auto pick = [&] { return "w" + std::to_string(rng() % 24) + "." + std::to_string(1 + rng() % 3); };
        const std::string name = pick(), to = pick(), where = "step " + std::to_string(step);
        const int freeBlocks = total - blocksOf(m, bs);
        const unsigned r = rng() % 100, del = freeBlocks < total / 6 ? 55 : 20;
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
            const size_t n = rng() % 4 ? rng() % (maxFile / 8 + 1) : rng() % (maxFile + 1), need = blocksFor(n, bs);
            Bytes data = pattern(n, rng());
            const bool inject = need > 1 && int(need) < erasedBlocks(d.get()) && rng() % 6 == 0;
            const int16_t h = FS_OpenW(spelling(name, rng).c_str());
            if (m.count(name) || freeBlocks == 0) {
                ASSERT_EQ(h, m.count(name) ? -5 : -3) << where;
            } else {
                ASSERT_GE(h, 0) << where;
                // the byte at which appending must fail (a block too many, or a device failure)
                size_t stopAt = need <= size_t(freeBlocks) ? SIZE_MAX : size_t(freeBlocks) * room;
                int16_t failure = -3;
                if (inject) {
                    const size_t nth = 1 + rng() % (need - 1);
                    d->armFault(Op::Write, nth, -100);
                    stopAt = nth * room, failure = -100, faults++;
                }
                fulls += failure == -3 && stopAt != SIZE_MAX;
                for (size_t at = 0, run; at < n; at += run) {  // runs by FS_Putc or FS_WriteFileEx
                    run = std::min(n - at, size_t(1 + rng() % (3 * room)));
                    const bool hits = at <= stopAt && stopAt < at + run;
                    if (rng() % 2)
                        ASSERT_EQ(FS_WriteFileEx(h, data.data() + at, uint32_t(run)), hits ? failure : -1) << where;
                    else
                        for (size_t j = at; j < at + run && j <= stopAt; j++)
                            ASSERT_EQ(FS_Putc(data[j], h), j == stopAt ? failure : -1) << where << " byte " << j;
                    if (hits) break;
                }
                ASSERT_EQ(FS_CloseW(h), -1) << where;
                if (stopAt >= n) m[name] = std::move(data);
            }
        }
        verify(m, bs, where);
        if (::testing::Test::HasFatalFailure()) return;
    }
    const int N = d->flash.sectorCount, S = d->flash.systemSectors;
    uint32_t least = UINT32_MAX, sum = 0;
    for (int s = S; s < N; s++) least = std::min(least, d->sectorErases[s]), sum += d->sectorErases[s];
    EXPECT_TRUE(fulls >= 3 && faults >= 5) << fulls << " " << faults;
    EXPECT_TRUE(least >= 1 && sum >= 4u * uint32_t(N - S)) << "every data sector erased and used again";
}

TEST(Workload, RandomisedOperationsOnFlashCard) {
    workload(makeFlashCard(), uint32_t(envLong("CARDFS_WORKLOAD_SEED", 1234567)),
             int(envLong("CARDFS_WORKLOAD_STEPS", 700)), 160 * 1024);
}

TEST(Workload, RandomisedOperationsOnFlashCartridge4M) {
    workload(makeFlashCartridge4M(), uint32_t(envLong("CARDFS_WORKLOAD_SEED", 7654321)),
             int(envLong("CARDFS_WORKLOAD_STEPS", 700)), 800 * 1024);
}

// Power cuts on a small flash medium of 16 sectors of 16 blocks.
struct Step { char op; std::string a, b; Bytes data; };  // 'c'reate, 'd'elete, 'r'ename a to b
RamDevice *smallFlash() { return makeFlash(512, 256, 2, 32, 8192, 16, 2); }

// 48 steps rotating the system area round both sectors; past `budget` blocks, sectors are reclaimed.
std::vector<Step> makeScript(int maxBlocks, int budget) {
    std::mt19937 rng(4242);
    std::vector<Step> out;
    Model m;
    while (out.size() < 48) {
        const std::string a = "p" + std::to_string(rng() % 12) + ".1", b = "p" + std::to_string(rng() % 12) + ".1";
        if (!m.count(a)) {
            Bytes data(rng() % (maxBlocks * 510));
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

void settleCursor() {  // leaves the process-wide allocation cursor where every run starts alike
    Dev d = mounted(smallFlash(), "A:SCRATCH");
    d->block(2)[8] = 0x03, d->block(32)[0] = 0;  // block 32 in use: sector 2 alone is partly used
    writeFile("s.1", {1});
}

void cycleFreeSpace() {  // takes every free sector into use once (erasing the dirty ones)
    Bytes filler(20 * 510, 0x3C);
    int n = 0;
    while (n < 200 && writeFile("fill" + std::to_string(n) + ".9", filler) == -1) n++;
    for (int i = 0; i <= n; i++) FS_Delete(("fill" + std::to_string(i) + ".9").c_str());
}

// Runs the script with the power cut after `cut` writes and erases (-1: none), powers up
// again and says what is wrong with the volume ("" if nothing).
std::string runCut(const std::vector<Step> &script, int64_t cut, bool torn, bool cycle, int64_t *spent = nullptr) {
    settleCursor();
    Dev d = mounted(smallFlash(), "A:CUT");
    d->tornWrites = torn;
    d->cutPowerAfter(cut);
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
    if (cycle) cycleFreeSpace();  // blocks of a cut reclamation come back from the spare first
    Model seen, after = before;  // the step in flight may have happened or not
    for (int i = 0; i < 12; i++) {
        const std::string name = "p" + std::to_string(i) + ".1";
        if (Read r = readBack(name); r.first == -57) seen[name] = r.second;
        else if (r.first != -4) return name + " does not read: " + std::to_string(r.first);
    }
    if (inFlight) apply(after, *inFlight);
    if (seen != before && seen != after) return "files differ from the committed state";
    DirScan s;
    if (FS_FilesPresent(&s) != int16_t(seen.size())) return "stray directory entries";
    if (FS_BlocksUsed() != blocksOf(seen, 512))
        return "map counts " + std::to_string(FS_BlocksUsed()) + " blocks, files hold " + std::to_string(blocksOf(seen, 512));
    const Bytes probe(3 * 510, 0x5A);
    if (writeFile("after.1", probe) != -1 || readBack("after.1") != ok(probe))
        return "volume no longer takes a new file";
    return "";
}

void cutSweep(const std::vector<Step> &script, int tornModes, bool cycle) {
    int64_t total = 0;
    ASSERT_EQ(runCut(script, -1, false, cycle, &total), "");
    const bool full = envLong("CARDFS_POWERCUT_FULL", 0) == 1;
    const int64_t stride = full ? 1 : std::max<int64_t>(1, total / 150), only = envLong("CARDFS_POWERCUT_POINT", -1);
    std::vector<std::pair<int64_t, int>> points;  // (cut, torn)
    for (int torn = 0; torn < tornModes; torn++)
        for (int64_t n = torn * stride / 2; n <= total; n += stride) points.push_back({n, torn});
    if (only >= 0) points = {{only, int(envLong("CARDFS_POWERCUT_TORN", 0))}};
    int failures = 0;
    for (auto [n, torn] : points) {
        const std::string why = runCut(script, n, torn == 1, cycle && torn == 1);
        if (!why.empty() && ++failures <= 40)
            ADD_FAILURE() << "cut after " << n << " writes/erases" << (torn ? " (torn)" : "") << ": " << why
                          << "\n  replay: CARDFS_POWERCUT_POINT=" << n << " CARDFS_POWERCUT_TORN=" << torn;
    }
    EXPECT_EQ(failures, 0);
}

// Whole writes cut anywhere, with erased space enough that no sector is reclaimed.
TEST(Workload, PowerCutKeepsCommittedFiles) { cutSweep(makeScript(8, 190), 1, false); }

// Cuts inside sector reclamation, and torn writes. A whole write cut short
// anywhere leaves every committed file readable at once; a torn copy-back
// of a reclaimed block still chains and is mended from the spare before the
// spare is used again, so torn runs are checked after the free space has
// been taken into use once.
TEST(Workload, PowerCutDuringReclamationAndTornWrites) { cutSweep(makeScript(24, 100000), 2, true); }

}  // namespace
