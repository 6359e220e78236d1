#include "json_output.h"

#include <nlohmann/json.hpp>

// ordered_json keeps the members in column order.

#include "records.h"

namespace tool {
namespace {

nlohmann::ordered_json toJson(const std::vector<Column> &columns, const void *record) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    const Row row = toRow(columns, record);
    for (size_t i = 0; i < columns.size(); ++i) {
        const Cell &cell = row[i];
        if (cell.kind == Cell::Number)
            object[columns[i].name] = cell.number;
        else if (cell.kind == Cell::Text)
            object[columns[i].name] = cell.text;
        else
            object[columns[i].name] = nullptr;
    }
    return object;
}

std::string dump(const nlohmann::ordered_json &array) {
    // Texts from a card need not be UTF-8: bytes that are not come out as U+FFFD.
    return array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

std::string merJson(const std::vector<MERStructure> &records) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const MERStructure &record : records) array.push_back(toJson(merColumns(), &record));
    return dump(array);
}

std::string trackJson(const std::vector<TrackStructure> &records) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const TrackStructure &record : records) {
        nlohmann::ordered_json object = toJson(trackColumns(), &record);
        object["break"] = isBreak(record);
        array.push_back(object);
    }
    return dump(array);
}

}  // namespace tool
