// CSV in the common form: what spreadsheets write and read.
#include "csv.h"

namespace tool {
namespace {

bool needsQuotes(const std::string &cell) {
    return cell.find_first_of(",\"\r\n") != std::string::npos ||
           (!cell.empty() && (cell.front() == ' ' || cell.back() == ' '));
}

std::string quoted(const std::string &cell) {
    std::string out = "\"";
    for (const char c : cell) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

}  // namespace

std::string csvLine(const std::vector<std::string> &cells) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (i) line += ',';
        line += needsQuotes(cells[i]) ? quoted(cells[i]) : cells[i];
    }
    return line;
}

std::vector<std::string> csvSplit(const std::string &line) {
    std::vector<std::string> cells(1);
    bool inQuotes = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (inQuotes && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            cells.back() += '"';
            ++i;
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if (c == ',' && !inQuotes) {
            cells.emplace_back();
        } else {
            cells.back() += c;
        }
    }
    if (inQuotes) throw CsvError("a quote is not closed");
    return cells;
}

}  // namespace tool
