// Plain text tables with aligned columns.
#pragma once

#include <string>
#include <vector>

namespace tool {

// Prints the header and the rows on standard output, each column as wide
// as its widest cell, two spaces apart.
void printTable(const std::vector<std::string> &header, const std::vector<std::vector<std::string>> &rows);

}  // namespace tool
