// Records as JSON: an array of objects, one member per column, null for
// an absent value.
#pragma once

#include <string>
#include <vector>

#include "record_columns.h"

namespace tool {

std::string merJson(const std::vector<MERStructure> &records);
// Track records carry "break": true for a break between segments.
std::string trackJson(const std::vector<TrackStructure> &records);

}  // namespace tool
