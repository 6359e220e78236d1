// MER and track files, tag streams and raw headers, through the library's
// record readers and writers.
#pragma once

#include <string>
#include <vector>

#include "cardfs.h"

namespace tool {

std::vector<MERStructure> loadMer(const std::string &name);
std::vector<TrackStructure> loadTrack(const std::string &name);
// Write a new file: a transfer head, then one record each. A failed write
// leaves no file behind.
void saveMer(const std::string &name, const std::vector<MERStructure> &records);
void saveTrack(const std::string &name, const std::vector<TrackStructure> &records);

struct TagRead {
    TagRecord tag;
    TagInfo info;
};
std::vector<TagRead> loadTags(const std::string &name);

struct RawRead {
    RawHeader header;
    size_t payloadBytes;
};
RawRead loadRaw(const std::string &name);

inline bool isBreak(const TrackStructure &point) { return point.byte2 == 0; }

}  // namespace tool
