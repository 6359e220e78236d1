// The soak: a long random workload per geometry with device failures injected at random (failed
// reads, writes, erases and probes), checked against a model after every call.
//   cardfs_soak GEOMETRY CALLS SEED      GEOMETRY: dd720 hd144 card1m cart4m
// After every call the medium, decoded without the library, must hold exactly the model's files with
// whole chains, no block in two files and every live block in use; blocks may leak only after a
// fault, and FS_Repair (run now and then) must leave none. One file is compared byte for byte after
// every call, all of them every 20,000 calls and at the end. A call that fails after a fault leaves
// the files as before it or as after it; a close whose last-block write fails leaves no file. Prints
// one line of figures and exits 0 when nothing broke; on the first broken rule it prints the call,
// the seed and the geometry, and exits 1.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>

#include "model.h"

namespace {

using model::Bytes;
using model::Files;
using ramdev::Op;

struct Stats {
    long calls = 0, faults = 0, mendedByRepair = 0, failedCalls = 0, failedWithoutFault = 0, full = 0, lastBlockCloses = 0, repairs = 0,
         leaksRepaired = 0, committed = 0, deleted = 0, renamed = 0, bytesRead = 0, mounts = 0, fullChecks = 0;
};

struct Soak : model::Model {
    std::mt19937_64 rng;
    const char *geometry;
    uint64_t seed;
    std::optional<model::Reader> reader;
    bool leaky = false;  // a fault struck since the last repair: blocks may leak
    uint64_t armedNth = 0;
    Stats st;
    std::string rotation;  // the file compared byte for byte after the last call

    Soak(ramdev::RamDevice *device, const char *g, uint64_t s) : Model(device), rng(s), geometry(g), seed(s) {}
    [[noreturn]] void fail(const std::string &what) {
        std::printf("soak FAILED on %s, seed %llu, call %ld: %s\n  replay: cardfs_soak %s %ld %llu\n", geometry,
                    static_cast<unsigned long long>(seed), st.calls, what.c_str(), geometry, st.calls + 1,
                    static_cast<unsigned long long>(seed));
        std::exit(1);
    }
    void expect(bool ok, const std::string &what) {
        if (!ok) fail(what);
    }
    uint64_t pick(uint64_t n) { return rng() % n; }
    bool mayBeFull(int need) const { return leaky || Model::mayBeFull(need); }
    // 60 names: the directory of a diskette has 63 entries.
    std::string name() { return "s" + std::to_string(pick(20)) + "." + std::to_string(1 + pick(3)); }
    std::string spelled(std::string n) {
        for (char &c : n) c = pick(2) ? char(std::toupper(c)) : c;
        return n;
    }
    // The whole files on the medium; when they are neither the model's nor `after` and a fault struck
    // in this call, after FS_Repair has restored what a reclamation cut short left in the spare.
    Files mended(const Files &after) {
        Files seen = image().contents();
        if (seen == files || seen == after || !hit()) return seen;
        FS_RepairReport rep;
        expect(FS_Repair(nullptr, &rep) == -1, "FS_Repair after a fault");
        st.mendedByRepair++, leaky = false;
        return image().contents();
    }
    // What differs between the medium's whole files and the model's.
    std::string differences() {
        const Files seen = image().contents();
        std::string out;
        for (const auto &[n, b] : seen)
            if (!files.count(n)) out += n + " is there, ";
            else if (files.at(n) != b) out += n + " differs, ";
        for (const auto &[n, b] : files)
            if (!seen.count(n)) out += n + " is missing, ";
        return out + volimage::health(image(false)).problem;
    }
    // A call that failed: only after a fault, and the files as before it or as after it.
    void failed(int status, const Files &after, const char *call) {
        st.failedCalls++;
        if (!hit()) st.failedWithoutFault++;
        expect(status < -1, std::string(call) + " gave " + std::to_string(status));
        const Files seen = mended(after);
        expect(seen == files || seen == after, std::string(call) + " failed with " + std::to_string(status) +
                                                   " and left neither the files before it nor those after it");
        files = seen;
    }

    void openW() {
        const std::string n = name();
        const int16_t h = FS_OpenW(spelled(n).c_str());
        if (h >= 0) return void(writer = model::Writer{h, n, {}});
        if (h == -5) return expect(files.count(n) == 1, "-5 for a file that does not exist");
        if (h == -3 && mayBeFull(1)) return void(st.full++);
        failed(h, files, "FS_OpenW");
    }
    // A host checks every write: after a failed one it closes the file, which drops it.
    void write() {
        const size_t room = r->blockSizeBytes() - 2;
        const size_t n = pick(8) ? pick(3 * room) : pick(size_t(FS_TotalBlocks() / 15) * room);
        Bytes data(n);
        for (uint8_t &c : data) c = uint8_t(rng());
        const int16_t got = n == 1 ? FS_Putc(data[0], writer->h) : FS_WriteFileEx(writer->h, data.data(), uint32_t(n));
        if (got == -1) return void(writer->data.insert(writer->data.end(), data.begin(), data.end()));
        if (got == -3 && mayBeFull(blocks(writer->data.size() + n) - blocks(writer->data.size()))) st.full++;
        else st.failedCalls++, st.failedWithoutFault += !hit();
        expect(got < -1, "a write gave " + std::to_string(got));
        disarm();
        expect(FS_CloseW(writer->h) == -1, "FS_CloseW after a failed write");
        writer.reset();
    }
    // Committed when the close succeeds. When the write of its last block fails the file is dropped
    // and the close gives the failure; any other failure leaves it committed or not.
    void closeW() {
        const model::Writer w = *writer;
        writer.reset();
        const int16_t got = FS_CloseW(w.h);
        Files after = files;
        after[w.name] = w.data;
        if (got == -1) {
            files = after;
            st.committed++;
            return;
        }
        // The close's first device write is its last block.
        if (hit() && r->faultOp == Op::Write && armedNth == 1) {
            st.lastBlockCloses++;
            expect(mended(files) == files, "a close whose last block failed kept the file");
        }
        failed(got, after, "FS_CloseW");
    }
    void openR() {
        const std::string n = name();
        const int16_t h = FS_OpenR(spelled(n).c_str());
        if (h >= 0) return expect(files.count(n) == 1, "opened a file that does not exist"), void(reader = model::Reader{h, n});
        if (h == -4) return expect(files.count(n) == 0, "-4 for " + n);
        failed(h, files, "FS_OpenR");
    }
    void read() {
        const Bytes &content = files.at(reader->name);
        const size_t n = 1 + pick(3 * r->blockSizeBytes());
        Bytes got(n);
        const int16_t status = FS_ReadFileEx(reader->h, got.data(), uint32_t(n));
        const size_t take = std::min(n, content.size() - reader->pos);
        if (status != -1 && status != -57) {
            expect(hit(), "a read failed without a fault: " + std::to_string(status));
            st.failedCalls++;
            FS_CloseR(reader->h);
            return reader.reset();
        }
        expect(status == (take == n ? -1 : -57), "a read gave " + std::to_string(status));
        expect(std::equal(got.begin(), got.begin() + long(take), content.begin() + long(reader->pos)), "a read gave other bytes");
        reader->pos += take, st.bytesRead += long(take);
        if (status == -57) FS_CloseR(reader->h), reader.reset();
    }
    void remove() {
        const std::string n = name();
        if (reader && reader->name == n) return;  // its reader would read freed blocks
        const int16_t got = FS_Delete(spelled(n).c_str());
        Files after = files;
        after.erase(n);
        if (got == -1 || got == -4) expect((got == -1) == (files.count(n) == 1), "FS_Delete gave " + std::to_string(got));
        if (got == -1) files = after, st.deleted++;
        else if (got != -4) failed(got, after, "FS_Delete");
    }
    void rename() {
        const std::string a = name(), b = name();
        const int16_t got = FS_Rename(spelled(a).c_str(), spelled(b).c_str());
        const int16_t want = files.count(b) ? -5 : files.count(a) ? -1 : -4;
        Files after = files;
        if (want == -1) after[b] = after[a], after.erase(a);
        if (got == want && got == -1) files = after, st.renamed++;
        else if (got != want) failed(got, after, "FS_Rename");
    }
    void repair() {
        FS_RepairReport rep;
        const int16_t got = FS_Repair(nullptr, &rep);
        if (got != -1) return failed(got, files, "FS_Repair");
        expect(rep.brokenFiles == 0 && rep.sharedFiles == 0 && rep.unmarkedBlocks == 0, "FS_Repair finds damage");
        st.repairs++, st.leaksRepaired += rep.leakedBlocks;
        disarm();
        expect(FS_Check(nullptr, &rep) == -1 && rep.leakedBlocks == 0 && rep.unmarkedBlocks == 0, "FS_Repair left leaks");
        leaky = false;
    }
    void mount() {
        st.mounts++;
        writer.reset(), reader.reset();
        if (FS_Init(nullptr) == -1) return;
        expect(hit(), "FS_Init failed without a fault");
        disarm();
        expect(FS_Init(nullptr) == -1, "the volume does not mount");
    }
    void arm() {
        const Op ops[] = {Op::Read, Op::Write, Op::ReadBytes, Op::Erase};
        armedNth = 1 + pick(3);
        r->armFault(ops[pick(r->isFlash ? 4 : 2)], armedNth, -100);
        armed = true;
    }

    // While a file is open for writing only its writes and its close run: any other call stores a
    // status, and FS_CloseW keeps the file only when the last one stored is -1.
    void call() {
        if (pick(30) == 0) arm();
        const uint64_t k = pick(1000);
        const int fill = freeBlocks() * 100 / std::max(1, int(FS_TotalBlocks()));
        if (writer && k >= 800 && !armed && pick(10) == 0) r->armFault(Op::Write, armedNth = 1, -100), armed = true;
        if (writer) k < 800 ? write() : closeW();
        else if (reader && k < 600) read();
        else if (k < 5) mount();
        else if (k < 8 || (leaky && k < 20)) repair();
        else if (k < (fill < 25 ? 400u : 150u)) remove();
        else if (k < 250) rename();
        else if (!reader && k < 450) openR();
        else openW();
        disarm();
        if (hit()) st.faults++, leaky = true;
    }

    // The bytes of one file as its chain on the medium holds them.
    Bytes content(const volimage::Image &img, const std::string &n) {
        Bytes out;
        for (const auto &f : img.files) {
            if (f.name != n) continue;
            for (int32_t b : f.chain) {
                const uint8_t *block = r->block(b);
                const uint16_t link = uint16_t(block[0] | block[1] << 8);
                out.insert(out.end(), block + 2, block + (link & 0x8000 ? (link & 0x7FFF) : r->geometry.blockSize));
            }
        }
        return out;
    }
    // What the decoded medium breaks of the model, "" when nothing: the chains, the map, the names, and
    // the bytes of one file in turn (all of them when `all`).
    std::string broken(bool all) {
        const volimage::Image img = image(false);
        if (!img.mounts) return "the volume does not mount";
        const volimage::Health h = volimage::health(img);
        if (!h.problem.empty()) return h.problem;
        if (!leaky && h.leaked) return std::to_string(h.leaked) + " blocks leaked without a fault";
        bool names = img.files.size() == files.size();
        for (const auto &f : img.files) names = names && files.count(f.name) == 1;
        if (!names) return "the directory holds other files than the model: " + differences();
        if (all) {
            for (const auto &[n, bytes] : files)
                if (content(img, n) != bytes) return n + " changed";
            return "";
        }
        if (files.empty()) return "";
        auto it = files.upper_bound(rotation);
        if (it == files.end()) it = files.begin();
        rotation = it->first;
        return content(img, it->first) == it->second ? "" : it->first + " changed";
    }
    // After every call. A fault that cut a reclamation short (a failed erase or copy-back) can leave
    // live blocks only in the spare: opening such a file restores them, and so does the next use of
    // the spare; FS_Repair restores them at once, and then everything must hold.
    void verify(bool all) {
        std::string why = broken(all);
        if (!why.empty() && hit()) {
            st.mendedByRepair++;
            FS_RepairReport rep;
            expect(FS_Repair(nullptr, &rep) == -1, why + ", and FS_Repair fails");
            leaky = false;
            why = broken(true);
        }
        expect(why.empty(), why);
        st.fullChecks += all;
    }

    void run(long calls) {
        for (; st.calls < calls; st.calls++) {
            call();
            verify(st.calls % 20000 == 0);
            armed = false;
        }
        verify(true);
        if (writer) closeW();
        repair();
        verify(true);
        const Files seen = image().contents();
        for (const auto &[n, bytes] : files) expect(seen.count(n) && seen.at(n) == bytes, n + " differs at the end");
    }
};

ramdev::RamDevice *make(const std::string &g) {
    if (g == "dd720") return ramdev::makeDiskette(1440);
    if (g == "hd144") return ramdev::makeDiskette(2880);
    if (g == "card1m") return ramdev::makeFlashCard();
    if (g == "cart4m") return ramdev::makeFlashCartridge4M();
    return nullptr;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4 || !make(argv[1])) {
        std::fprintf(stderr, "usage: %s dd720|hd144|card1m|cart4m CALLS SEED\n", argv[0]);
        return 2;
    }
    const uint64_t seed = std::strtoull(argv[3], nullptr, 10);
    Soak s(make(argv[1]), argv[1], seed);
    DeviceDescriptor *table[2] = {s.r->dev(), nullptr};
    FS_SetDeviceTable(table);
    if (FS_Format("A:SOAK") != -1 || FS_Init(nullptr) != -1) return std::puts("cannot format"), 1;
    s.run(std::atol(argv[2]));
    const Stats &t = s.st;
    std::printf("soak %s seed %llu: %ld calls, %ld faults struck, %ld calls failed (%ld without a fault in them), "
                "%ld refused as full, %ld closes failed at a write, %ld times FS_Repair mended what a fault left, %ld files committed, %ld deleted, %ld renamed, "
                "%ld bytes read back, %ld mounts, %ld repairs freeing %ld leaked blocks, %ld full comparisons, "
                "%zu files at the end, %llu sector erases: every check held\n",
                argv[1], static_cast<unsigned long long>(s.seed), t.calls, t.faults, t.failedCalls, t.failedWithoutFault,
                t.full, t.lastBlockCloses, t.mendedByRepair, t.committed, t.deleted, t.renamed, t.bytesRead, t.mounts, t.repairs,
                t.leaksRepaired, t.fullChecks, s.files.size(), static_cast<unsigned long long>(s.r->count.of(Op::Erase)));
    return 0;
}
