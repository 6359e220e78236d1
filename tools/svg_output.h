// A track drawn as SVG: one polyline per segment, scaled to fit.
#pragma once

#include <string>
#include <vector>

#include "cardfs.h"

namespace tool {

// coord1 runs to the right, coord2 upwards; breaks split the segments,
// and segments without points are left out.
std::string trackSvg(const std::string &title, const std::vector<TrackStructure> &records);

// The points of each segment, in order.
std::vector<std::vector<const TrackStructure *>> trackSegments(const std::vector<TrackStructure> &records);

}  // namespace tool
