// cardfs mount: the volume of the current device as a folder, through FUSE.
#pragma once

#include <string>

namespace tool {

struct MountOptions {
    std::string mountpoint;
    bool foreground = false;  // stay in the foreground (else detach once mounted)
    bool debug = false;       // FUSE's own trace of every request
};

// Serves the mounted volume of the current device at the mount point until
// it is unmounted (fusermount3 -u); returns the exit status. The library
// serves one request at a time.
int serveMount(const MountOptions &options);

}  // namespace tool
