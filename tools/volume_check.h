// The consistency check of a mounted volume: file chains, the allocation
// map and, on flash media, released blocks and sector use. Reads only.
#pragma once

#include <string>
#include <vector>

#include "cardfs.h"

namespace tool {

struct CheckReport {
    std::vector<std::string> problems;  // one plain sentence each
    std::vector<std::string> notes;     // facts worth knowing, not faults
    int files = 0;
    int liveBlocks = 0;
};

CheckReport checkVolume(DeviceDescriptor *device);

}  // namespace tool
