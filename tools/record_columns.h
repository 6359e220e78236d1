// The members of MER and track records as named columns: the one place
// that knows their types, their marks for absent values and their ranges.
// The table, CSV and JSON output and the CSV import all go through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "cardfs.h"

namespace tool {

enum class ColumnType { I8, U8, I16, U16, I32, U32, Text, Time, Flag };

struct Column {
    const char *name;
    ColumnType type;
    size_t offset;  // in the record structure
};

// One value: absent (the record holds its mark: -1, 0xFFFF, 0xFFFFFFFF,
// 0xFF, an empty text), a number, or a text (texts and times).
struct Cell {
    enum Kind { Absent, Number, Text } kind = Absent;
    int64_t number = 0;
    std::string text;
    std::string str() const;  // "" when absent
};
using Row = std::vector<Cell>;

// A value that does not fit its column; the message names the column.
struct ColumnError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const std::vector<Column> &merColumns();
const std::vector<Column> &trackColumns();
std::vector<std::string> columnNames(const std::vector<Column> &columns);

Row toRow(const std::vector<Column> &columns, const void *record);
// Sets the members from texts as toRow's cells print them; an empty text is
// an absent value. Throws ColumnError.
void fromTexts(const std::vector<Column> &columns, const std::vector<std::string> &texts, void *record);

}  // namespace tool
