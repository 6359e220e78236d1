// Record members <-> cells. Times are the card's wall-clock time: the tool
// runs the library in UTC (main), so a time value prints as its UTC date.
#include "record_columns.h"

#include <cstring>
#include <ctime>
#include <limits>

namespace tool {
namespace {

#define MER(member, type) {#member, ColumnType::type, offsetof(MERStructure, member)}
#define TRACK(member, type) {#member, ColumnType::type, offsetof(TrackStructure, member)}

constexpr size_t kTextMax = 39;

template <class T>
T load(const void *record, size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const uint8_t *>(record) + offset, sizeof value);
    return value;
}

template <class T>
void store(void *record, size_t offset, T value) {
    std::memcpy(static_cast<uint8_t *>(record) + offset, &value, sizeof value);
}

struct Limits {
    int64_t min, max, absent;
};

Limits limitsOf(ColumnType type) {
    switch (type) {
    case ColumnType::I8: return {-128, 127, -1};
    case ColumnType::U8: return {0, 255, 255};
    case ColumnType::I16: return {-32768, 32767, -1};
    case ColumnType::U16: return {0, 65535, 65535};
    case ColumnType::I32: return {INT32_MIN, INT32_MAX, int64_t(INT32_MIN) - 1};  // never absent
    case ColumnType::U32: return {0, UINT32_MAX, UINT32_MAX};
    case ColumnType::Flag: return {0, 1, 255};
    default: return {INT32_MIN, INT32_MAX, -1};
    }
}

int64_t loadNumber(ColumnType type, const void *record, size_t offset) {
    switch (type) {
    case ColumnType::I8: return load<int8_t>(record, offset);
    case ColumnType::U8:
    case ColumnType::Flag: return load<uint8_t>(record, offset);
    case ColumnType::I16: return load<int16_t>(record, offset);
    case ColumnType::U16: return load<uint16_t>(record, offset);
    case ColumnType::U32: return load<uint32_t>(record, offset);
    default: return load<int32_t>(record, offset);
    }
}

void storeNumber(ColumnType type, void *record, size_t offset, int64_t value) {
    switch (type) {
    case ColumnType::I8: return store(record, offset, int8_t(value));
    case ColumnType::U8:
    case ColumnType::Flag: return store(record, offset, uint8_t(value));
    case ColumnType::I16: return store(record, offset, int16_t(value));
    case ColumnType::U16: return store(record, offset, uint16_t(value));
    case ColumnType::U32: return store(record, offset, uint32_t(value));
    default: return store(record, offset, int32_t(value));
    }
}

std::string formatTime(int32_t value) {
    const time_t seconds = value;
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

int64_t parseTime(const std::string &text) {
    std::tm parts{};
    char rest = 0;
    const int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &parts.tm_year, &parts.tm_mon,
                                   &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &rest);
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    const int64_t value = fields == 6 ? int64_t(timegm(&parts)) : -1;
    if (value < 0 || value > INT32_MAX) throw ColumnError("not a time from 1970 to 2038 as YYYY-MM-DD HH:MM:SS");
    return value;
}

int64_t parseNumber(const std::string &text, const Limits &limits) {
    size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(text, &used, 10);
    } catch (const std::exception &) {
        used = 0;
    }
    if (used != text.size()) throw ColumnError("not a number");
    if (value < limits.min || value > limits.max)
        throw ColumnError("out of range (" + std::to_string(limits.min) + " to " + std::to_string(limits.max) + ")");
    return value;
}

void setText(char *member, const std::string &text) {
    if (text.size() > kTextMax) throw ColumnError("longer than 39 characters");
    for (const unsigned char c : text)
        if (c < 0x20 || c == 0x7F) throw ColumnError("holds a control character");
    std::memset(member, 0, kTextMax + 1);
    std::memcpy(member, text.data(), text.size());
}

void setCell(const Column &column, const std::string &text, void *record) {
    const Limits limits = limitsOf(column.type);
    if (column.type == ColumnType::Text)
        return setText(static_cast<char *>(record) + column.offset, text);
    if (text.empty()) {
        if (column.type == ColumnType::I32) throw ColumnError("missing");
        return storeNumber(column.type, record, column.offset, limits.absent);
    }
    const int64_t value = column.type == ColumnType::Time ? parseTime(text) : parseNumber(text, limits);
    storeNumber(column.type, record, column.offset, value);
}

}  // namespace

std::string Cell::str() const { return kind == Number ? std::to_string(number) : text; }

const std::vector<Column> &merColumns() {
    static const std::vector<Column> columns = {
        MER(coord1, I32), MER(coord2, I32), MER(text1, Text),  MER(text2, Text),  MER(byte1, I8),
        MER(word1, I16),  MER(byte2, I8),   MER(byte3, I8),    MER(byte4, I8),    MER(time, Time),
        MER(byte5, I8),   MER(word2, I16),  MER(byte6, I8),    MER(dword1, U32),  MER(byte7, I8),
        MER(word3, I16),  MER(year, U16),   MER(flag, Flag),   MER(word4, I16),   MER(seconds, U8),
    };
    return columns;
}

const std::vector<Column> &trackColumns() {
    static const std::vector<Column> columns = {
        TRACK(coord1, I32), TRACK(coord2, I32), TRACK(byte1, I8),   TRACK(byte2, I8),
        TRACK(byte3, I8),   TRACK(byte4, I8),   TRACK(word1, I16),  TRACK(dword1, U32),
        TRACK(word2, U16),  TRACK(dword2, U32), TRACK(word3, U16),  TRACK(word4, U16),
    };
    return columns;
}

std::vector<std::string> columnNames(const std::vector<Column> &columns) {
    std::vector<std::string> names;
    for (const Column &column : columns) names.push_back(column.name);
    return names;
}

Row toRow(const std::vector<Column> &columns, const void *record) {
    Row row;
    for (const Column &column : columns) {
        Cell cell;
        if (column.type == ColumnType::Text) {
            const char *text = static_cast<const char *>(record) + column.offset;
            cell.text = std::string(text, strnlen(text, kTextMax + 1));
            cell.kind = cell.text.empty() ? Cell::Absent : Cell::Text;
        } else {
            const int64_t value = loadNumber(column.type, record, column.offset);
            if (value != limitsOf(column.type).absent) {
                cell.kind = column.type == ColumnType::Time ? Cell::Text : Cell::Number;
                cell.number = value;
                if (column.type == ColumnType::Time) cell.text = formatTime(int32_t(value));
            }
        }
        row.push_back(cell);
    }
    return row;
}

void fromTexts(const std::vector<Column> &columns, const std::vector<std::string> &texts, void *record) {
    for (size_t i = 0; i < columns.size(); ++i) {
        try {
            setCell(columns[i], texts[i], record);
        } catch (const ColumnError &error) {
            throw ColumnError(std::string(columns[i].name) + " " + (texts[i].empty() ? "" : texts[i] + " ") +
                              error.what());
        }
    }
}

}  // namespace tool
