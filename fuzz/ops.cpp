// Fuzz target: an operation script. Byte 0 chooses the medium (fuzz_common.h), which is formatted;
// every following byte is a call with its arguments taken from the bytes after it: create, write,
// close, open, read and close for reading, delete, rename, mount, format, list, the capacity queries,
// check and repair, status reads, and device faults for the next call. Names and handles include bad
// ones (no device, extension 0, handles of the other file, of no file, out of range), and calls come
// in any order. A model of the committed files and the open ones predicts every result; after every
// call the medium, decoded without the library, must hold exactly the model's files, every chain
// whole, no block in two files, every live block in use on the map and none leaked. After a device
// fault a call may fail instead: the files must then be as before the call or as after it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/frame.h"
#include "fuzz_common.h"
#include "model.h"

using namespace fuzz;
using volimage::canonical;

namespace {

using model::Files;
using model::Reader;
using model::Writer;

const char *const kNames[] = {"a.1", "B.2", "c.003", "LONGNAME9.4", "d.5", "e.999", "f", "g.12",
                              "",    "x.0", "y.txt", "Q:z.1", "A:a.1", "a.b.7", "e.0999", "G.12x"};

struct Script : model::Model {
    Input in;
    std::vector<Reader> readers;
    int base = 0;          // FS_BlocksUsed of the empty volume
    bool faulted = false;  // a device fault has struck: blocks may leak, calls may fail
    int step = 0;

    Script(ramdev::RamDevice *device, Input input) : Model(device), in(input) {}

    bool trace = false;
    void note(const std::string &call, int got) {
        if (trace) std::fprintf(stderr, "  %s -> %d\n", call.c_str(), got);
    }

    void check(bool ok, const std::string &what) {
        if (!ok) fail("step " + std::to_string(step) + ": " + what);
    }
    void result(int got, int want, const char *call) {
        check(got >= 0 || documented(got), std::string(call) + " gave the undocumented " + std::to_string(got));
        check(got == want, std::string(call) + " gave " + std::to_string(got) + ", the model " + std::to_string(want));
    }
    // A call that may fail after a fault; true when it did and the files are as before or as after.
    bool failedAfterFault(int got, int want, const Files &after, const char *call) {
        if (got == want || !(hit() || faulted) || got == -1) return false;
        check(documented(got), std::string(call) + " gave the undocumented " + std::to_string(got));
        const Files seen = image().contents();
        check(seen == files || seen == after, std::string(call) + " failed and left neither the old files nor the new");
        files = seen;
        return true;
    }

    const char *name() {
        const uint8_t b = in.byte();
        return b == 0xFF ? nullptr : kNames[b % 16];
    }
    std::string key(const char *n) { return canonical(n ? n : ""); }
    bool badDevice(const char *n) { return n && n[0] == 'Q'; }
    bool extZero(const char *n) { return key(n).substr(key(n).rfind('.')) == ".0"; }
    int16_t handle() {
        const uint8_t b = in.byte();
        const int16_t picks[] = {0, 1, 2, -1, 1000, -32768, writer ? writer->h : int16_t(0), readers.empty() ? int16_t(1) : readers[0].h};
        return picks[b % 8];
    }
    int records() const { return int(readers.size()) + (writer ? 1 : 0); }
    int16_t freeRecord() const {
        for (int16_t h = 0; h < 2; h++) {
            bool used = writer && writer->h == h;
            for (const Reader &rd : readers) used = used || rd.h == h;
            if (!used) return h;
        }
        return -51;
    }
    Reader *readerOf(int16_t h) {
        for (Reader &rd : readers)
            if (rd.h == h) return &rd;
        return nullptr;
    }
    void dropReaders(const std::string &n) {
        for (Reader &rd : readers)
            if (n.empty() || rd.name == n) rd.exact = false;
    }
    void openW() {
        const char *n = name();
        const int16_t got = FS_OpenW(n);
        note(std::string("FS_OpenW ") + (n ? n : "null"), got);
        int16_t want = writer ? -59 : records() == 2 ? -51 : badDevice(n) ? -55 : extZero(n) ? -103 : files.count(key(n)) ? -5 : freeRecord();
        if (want >= 0 && got == -3 && mayBeFull(1)) return;
        if (failedAfterFault(got, want, files, "FS_OpenW")) return;
        result(got, want, "FS_OpenW");
        if (got >= 0) writer = Writer{got, key(n), {}};
    }

    // Bytes a failed append leaves: those that fit the block being filled.
    size_t fits(size_t length) const {
        const size_t room = r->blockSizeBytes() - 2, filled = length == 0 ? 0 : (length - 1) % room + 1;
        return room - filled;
    }

    void write() {
        const int16_t h = handle();
        const uint8_t how = in.byte();
        const size_t n = how & 0x80 ? size_t(in.byte()) * 37 + in.byte() : how % 8;
        Bytes data(n);
        for (size_t i = 0; i < n; i++) data[i] = uint8_t(i * 13 + how);
        const bool mine = writer && writer->h == h;
        int16_t got;
        if (how & 0x40) {
            data.push_back(0);
            for (uint8_t &c : data) c = c ? c : 'z';
            data.back() = 0;
            got = FS_Puts(reinterpret_cast<const char *>(data.data()), h);
            data.pop_back();
        } else if ((how & 0x20) && n == 1) {
            got = FS_Putc(data[0], h);
        } else {
            got = FS_WriteFileEx(h, data.data(), uint32_t(n));
        }
        note("write " + std::to_string(n) + " bytes (how " + std::to_string(how) + ") to " + std::to_string(h), got);
        const int16_t want = n == 0 ? -1 : mine ? -1 : -56;
        if (mine && got == -3 && mayBeFull(blocks(writer->data.size() + n) - blocks(writer->data.size()))) {
            const size_t kept = std::min(n, fits(writer->data.size()));
            writer->data.insert(writer->data.end(), data.begin(), data.begin() + long(kept));
            return;
        }
        if (mine && got != want && (hit() || faulted) && documented(got)) {
            writer->uncertain = true;
            return;
        }
        result(got, want, "a write");
        if (mine) writer->data.insert(writer->data.end(), data.begin(), data.end());
    }

    void closeW() {
        const int16_t h = handle();
        const bool keep = cardfs::g_frame.status == -1;
        const int16_t got = FS_CloseW(h);
        note("FS_CloseW " + std::to_string(h), got);
        if (!writer) return result(got, -1, "FS_CloseW without a file open for writing");
        if (writer->h != h) return result(got, -56, "FS_CloseW of another handle");
        Files after = files;
        if (keep) after[writer->name] = writer->data;
        const Writer w = *writer;
        writer.reset();
        // After a fault struck a write, what reached the medium is not known: the file's content is
        // taken from it, the file itself must be there when the close succeeded.
        const Files seen = image().contents();
        if (keep && w.uncertain && seen.count(w.name)) after[w.name] = seen.at(w.name);
        if (failedAfterFault(got, -1, after, "FS_CloseW")) return;
        result(got, -1, "FS_CloseW");
        check(!keep || !w.uncertain || seen.count(w.name) == 1, "a file committed after a fault is missing");
        files = after;
    }

    void openR() {
        const char *n = name();
        const int16_t got = FS_OpenR(n);
        const int16_t want = records() == 2 ? -51 : badDevice(n) ? -55 : !files.count(key(n)) ? -4 : freeRecord();
        if (failedAfterFault(got, want, files, "FS_OpenR")) return;
        result(got, want, "FS_OpenR");
        if (got >= 0) readers.push_back(Reader{got, key(n)});
    }

    void read() {
        const int16_t h = handle();
        const uint8_t how = in.byte();
        const size_t n = how & 0x80 ? size_t(how & 0x7F) * 11 : 1;
        Reader *rd = readerOf(h);
        const int statusBefore = cardfs::g_frame.status;
        Bytes got(n + 1, 0);
        int16_t st;
        if (how & 0x40) {
            int16_t c = FS_Getc(h);
            st = c == -1 ? int16_t(cardfs::g_frame.status) : -1;
            got.assign(1, uint8_t(c));
            if (c == -1) got.clear();
        } else {
            st = FS_ReadFileEx(h, got.data(), uint32_t(n));
        }
        if (!rd) {
            const bool writers = writer && writer->h == h, free = h >= 0 && h < 2 && !writers;
            return result(st, (how & 0x40) == 0 && n == 0 ? -1 : free ? statusBefore : -56, "a read of no file open for reading");
        }
        if (!rd->exact) return check(documented(st), "a stale read gave " + std::to_string(st));
        const Bytes &content = files.count(rd->name) ? files.at(rd->name) : Bytes();
        const size_t want = how & 0x40 ? 1 : n, left = content.size() - rd->pos, take = std::min(want, left);
        if ((hit() || faulted) && st != -1 && st != -57 && documented(st)) {
            rd->exact = false;
            return;
        }
        result(st, take == want ? -1 : -57, "a read");
        check(std::equal(content.begin() + long(rd->pos), content.begin() + long(rd->pos + take), got.begin()),
              "a read gave other bytes than were written");
        rd->pos += take;
    }

    void closeR() {
        const int16_t h = handle();
        const int16_t got = FS_CloseR(h);
        const int16_t want = h < 0 || h > 1 ? -56 : writer && writer->h == h ? -59 : -1;
        result(got, want, "FS_CloseR");
        for (size_t i = 0; i < readers.size(); i++)
            if (want == -1 && readers[i].h == h) readers.erase(readers.begin() + long(i));
    }

    void remove() {
        const char *n = name();
        const int16_t got = FS_Delete(n);
        const int16_t want = writer ? -59 : records() == 2 ? -51 : badDevice(n) ? -55 : !files.count(key(n)) ? -4 : -1;
        Files after = files;
        after.erase(key(n));
        if (failedAfterFault(got, want, after, "FS_Delete")) return dropReaders(key(n));
        result(got, want, "FS_Delete");
        if (got == -1) files = after, dropReaders(key(n));
    }

    void rename() {
        const char *a = name(), *b = name();
        const int16_t got = FS_Rename(a, b);
        int16_t want = writer ? -59 : records() == 2 ? -51 : badDevice(b) ? -55 : extZero(b) ? -103 : files.count(key(b)) ? -5
                       : badDevice(a) ? -55 : !files.count(key(a)) ? -4 : -1;
        Files after = files;
        if (want == -1) after[key(b)] = after[key(a)], after.erase(key(a));
        if (failedAfterFault(got, want, after, "FS_Rename")) return dropReaders("");
        result(got, want, "FS_Rename");
        if (got != -1) return;
        files = after;
        for (Reader &rd : readers)
            if (rd.name == key(a)) rd.name = key(b);
    }

    void mount() {
        const int16_t got = FS_Init(nullptr);
        note("FS_Init", got);
        writer.reset(), readers.clear();  // forgotten whatever the mount gives
        // A mount that a fault failed leaves no device current: mount again, as a host would.
        if (failedAfterFault(got, -1, files, "FS_Init")) return disarm(), result(FS_Init(nullptr), -1, "FS_Init after a fault");
        result(got, -1, "FS_Init");
    }

    // Formatting is not atomic: no fault strikes it.
    void format() {
        r->faultAt = 0, armed = false;  // (not disarm: nothing struck)
        const int16_t got = FS_Format("A:FUZZ");
        result(got, writer ? -59 : -1, "FS_Format");
        if (got == -1) files.clear(), dropReaders("");
    }

    void list() {
        DirScan s;
        Files seen;
        int st = FS_OpenDir(in.byte() & 1 ? r->dev() : nullptr, &s);
        for (int k = 0; st == -1; st = FS_ReadDir(&s), k++) {
            check(k <= 1024, "the directory never ends");
            if (k == 0 || s.entry->extension == 0) continue;
            char n[16];
            BuildFileName(n, s.entry->name, int16_t(s.entry->extension));
            seen[canonical(n)];
        }
        if (st != -4 && (hit() || faulted) && documented(st)) return;
        result(st, -4, "the directory scan");
        check(seen.size() == files.size(), "the directory lists other files than the model");
        for (const auto &f : files) check(seen.count(f.first) == 1, "the directory misses " + f.first);
    }

    void queries() {
        DirScan s;
        const int16_t present = FS_FilesPresent(&s), used = FS_BlocksUsed();
        if (hit()) return;
        result(present, int16_t(files.size()), "FS_FilesPresent");
        int want = base;
        for (const auto &f : files) want += blocks(f.second.size());
        if (!faulted) result(used, want, "FS_BlocksUsed");
        else check(used >= want, "FS_BlocksUsed counts fewer blocks than the files hold");
    }

    void checkAndRepair() {
        FS_RepairReport rep;
        const bool fix = in.byte() & 1;
        int16_t got = fix ? FS_Repair(nullptr, &rep) : FS_Check("A:", &rep);
        note(fix ? "FS_Repair" : "FS_Check", got);
        const int16_t want = fix && writer ? -59 : -1;
        if (failedAfterFault(got, want, files, "FS_Check/FS_Repair")) return;
        result(got, want, fix ? "FS_Repair" : "FS_Check");
        if (got != -1) return;
        check(rep.files == int16_t(files.size()) && rep.brokenFiles == 0 && rep.sharedFiles == 0 && rep.unmarkedBlocks == 0,
              "the check finds damage the model does not have: files " + std::to_string(rep.files) + ", broken " +
                  std::to_string(rep.brokenFiles) + ", shared " + std::to_string(rep.sharedFiles) + ", unmarked " +
                  std::to_string(rep.unmarkedBlocks));
        check(faulted || (rep.leakedBlocks == 0 && rep.mapWritten == 0), "the check finds leaked blocks without a fault");
        if (fix) {
            disarm();
            result(FS_Check(nullptr, &rep), -1, "FS_Check after FS_Repair");
            check(rep.leakedBlocks == 0 && rep.unmarkedBlocks == 0, "FS_Repair left the map wrong");
        }
    }

    void arm() {
        const uint8_t b = in.byte();
        const ramdev::Op ops[] = {ramdev::Op::Read, ramdev::Op::Write, ramdev::Op::ReadBytes, ramdev::Op::Erase};
        if (!r->isFlash && (b & 3) >= 2) return;
        r->armFault(ops[b & 3], 1 + (b >> 2) % 6, -100);
        note("fault on op " + std::to_string(b & 3) + " call " + std::to_string(1 + (b >> 2) % 6), 0);
    }

    // The medium without the library: the model's files, whole, alone in their blocks, marked in use.
    void verify() {
        const volimage::Image img = image();
        check(img.mounts, "the volume no longer mounts");
        const volimage::Health h = volimage::health(img);
        check(h.problem.empty(), h.problem);
        check(faulted || h.leaked == 0, std::to_string(h.leaked) + " blocks leaked without a fault");
        check(img.contents() == files, "the medium holds other files than the model");
    }

    void run() {
        trace = std::getenv("CARDFS_FUZZ_TRACE") != nullptr;  // replaying an input: a line a call
        while (!in.empty() && step < 400) {
            const uint8_t op = in.byte();
            if (trace) std::fprintf(stderr, "step %d: op %d, status %d, files %zu\n", step, op % 16, int(cardfs::g_frame.status), files.size());
            armed = r->faultAt != 0;
            switch (op % 16) {
            case 0: case 1: openW(); break;
            case 2: case 3: write(); break;
            case 4: closeW(); break;
            case 5: openR(); break;
            case 6: read(); break;
            case 7: closeR(); break;
            case 8: remove(); break;
            case 9: rename(); break;
            case 10: mount(); break;
            case 11: list(); break;
            case 12: queries(); break;
            case 13: checkAndRepair(); break;
            case 14: (void)GetErrno(); break;
            default: op & 0x10 ? arm() : format(); break;
            }
            faulted = faulted || hit();
            if (op % 16 != 15 || !(op & 0x10)) r->faultAt = 0;  // a fault lasts one call
            verify();
            armed = false;
            step++;
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const uint8_t which = data[0];
    ramdev::RamDevice *r = medium(which % kGeometries);
    std::memset(r->data.data(), fillOf(r, false), r->data.size());
    resetLibrary();
    useAlone(r);
    if (FS_Format("A:FUZZ") != -1 || FS_Init(nullptr) != -1) fail("cannot format the medium");
    Script s(r, Input(data + 1, size - 1));
    s.base = FS_BlocksUsed();
    s.run();
    expect(r->outside == 0, "a request outside the medium");
    return 0;
}
