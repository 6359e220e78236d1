#include "table_output.h"

#include <algorithm>
#include <cstdio>

namespace tool {

void printTable(const std::vector<std::string> &header, const std::vector<std::vector<std::string>> &rows) {
    std::vector<size_t> widths(header.size());
    for (size_t i = 0; i < header.size(); ++i) widths[i] = header[i].size();
    for (const auto &row : rows)
        for (size_t i = 0; i < row.size() && i < widths.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    const auto print = [&](const std::vector<std::string> &cells) {
        std::string line;
        for (size_t i = 0; i < cells.size(); ++i) {
            const bool last = i + 1 == cells.size();
            line += last ? cells[i] : cells[i] + std::string(widths[i] - cells[i].size() + 2, ' ');
        }
        std::printf("%s\n", line.c_str());
    };
    print(header);
    for (const auto &row : rows) print(row);
}

}  // namespace tool
