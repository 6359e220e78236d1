// Sequential write and read throughput of cardfs files on the RAM devices.
//
// For each medium (1.44 MB diskette, 1 MiB flash card, 4 MiB flash
// cartridge) a file is written and read back
//   - byte by byte with FS_Putc / FS_Getc, and
//   - in runs of kRunBytes with FS_WriteFileEx / FS_ReadFileEx.
// Each timed iteration covers open + transfer + close. A write iteration
// starts on a freshly formatted volume (formatting is not timed); a read
// iteration reads the file written during setup.
//
// Counters:
//   bytes_per_second   file bytes per second (library time)
//   reads, writes, probes, erases
//                      device operations per MiB of file data (ReadBlock,
//                      WriteBlock, ReadBytes and EraseSector calls)
//   memcpy_us          time of a plain memcpy of the block bytes the
//                      operation has to move, timed right after each
//                      library iteration (so both see the same machine load):
//                      reading fetches every block of the chain twice (the
//                      chain check at open, then the data), 2 x blocks x
//                      blockSize bytes; writing copies blockSize bytes for
//                      every WriteBlock the write made
//   lib_us             library time of one iteration
//   x_memcpy           lib_us / memcpy_us
// The Baseline/... benchmarks time those memcpy volumes on their own.
//
// A summary table follows the benchmark output; the targets are
// open+read+close with FS_ReadFileEx and open+write+close with
// FS_WriteFileEx within 3x their memcpy baseline.
//
// Field-data records (Records/...): 100,000 track points and 10,000 MER
// records are written with P2C_Track_File_Add_Data / P2C_MER_File_Add_Data
// after a transfer head, and loaded with C2P_LoadFileOfTrack /
// C2P_LoadFileOfMER, on the 4 MiB cartridge (the track file does not fit a
// diskette). Each timed iteration covers open + head + records + close.
// Counters: items_per_second (records), file_KiB, and for loading
// x_readfileex, the load time divided by the time of reading the same file's
// bytes with FS_ReadFileEx in the same iteration (target: at most 4).
//
// The flash card holds 1 MiB in all, of which 1664 blocks of 510 data
// bytes are free for files; its file is 768 KiB and every per-MiB figure is
// scaled to 1 MiB.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cardfs.h"
#include "ram_device.h"

namespace {

using Clock = std::chrono::steady_clock;
using ramdev::Op;
using ramdev::RamDevice;

constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kRunBytes = 4096;  // size of one FS_WriteFileEx / FS_ReadFileEx run
constexpr const char *kFileName = "BENCH.001";
constexpr double kTarget = 3.0;

enum class Api { Bytewise, Runs };

struct MediumKind {
    const char *name;
    RamDevice *(*make)();
    size_t fileBytes;
};

const MediumKind kMedia[] = {
    {"Diskette", [] { return ramdev::makeDiskette(); }, kMiB},
    {"FlashCard", [] { return ramdev::makeFlashCard(); }, 768 * 1024},
    {"Cartridge4M", [] { return ramdev::makeFlashCartridge4M(); }, kMiB},
};

// ---------------------------------------------------------------------------
// Results gathered for the closing summary (the last run of each benchmark
// is the one the library reports).

struct Result {
    double mbPerSec = 0;
    double reads = 0, writes = 0, probes = 0, erases = 0;  // per MiB
    double libUs = 0, memcpyUs = 0;
    bool hasOps = false;
    bool targeted = false;
};
std::map<std::string, Result> gResults;
std::vector<std::string> gOrder;

void record(const std::string &name, const Result &r) {
    if (gResults.find(name) == gResults.end()) gOrder.push_back(name);
    gResults[name] = r;
}

// ---------------------------------------------------------------------------
// One medium with its device table, and the operations the benchmarks time.

struct Bench {
    const MediumKind &kind;
    RamDevice *dev;
    DeviceDescriptor *table[2];
    std::vector<uint8_t> payload;  // file content
    std::vector<uint8_t> readBack;

    explicit Bench(const MediumKind &k) : kind(k), dev(k.make()), table{dev->dev(), nullptr} {
        payload.resize(k.fileBytes);
        uint32_t x = 0x12345678u;
        for (auto &b : payload) {  // xorshift: no long runs, every byte value
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<uint8_t>(x);
        }
        readBack.resize(k.fileBytes);
    }
    ~Bench() { ramdev::destroy(dev); }
    Bench(const Bench &) = delete;
    Bench &operator=(const Bench &) = delete;

    size_t blockSize() const { return dev->blockSizeBytes(); }

    // Fresh volume, mounted as the current device. -1 or the failing status.
    int16_t formatAndMount() {
        if (FS_SetDeviceTable(table) != CARDFS_OK) return CARDFS_E_NO_TABLE;
        int16_t st = FS_Init(nullptr);
        if (st != CARDFS_OK && st != CARDFS_E_NO_VOLUME) return st;
        st = FS_Format("A:BENCH");
        if (st != CARDFS_OK) return st;
        return FS_Init(nullptr);
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
                    if (st == CARDFS_OK) st = CARDFS_E_EOF;
                    break;
                }
                out[i] = static_cast<uint8_t>(c);
            }
            if (st == CARDFS_OK && FS_Getc(h) != -1) st = CARDFS_E_VERIFY;  // must be the end
            if (st == CARDFS_OK && GetErrno() != CARDFS_E_EOF) st = CARDFS_E_VERIFY;
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
        if (FS_OpenDir(dev->dev(), &scan) != CARDFS_OK) return blocks;
        DirEntry e;
        bool found = false;
        while (FS_ReadDir(&scan) == CARDFS_OK) {
            FS_GetDirEntry(&scan, &e);
            if (e.extension == 1 && std::memcmp(e.name, "BENCH   ", 8) == 0) {
                found = true;
                break;
            }
        }
        FS_CloseDir(&scan);
        (void)GetErrno();
        if (!found) return blocks;
        int b = e.firstBlock & 0x7FFF;
        for (unsigned i = 0; i < e.blockCount; i++) {
            blocks.push_back(b);
            const uint8_t *p = dev->block(b);
            unsigned link = p[0] | (p[1] << 8);
            if (link & 0x8000) break;
            b = static_cast<int>(link & 0x7FFF);
        }
        return blocks;
    }
};

// Device operations per MiB of file data, from counter snapshots.
struct OpCount {
    uint64_t reads = 0, writes = 0, probes = 0, erases = 0;
    static OpCount of(const RamDevice *d) {
        return {d->count.of(Op::Read), d->count.of(Op::Write), d->count.of(Op::ReadBytes),
                d->count.of(Op::Erase)};
    }
};

// ---------------------------------------------------------------------------
// The memcpy baselines.

// Reading: every chain block is fetched twice, into a block buffer.
struct ReadCopy {
    std::vector<const uint8_t *> src;
    size_t bs;
    uint8_t buffer[1024];
    void run() {
        for (int pass = 0; pass < 2; pass++) {
            for (const uint8_t *s : src) {
                std::memcpy(buffer, s, bs);
                benchmark::ClobberMemory();
            }
        }
        benchmark::DoNotOptimize(buffer);
    }
    size_t bytes() const { return 2 * src.size() * bs; }
};

// Writing: blockSize bytes into the medium image for every block written.
struct WriteCopy {
    std::vector<uint8_t> image;
    std::vector<size_t> dstOffsets;
    const uint8_t *source;
    size_t sourceBytes;
    size_t bs;
    void run() {
        size_t srcOff = 0;
        for (size_t d : dstOffsets) {
            std::memcpy(image.data() + d, source + srcOff, bs);
            benchmark::ClobberMemory();
            srcOff += bs - 2;
            if (srcOff + bs > sourceBytes) srcOff = 0;
        }
        benchmark::DoNotOptimize(image.data());
    }
    size_t bytes() const { return dstOffsets.size() * bs; }
};

// Seconds taken by one run of a baseline copy.
template <class Copy>
double timeCopy(Copy &copy) {
    auto t0 = Clock::now();
    copy.run();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

ReadCopy makeReadCopy(Bench &b, const std::vector<int> &chain) {
    ReadCopy c;
    c.bs = b.blockSize();
    for (int blk : chain) c.src.push_back(b.dev->block(blk));
    return c;
}

// The chain blocks first, then any further blocks the write wrote
// (directory and map), as many as writesPerFile.
WriteCopy makeWriteCopy(Bench &b, const std::vector<int> &chain, uint64_t writesPerFile) {
    WriteCopy c;
    c.bs = b.blockSize();
    c.image.assign(b.dev->data.size(), 0);
    c.source = b.payload.data();
    c.sourceBytes = b.payload.size();
    for (int blk : chain) c.dstOffsets.push_back(static_cast<size_t>(blk) * c.bs);
    for (size_t extra = 0; c.dstOffsets.size() < writesPerFile; extra++)
        c.dstOffsets.push_back((extra % 32) * c.bs);
    return c;
}

// Writes the file once on a fresh volume: chain and WriteBlock count.
bool planWrite(Bench &b, std::vector<int> &chain, uint64_t &writes, std::string &error) {
    int16_t st = b.formatAndMount();
    if (st != CARDFS_OK) {
        error = "format/mount failed with status " + std::to_string(st);
        return false;
    }
    b.dev->resetCounters();
    st = b.writeFile(Api::Runs);
    if (st != CARDFS_OK) {
        error = "writing the file failed with status " + std::to_string(st);
        return false;
    }
    writes = b.dev->count.of(Op::Write);
    chain = b.chain();
    if (chain.empty()) {
        error = "file not found in the directory after writing";
        return false;
    }
    return true;
}

void setCounters(benchmark::State &state, const Bench &b, const OpCount &ops, double libSec,
                 double memcpySec, const std::string &name, bool targeted) {
    const double iters = static_cast<double>(state.iterations());
    const double perMiB = static_cast<double>(kMiB) / static_cast<double>(b.payload.size()) / iters;
    Result r;
    r.reads = static_cast<double>(ops.reads) * perMiB;
    r.writes = static_cast<double>(ops.writes) * perMiB;
    r.probes = static_cast<double>(ops.probes) * perMiB;
    r.erases = static_cast<double>(ops.erases) * perMiB;
    r.libUs = libSec / iters * 1e6;
    r.memcpyUs = memcpySec / iters * 1e6;
    r.mbPerSec = static_cast<double>(b.payload.size()) / (libSec / iters) / 1e6;
    r.hasOps = true;
    r.targeted = targeted;
    state.counters["reads"] = r.reads;
    state.counters["writes"] = r.writes;
    state.counters["probes"] = r.probes;
    state.counters["erases"] = r.erases;
    state.counters["lib_us"] = r.libUs;
    state.counters["memcpy_us"] = r.memcpyUs;
    state.counters["x_memcpy"] = r.libUs / r.memcpyUs;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.payload.size()));
    record(name, r);
}

const char *apiName(Api api, bool writing) {
    if (api == Api::Bytewise) return writing ? "Putc" : "Getc";
    return writing ? "WriteFileEx" : "ReadFileEx";
}

// ---------------------------------------------------------------------------
// The benchmarks.

// planWrite, reporting a failure as the benchmark's error.
bool planOrSkip(benchmark::State &state, Bench &b, std::vector<int> &chain, uint64_t &writes) {
    std::string error;
    if (planWrite(b, chain, writes, error)) return true;
    state.SkipWithError(error.c_str());
    return false;
}

void BM_Write(benchmark::State &state, const MediumKind *kind, Api api) {
    Bench b(*kind);
    std::vector<int> chain;
    uint64_t writesPerFile = 0;
    if (!planOrSkip(state, b, chain, writesPerFile)) return;
    WriteCopy copy = makeWriteCopy(b, chain, writesPerFile);
    copy.run();  // warm up
    OpCount total;
    double libSec = 0, memcpySec = 0;
    for (auto _ : state) {
        int16_t st = b.formatAndMount();  // not timed
        if (st != CARDFS_OK) {
            state.SkipWithError("format/mount failed");
            return;
        }
        b.dev->resetCounters();
        auto t0 = Clock::now();
        st = b.writeFile(api);
        double s = std::chrono::duration<double>(Clock::now() - t0).count();
        if (st != CARDFS_OK) {
            state.SkipWithError(("write failed with status " + std::to_string(st)).c_str());
            return;
        }
        state.SetIterationTime(s);
        libSec += s;
        memcpySec += timeCopy(copy);  // not in the reported time
        OpCount o = OpCount::of(b.dev);
        total.reads += o.reads;
        total.writes += o.writes;
        total.probes += o.probes;
        total.erases += o.erases;
    }
    // The file must read back as written.
    if (b.readFile(Api::Runs) != CARDFS_OK || b.readBack != b.payload) {
        state.SkipWithError("file does not read back as written");
        return;
    }
    std::string name = std::string("Write/") + kind->name + "/" + apiName(api, true);
    setCounters(state, b, total, libSec, memcpySec, name, api == Api::Runs);
}

void BM_Read(benchmark::State &state, const MediumKind *kind, Api api) {
    Bench b(*kind);
    std::vector<int> chain;
    uint64_t writesPerFile = 0;
    if (!planOrSkip(state, b, chain, writesPerFile)) return;
    ReadCopy copy = makeReadCopy(b, chain);
    copy.run();  // warm up
    b.dev->resetCounters();
    double libSec = 0, memcpySec = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        int16_t st = b.readFile(api);
        double s = std::chrono::duration<double>(Clock::now() - t0).count();
        if (st != CARDFS_OK) {
            state.SkipWithError(("read failed with status " + std::to_string(st)).c_str());
            return;
        }
        state.SetIterationTime(s);
        libSec += s;
        memcpySec += timeCopy(copy);  // not in the reported time
    }
    OpCount total = OpCount::of(b.dev);
    if (b.readBack != b.payload) {
        state.SkipWithError("data read differs from data written");
        return;
    }
    std::string name = std::string("Read/") + kind->name + "/" + apiName(api, false);
    setCounters(state, b, total, libSec, memcpySec, name, api == Api::Runs);
}

// The memcpy volume of a read (2 x chain blocks) or of a write (every block
// written), timed alone. Bytes processed: the file's bytes, as above.
void BM_Baseline(benchmark::State &state, const MediumKind *kind, bool writing) {
    Bench b(*kind);
    std::vector<int> chain;
    uint64_t writesPerFile = 0;
    if (!planOrSkip(state, b, chain, writesPerFile)) return;
    ReadCopy rc = makeReadCopy(b, chain);
    WriteCopy wc = makeWriteCopy(b, chain, writesPerFile);
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (writing)
            wc.run();
        else
            rc.run();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    state.counters["copied_KiB"] = static_cast<double>(writing ? wc.bytes() : rc.bytes()) / 1024.0;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.payload.size()));
}

// ---------------------------------------------------------------------------
// Field-data records.

constexpr double kRecordTarget = 4.0;
constexpr int kTrackPoints = 100000;
constexpr int kMerRecords = 10000;

struct RecordResult {
    double recordsPerSec = 0, libUs = 0, readUs = 0;
    bool loading = false;
};
std::map<std::string, RecordResult> gRecordResults;
std::vector<std::string> gRecordOrder;

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
        int32_t c1 = k == RecordKind::Track ? t.coord1 : m.coord1;
        if (st != CARDFS_OK || c1 != 5000000 + n * (k == RecordKind::Track ? 7 : 11)) n = -2;
    }
    (void)GetErrno();
    FS_CloseR(h);
    return n;
}

// The file's bytes with FS_ReadFileEx, in runs of kRunBytes.
int16_t readRecordBytes(RecordKind k, std::vector<uint8_t> &out) {
    int16_t h = FS_OpenR(recordFile(k));
    if (h < 0) return h;
    int16_t st = CARDFS_OK;
    for (size_t off = 0; off < out.size() && st == CARDFS_OK; off += kRunBytes)
        st = FS_ReadFileEx(h, out.data() + off, static_cast<uint32_t>(std::min(kRunBytes, out.size() - off)));
    FS_CloseR(h);
    return st;
}

void BM_Records(benchmark::State &state, RecordKind k, bool loading) {
    const MediumKind cartridge = kMedia[2];
    Bench b(cartridge);
    std::string name = std::string("Records/") + (k == RecordKind::Track ? "Track" : "MER") + (loading ? "/Load" : "/Write");
    if (b.formatAndMount() != CARDFS_OK || writeRecords(k) != CARDFS_OK) {
        state.SkipWithError("writing the record file failed");
        return;
    }
    uint32_t bytes = 0;  // the file's size, counted once outside the timing
    if (int16_t h = FS_OpenR(recordFile(k)); h >= 0) {
        while (FS_Getc(h) != -1) bytes++;
        FS_CloseR(h);
    }
    (void)GetErrno();
    double libSec = 0, readSec = 0;
    std::vector<uint8_t> raw;
    for (auto _ : state) {
        double s = 0;
        if (loading) {
            auto t0 = Clock::now();
            int n = loadRecords(k);
            s = std::chrono::duration<double>(Clock::now() - t0).count();
            if (n != recordCount(k)) {
                state.SkipWithError(("loading gave " + std::to_string(n) + " records").c_str());
                return;
            }
            raw.resize(bytes);
            t0 = Clock::now();
            int16_t st = readRecordBytes(k, raw);
            readSec += std::chrono::duration<double>(Clock::now() - t0).count();  // not in the reported time
            if (st != CARDFS_OK) {
                state.SkipWithError("FS_ReadFileEx of the record file failed");
                return;
            }
        } else {
            if (b.formatAndMount() != CARDFS_OK) {  // not timed
                state.SkipWithError("format/mount failed");
                return;
            }
            auto t0 = Clock::now();
            int16_t st = writeRecords(k);
            s = std::chrono::duration<double>(Clock::now() - t0).count();
            if (st != CARDFS_OK) {
                state.SkipWithError(("writing records failed with status " + std::to_string(st)).c_str());
                return;
            }
        }
        state.SetIterationTime(s);
        libSec += s;
    }
    const double iters = static_cast<double>(state.iterations());
    RecordResult r;
    r.loading = loading;
    r.libUs = libSec / iters * 1e6;
    r.readUs = readSec / iters * 1e6;
    r.recordsPerSec = recordCount(k) / (libSec / iters);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * recordCount(k));
    state.counters["file_KiB"] = bytes / 1024.0;
    if (loading) state.counters["x_readfileex"] = r.libUs / r.readUs;
    if (gRecordResults.find(name) == gRecordResults.end()) gRecordOrder.push_back(name);
    gRecordResults[name] = r;
}

void printSummary() {
    if (!gRecordOrder.empty()) {
        std::printf("\ncardfs record benchmark summary (x ReadFileEx = load time / FS_ReadFileEx time of the same file)\n");
        std::printf("%-28s %12s %10s %14s %13s  %s\n", "benchmark", "records/s", "lib us", "ReadFileEx us", "x ReadFileEx",
                    "target");
        for (const std::string &name : gRecordOrder) {
            const RecordResult &r = gRecordResults[name];
            if (!r.loading) {
                std::printf("%-28s %12.0f %10.0f\n", name.c_str(), r.recordsPerSec, r.libUs);
                continue;
            }
            double ratio = r.libUs / r.readUs;
            std::printf("%-28s %12.0f %10.0f %14.0f %13.2f  %s\n", name.c_str(), r.recordsPerSec, r.libUs, r.readUs, ratio,
                        ratio <= kRecordTarget ? "<= 4x: met" : "<= 4x: MISSED");
        }
    }
    if (gOrder.empty()) return;
    std::printf("\ncardfs file benchmark summary (device operations per MiB of file data;\n"
                "x memcpy = library time / memcpy time of the block bytes moved)\n");
    std::printf("%-28s %9s %8s %8s %8s %7s %10s %10s %9s  %s\n", "benchmark", "MB/s", "reads", "writes",
                "probes", "erases", "lib us", "memcpy us", "x memcpy", "target");
    for (const std::string &name : gOrder) {
        const Result &r = gResults[name];
        double ratio = r.libUs / r.memcpyUs;
        const char *verdict = "";
        if (r.targeted) verdict = ratio <= kTarget ? "<= 3x: met" : "<= 3x: MISSED";
        std::printf("%-28s %9.1f %8.0f %8.0f %8.0f %7.0f %10.0f %10.0f %9.2f  %s\n", name.c_str(), r.mbPerSec,
                    r.reads, r.writes, r.probes, r.erases, r.libUs, r.memcpyUs, ratio, verdict);
    }
}

}  // namespace

int main(int argc, char **argv) {
    for (const MediumKind &kind : kMedia) {
        const std::string m = kind.name;
        for (Api api : {Api::Bytewise, Api::Runs}) {
            benchmark::RegisterBenchmark(("Write/" + m + "/" + apiName(api, true)).c_str(), BM_Write, &kind, api)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("Read/" + m + "/" + apiName(api, false)).c_str(), BM_Read, &kind, api)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
        benchmark::RegisterBenchmark(("Baseline/" + m + "/memcpy_read").c_str(), BM_Baseline, &kind, false)
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("Baseline/" + m + "/memcpy_write").c_str(), BM_Baseline, &kind, true)
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
    }
    for (RecordKind k : {RecordKind::Track, RecordKind::MER}) {
        const std::string m = k == RecordKind::Track ? "Track" : "MER";
        for (bool loading : {false, true})
            benchmark::RegisterBenchmark(("Records/" + m + (loading ? "/Load" : "/Write")).c_str(), BM_Records, k, loading)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    return 0;
}
