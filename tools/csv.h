// CSV lines: comma-separated cells, a cell with a comma, a quote or a
// leading or trailing space in double quotes (a quote inside doubled).
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace tool {

std::string csvLine(const std::vector<std::string> &cells);

struct CsvError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// Splits one line (without its line end); throws CsvError on an unclosed quote.
std::vector<std::string> csvSplit(const std::string &line);

}  // namespace tool
