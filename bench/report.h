// The benchmark's results: one row per workload and medium, the samples of
// every timed iteration, and what is made of them (the summary table on
// standard output, docs/performance.md and its SVG chart). Every figure
// reported is the median of the samples, never their mean.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Device operations of one run of a workload.
struct Ops {
    uint64_t reads = 0, writes = 0, probes = 0, erases = 0;
};

// What a row must reach: its figure at least (throughput) or at most
// (time per file), or its ratio at most.
struct Target {
    enum Kind { None, FigureAtLeast, FigureAtMost, RatioAtMost } kind = None;
    double value = 0;
};

struct Row {
    std::string name;      // benchmark name, e.g. "Write/Diskette/Putc"
    std::string workload;  // e.g. "FS_Putc, 1 MiB"
    std::string medium;
    std::string unit;           // of the figure: "MB/s", "us/file", "records/s"
    std::string ratioName;      // "x memcpy", "x ReadFileEx", or empty
    std::vector<double> figures;  // one sample per timed iteration
    std::vector<double> ratios;   // one sample per timed iteration, when the row has a ratio
    std::vector<double> floors;   // ratio the unavoidable copies alone give, when measured
    std::vector<Ops> ops;         // one sample per timed iteration
    std::string opsPer;           // what a run is, e.g. "1 MiB", "file"
    Target target;
    bool chart = false;  // a throughput bar in the chart
};

double median(std::vector<double> v);
bool met(const Row &row);

// Rows in the order they were first recorded.
std::vector<Row> &rows();
Row &row(const std::string &name);

// The closing table on standard output.
void printSummary();

// docs/performance.md and its chart. The machine file has one line per
// fact about the machine; the notes file, hand-written, explains the
// columns and the floors and closes the report.
struct ReportFiles {
    std::string markdown, svg, machine, notes;
};
bool writeReport(const ReportFiles &files, int repetitions, int processes);

// The rows and their samples in a text file of their own, and back: the
// samples of several runs of the program are reported together.
bool saveSamples(const std::string &path);
bool loadSamples(const std::string &path);

}  // namespace bench
