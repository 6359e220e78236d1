// Fuzz target: a medium whose bytes the fuzzer gives (a sparse description, fuzz_common.h), in each
// geometry. The library mounts it, lists it, reads every file by name and by descriptor, checks it,
// writes, renames and deletes on it. Every status must be documented, no request may leave the
// medium, no directory scan or read may run on without end. Then FS_Repair must leave a map on which
// exactly the live blocks are in use, and a file written after it must leave every whole file that
// holds its blocks alone byte for byte.
#include <cstring>
#include <map>
#include <set>

#include "fuzz_common.h"

using namespace fuzz;

namespace {

void statusOk(int st, const char *call) { expect(documented(st), std::string(call) + " gave " + std::to_string(st)); }

// Reads an open file to its end by runs and by bytes; a file cannot hold more than the medium.
void readToEnd(int16_t h, ramdev::RamDevice *r, const char *how) {
    if (h < 0) return statusOk(h, how);
    uint8_t buffer[700];
    const size_t most = r->data.size() + r->blockSizeBytes();
    size_t got = 0;
    int16_t st = -1;
    for (bool runs = true; st == -1; runs = !runs, got += runs ? sizeof buffer : 1) {
        expect(got <= most, std::string(how) + ": reading never ends");
        if (runs) {
            st = FS_ReadFileEx(h, buffer, sizeof buffer);
        } else if (FS_Getc(h) == -1) {
            st = int16_t(GetErrno());
        }
    }
    statusOk(st, how);
    expect(FS_CloseR(h) == -1, "FS_CloseR of a file open for reading");
}

struct Listed {
    std::vector<std::string> names;
    std::vector<FileDescr> descrs;
};

Listed listAll(ramdev::RamDevice *r) {
    Listed out;
    DirScan s;
    const int entries = r->geometry.dirBlocks * r->geometry.blockSize / 16;
    int seen = 0, st = FS_OpenDir(nullptr, &s);
    for (; st == -1; st = FS_ReadDir(&s)) {
        expect(++seen <= entries, "the directory scan never ends");
        DirEntry e;
        expect(FS_GetDirEntry(&s, &e) == -1, "FS_GetDirEntry on an open scan");
        if (seen == 1 || e.extension == 0 || out.names.size() >= 6) continue;
        char name[16];
        BuildFileName(name, e.name, int16_t(e.extension));
        out.names.push_back(name);
        FileDescr fd;
        if (FD_GetCurrFileDescr(&s, &fd) == -1) out.descrs.push_back(fd);
    }
    statusOk(st, "FS_OpenDir/FS_ReadDir");
    return out;
}

int16_t writeNew(const char *name, size_t n) {
    const int16_t h = FS_OpenW(name);
    if (h < 0) return h;
    Bytes data(n);
    for (size_t i = 0; i < n; i++) data[i] = uint8_t(i * 7 + 3);
    const int16_t st = n ? FS_WriteFileEx(h, data.data(), uint32_t(n)) : -1;
    const int16_t closed = FS_CloseW(h);
    statusOk(st, "FS_WriteFileEx");
    statusOk(closed, "FS_CloseW");
    return st != -1 ? st : closed;
}

void queries() {
    DirScan s;
    statusOk(FS_FilesPresent(&s) < 0 ? FS_FilesPresent(&s) : -1, "FS_FilesPresent");
    const int16_t used = FS_BlocksUsed();
    if (used < 0) statusOk(used, "FS_BlocksUsed");
    (void)FS_BlocksFree(), (void)FS_SpaceFree(), (void)FS_TotalBlocks(), (void)FS_DeviceSize();
}

void mutate(const Listed &l, uint8_t plan) {
    if (plan & 1) statusOk(writeNew("FZ.1", size_t(plan >> 4) * 300), "write");
    if ((plan & 2) && !l.names.empty()) statusOk(FS_Rename(l.names[0].c_str(), "RN.2"), "FS_Rename");
    if ((plan & 4) && l.names.size() > 1) statusOk(FS_Delete(l.names[1].c_str()), "FS_Delete");
    FileDescr fd = l.descrs.size() > 2 ? l.descrs[2] : FileDescr{};
    if ((plan & 8) && l.descrs.size() > 2) statusOk(FD_Delete(&fd), "FD_Delete");
}

// Whole files none of whose blocks another file holds: what no later write may touch.
std::map<std::string, Bytes> untouchable(const volimage::Image &img) {
    std::map<int32_t, int> holders;
    for (const auto &f : img.files)
        for (int32_t b : f.chain) holders[b]++;
    std::map<std::string, Bytes> out;
    std::set<std::string> twice;
    for (const auto &f : img.files) {
        bool alone = f.whole;
        for (int32_t b : f.chain) alone = alone && holders[b] == 1;
        if (!out.count(f.name) && !twice.count(f.name) && alone) out[f.name] = f.content;
        else out.erase(f.name), twice.insert(f.name);  // two entries of one name: left out
    }
    return out;
}

// Flash: whether every block of the file's chain that changed now holds the block at its place in a
// sector the map called free: what the mend for a cut reclamation's spare does, which a fuzzed medium
// can imitate block for block.
bool mendedFromFreeSector(ramdev::RamDevice *r, const volimage::Image &was, const Bytes &before, const std::string &name) {
    if (!r->isFlash) return false;
    const int32_t per = r->flash.sectorSize / r->geometry.blockSize, bs = r->geometry.blockSize;
    auto freeSector = [&](int32_t s) {
        for (int32_t b = s * per; b < (s + 1) * per; b++)
            if (was.state(b) != 0) return false;
        return s >= r->flash.systemSectors;
    };
    for (const auto &f : was.files) {
        if (f.name != name) continue;
        for (int32_t b : f.chain) {
            const uint8_t *now = r->block(b);
            if (std::memcmp(now, before.data() + size_t(b) * size_t(bs), size_t(bs)) == 0) continue;
            bool copied = false;
            for (int32_t s = 0; s < r->flash.sectorCount && !copied; s++)
                copied = freeSector(s) && std::memcmp(now, before.data() + size_t(s * per + b % per) * size_t(bs), size_t(bs)) == 0;
            if (!copied) return false;
        }
    }
    return true;
}

void repairThenWrite(ramdev::RamDevice *r, uint8_t plan) {
    FS_RepairReport rep;
    if (FS_Repair(nullptr, &rep) != -1) return statusOk(GetErrno(), "FS_Repair");
    const int16_t st = FS_Check(nullptr, &rep);
    statusOk(st, "FS_Check");
    if (st != -1) return;
    expect(rep.leakedBlocks == 0 && rep.unmarkedBlocks == 0,
           "after FS_Repair " + std::to_string(rep.leakedBlocks) + " blocks leak, " +
               std::to_string(rep.unmarkedBlocks) + " live blocks are free on the map");
    const volimage::Image was = decode(r);
    const Bytes before = r->data;
    const auto untouched = untouchable(was);
    statusOk(writeNew("AFTER.3", size_t(plan & 0xF0) * 40 + 5), "write after the repair");
    const auto after = decode(r).contents();
    for (const auto &[name, bytes] : untouched) {
        auto it = after.find(name);
        const bool same = it != after.end() && it->second == bytes;
        expect(same || mendedFromFreeSector(r, was, before, name), "a write after FS_Repair changed " + name);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    Input in(data, size);
    const uint8_t plan = in.byte();
    ramdev::RamDevice *r = medium(applyMedium(in));
    resetLibrary();
    useAlone(r);
    const int16_t mount = FS_Init(nullptr);
    statusOk(mount, "FS_Init");
    if (mount == -1) {
        const Listed l = listAll(r);
        queries();
        for (const std::string &n : l.names) readToEnd(FS_OpenR(n.c_str()), r, "FS_OpenR");
        for (FileDescr fd : l.descrs) readToEnd(FD_OpenR_NoIntegrityTest(&fd), r, "FD_OpenR_NoIntegrityTest");
        FS_RepairReport rep;
        statusOk(FS_Check(nullptr, &rep), "FS_Check");
        mutate(l, plan);
        queries();
        repairThenWrite(r, plan);
    }
    expect(r->outside == 0, "a request outside the medium");
    return 0;
}
