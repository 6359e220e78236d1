// Power cuts on record, on every kind of medium: a script of creations, deletions and renames cut
// after each sampled write or erase on the cartridges (flash and PEROM) and the card image of the
// card-programmer stand-in, on RAM flash and a RAM diskette, and inside reclamation on nearly full
// flash volumes; cuts during formatting, whose outcomes are counted and must all lead back to a
// usable volume. After each cut the medium is decoded without the library (volume_image.h) and every
// guarantee is checked: the volume mounts, the files are those before or after the step in flight
// byte for byte, no block in two files, every live block in use on the map (no leak on flash), and
// the volume takes a new file. A sample of cut points by default; CARDFS_POWERCUT_FULL=1 cuts after
// every write and erase.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "cardfs_programmer_standin.h"
#include "helpers.h"
#include "volume_image.h"

namespace {

using Model = std::map<std::string, Bytes>;

bool fullSweep() {
    const char *v = std::getenv("CARDFS_POWERCUT_FULL");
    return v && std::string(v) == "1";
}

// A medium the sweeps cut: its bytes kept and put back, the power cut after n writes and erases,
// the operation cut whole (mode 0), torn between bytes (1) or torn inside a byte (2).
struct Medium {
    virtual ~Medium() = default;
    virtual DeviceDescriptor *dev() = 0;
    virtual Bytes save() = 0;
    virtual void load(const Bytes &b) = 0;
    virtual void cutAfter(int64_t n, int mode) = 0;
    virtual void powerOn() = 0;
    virtual int64_t spent() = 0;  // writes and erases since the last load
    bool inPlace() { return dev()->flashGeometry == nullptr; }
    volimage::Image decode() {
        DeviceDescriptor *d = dev();
        std::map<int32_t, Bytes> blocks;
        return volimage::decode(*d, [&](int32_t b) -> const uint8_t * {
            Bytes &block = blocks[b];
            block.assign(1024, 0);
            return b >= 0 && b < d->totalBlocks && d->ReadBlock(d, int16_t(b), block.data()) == -1 ? block.data() : nullptr;
        });
    }
};

// A RAM medium; on flash every load parks the allocation cursor, so that every run allocates alike.
Dev parkedAndMounted(ramdev::RamDevice *r) {
    if (r->isFlash) parkAllocationCursor(2);
    return mounted(r, "A:CUTS");
}
struct RamMedium : Medium {
    Dev d;
    DeviceDescriptor *table[2] = {};
    explicit RamMedium(ramdev::RamDevice *r) : d(parkedAndMounted(r)) { table[0] = d->dev(); }
    DeviceDescriptor *dev() override { return d->dev(); }
    Bytes save() override { return d->data; }
    void load(const Bytes &b) override {
        if (d->isFlash) parkAllocationCursor(2), FS_SetDeviceTable(table);
        d->data = b, d->resetCounters();
    }
    void cutAfter(int64_t n, int mode) override { d->cutPowerAfter(n, mode > 0), d->tornBits = mode == 2; }
    void powerOn() override { d->restorePower(); }
    int64_t spent() override { return int64_t(d->count.of(ramdev::Op::Write) + d->count.of(ramdev::Op::Erase)); }
};

// A cartridge in slot 0 of the stand-in (chip given) or the card image in reader slot 3.
struct StandinMedium : Medium {
    std::string dir, path;
    DeviceDescriptor *d;
    DeviceDescriptor *table[2] = {};
    StandinMedium(uint16_t chip, bool image) {
        KVS_Reset();
        dir = newTempDir("cardfs_cuts_");
        path = image ? dir + "/card/USERIMG.BIN" : dir + "/cart.img";
        EXPECT_EQ(image ? KVS_InsertCardDirectory(3, (dir + "/card").c_str()) : KVS_InsertCartridge(0, path.c_str(), chip), -1);
        d = image ? W32_MMR_GetDevicePtr(2) : W32_USER_GetDevicePtr(0);
        table[0] = d;
        EXPECT_EQ(FS_SetDeviceTable(table), -1);
        FS_Init(nullptr);
        EXPECT_EQ(FS_Format("A:CUTS"), -1);
        EXPECT_EQ(FS_Init(nullptr), -1);
    }
    ~StandinMedium() override {
        KVS_Reset();
        std::filesystem::remove_all(dir);
    }
    DeviceDescriptor *dev() override { return d; }
    Bytes save() override { return fileBytes(path); }
    void load(const Bytes &b) override {
        std::ofstream(path, std::ios::binary | std::ios::in).write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
        KVS_ResetCounters();
    }
    void cutAfter(int64_t n, int mode) override { KVS_CutPowerAfter(int32_t(n), mode > 0); }
    void powerOn() override { KVS_CutPowerAfter(-1, 0); }
    int64_t spent() override {
        KvsCounters c;
        KVS_GetCounters(&c);
        return c.programs + c.erases + c.fileWrites;
    }
};

// What a powered-up medium breaks of the guarantees; "" when it breaks none. The files are read
// through the library first, which restores what a cut reclamation left in the spare.
std::string guarantees(Medium &m, const Model &before, const Model &after) {
    if (const int16_t st = FS_Init(nullptr); st != -1) return "the volume does not mount: " + std::to_string(st);
    Model names = before, seen;
    names.insert(after.begin(), after.end());
    for (const auto &[name, none] : names) {
        const Read r = readBack(name);
        if (r.first == -57) seen[name] = r.second;
        else if (r.first != -4) return name + " does not read: " + std::to_string(r.first);
    }
    if (seen != before && seen != after) return "the files are neither those before the step nor those after it";
    const volimage::Image img = m.decode();
    const volimage::Health h = volimage::health(img);
    if (!h.problem.empty()) return h.problem;
    if (img.contents() != seen) return "the medium holds other files than the library reads";
    if (h.leaked && !m.inPlace()) return std::to_string(h.leaked) + " blocks leaked on flash";
    FS_RepairReport rep;
    if (FS_Check(nullptr, &rep) != -1 || rep.leakedBlocks != h.leaked || rep.brokenFiles || rep.unmarkedBlocks)
        return "FS_Check does not see the medium as it is";
    const Bytes probe = pattern(3 * 510, 77);
    if (writeFile("AFTER.99", probe) != -1 || readBack("AFTER.99") != ok(probe)) return "the volume takes no new file";
    return "";
}

struct Step {
    char op;  // 'c'reate, 'd'elete, 'r'ename a to b
    std::string a, b;
    Bytes data;
};
void apply(Model &m, const Step &s) {
    if (s.op == 'c') m[volimage::canonical(s.a)] = s.data;
    if (s.op == 'r') m[volimage::canonical(s.b)] = m[volimage::canonical(s.a)];
    if (s.op != 'c') m.erase(volimage::canonical(s.a));
}
int16_t perform(const Step &s) {
    return s.op == 'c' ? writeFile(s.a, s.data) : s.op == 'd' ? FS_Delete(s.a.c_str()) : FS_Rename(s.a.c_str(), s.b.c_str());
}
// Steps over `names` names: files up to maxBlocks 512-byte blocks, at most `live` blocks at once
// and `total` blocks created in all (below the erased space, no sector is reclaimed).
std::vector<Step> script(size_t steps, int names, int maxBlocks, int live, int total, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<Step> out;
    std::map<std::string, int> held;
    int used = 0;
    while (out.size() < steps) {
        const std::string a = "P" + std::to_string(rng() % unsigned(names)) + ".1", b = "P" + std::to_string(rng() % unsigned(names)) + ".1";
        if (!held.count(a)) {
            const size_t n = rng() % size_t(maxBlocks * 510);
            const int need = blocksFor(n, 512);
            if (used + need > live || need > total) continue;
            used += held[a] = need, total -= need;
            out.push_back({'c', a, "", pattern(n, uint32_t(rng()))});
        } else if (rng() % 3 == 0 && !held.count(b)) {
            held[b] = held[a], held.erase(a), out.push_back({'r', a, b, {}});
        } else {
            used -= held[a], held.erase(a), out.push_back({'d', a, "", {}});
        }
    }
    return out;
}

void cycleFreeSpace() {  // takes every free sector into use once (erasing the dirty ones)
    int n = 0;
    while (n < 200 && writeFile("fill" + std::to_string(n) + ".9", Bytes(20 * 510, 0x3C)) == -1) n++;
    for (int i = 0; i <= n; i++) FS_Delete(("fill" + std::to_string(i) + ".9").c_str());
}

// The script from the medium's present state with the power cut after `cut` writes and erases
// (-1: none); what it breaks. A flash block whose copy-back a cut tore inside a byte has a whole
// chain and a wrong byte until the spare's copy completes it, which the next use of the spare does
// (byUse: every free sector is taken into use once before the check), and so does FS_Repair
// (*mended: it broke something at once that FS_Repair then mended).
std::string cutScript(Medium &m, const Bytes &start, const std::vector<Step> &steps, int64_t cut, int mode, bool byUse,
                      int64_t *spent, bool *mended = nullptr) {
    m.load(start);
    if (FS_Init(nullptr) != -1) return "the start does not mount";
    Model before = m.decode().contents();
    m.cutAfter(cut, mode);
    const Step *inFlight = nullptr;
    for (const Step &s : steps) {
        if (perform(s) != -1 && (inFlight = &s)) break;
        apply(before, s);
    }
    if (spent) *spent = m.spent();
    m.powerOn();
    if (cut < 0 && inFlight) return "the script fails without a cut at " + inFlight->a;
    Model after = before;
    if (inFlight) apply(after, *inFlight);
    if (byUse && mode > 0 && FS_Init(nullptr) == -1) cycleFreeSpace();
    const std::string why = guarantees(m, before, after);
    if (why.empty() || !mended || byUse) return why;
    FS_RepairReport rep;
    if (FS_Repair(nullptr, &rep) != -1) return why + "; FS_Repair fails";
    *mended = true;
    const std::string still = guarantees(m, before, after);
    return still.empty() ? "" : why + "; after FS_Repair: " + still;
}

// A sweep: the medium, the script (made on the medium once it is formatted), the cut points sampled,
// the modes cut in, and whether a torn copy-back must be mended by use alone.
struct Sweep {
    const char *name;
    std::function<Medium *()> medium;
    std::function<std::vector<Step>()> steps;
    int samples;
    std::vector<int> modes;
    bool byUse;
};

// A flash volume filled to its last sectors, every other file deleted: the next files can only be
// placed by reclaiming sectors, through the one spare, and the cuts fall inside those reclamations.
std::vector<Step> nearlyFull(int fileBlocks) {
    std::vector<std::string> names;
    const size_t bytes = size_t(fileBlocks * (int(FS_BlockSize()) - 2));
    for (int n = 0; writeFile("F" + std::to_string(n) + ".1", pattern(bytes, uint32_t(n))) == -1; n++)
        names.push_back("F" + std::to_string(n) + ".1");
    for (size_t i = 0; i < names.size(); i += 2) EXPECT_EQ(FS_Delete(names[i].c_str()), -1);
    EXPECT_GT(FS_BlocksUsed(), FS_TotalBlocks() * 4 / 10) << "half of a full volume is live";
    return {{'c', "NEW.1", "", pattern(3 * bytes, 5)}, {'d', names[1], "", {}}, {'c', "NEW.2", "", pattern(2 * bytes, 6)}};
}
Medium *smallFlash() { return new RamMedium(ramdev::makeFlash(512, 256, 2, 32, 8192, 16, 2)); }  // 16 sectors of 16 blocks

const Sweep kSweeps[] = {
    {"FlashCartridge", [] { return new StandinMedium(KVS_FLASH_1M, false); }, [] { return script(14, 6, 30, 600, 1 << 30, 7); }, 40, {0, 2}, false},
    {"PeromCartridge", [] { return new StandinMedium(KVS_PEROM_1F5B, false); }, [] { return script(14, 6, 30, 600, 1 << 30, 8); }, 40, {0, 2}, false},
    {"CardImage", [] { return new StandinMedium(0, true); }, [] { return script(14, 6, 30, 600, 1 << 30, 9); }, 40, {0, 2}, false},
    // 48 steps rotate the system area round both sectors; created blocks below the erased space: no reclamation.
    {"FlashWithoutReclamation", smallFlash, [] { return script(48, 12, 8, 200, 190, 4242); }, 150, {0, 2}, true},
    // Cuts inside sector reclamation, whole, torn between bytes (a torn erase stops at a block boundary) and
    // inside bytes (a copy-back programmed in part, an erase that left a block erased in part).
    {"FlashReclamation", smallFlash, [] { return script(48, 12, 24, 200, 1 << 30, 4242); }, 150, {0, 1}, true},
    {"FlashReclamationTornInsideBytes", smallFlash, [] { return script(48, 12, 24, 200, 1 << 30, 4242); }, 150, {2}, true},
    // Whole cuts only: a diskette sector either takes a write or not (a sector cut inside itself fails its
    // checksum), and one torn in the entry it changes cannot be told from a whole one. Blocks may leak (the
    // map is written before an entry names new blocks, after an entry drops old ones).
    {"Diskette", [] { return new RamMedium(ramdev::makeDiskette(256)); }, [] { return script(48, 12, 24, 200, 1 << 30, 4242); }, 150, {0}, false},
    {"NearlyFullSmallFlash", smallFlash, [] { return nearlyFull(5); }, 1000, {0, 2}, false},
    {"NearlyFullFlashCard", [] { return new RamMedium(ramdev::makeFlashCard()); }, [] { return nearlyFull(45); }, 150, {0, 2}, false},
};

void PrintTo(const Sweep &w, std::ostream *out) { *out << w.name; }
class PowerCuts : public testing::TestWithParam<Sweep> {};

// Cuts the script after every `stride`-th write or erase in each mode; prints the record.
TEST_P(PowerCuts, KeepEveryGuarantee) {
    const Sweep &w = GetParam();
    std::unique_ptr<Medium> m(w.medium());
    const std::vector<Step> steps = w.steps();
    const Bytes start = m->save();
    int64_t total = 0;
    ASSERT_EQ(cutScript(*m, start, steps, -1, 0, w.byUse, &total), "");
    const int64_t stride = fullSweep() ? 1 : std::max<int64_t>(1, total / w.samples);
    int points = 0, failures = 0, mends = 0;
    for (int mode : w.modes)
        for (int64_t cut = mode ? stride / 2 : 0; cut <= total; cut += stride) {
            bool mended = false;
            const std::string why = cutScript(*m, start, steps, cut, mode, w.byUse, nullptr, &mended);
            points++, mends += mended;
            if (!why.empty() && ++failures <= 10) ADD_FAILURE() << w.name << ": cut after " << cut << ", mode " << mode << ": " << why;
            EXPECT_TRUE(!mended || mode > 0) << w.name << ": a whole cut needed FS_Repair, at " << cut;
        }
    printf("%s: %d cuts over %lld writes/erases; every guarantee held in %d, %d of them only after FS_Repair\n", w.name, points,
           static_cast<long long>(total), points - failures, mends);
    EXPECT_EQ(failures, 0);
}
INSTANTIATE_TEST_SUITE_P(Media, PowerCuts, testing::ValuesIn(kSweeps), [](const auto &p) { return std::string(p.param.name); });

// Formatting is not atomic. A cut during it leaves no volume (mounting gives -6), the new empty volume,
// or a volume that still shows old files: after FS_Repair its map is exact, every file that reads as
// whole has its old bytes, and it takes a new file. Formatting again always succeeds.
void formatCuts(const char *what, Medium &m) {
    Model old;
    for (int i = 1; i <= 4; i++) {
        old["old." + std::to_string(i)] = pattern(size_t(i) * 900, uint32_t(i));
        ASSERT_EQ(writeFile("OLD." + std::to_string(i), old["old." + std::to_string(i)]), -1);
    }
    const Bytes start = m.save();
    m.load(start);
    ASSERT_EQ(FS_Format("A:NEW"), -1);
    const int64_t total = m.spent();
    int outcome[4] = {};  // no volume, empty, old files whole, entries reported broken
    for (int64_t cut = 0; cut < total; cut++) {
        m.load(start);
        m.cutAfter(cut, cut % 2 ? 2 : 0);
        EXPECT_NE(FS_Format("A:NEW"), -1);
        m.powerOn();
        const int16_t st = FS_Init(nullptr);
        SCOPED_TRACE(std::string(what) + ": format cut after " + std::to_string(cut));
        ASSERT_TRUE(st == -1 || st == -6 || st == -8) << st;  // -8: a header torn before its version byte
        if (st != -1) {
            outcome[0]++;
        } else {
            FS_RepairReport rep;
            ASSERT_EQ(FS_Repair(nullptr, &rep), -1);
            outcome[rep.files == 0 ? 1 : rep.brokenFiles + rep.sharedFiles ? 3 : 2]++;
            for (const auto &[name, bytes] : m.decode().contents()) EXPECT_TRUE(old.count(name) && old[name] == bytes) << name;
            ASSERT_EQ(FS_Check(nullptr, &rep), -1);
            EXPECT_EQ(rep.leakedBlocks + rep.unmarkedBlocks, 0);
            if (rep.brokenFiles + rep.sharedFiles == 0) {
                EXPECT_EQ(writeFile("NEW.1", pattern(2000, 3)), -1);
            }
        }
        ASSERT_EQ(FS_Format("A:AGAIN"), -1);
        ASSERT_EQ(FS_Init(nullptr), -1);
        EXPECT_EQ(writeFile("NEW.2", pattern(2000, 4)), -1);
    }
    printf("%s: %lld format cuts: %d no volume, %d empty volume, %d old files (whole), %d with entries FS_Check reports "
           "broken\n", what,
           static_cast<long long>(total), outcome[0], outcome[1], outcome[2], outcome[3]);
}

TEST(PowerCutsDuring, Formatting) {
    const std::pair<const char *, std::function<Medium *()>> media[] = {
        {"diskette 720 KB", [] { return new RamMedium(ramdev::makeDiskette(1440)); }},
        {"flash card 1 MiB", [] { return new RamMedium(ramdev::makeFlashCard()); }},
        {"flash cartridge 1 MiB", [] { return new StandinMedium(KVS_FLASH_1M, false); }}};
    for (const auto &[what, make] : media) formatCuts(what, *std::unique_ptr<Medium>(make()));
}

}  // namespace
