// cardfs mount MOUNTPOINT: the volume as a folder, served through FUSE.
#include <filesystem>

#include "mount.h"
#include "verbs.h"

namespace tool {
namespace {

// The media paths made absolute: a detached mount serves from "/".
MediaOptions absolutePaths(MediaOptions media) {
    for (std::string *path : {&media.card, &media.disk, &media.cartridge, &media.flashCard})
        if (!path->empty()) *path = std::filesystem::absolute(*path).string();
    return media;
}

}  // namespace

void addMountVerbs(CLI::App &app, const MediaOptions &media, Verbs &verbs) {
    static MountOptions options;
    CLI::App *mount = app.add_subcommand("mount", "Show the volume as a folder until `fusermount3 -u MOUNTPOINT`");
    mount->add_option("MOUNTPOINT", options.mountpoint, "An existing folder")->required()->check(CLI::ExistingDirectory);
    mount->add_flag("-f,--foreground", options.foreground, "Stay in the foreground until unmounted");
    mount->add_flag("--debug", options.debug, "Trace every request (implies --foreground)");
    verbs[mount] = [&media] {
        const Medium medium = openMedium(absolutePaths(media));
        requireVolume(medium);
        return serveMount(options);
    };
}

}  // namespace tool
