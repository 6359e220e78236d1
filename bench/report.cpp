// Medians of the samples, the summary table, docs/performance.md and its
// chart. The chart is an SVG written here: horizontal bars of the median
// throughput of every file workload and medium on a logarithmic scale.
#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace bench {
namespace {

std::vector<Row> gRows;
std::map<std::string, size_t> gIndex;

std::string fixed(double v, int digits) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, v);
    return text;
}

// Figures with as many digits as they need to be read.
std::string figure(double v) { return fixed(v, v >= 100 ? 0 : v >= 10 ? 1 : v >= 1 ? 2 : 3); }

std::string targetText(const Row &r) {
    const std::string v = figure(r.target.value);
    switch (r.target.kind) {
    case Target::FigureAtLeast: return ">= " + v + " " + r.unit;
    case Target::FigureAtMost: return "<= " + v + " " + r.unit;
    case Target::RatioAtMost: return "<= " + v + " " + r.ratioName;
    default: return "";
    }
}

std::string verdict(const Row &r) {
    if (r.target.kind == Target::None) return "";
    return met(r) ? "met" : "MISSED";
}

// A ratio row whose floor alone does not reach its target.
bool floorBeyondTarget(const Row &r) {
    return r.target.kind == Target::RatioAtMost && !r.floors.empty() && median(r.floors) > r.target.value;
}

std::string ratioText(const Row &r) { return r.ratios.empty() ? "" : fixed(median(r.ratios), 2) + " " + r.ratioName; }
// A ratio for the bulk rows; for the byte calls, the bare call's MB/s.
std::string floorText(const Row &r) {
    if (r.floors.empty()) return "";
    return r.ratioName.empty() ? figure(median(r.floors)) + " " + r.unit : fixed(median(r.floors), 2);
}

std::string escape(const std::string &s) {
    std::string out;
    for (char c : s) out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    return out;
}

// The chart: one bar per row marked for it, grouped as recorded.
std::string chart() {
    std::vector<const Row *> bars;
    for (const Row &r : gRows)
        if (r.chart && !r.figures.empty()) bars.push_back(&r);
    const double lo = 10, hi = 1e5;  // MB/s, log scale
    const int left = 300, width = 480, top = 40, step = 22, height = top + step * int(bars.size()) + 40;
    auto x = [&](double v) { return left + width * (std::log10(std::clamp(v, lo, hi) / lo) / std::log10(hi / lo)); };
    const std::map<std::string, const char *> colours = {
        {"Diskette", "#4e79a7"}, {"FlashCard", "#f28e2b"}, {"Cartridge4M", "#59a14f"}};
    std::ostringstream s;
    s << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << left + width + 90 << "\" height=\"" << height
      << "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    s << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    s << "<text x=\"10\" y=\"20\" font-size=\"14\">cardfs: median throughput, MB/s (logarithmic)</text>\n";
    for (double t = lo; t <= hi; t *= 10) {
        s << "<line x1=\"" << x(t) << "\" y1=\"" << top - 5 << "\" x2=\"" << x(t) << "\" y2=\"" << height - 30
          << "\" stroke=\"#ccc\"/>\n";
        s << "<text x=\"" << x(t) << "\" y=\"" << height - 15 << "\" text-anchor=\"middle\">" << figure(t) << "</text>\n";
    }
    for (size_t i = 0; i < bars.size(); i++) {
        const Row &r = *bars[i];
        const double v = median(r.figures), y = top + step * double(i);
        const auto c = colours.find(r.medium);
        s << "<text x=\"" << left - 8 << "\" y=\"" << y + 14 << "\" text-anchor=\"end\">" << escape(r.workload + ", " + r.medium)
          << "</text>\n";
        s << "<rect x=\"" << left << "\" y=\"" << y + 3 << "\" width=\"" << x(v) - left << "\" height=\"" << step - 6
          << "\" fill=\"" << (c != colours.end() ? c->second : "#999") << "\"/>\n";
        s << "<text x=\"" << x(v) + 4 << "\" y=\"" << y + 14 << "\">" << figure(v) << "</text>\n";
    }
    s << "</svg>\n";
    return s.str();
}

// The median of each count over the iterations.
Ops medianOps(const std::vector<Ops> &samples) {
    std::vector<double> reads, writes, probes, erases;
    for (const Ops &o : samples) {
        reads.push_back(double(o.reads)), writes.push_back(double(o.writes));
        probes.push_back(double(o.probes)), erases.push_back(double(o.erases));
    }
    return {uint64_t(median(reads)), uint64_t(median(writes)), uint64_t(median(probes)), uint64_t(median(erases))};
}

// The 1-minute load average, or a negative value where there is none.
double loadAverage() {
    std::ifstream in("/proc/loadavg");
    double load = -1;
    return in >> load ? load : -1;
}

// Whether other work shared the machine, judged by the load average at the
// end of the run, of which the benchmark itself accounts for about 1.
std::string sharing() {
    const double load = loadAverage();
    if (load < 0) return "Load: not known on this system";
    const std::string text = "1-minute load average at the end of the run " + fixed(load, 2) + ", about 1 of it the benchmark";
    return load > 1.5 ? "Shared machine: other work ran beside the benchmark (" + text +
                            "); the medians keep the figures usable, but they vary from run to run"
                      : "Quiet machine (" + text + ")";
}

}  // namespace

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool met(const Row &r) {
    switch (r.target.kind) {
    case Target::FigureAtLeast: return median(r.figures) >= r.target.value;
    case Target::FigureAtMost: return median(r.figures) <= r.target.value;
    case Target::RatioAtMost: return median(r.ratios) <= r.target.value;
    default: return true;
    }
}

std::vector<Row> &rows() { return gRows; }

Row &row(const std::string &name) {
    auto it = gIndex.find(name);
    if (it != gIndex.end()) return gRows[it->second];
    gIndex[name] = gRows.size();
    gRows.push_back(Row{});
    gRows.back().name = name;
    return gRows.back();
}

void printSummary() {
    std::printf("\ncardfs benchmark summary: medians of %s\n", "every timed iteration");
    std::printf("%-38s %12s %-10s %18s %6s %-22s %-7s %7s %7s %7s %6s  %s\n", "benchmark", "median", "unit", "ratio",
                "floor", "target", "", "reads", "writes", "probes", "erases", "per");
    for (const Row &r : gRows) {
        if (r.figures.empty()) continue;
        const Ops o = medianOps(r.ops);
        std::printf("%-38s %12s %-10s %18s %6s %-22s %-7s %7llu %7llu %7llu %6llu  %s\n", r.name.c_str(),
                    figure(median(r.figures)).c_str(), r.unit.c_str(), ratioText(r).c_str(), floorText(r).c_str(),
                    targetText(r).c_str(), verdict(r).c_str(), (unsigned long long)o.reads, (unsigned long long)o.writes,
                    (unsigned long long)o.probes, (unsigned long long)o.erases, r.opsPer.c_str());
    }
}

// One line a row (its fields separated by tabs), then one line a sample:
// "f", "r" or "l" and a figure, ratio or floor, or "o" and four counts.
bool saveSamples(const std::string &path) {
    std::ofstream out(path);
    out.precision(17);
    for (const Row &r : gRows) {
        out << "row\t" << r.name << "\t" << r.workload << "\t" << r.medium << "\t" << r.unit << "\t" << r.ratioName << "\t"
            << r.opsPer << "\t" << int(r.target.kind) << "\t" << r.target.value << "\t" << r.chart << "\n";
        for (double v : r.figures) out << "f " << v << "\n";
        for (double v : r.ratios) out << "r " << v << "\n";
        for (double v : r.floors) out << "l " << v << "\n";
        for (const Ops &o : r.ops) out << "o " << o.reads << " " << o.writes << " " << o.probes << " " << o.erases << "\n";
    }
    return bool(out);
}

bool loadSamples(const std::string &path) {
    std::ifstream in(path);
    Row *r = nullptr;
    for (std::string line; in && std::getline(in, line);) {
        std::istringstream fields(line);
        if (line.rfind("row\t", 0) == 0) {
            std::vector<std::string> f;
            for (std::string item; std::getline(fields, item, '\t');) f.push_back(item);
            if (f.size() != 10) return false;
            r = &row(f[1]);
            r->workload = f[2], r->medium = f[3], r->unit = f[4], r->ratioName = f[5], r->opsPer = f[6];
            r->target = {Target::Kind(std::stoi(f[7])), std::stod(f[8])};
            r->chart = f[9] == "1";
            continue;
        }
        std::string kind;
        fields >> kind;
        if (r == nullptr) return false;
        if (kind == "o") {
            Ops o;
            fields >> o.reads >> o.writes >> o.probes >> o.erases;
            r->ops.push_back(o);
            continue;
        }
        double v = 0;
        fields >> v;
        (kind == "f" ? r->figures : kind == "r" ? r->ratios : r->floors).push_back(v);
    }
    return in.eof();
}

bool writeReport(const ReportFiles &files, int repetitions, int processes) {
    std::ofstream md(files.markdown), svg(files.svg);
    if (!md || !svg) return false;
    svg << chart();
    const std::string svgName = files.svg.substr(files.svg.find_last_of('/') + 1);
    md << "# cardfs performance\n\n"
       << "Written by `bash bench/run.sh` (`bench/file_bench`, Google Benchmark) on the RAM test devices of\n"
       << "`tests/support`: a 1.44 MB diskette (512-byte blocks), a 1 MiB flash card (512-byte blocks) and a\n"
       << "4 MiB flash cartridge (1024-byte blocks). The library is built at -O2 (RelWithDebInfo) as a shared\n"
       << "object. Every figure is the median over all timed iterations of " << repetitions << " repetitions in each of "
       << processes << "\nruns of the program (each run lays out code and data anew); every ratio is the median of the\n"
       << "per-iteration ratios, each taken against a baseline timed right after that iteration in the same\nprocess.\n\n"
       << "## Machine\n\n";
    std::ifstream machine(files.machine);
    for (std::string line; std::getline(machine, line);)
        if (!line.empty()) md << "- " << line << "\n";
    md << "- " << sharing() << "\n";
    md << "\n## Results\n\n"
       << "| workload | medium | median | ratio | floor | target | | reads | writes | probes | erases | per |\n"
       << "|---|---|---:|---:|---:|---|---|---:|---:|---:|---:|---|\n";
    for (const Row &r : gRows) {
        if (r.figures.empty()) continue;
        const Ops o = medianOps(r.ops);
        md << "| " << r.workload << " | " << r.medium << " | " << figure(median(r.figures)) << " " << r.unit << " | "
           << ratioText(r) << " | " << floorText(r) << " | " << targetText(r) << " | " << verdict(r) << " | "
           << o.reads << " | " << o.writes << " | " << o.probes << " | " << o.erases << " | " << r.opsPer
           << " |\n";
    }
    md << "\n![median throughput per workload and medium](" << svgName << ")\n\n## Targets\n\n";
    int missed = 0;
    for (const Row &r : gRows) {
        if (r.figures.empty() || met(r)) continue;
        const double got = r.target.kind == Target::RatioAtMost ? median(r.ratios) : median(r.figures);
        md << "- missed: " << r.workload << ", " << r.medium << ": " << figure(got) << " against " << targetText(r)
           << (r.floors.empty() ? "" : (r.ratioName.empty() ? "; a bare exported byte call gives " : "; the floor is ") + floorText(r))
           << (floorBeyondTarget(r) ? ", beyond the target: what sets the floors, below, says why it cannot be met" : "") << "\n";
        missed++;
    }
    if (missed == 0) md << "Every row with a target meets it in this run.\n";
    md << "\n";
    std::ifstream notes(files.notes);
    for (std::string line; std::getline(notes, line);) md << line << "\n";
    return bool(md) && bool(svg);
}

}  // namespace bench
