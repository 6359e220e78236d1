// Power cuts on flash and diskette media: the committed files survive, with an exact map.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

#include "helpers.h"

using namespace ramdev;

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
// A script of creations, deletions and renames runs with the power cut after n writes and erases; the
// medium is powered up again and checked. Flash: 16 sectors of 16 blocks; diskette: 256 blocks.
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
    const Step *inFlight = runScript(script, before);
    if (spent) *spent = int64_t(d->count.of(Op::Write) + d->count.of(Op::Erase));
    if (cut < 0 && inFlight) return "script failed without a cut at " + inFlight->a;
    d->restorePower();
    if (int16_t st = FS_Init(nullptr); st != -1) return "volume does not mount: " + std::to_string(st);
    if (flash && mode > 0) cycleFreeSpace();  // a torn copy-back is mended before the spare is used again
    std::vector<std::string> names;
    for (int i = 0; i < 12; i++) names.push_back("p" + std::to_string(i) + ".1");
    if (const std::string why = committed(names, before, inFlight); !why.empty()) return why;
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
