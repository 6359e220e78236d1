// Power cuts on record, on every kind of medium: a script of creations, deletions and renames cut
// after each sampled write or erase on the cartridges (flash and PEROM) and the card image of the
// card-programmer stand-in; cuts inside reclamation on nearly full flash volumes; cuts during
// formatting, whose outcomes are counted and must all lead back to a usable volume. After each cut
// the medium is decoded without the library (volume_image.h) and every guarantee is checked: the
// volume mounts, the files are those before or after the step in flight byte for byte, no block in
// two files, every live block in use on the map (no leak on flash), and the volume takes a new file.
// A sample of cut points by default; CARDFS_POWERCUT_FULL=1 cuts after every write and erase.
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// A medium the sweeps cut: its bytes kept and put back, the power cut after n writes and erases.
struct Medium {
    virtual ~Medium() = default;
    virtual DeviceDescriptor *dev() = 0;
    virtual Bytes save() = 0;
    virtual void load(const Bytes &b) = 0;
    virtual void cutAfter(int64_t n, bool torn) = 0;
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

struct RamMedium : Medium {
    Dev d;
    explicit RamMedium(ramdev::RamDevice *r) : d(mounted(r, "A:CUTS")) {}
    DeviceDescriptor *dev() override { return d->dev(); }
    Bytes save() override { return d->data; }
    void load(const Bytes &b) override { d->data = b, d->resetCounters(); }
    void cutAfter(int64_t n, bool torn) override { d->cutPowerAfter(n, torn), d->tornBits = torn; }
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
    Bytes save() override {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    void load(const Bytes &b) override {
        std::ofstream(path, std::ios::binary | std::ios::in).write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
        KVS_ResetCounters();
    }
    void cutAfter(int64_t n, bool torn) override { KVS_CutPowerAfter(int32_t(n), torn); }
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
// Steps over six names: files up to maxBlocks blocks of blockSize, at most budget blocks at once.
std::vector<Step> script(size_t steps, int maxBlocks, int blockSize, int budget, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<Step> out;
    std::map<std::string, int> held;
    int used = 0;
    while (out.size() < steps) {
        const std::string a = "P" + std::to_string(rng() % 6) + ".1", b = "P" + std::to_string(rng() % 6) + ".1";
        if (!held.count(a)) {
            const size_t n = rng() % size_t(maxBlocks * (blockSize - 2));
            const int need = blocksFor(n, blockSize);
            if (used + need > budget) continue;
            used += held[a] = need;
            out.push_back({'c', a, "", pattern(n, uint32_t(rng()))});
        } else if (rng() % 3 == 0 && !held.count(b)) {
            held[b] = held[a], held.erase(a), out.push_back({'r', a, b, {}});
        } else {
            used -= held[a], held.erase(a), out.push_back({'d', a, "", {}});
        }
    }
    return out;
}

// The script from the medium's present state with the power cut after `cut` writes and erases
// (-1: none); what it breaks. *mended: it broke something at once that FS_Repair then mended (a
// flash block whose copy-back a cut tore inside a byte has a whole chain and a wrong byte until the
// spare's copy completes it, which FS_Repair does, and so does the next write before it erases or uses
// the spare).
std::string cutScript(Medium &m, const Bytes &start, const std::vector<Step> &steps, int64_t cut, bool torn, int64_t *spent,
                      bool *mended = nullptr) {
    m.load(start);
    if (FS_Init(nullptr) != -1) return "the start does not mount";
    Model before = m.decode().contents();
    m.cutAfter(cut, torn);
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
    const std::string why = guarantees(m, before, after);
    if (why.empty() || !mended) return why;
    FS_RepairReport rep;
    if (FS_Repair(nullptr, &rep) != -1) return why + "; FS_Repair fails";
    *mended = true;
    const std::string still = guarantees(m, before, after);
    return still.empty() ? "" : why + "; after FS_Repair: " + still;
}

// Cuts the script after every `stride`-th write or erase, whole and torn; prints the record.
void sweep(const char *what, Medium &m, const std::vector<Step> &steps, int samples) {
    const Bytes start = m.save();
    int64_t total = 0;
    ASSERT_EQ(cutScript(m, start, steps, -1, false, &total), "");
    const int64_t stride = fullSweep() ? 1 : std::max<int64_t>(1, total / samples);
    int points = 0, failures = 0, mends = 0;
    for (int64_t n = 0; n <= total; n += stride)
        for (bool torn : {false, true}) {
            const int64_t cut = torn ? std::min(total, n + stride / 2) : n;
            bool mended = false;
            const std::string why = cutScript(m, start, steps, cut, torn, nullptr, &mended);
            points++, mends += mended;
            if (!why.empty() && ++failures <= 10)
                ADD_FAILURE() << what << ": cut after " << cut << (torn ? " torn" : "") << ": " << why;
            EXPECT_TRUE(!mended || torn) << what << ": a whole cut needed FS_Repair, at " << cut;
        }
    printf("%s: %d cuts (whole and torn) over %lld writes/erases; every guarantee held in %d, %d of them only after "
           "FS_Repair\n", what, points, static_cast<long long>(total), points - failures, mends);
    EXPECT_EQ(failures, 0);
}

TEST(PowerCuts, FlashCartridge) {
    StandinMedium m(KVS_FLASH_1M, false);
    sweep("flash cartridge 1 MiB", m, script(14, 30, 512, 600, 7), 40);
}

TEST(PowerCuts, PeromCartridge) {
    StandinMedium m(KVS_PEROM_1F5B, false);
    sweep("PEROM cartridge 512 KiB", m, script(14, 30, 512, 600, 8), 40);
}

TEST(PowerCuts, CardImage) {
    StandinMedium m(0, true);
    sweep("card image 1 MiB", m, script(14, 30, 512, 600, 9), 40);
}

// A flash volume filled to its last sectors, every other file deleted: the next files can only be
// placed by reclaiming sectors, through the one spare, and the cuts fall inside those reclamations.
void nearlyFull(const char *what, ramdev::RamDevice *r, int fileBlocks, int samples) {
    parkAllocationCursor(2);
    RamMedium m(r);
    const int bs = r->geometry.blockSize;
    std::vector<std::string> names;
    for (int n = 0; writeFile("F" + std::to_string(n) + ".1", pattern(size_t(fileBlocks * (bs - 2)), uint32_t(n))) == -1; n++)
        names.push_back("F" + std::to_string(n) + ".1");
    for (size_t i = 0; i < names.size(); i += 2) ASSERT_EQ(FS_Delete(names[i].c_str()), -1);
    ASSERT_GT(FS_BlocksUsed(), FS_TotalBlocks() * 4 / 10) << "half of a full volume is live";
    const std::vector<Step> steps = {{'c', "NEW.1", "", pattern(size_t(3 * fileBlocks * (bs - 2)), 5)},
                                     {'d', names[1], "", {}},
                                     {'c', "NEW.2", "", pattern(size_t(2 * fileBlocks * (bs - 2)), 6)}};
    sweep(what, m, steps, samples);
}

TEST(PowerCuts, ReclamationOnNearlyFullFlash) {
    nearlyFull("nearly full flash, 16-block sectors", ramdev::makeFlash(512, 256, 2, 32, 8192, 16, 2), 5, 1000);
    nearlyFull("nearly full flash card 1 MiB", ramdev::makeFlashCard(), 45, 150);
}

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
        m.cutAfter(cut, cut % 2 == 1);
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

TEST(PowerCuts, DuringFormatting) {
    {
        RamMedium diskette(ramdev::makeDiskette(1440));
        formatCuts("diskette 720 KB", diskette);
    }
    {
        RamMedium card(ramdev::makeFlashCard());
        formatCuts("flash card 1 MiB", card);
    }
    StandinMedium cartridge(KVS_FLASH_1M, false);
    formatCuts("flash cartridge 1 MiB", cartridge);
}

}  // namespace
