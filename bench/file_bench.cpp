// Benchmarks of the workloads hosts run on cardfs, on the RAM devices of
// tests/support: a 1.44 MB diskette, a 1 MiB flash card and a 4 MiB flash
// cartridge.
//
//   Putc, Getc        a file written and read back byte by byte
//                     (FS_Putc / FS_Getc): MB/s
//   WriteFileEx,      the same file in 4 KiB runs, open and close included
//   ReadFileEx        (reading opens with the chain check): MB/s and
//                     x memcpy, the library's time over the time of a plain
//                     memcpy of the block bytes the device moves, timed right
//                     after each iteration: reading, every block of the chain
//                     twice (chain check, then data); writing, blockSize bytes
//                     for every WriteBlock
//   .../library       flash writes with the RAM device's program check
//                     switched off: the library's work alone, the device
//                     reduced to its copy
//   Create, Delete    63 files of 100 bytes created (open, write, close) on
//                     a fresh diskette, then deleted: microseconds per file
//   Records           100,000 track points and 10,000 MER records written and
//                     loaded on the cartridge: records/s, and for loading
//                     x ReadFileEx, the load time over the time of reading
//                     the same file with FS_ReadFileEx in the same iteration
//
// Each timed iteration yields one sample of every figure; the summary and
// docs/performance.md report medians of all samples of all repetitions.
// The floor of a bulk row is the ratio that the copies the format and the
// device contract force would give with no library work at all: reading,
// the two block copies of the baseline plus the copy of the data out of
// the record's block buffer; writing, the copy of the data into the block
// buffer plus the baseline's.
//
// The file is 1 MiB, 768 KiB on the flash card (about 830 KiB free).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cardfs.h"
#include "ram_device.h"
#include "report.h"

namespace {

using Clock = std::chrono::steady_clock;
using bench::Target;
using ramdev::Op;
using ramdev::RamDevice;

constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kRunBytes = 4096;  // one FS_WriteFileEx / FS_ReadFileEx run
constexpr const char *kFileName = "BENCH.001";

double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

enum class Api { Bytewise, Runs };

struct MediumKind {
    const char *name;
    RamDevice *(*make)();
    size_t fileBytes;
    const char *size;
};

const MediumKind kMedia[] = {
    {"Diskette", [] { return ramdev::makeDiskette(); }, kMiB, "1 MiB"},
    {"FlashCard", [] { return ramdev::makeFlashCard(); }, 768 * 1024, "768 KiB"},
    {"Cartridge4M", [] { return ramdev::makeFlashCartridge4M(); }, kMiB, "1 MiB"},
};

bench::Ops opsOf(const RamDevice *d) {
    return {d->count.of(Op::Read), d->count.of(Op::Write), d->count.of(Op::ReadBytes), d->count.of(Op::Erase)};
}

// One medium with its device table and the file the benchmarks move.
struct Bench {
    const MediumKind &kind;
    RamDevice *dev;
    DeviceDescriptor *table[2];
    std::vector<uint8_t> payload, readBack;

    explicit Bench(const MediumKind &k) : kind(k), dev(k.make()), table{dev->dev(), nullptr} {
        payload.resize(k.fileBytes);
        uint32_t x = 0x12345678u;
        for (auto &b : payload) {  // xorshift: no long runs, every byte value
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            b = static_cast<uint8_t>(x);
        }
        readBack.resize(k.fileBytes);
    }
    ~Bench() { ramdev::destroy(dev); }
    Bench(const Bench &) = delete;
    Bench &operator=(const Bench &) = delete;

    size_t blockSize() const { return dev->blockSizeBytes(); }

    // A fresh volume, mounted as the current device: -1 or the failing status.
    int16_t formatAndMount() {
        if (FS_SetDeviceTable(table) != CARDFS_OK) return CARDFS_E_NO_TABLE;
        int16_t st = FS_Init(nullptr);
        if (st != CARDFS_OK && st != CARDFS_E_NO_VOLUME) return st;
        st = FS_Format("A:BENCH");
        return st != CARDFS_OK ? st : FS_Init(nullptr);
    }

    int16_t writeFile(Api api) {
        int16_t h = FS_OpenW(kFileName);
        if (h < 0) return h;
        const uint8_t *p = payload.data();
        const size_t n = payload.size();
        int16_t st = CARDFS_OK;
        if (api == Api::Bytewise) {
            for (size_t i = 0; i < n && st == CARDFS_OK; i++) st = FS_Putc(p[i], h);
        } else {
            for (size_t off = 0; off < n && st == CARDFS_OK; off += kRunBytes)
                st = FS_WriteFileEx(h, p + off, static_cast<uint32_t>(std::min(kRunBytes, n - off)));
        }
        int16_t closed = FS_CloseW(h);  // drops the file when st failed
        return st != CARDFS_OK ? st : closed;
    }

    int16_t readFile(Api api) {
        int16_t h = FS_OpenR(kFileName);
        if (h < 0) return h;
        uint8_t *out = readBack.data();
        const size_t n = readBack.size();
        int16_t st = CARDFS_OK;
        if (api == Api::Bytewise) {
            for (size_t i = 0; i < n; i++) {
                int16_t c = FS_Getc(h);
                if (c == -1) {
                    st = static_cast<int16_t>(GetErrno());
                    break;
                }
                out[i] = static_cast<uint8_t>(c);
            }
            if (st == CARDFS_OK && (FS_Getc(h) != -1 || GetErrno() != CARDFS_E_EOF)) st = CARDFS_E_VERIFY;
        } else {
            for (size_t off = 0; off < n && st == CARDFS_OK; off += kRunBytes)
                st = FS_ReadFileEx(h, out + off, static_cast<uint32_t>(std::min(kRunBytes, n - off)));
        }
        FS_CloseR(h);
        return st;
    }

    // Blocks of the file's chain in order, walked on the medium itself.
    std::vector<int> chain() {
        std::vector<int> blocks;
        DirScan scan;
        DirEntry e{};
        bool found = false;
        for (int st = FS_OpenDir(dev->dev(), &scan); st == CARDFS_OK && !found; st = FS_ReadDir(&scan)) {
            FS_GetDirEntry(&scan, &e);
            found = e.extension == 1 && std::memcmp(e.name, "BENCH   ", 8) == 0;
        }
        (void)GetErrno();
        int b = e.firstBlock & 0x7FFF;
        for (unsigned i = 0; found && i < e.blockCount; i++) {
            blocks.push_back(b);
            const uint8_t *p = dev->block(b);
            const unsigned link = p[0] | (p[1] << 8);
            if (link & 0x8000) break;
            b = static_cast<int>(link & 0x7FFF);
        }
        return blocks;
    }
};

// The floors of a call per byte and per track point (call_floor.c, a
// shared object of its own).
extern "C" {
FileInfo *floor_open(int16_t handle, int writing, int16_t blockSize);
int16_t floor_putc(int16_t c, int16_t handle);
int16_t floor_getc(int16_t handle);
int16_t floor_track_point(const uint8_t **cursor, const uint8_t *end, int scaleByFour, TrackStructure *t);
}

// The file's bytes through the floor's byte calls, as Bench::writeFile and
// readFile make the library's; MB/s.
double byteFloor(bool writing, const std::vector<uint8_t> &payload, std::vector<uint8_t> &out, size_t blockSize) {
    const int16_t h = 0;
    floor_open(h, writing, int16_t(blockSize));
    const size_t n = payload.size();
    const auto t0 = Clock::now();
    int16_t st = -1;
    if (writing) {
        for (size_t i = 0; i < n && st == -1; i++) st = floor_putc(payload[i], h);
    } else {
        for (size_t i = 0; i < n; i++) {
            const int16_t c = floor_getc(h);
            if (c == -1) break;
            out[i] = uint8_t(c);
        }
    }
    benchmark::ClobberMemory();
    return double(n) / since(t0) / 1e6;
}

// ---------------------------------------------------------------------------
// What a bulk transfer is measured against, each timed right after the
// library's iteration: the baseline copies, and the floor, which is the
// device operations the library cannot do without, made through the same
// device descriptor, with the copies the format forces.

struct Copies {
    std::vector<const uint8_t *> chain;  // the file's blocks on the medium
    std::vector<int> blocks;             // their numbers
    std::vector<size_t> written;         // writing: image offsets of every WriteBlock
    std::vector<uint8_t> image;          // writing: where the blocks go
    RamDevice *device = nullptr;         // reading: the medium; writing: a scratch medium of the same kind
    uint64_t probes = 0;                 // writing: the ReadBytes probes of one run
    const uint8_t *data = nullptr;       // the file's bytes
    size_t dataBytes = 0;
    uint8_t *out = nullptr;              // reading: where the file's bytes go
    size_t bs = 0;
    alignas(64) uint8_t buffer[1024];

    Copies() = default;
    Copies(const Copies &) = delete;
    Copies &operator=(const Copies &) = delete;
    ~Copies() {
        if (!image.empty() && device) ramdev::destroy(device);
    }

    // Reading, baseline: every chain block into a block buffer, twice.
    void readBaseline() {
        for (int pass = 0; pass < 2; pass++)
            for (const uint8_t *b : chain) copy(buffer, b, bs);
    }
    // Reading, floor: every chain block read into a block buffer (the chain
    // check), then every block read into the caller's buffer, its link word
    // over the two bytes before its data, which are put back; a block whose
    // data the caller's buffer does not take whole goes through the block
    // buffer.
    void readFloor() {
        DeviceDescriptor *d = device->dev();
        for (int b : blocks) d->ReadBlock(d, int16_t(b), buffer);
        size_t off = 0;
        for (int b : blocks) {
            const size_t n = std::min(bs - 2, dataBytes - off);
            if (off >= 2 && off + bs - 2 <= dataBytes) {
                uint8_t kept[2];
                std::memcpy(kept, out + off - 2, 2);
                d->ReadBlock(d, int16_t(b), out + off - 2);
                std::memcpy(out + off - 2, kept, 2);
            } else {
                d->ReadBlock(d, int16_t(b), buffer);
                std::memcpy(out + off, buffer + 2, n);
            }
            off += n;
        }
        benchmark::ClobberMemory();
    }
    // Writing, baseline: blockSize bytes of the file into the image for
    // every write.
    void writeBaseline() {
        for (size_t i = 0; i < written.size(); i++) copy(image.data() + written[i], source(i), bs);
    }
    // Writing, floor: the file's bytes into the block buffer and WriteBlock
    // of the buffer, for every write of the run, with the run's ReadBytes
    // probes spread among them, on the scratch medium (without the flash
    // program check).
    void writeFloor() {
        DeviceDescriptor *d = device->dev();
        const int16_t first = device->geometry.firstDataBlock, span = int16_t(device->geometry.totalBlocks - first);
        uint8_t probe[2];
        uint64_t made = 0;
        for (size_t i = 0; i < written.size(); i++) {
            copy(buffer + 2, source(i), bs - 2);
            const int16_t b = int16_t(first + int16_t(i % size_t(span)));
            d->WriteBlock(d, b, buffer);
            for (; made < probes * (i + 1) / written.size(); made++) d->flashGeometry->ReadBytes(d, uint32_t(b) * uint32_t(bs), 2, probe);
        }
    }

private:
    // The file's bytes of the i-th block written (any bytes of the file for
    // the directory and map blocks that close a write).
    const uint8_t *source(size_t i) const { return data + (i % (chain.size() - 1)) * (bs - 2); }
    static void copy(void *to, const void *from, size_t n) {
        std::memcpy(to, from, n);
        benchmark::ClobberMemory();
    }
};

template <class F>
double timed(F f) {
    const auto t0 = Clock::now();
    f();
    return since(t0);
}

// The file written once on a fresh volume: its chain and WriteBlock count.
bool plan(benchmark::State &state, Bench &b, Copies &c, bool writing) {
    int16_t st = b.formatAndMount();
    b.dev->resetCounters();
    if (st == CARDFS_OK) st = b.writeFile(Api::Runs);
    if (st != CARDFS_OK) {
        state.SkipWithError(("writing the file failed with status " + std::to_string(st)).c_str());
        return false;
    }
    c.bs = b.blockSize();
    c.data = b.payload.data();
    c.dataBytes = b.payload.size();
    c.out = b.readBack.data();
    for (int blk : b.chain()) c.chain.push_back(b.dev->block(blk)), c.blocks.push_back(blk);
    if (c.chain.size() < 2) {
        state.SkipWithError("file not found after writing");
        return false;
    }
    c.device = b.dev;
    if (writing) {
        c.image.assign(b.dev->data.size(), 0);
        for (size_t i = 0; i < b.dev->count.of(Op::Write); i++) c.written.push_back(i * c.bs % c.image.size());
        c.probes = b.dev->count.of(Op::ReadBytes);
        c.device = b.kind.make();
        c.device->checkPrograms = false;
    }
    return true;
}

bench::Row &fileRow(const std::string &name, const MediumKind &kind, const char *workload, const char *unit, Target target) {
    bench::Row &r = bench::row(name);
    r.workload = workload, r.medium = kind.name, r.unit = unit, r.opsPer = kind.size, r.target = target, r.chart = true;
    return r;
}

const char *apiName(Api api, bool writing) {
    if (api == Api::Bytewise) return writing ? "Putc" : "Getc";
    return writing ? "WriteFileEx" : "ReadFileEx";
}

// Targets of the file rows.
Target byteTarget() { return {Target::FigureAtLeast, 500}; }
Target writeTarget(const MediumKind &kind, bool libraryOnly) {
    if (std::strcmp(kind.name, "Diskette") == 0) return {Target::RatioAtMost, 2.2};
    if (std::strcmp(kind.name, "Cartridge4M") == 0 && libraryOnly) return {Target::RatioAtMost, 2.0};
    return {};
}

void BM_Write(benchmark::State &state, const MediumKind *kind, Api api, bool libraryOnly) {
    Bench b(*kind);
    Copies c;
    if (!plan(state, b, c, true)) return;
    b.dev->checkPrograms = !libraryOnly;
    const std::string name = std::string("Write/") + kind->name + "/" + apiName(api, true) + (libraryOnly ? "/library" : "");
    const char *workload = api == Api::Bytewise ? "FS_Putc" : libraryOnly ? "bulk write, library work alone" : "bulk write";
    bench::Row &r = fileRow(name, *kind, workload, "MB/s", api == Api::Bytewise ? byteTarget() : writeTarget(*kind, libraryOnly));
    c.writeBaseline();  // warm up
    for (auto _ : state) {
        if (b.formatAndMount() != CARDFS_OK) return state.SkipWithError("format/mount failed");  // not timed
        b.dev->resetCounters();
        int16_t st = CARDFS_OK;
        const double s = timed([&] { st = b.writeFile(api); });
        if (st != CARDFS_OK) return state.SkipWithError(("write failed with status " + std::to_string(st)).c_str());
        state.SetIterationTime(s);
        r.figures.push_back(double(b.payload.size()) / s / 1e6);
        r.ops.push_back(opsOf(b.dev));
        if (api == Api::Bytewise) {
            r.floors.push_back(byteFloor(true, b.payload, b.readBack, b.blockSize()));
            continue;
        }
        const double base = timed([&] { c.writeBaseline(); }), floor = timed([&] { c.writeFloor(); });
        r.ratioName = "x memcpy";
        r.ratios.push_back(s / base);
        r.floors.push_back(floor / base);
    }
    if (b.readFile(Api::Runs) != CARDFS_OK || b.readBack != b.payload) state.SkipWithError("file does not read back as written");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(b.payload.size()));
}

void BM_Read(benchmark::State &state, const MediumKind *kind, Api api) {
    Bench b(*kind);
    Copies c;
    if (!plan(state, b, c, false)) return;
    const std::string name = std::string("Read/") + kind->name + "/" + apiName(api, false);
    bench::Row &r = fileRow(name, *kind, api == Api::Bytewise ? "FS_Getc" : "bulk read", "MB/s",
                            api == Api::Bytewise ? byteTarget() : Target{Target::RatioAtMost, 1.4});
    c.readBaseline();  // warm up
    for (auto _ : state) {
        b.dev->resetCounters();
        int16_t st = CARDFS_OK;
        const double s = timed([&] { st = b.readFile(api); });
        if (st != CARDFS_OK) return state.SkipWithError(("read failed with status " + std::to_string(st)).c_str());
        state.SetIterationTime(s);
        r.figures.push_back(double(b.payload.size()) / s / 1e6);
        r.ops.push_back(opsOf(b.dev));
        if (api == Api::Bytewise) {
            r.floors.push_back(byteFloor(false, b.payload, b.readBack, b.blockSize()));
            continue;
        }
        const double base = timed([&] { c.readBaseline(); }), floor = timed([&] { c.readFloor(); });
        r.ratioName = "x memcpy";
        r.ratios.push_back(s / base);
        r.floors.push_back(floor / base);
    }
    if (b.readBack != b.payload) state.SkipWithError("data read differs from data written");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(b.payload.size()));
}

// ---------------------------------------------------------------------------
// Many small files on the diskette.

constexpr int kSmallFiles = 63;  // every entry of the diskette's directory

void BM_Files(benchmark::State &state, bool deleting) {
    Bench b(kMedia[0]);
    char names[kSmallFiles][16];
    for (int i = 0; i < kSmallFiles; i++) std::snprintf(names[i], sizeof names[i], "FILE%02d.1", i + 1);
    const uint8_t *data = b.payload.data();
    auto create = [&] {
        int16_t st = CARDFS_OK;
        for (int i = 0; i < kSmallFiles && st == CARDFS_OK; i++) {
            const int16_t h = FS_OpenW(names[i]);
            st = h < 0 ? h : FS_WriteFileEx(h, data, 100);
            if (h >= 0 && FS_CloseW(h) != CARDFS_OK) st = CARDFS_E_VERIFY;
        }
        return st;
    };
    auto remove = [&] {
        int16_t st = CARDFS_OK;
        for (int i = 0; i < kSmallFiles && st == CARDFS_OK; i++) st = FS_Delete(names[i]);
        return st;
    };
    bench::Row &r = bench::row(deleting ? "Files/Diskette/Delete" : "Files/Diskette/Create");
    r.workload = deleting ? "delete a file" : "create a 100-byte file (open, write, close)";
    r.medium = "Diskette", r.unit = "us/file", r.opsPer = "file", r.target = {Target::FigureAtMost, 0.25};
    for (auto _ : state) {
        if (b.formatAndMount() != CARDFS_OK || (deleting && create() != CARDFS_OK))  // not timed
            return state.SkipWithError("preparing the volume failed");
        b.dev->resetCounters();
        int16_t st = CARDFS_OK;
        const double s = timed([&] { st = deleting ? remove() : create(); });
        if (st != CARDFS_OK) return state.SkipWithError(("status " + std::to_string(st)).c_str());
        state.SetIterationTime(s);
        r.figures.push_back(s / kSmallFiles * 1e6);
        const bench::Ops o = opsOf(b.dev);
        r.ops.push_back({o.reads / kSmallFiles, o.writes / kSmallFiles, o.probes / kSmallFiles, o.erases / kSmallFiles});
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kSmallFiles);
}

// ---------------------------------------------------------------------------
// Field-data records on the cartridge.

constexpr int kTrackPoints = 100000;
constexpr int kMerRecords = 10000;

enum class RecordKind { Track, MER };

// Record i of a file: every value varies, a few members stay absent.
void fillTrack(TrackStructure &t, int i) {
    P2C_InitTrackStructure(&t);
    t.coord1 = 5000000 + i * 7, t.coord2 = -3000000 + i * 3;
    t.byte1 = static_cast<int8_t>(i % 100), t.word1 = static_cast<int16_t>(i % 30000);
    t.dword1 = static_cast<uint32_t>(i) * 2654435761u;
}
void fillMER(MERStructure &m, int i) {
    P2C_InitMERStructure(&m);
    m.coord1 = 5000000 + i * 11, m.coord2 = -3000000 + i * 5;
    std::snprintf(m.text1, sizeof m.text1, "Point %d", i);
    std::snprintf(m.text2, sizeof m.text2, "Survey area %d, line %d", i % 97, i % 13);
    m.byte1 = static_cast<int8_t>(i % 50), m.word1 = static_cast<int16_t>(i);
    m.time = 1300000000 + i * 60, m.dword1 = static_cast<uint32_t>(i) * 40503u, m.flag = static_cast<uint8_t>(i & 1);
}

const char *recordFile(RecordKind k) { return k == RecordKind::Track ? "TRACK.001" : "MER.001"; }
int recordCount(RecordKind k) { return k == RecordKind::Track ? kTrackPoints : kMerRecords; }

// Writes the whole file; -1 or the first failing status.
int16_t writeRecords(RecordKind k) {
    int16_t h = FS_OpenW(recordFile(k));
    if (h < 0) return h;
    HeaderFileStructure head;
    int16_t st = P2C_Do_Save_Start(h, P2C_InitHeaderFileStructure(&head));
    TrackStructure t;
    MERStructure m;
    for (int i = 0; i < recordCount(k) && st == CARDFS_OK; i++) {
        if (k == RecordKind::Track) {
            fillTrack(t, i);
            st = P2C_Track_File_Add_Data(h, &t);
        } else {
            fillMER(m, i);
            st = P2C_MER_File_Add_Data(h, &m);
        }
    }
    int16_t closed = FS_CloseW(h);
    return st != CARDFS_OK ? st : closed;
}

// Loads every record and checks a few members; the number loaded, or -1.
int loadRecords(RecordKind k) {
    int16_t h = FS_OpenR(recordFile(k));
    if (h < 0) return -1;
    int16_t sec, pri;
    int n = C2P_Do_Load_Start(h, 1, &sec, &pri) == CARDFS_OK ? 0 : -1;
    TrackStructure t;
    MERStructure m;
    for (int16_t st; n >= 0; n++) {
        st = k == RecordKind::Track ? C2P_LoadFileOfTrack(h, &t) : C2P_LoadFileOfMER(h, &m);
        if (st == CARDFS_R_NO_RECORD) break;
        const int32_t c1 = k == RecordKind::Track ? t.coord1 : m.coord1;
        if (st != CARDFS_OK || c1 != 5000000 + n * (k == RecordKind::Track ? 7 : 11)) n = -2;
    }
    (void)GetErrno();
    FS_CloseR(h);
    return n;
}

// The file's first `bytes` bytes with FS_ReadFileEx, in runs of kRunBytes.
int16_t readRecordBytes(RecordKind k, std::vector<uint8_t> &out, size_t bytes) {
    int16_t h = FS_OpenR(recordFile(k));
    if (h < 0) return h;
    int16_t st = CARDFS_OK;
    for (size_t off = 0; off < bytes && st == CARDFS_OK; off += kRunBytes)
        st = FS_ReadFileEx(h, out.data() + off, static_cast<uint32_t>(std::min(kRunBytes, bytes - off)));
    FS_CloseR(h);
    return st;
}

// The bytes of the track file's transfer head, which its points follow.
size_t trackHeadBytes(size_t fileBytes) {
    int16_t h = FS_OpenR(recordFile(RecordKind::Track)), sec, pri;
    if (h < 0 || C2P_Do_Load_Start(h, 1, &sec, &pri) != CARDFS_OK) return fileBytes;
    size_t rest = 0;
    while (FS_Getc(h) != -1) rest++;
    (void)GetErrno();
    FS_CloseR(h);
    return fileBytes - rest;
}

// The track points decoded from the file's bytes in memory by the floor's
// call per point, checked as loadRecords checks them; the number decoded.
// raw holds kLongestPoint zero bytes past the file's.
int trackFloor(const std::vector<uint8_t> &raw, size_t head) {
    const uint8_t *p = raw.data() + head, *end = raw.data() + raw.size();
    TrackStructure t;
    int n = 0;
    while (n < kTrackPoints && floor_track_point(&p, end, 0, &t) == 0 && t.coord1 == 5000000 + n * 7) n++;
    return n;
}

void BM_Records(benchmark::State &state, RecordKind k, bool loading) {
    Bench b(kMedia[2]);
    const bool track = k == RecordKind::Track;
    bench::Row &r = bench::row(std::string("Records/") + (track ? "Track" : "MER") + (loading ? "/Load" : "/Write"));
    r.workload = std::string(loading ? "load " : "write ") + (track ? "100,000 track points" : "10,000 MER records");
    r.medium = kMedia[2].name, r.unit = "records/s", r.opsPer = "file";
    if (loading) r.ratioName = "x ReadFileEx", r.target = {Target::RatioAtMost, track ? 4.0 : 20.0};
    if (b.formatAndMount() != CARDFS_OK || writeRecords(k) != CARDFS_OK) return state.SkipWithError("writing the record file failed");
    uint32_t bytes = 0;  // the file's size, counted once outside the timing
    if (int16_t h = FS_OpenR(recordFile(k)); h >= 0) {
        while (FS_Getc(h) != -1) bytes++;
        FS_CloseR(h);
    }
    (void)GetErrno();
    std::vector<uint8_t> raw(bytes + 64);
    const size_t head = track && loading ? trackHeadBytes(bytes) : 0;
    for (auto _ : state) {
        if (!loading && b.formatAndMount() != CARDFS_OK) return state.SkipWithError("format/mount failed");  // not timed
        b.dev->resetCounters();
        int result = 0;
        const double s = timed([&] { result = loading ? loadRecords(k) : writeRecords(k); });
        if (loading ? result != recordCount(k) : result != CARDFS_OK)
            return state.SkipWithError(("records: result " + std::to_string(result)).c_str());
        state.SetIterationTime(s);
        r.ops.push_back(opsOf(b.dev));
        r.figures.push_back(recordCount(k) / s);
        if (!loading) continue;
        int16_t st = CARDFS_OK;
        const double read = timed([&] { st = readRecordBytes(k, raw, bytes); });
        if (st != CARDFS_OK) return state.SkipWithError("FS_ReadFileEx of the record file failed");
        r.ratios.push_back(s / read);
        if (!track) continue;
        int decoded = 0;
        const double floor = timed([&] { st = readRecordBytes(k, raw, bytes), decoded = trackFloor(raw, head); });
        if (st != CARDFS_OK || decoded != kTrackPoints) return state.SkipWithError("the track floor's decoding failed");
        r.floors.push_back(floor / read);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * recordCount(k));
    state.counters["file_KiB"] = bytes / 1024.0;
}

// Takes --name=value out of argv; empty when absent.
std::string option(int &argc, char **argv, const char *name) {
    const std::string prefix = std::string("--") + name + "=";
    for (int i = 1; i < argc; i++) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) != 0) continue;
        std::string value = argv[i] + prefix.size();
        std::copy(argv + i + 1, argv + argc + 1, argv + i);
        argc--;
        return value;
    }
    return "";
}

void registerAll() {
    auto add = [](const std::string &name, auto fn, auto... args) {
        benchmark::RegisterBenchmark(name.c_str(), fn, args...)->UseManualTime()->Unit(benchmark::kMillisecond);
    };
    for (const MediumKind &kind : kMedia) {
        const std::string m = kind.name;
        for (Api api : {Api::Bytewise, Api::Runs}) {
            add("Write/" + m + "/" + apiName(api, true), BM_Write, &kind, api, false);
            if (api == Api::Runs && m != "Diskette") add("Write/" + m + "/WriteFileEx/library", BM_Write, &kind, api, true);
            add("Read/" + m + "/" + apiName(api, false), BM_Read, &kind, api);
        }
    }
    add("Files/Diskette/Create", BM_Files, false);
    add("Files/Diskette/Delete", BM_Files, true);
    for (RecordKind k : {RecordKind::Track, RecordKind::MER})
        for (bool loading : {false, true})
            add(std::string("Records/") + (k == RecordKind::Track ? "Track" : "MER") + (loading ? "/Load" : "/Write"), BM_Records, k,
                loading);
}

}  // namespace

// Options of our own besides Google Benchmark's:
//   --report=FILE.md --chart=FILE.svg   write the report and its chart
//   --machine=FILE --notes=FILE         lines about the machine; the notes that close the report
//   --save=FILE                         the samples, for a later --merge
//   --merge=FILE,FILE,...               run nothing: report the samples of earlier runs together
int main(int argc, char **argv) {
    bench::ReportFiles files;
    files.markdown = option(argc, argv, "report");
    files.svg = option(argc, argv, "chart");
    files.machine = option(argc, argv, "machine");
    files.notes = option(argc, argv, "notes");
    const std::string save = option(argc, argv, "save"), merge = option(argc, argv, "merge");
    int repetitions = 1, processes = 1;
    for (int i = 1; i < argc; i++)
        if (std::strncmp(argv[i], "--benchmark_repetitions=", 24) == 0) repetitions = std::max(1, std::atoi(argv[i] + 24));
    if (!merge.empty()) {
        processes = 0;
        for (size_t at = 0; at <= merge.size(); processes++) {
            const size_t comma = std::min(merge.find(',', at), merge.size());
            if (!bench::loadSamples(merge.substr(at, comma - at))) {
                std::fprintf(stderr, "cannot read the samples in %s\n", merge.substr(at, comma - at).c_str());
                return 1;
            }
            at = comma + 1;
        }
    } else {
        registerAll();
        benchmark::Initialize(&argc, argv);
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    bench::printSummary();
    if (!save.empty() && !bench::saveSamples(save)) {
        std::fprintf(stderr, "cannot write %s\n", save.c_str());
        return 1;
    }
    if (!files.markdown.empty() && !bench::writeReport(files, repetitions, processes)) {
        std::fprintf(stderr, "cannot write %s or %s\n", files.markdown.c_str(), files.svg.c_str());
        return 1;
    }
    return 0;
}
