// check --repair: the allocation map rebuilt from the files' chains.
#pragma once

#include "media.h"

namespace tool {

// Repairs the map of the mounted volume through the library, says what
// changed and lists the damaged files, which keep their entries for the
// user to read and remove. Returns the number of damaged files.
int repairVolume(const Medium &medium);

}  // namespace tool
